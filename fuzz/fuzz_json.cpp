// The strict reader on arbitrary bytes: it must return a value or an error,
// and whatever it accepts must survive a write/read round trip unchanged.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/json_reader.hpp"
#include "support/json_writer.hpp"

namespace {

void write(support::JsonWriter& w, const support::json::Value& v) {
  using support::json::Kind;
  switch (v.kind) {
    case Kind::kNull: w.null(); break;
    case Kind::kBool: w.boolean(v.boolean); break;
    case Kind::kInteger:
      if (v.negative) {
        w.integer(v.int_value);
      } else {
        w.unsigned_integer(v.uint_value);
      }
      break;
    case Kind::kFloat: w.number(v.number); break;
    case Kind::kString: w.string(v.text); break;
    case Kind::kArray:
      w.begin_array();
      for (const auto& item : v.items) write(w, item);
      w.end_array();
      break;
    case Kind::kObject:
      w.begin_object();
      for (const auto& m : v.members) {
        w.key(m.key);
        write(w, m.value);
      }
      w.end_object();
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = support::json::parse(text);
  if (!parsed.ok()) {
    (void)parsed.error().display();
    return 0;
  }
  std::string once;
  support::JsonWriter w1(once);
  write(w1, parsed.value());
  auto reparsed = support::json::parse(once);
  if (!reparsed.ok()) __builtin_trap();
  std::string twice;
  support::JsonWriter w2(twice);
  write(w2, reparsed.value());
  if (once != twice) __builtin_trap();
  return 0;
}
