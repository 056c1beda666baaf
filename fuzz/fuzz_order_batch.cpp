// Order-book batches as text: refused whole with a code, or applied to a book
// that keeps a consistent ladder.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "evaluation/lob_market.hpp"
#include "evaluation/lob_orders.hpp"

namespace lob = corvane::lob_market;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto orders = lob::read_agent_orders(text);
  if (!orders.ok()) {
    if (orders.error().code != "INVALID_JSON" && orders.error().code != "INVALID_ARGUMENT") {
      __builtin_trap();
    }
    return 0;
  }
  lob::OrderBook book;
  (void)book.step(orders.value());
  (void)book.step(orders.value());
  lob::LadderSnapshot ladder = book.depth_ladder(10);
  (void)ladder;
  (void)book.uncross();
  return 0;
}
