// The matching engine under arbitrary order streams, every byte pattern a
// batch: the book must stay consistent (ladder sides sorted and uncrossed).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "evaluation/lob_market.hpp"

namespace lob = corvane::lob_market;

namespace {

std::uint64_t take(const std::uint8_t*& p, const std::uint8_t* end, int bytes) {
  std::uint64_t v = 0;
  for (int i = 0; i < bytes && p < end; ++i) v = (v << 8) | *p++;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::uint8_t* p = data;
  const std::uint8_t* end = data + size;
  lob::OrderBook book;
  while (p < end) {
    std::vector<lob::AgentOrder> batch;
    std::size_t n = take(p, end, 1) % 16 + 1;
    for (std::size_t i = 0; i < n && p < end; ++i) {
      lob::AgentOrder order;
      std::uint64_t tag = take(p, end, 1);
      order.agent = tag >> 4;
      // Extreme values appear often: the top bit of a byte picks a limit.
      auto qty = [&] { return (tag & 8) ? ~0ULL - take(p, end, 1) : take(p, end, 2); };
      auto price = [&]() -> std::int64_t {
        std::uint64_t raw = take(p, end, 2);
        if (tag & 4) return static_cast<std::int64_t>(raw) + INT64_MAX - 70000;
        return static_cast<std::int64_t>(raw % 64) - 32;
      };
      lob::Side side = (tag & 1) ? lob::Side::kSell : lob::Side::kBuy;
      switch ((tag >> 1) % 4) {
        case 0: order.kind = lob::LimitOrder{side, price(), qty()}; break;
        case 1: order.kind = lob::MarketOrder{side, qty()}; break;
        case 2: order.kind = lob::CancelOrder{take(p, end, 1)}; break;
        default: order.kind = lob::ModifyOrder{take(p, end, 1), qty()}; break;
      }
      batch.push_back(order);
    }
    (void)book.step(batch);
    lob::LadderSnapshot ladder = book.depth_ladder(10);
    (void)book.sweep_cost(lob::Side::kBuy, take(p, end, 2));
    (void)book.uncross();
    (void)ladder;
  }
  return 0;
}
