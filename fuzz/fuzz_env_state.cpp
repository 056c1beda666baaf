// Checkpoints from arbitrary bytes: a state or an error, and whatever reads
// can be written back.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/env.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto state = talmoor_sim::env::read_env_state_json(text);
  if (!state.ok()) {
    (void)state.error().display();
    return 0;
  }
  (void)talmoor_sim::env::env_state_json(state.value());
  return 0;
}
