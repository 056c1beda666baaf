// Decisions and decision batches from arbitrary bytes: a record or an error
// with a position, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/decision.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto one = talmoor_protocol::read_decision(text);
  if (!one.ok()) (void)one.error().display();
  auto batch = talmoor_protocol::read_decision_array(text);
  if (!batch.ok()) (void)batch.error().display();
  return 0;
}
