#pragma once
// Compact JSON written straight to text. The writer only places separators;
// the caller decides key order, so a record can be written in declaration
// order or in ascending key order from one field description (see
// json_record.hpp).

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/float_text.hpp"

namespace support {

class JsonWriter {
 public:
  explicit JsonWriter(std::string& out) : out_(out) {}

  void begin_object() { open('{'); }
  void end_object() { close('}'); }
  void begin_array() { open('['); }
  void end_array() { close(']'); }

  // Writes the key of the next member; the value follows with any call below.
  void key(std::string_view name) {
    separate();
    append_json_string(out_, name);
    out_ += ':';
    after_key_ = true;
  }

  void number(double v) {
    separate();
    append_json_number(out_, v);
  }
  void integer(std::int64_t v) {
    separate();
    out_ += std::to_string(v);
  }
  void unsigned_integer(std::uint64_t v) {
    separate();
    out_ += std::to_string(v);
  }
  void boolean(bool v) {
    separate();
    out_ += v ? "true" : "false";
  }
  void null() {
    separate();
    out_ += "null";
  }
  void string(std::string_view v) {
    separate();
    append_json_string(out_, v);
  }
  // Splices text that is already one complete JSON value.
  void raw(std::string_view json) {
    separate();
    out_ += json;
  }

  // Convenience for the common "key, then value" member.
  template <class V>
  void member(std::string_view name, const V& v);

  std::string& out() { return out_; }

 private:
  void separate() {
    if (after_key_) {
      after_key_ = false;
      return;
    }
    if (!first_.empty()) {
      if (!first_.back()) out_ += ',';
      first_.back() = false;
    }
  }
  void open(char c) {
    separate();
    out_ += c;
    first_.push_back(true);
  }
  void close(char c) {
    out_ += c;
    first_.pop_back();
  }

  std::string& out_;
  std::vector<bool> first_;
  bool after_key_ = false;
};

namespace detail {
inline void write_value(JsonWriter& w, double v) { w.number(v); }
inline void write_value(JsonWriter& w, bool v) { w.boolean(v); }
inline void write_value(JsonWriter& w, std::int64_t v) { w.integer(v); }
inline void write_value(JsonWriter& w, int v) { w.integer(v); }
inline void write_value(JsonWriter& w, std::uint64_t v) { w.unsigned_integer(v); }
inline void write_value(JsonWriter& w, unsigned v) { w.unsigned_integer(v); }
inline void write_value(JsonWriter& w, std::string_view v) { w.string(v); }
inline void write_value(JsonWriter& w, const std::string& v) { w.string(v); }
inline void write_value(JsonWriter& w, const char* v) { w.string(v); }
inline void write_value(JsonWriter& w, const std::vector<double>& v) {
  w.begin_array();
  for (double x : v) w.number(x);
  w.end_array();
}
inline void write_value(JsonWriter& w, const std::vector<std::string>& v) {
  w.begin_array();
  for (const auto& x : v) w.string(x);
  w.end_array();
}
}  // namespace detail

template <class V>
void JsonWriter::member(std::string_view name, const V& v) {
  key(name);
  detail::write_value(*this, v);
}

}  // namespace support
