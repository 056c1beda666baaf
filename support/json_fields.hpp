#pragma once
// Typed reading on top of the JSON tree: records by a field table (object
// form and positional array form), enumerations by label, and scalars with
// their kind rules. Every error carries the position of the offending value.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/json_reader.hpp"
#include "support/result.hpp"

namespace support::json {

enum class UnknownKeys { kRefuse, kIgnore };

struct FieldSpec {
  std::string_view name;
  bool required;
};

struct RecordSpec {
  std::string_view name;  // "Decision": used in "struct Decision with 3 elements"
  std::span<const FieldSpec> fields;
  UnknownKeys unknown = UnknownKeys::kRefuse;
  bool allow_array = true;
};

// The value of each field, in declaration order (nullptr where absent).
using FieldSlots = std::vector<const Value*>;

// Matches an object's keys (or an array's elements) against the fields:
// unknown keys (by policy), duplicates, missing required fields, array length.
[[nodiscard]] Result<FieldSlots, ReadError> bind_record(const Value& v, const RecordSpec& spec);

[[nodiscard]] Result<double, ReadError> read_f64(const Value& v);
[[nodiscard]] Result<std::uint64_t, ReadError> read_u64(const Value& v);
[[nodiscard]] Result<std::int64_t, ReadError> read_i64(const Value& v);
[[nodiscard]] Result<bool, ReadError> read_bool(const Value& v);
[[nodiscard]] Result<std::string, ReadError> read_string(const Value& v);
// The value must be an array; returns it.
[[nodiscard]] Result<const Value*, ReadError> read_array(const Value& v);

// An enumeration label: a string holding one of `labels`, or (when
// `allow_object_form`) a one-key object {"label": null}. Returns the index.
[[nodiscard]] Result<std::size_t, ReadError> read_label(const Value& v,
                                                        std::span<const std::string_view> labels,
                                                        bool allow_object_form = true);

// "`a`", "`a` or `b`", "one of `a`, `b`, `c`" (the tail of unknown-key and
// unknown-variant messages).
std::string expected_names(std::span<const std::string_view> names);

ReadError type_error(const Value& v, std::string_view expected);

}  // namespace support::json
