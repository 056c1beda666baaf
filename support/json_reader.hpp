#pragma once
// The one strict JSON reader for every text input. It builds a small tree in
// which every value remembers where it started, so typed readers (see
// json_fields.hpp) can report " at line L column C" for any error.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace support::json {

inline constexpr int kMaxDepth = 128;

struct Position {
  std::uint32_t line = 1;    // 1-based
  std::uint32_t column = 1;  // 1-based
};

// A reader error: the message and where it was found. display() gives
// message + " at line L column C".
struct ReadError {
  std::string message;
  Position position;
  std::string display() const;
};

enum class Kind { kNull, kBool, kInteger, kFloat, kString, kArray, kObject };

struct Member;

struct Value {
  Kind kind = Kind::kNull;
  Position position;  // of the value's first character
  Position end;       // just past the value's last character
  bool boolean = false;
  // Integer literals (no fraction, no exponent) that fit 64 bits keep their
  // exact value: `negative` picks i64 (`int_value`) over u64 (`uint_value`).
  bool negative = false;
  std::uint64_t uint_value = 0;
  std::int64_t int_value = 0;
  double number = 0.0;  // every number, integer or not, as a double
  std::string text;     // strings, unescaped and valid UTF-8
  std::vector<Value> items;
  std::vector<Member> members;  // object members in text order, duplicates kept

  bool is_number() const { return kind == Kind::kInteger || kind == Kind::kFloat; }
  // A member by key (the first with that key) or nullptr.
  const Value* find(std::string_view key) const;
};

struct Member {
  std::string key;
  Position key_position;
  Value value;
};

// Parses exactly one JSON value with optional surrounding whitespace.
[[nodiscard]] Result<Value, ReadError> parse(std::string_view text);

// How the value is described in type errors: `string "abc"`, `integer `5``,
// `floating point `1.5``, `boolean `true``, `null`, `sequence`, `map`.
std::string describe(const Value& v);

}  // namespace support::json
