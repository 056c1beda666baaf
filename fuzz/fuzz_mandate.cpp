// Mandates from arbitrary bytes; whatever reads is written back and re-read
// to the same text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "evaluation/mandate.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto mandate = corvane::mandate::parse_mandate_json(text);
  if (!mandate.ok()) {
    (void)mandate.error().display();
    return 0;
  }
  std::string once = corvane::mandate::mandate_json(mandate.value());
  auto again = corvane::mandate::parse_mandate_json(once);
  if (!again.ok() || corvane::mandate::mandate_json(again.value()) != once) __builtin_trap();
  return 0;
}
