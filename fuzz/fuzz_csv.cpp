// The CSV loader on arbitrary bytes: a data set or a message.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/data.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto loaded = talmoor_sim::data::load_csv(text);
  // A loaded data set always has at least two dates shared by every symbol.
  if (loaded.ok() && loaded.value().dates.size() < 2) __builtin_trap();
  return 0;
}
