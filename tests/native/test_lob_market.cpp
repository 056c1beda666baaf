#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include "evaluation/lob_market.hpp"
#include "support/splitmix64.hpp"

namespace {

using corvane::lob_market::AgentOrder;
using corvane::lob_market::call_auction;
using corvane::lob_market::CancelOrder;
using corvane::lob_market::Fill;
using corvane::lob_market::LadderLevel;
using corvane::lob_market::LadderSnapshot;
using corvane::lob_market::LevelTotal;
using corvane::lob_market::LimitOrder;
using corvane::lob_market::MarketOrder;
using corvane::lob_market::ModifyOrder;
using corvane::lob_market::OrderBook;
using corvane::lob_market::RestingOrder;
using corvane::lob_market::Side;
using corvane::lob_market::UInt128;

constexpr std::uint64_t kMaxQty = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kMaxPrice = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMinPrice = std::numeric_limits<std::int64_t>::min();

bool same_fill(const Fill& a, const Fill& b) {
  return a.price_tick == b.price_tick && a.qty == b.qty && a.maker_id == b.maker_id &&
         a.maker_agent == b.maker_agent && a.taker_agent == b.taker_agent &&
         a.taker_side == b.taker_side;
}

std::vector<std::pair<std::int64_t, std::uint64_t>> pairs(const std::vector<LadderLevel>& levels) {
  std::vector<std::pair<std::int64_t, std::uint64_t>> out;
  for (const LadderLevel& l : levels) out.emplace_back(l.price_tick, l.total_qty);
  return out;
}

AgentOrder limit(std::uint64_t agent, Side side, std::int64_t price, std::uint64_t qty) {
  return AgentOrder{agent, LimitOrder{side, price, qty}};
}
AgentOrder market(std::uint64_t agent, Side side, std::uint64_t qty) {
  return AgentOrder{agent, MarketOrder{side, qty}};
}
AgentOrder cancel(std::uint64_t agent, std::uint64_t id) {
  return AgentOrder{agent, CancelOrder{id}};
}
AgentOrder modify(std::uint64_t agent, std::uint64_t id, std::uint64_t qty) {
  return AgentOrder{agent, ModifyOrder{id, qty}};
}

TEST(LobMarket, BatchIsAppliedStableByAgentNotInListOrder) {
  OrderBook book;
  std::vector<AgentOrder> batch = {limit(7, Side::kSell, 10, 100), limit(3, Side::kBuy, 10, 10)};
  std::vector<Fill> fills = book.step(batch);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_TRUE(same_fill(fills[0], Fill{10, 10, 0, 3, 7, Side::kSell}));
  EXPECT_EQ(pairs(book.depth_ladder(5).asks), (decltype(pairs({})){{10, 90}}));
  EXPECT_TRUE(book.depth_ladder(5).bids.empty());
  EXPECT_EQ(book.locate(1)->side, Side::kSell);
  EXPECT_FALSE(book.locate(0).has_value());
}

TEST(LobMarket, LimitWalksLevelsAtMakerPricesAndStopsAtItsLimit) {
  OrderBook book;
  book.process_limit(Side::kSell, 100, 5, 1);
  book.process_limit(Side::kSell, 103, 5, 1);
  book.process_limit(Side::kSell, 106, 5, 1);
  std::vector<Fill> fills = book.process_limit(Side::kBuy, 105, 8, 2);
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_TRUE(same_fill(fills[0], Fill{100, 5, 0, 1, 2, Side::kBuy}));
  EXPECT_TRUE(same_fill(fills[1], Fill{103, 3, 1, 1, 2, Side::kBuy}));
  EXPECT_EQ(pairs(book.depth_ladder(5).asks), (decltype(pairs({})){{103, 2}, {106, 5}}));
  EXPECT_TRUE(book.depth_ladder(5).bids.empty());

  // Equal prices trade; the remainder beyond the limit rests as a bid.
  fills = book.process_limit(Side::kBuy, 103, 4, 3);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].qty, 2u);
  EXPECT_EQ(pairs(book.depth_ladder(5).bids), (decltype(pairs({})){{103, 2}}));
}

TEST(LobMarket, PartlyFilledMakerKeepsTimePriority) {
  OrderBook book;
  book.process_limit(Side::kBuy, 50, 10, 1);  // id 0
  book.process_limit(Side::kBuy, 50, 10, 2);  // id 1
  std::vector<Fill> fills = book.process_limit(Side::kSell, 50, 4, 9);
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].maker_id, 0u);
  fills = book.match_against(Side::kSell, std::nullopt, 8, 9).fills;
  ASSERT_EQ(fills.size(), 2u);
  EXPECT_TRUE(same_fill(fills[0], Fill{50, 6, 0, 1, 9, Side::kSell}));
  EXPECT_TRUE(same_fill(fills[1], Fill{50, 2, 1, 2, 9, Side::kSell}));
  EXPECT_EQ(book.depth_ladder(1).bids[0].total_qty, 8u);
}

TEST(LobMarket, ModifyUpLosesPriorityDownKeepsItZeroCancels) {
  OrderBook book;
  for (int i = 0; i < 3; ++i) book.process_limit(Side::kSell, 20, 5, 10 + i);  // ids 0, 1, 2
  book.modify_order(0, 6);  // up: behind 1 and 2
  book.modify_order(2, 1);  // down: keeps its place
  std::vector<Fill> fills = book.match_against(Side::kBuy, std::nullopt, 100, 1).fills;
  ASSERT_EQ(fills.size(), 3u);
  EXPECT_EQ(fills[0].maker_id, 1u);
  EXPECT_EQ(fills[1].maker_id, 2u);
  EXPECT_EQ(fills[1].qty, 1u);
  EXPECT_EQ(fills[2].maker_id, 0u);
  EXPECT_EQ(fills[2].qty, 6u);

  book.process_limit(Side::kSell, 20, 5, 1);  // id 3
  book.modify_order(3, 0);
  EXPECT_FALSE(book.locate(3).has_value());
  EXPECT_EQ(book.resting_count(), 0u);
  EXPECT_TRUE(book.depth_ladder(5).asks.empty());
}

TEST(LobMarket, UnknownIdsQtyZeroAndEmptySidesChangeNothing) {
  OrderBook book;
  book.process_limit(Side::kBuy, 10, 3, 1);  // id 0
  std::vector<AgentOrder> batch = {cancel(1, 99),         modify(1, 99, 5),
                                   modify(1, 0, 0),       cancel(1, 0),  // id 0 gone
                                   cancel(1, 0),          modify(1, 0, 7),
                                   limit(2, Side::kBuy, 10, 0),  // uses id 1, never rests
                                   market(3, Side::kSell, 4)};
  EXPECT_TRUE(book.step(batch).empty());
  EXPECT_EQ(book.next_id(), 2u);
  EXPECT_EQ(book.resting_count(), 0u);
  book.process_limit(Side::kBuy, 10, 3, 1);
  EXPECT_TRUE(book.locate(2).has_value());
}

TEST(LobMarket, LongQueuesKeepFifoOrderThroughCancelsAndMoves) {
  OrderBook book;
  for (int i = 0; i < 100; ++i) book.process_limit(Side::kSell, 50, 1, 1);  // ids 0..99
  std::vector<std::uint64_t> expected;
  for (std::uint64_t id = 0; id < 100; ++id) {
    if (id % 10 == 3) {
      book.modify_order(id, 2);  // to the back, in this order
    } else if (id % 10 != 7) {
      book.cancel_order(id);
    } else {
      expected.push_back(id);
    }
  }
  for (std::uint64_t id = 3; id < 100; id += 10) expected.push_back(id);
  book.match_against(Side::kBuy, std::nullopt, 1, 2);  // takes id 7 from the front
  book.cancel_order(17);
  expected.erase(expected.begin(), expected.begin() + 2);
  book.process_limit(Side::kSell, 50, 4, 1);  // id 100, behind everything
  expected.push_back(100);

  std::vector<Fill> fills = book.match_against(Side::kBuy, std::nullopt, kMaxQty, 2).fills;
  std::vector<std::uint64_t> order;
  for (const Fill& f : fills) order.push_back(f.maker_id);
  EXPECT_EQ(order, expected);
  EXPECT_EQ(book.resting_count(), 0u);
}

TEST(LobMarket, LaterEntryOfTheSameBatchCanReferToAnEarlierId) {
  OrderBook book;
  std::vector<AgentOrder> batch = {limit(4, Side::kBuy, 10, 5), modify(4, 0, 2),
                                   limit(5, Side::kBuy, 11, 5), cancel(5, 1)};
  EXPECT_TRUE(book.step(batch).empty());
  EXPECT_EQ(pairs(book.depth_ladder(5).bids), (decltype(pairs({})){{10, 2}}));
}

struct LadderCase {
  std::vector<AgentOrder> orders;
  double mid, microprice, queue_imbalance;
};

TEST(LobMarket, LadderStatisticsFromTheBestLevelsOnly) {
  const std::vector<LadderCase> cases = {
      {{}, 0.0, 0.0, 0.0},
      {{limit(1, Side::kBuy, 99, 30), limit(1, Side::kBuy, 90, 70)}, 99.0, 99.0, 1.0},
      {{limit(1, Side::kSell, 101, 10)}, 101.0, 101.0, -1.0},
      {{limit(1, Side::kBuy, 99, 30), limit(1, Side::kSell, 101, 10),
        limit(1, Side::kSell, 105, 1000)},
       100.0, 100.5, 0.5},
      // The price sum of mid does not overflow 64 bits.
      {{limit(1, Side::kBuy, kMaxPrice - 1, 1), limit(1, Side::kSell, kMaxPrice, 1)},
       static_cast<double>(kMaxPrice), static_cast<double>(kMaxPrice), 0.0},
      {{limit(1, Side::kBuy, kMinPrice, 1), limit(1, Side::kSell, kMinPrice + 1, 1)},
       static_cast<double>(kMinPrice), static_cast<double>(kMinPrice), 0.0},
  };
  for (const LadderCase& c : cases) {
    OrderBook book;
    book.step(c.orders);
    for (std::uint64_t levels : {0u, 1u, 10u}) {
      LadderSnapshot l = book.depth_ladder(levels);
      EXPECT_EQ(l.mid, c.mid);
      EXPECT_EQ(l.microprice, c.microprice);
      EXPECT_EQ(l.queue_imbalance, c.queue_imbalance);
      EXPECT_LE(l.bids.size(), levels);
      EXPECT_LE(l.asks.size(), levels);
    }
  }
}

TEST(LobMarket, SweepCostWalksFromTheTouchWithoutTrading) {
  OrderBook book;
  book.process_limit(Side::kSell, 100, 5, 1);
  book.process_limit(Side::kSell, 103, 5, 1);
  auto c = book.sweep_cost(Side::kBuy, 8);
  EXPECT_EQ(c.avg_px_tick, (5.0 * 100 + 3.0 * 103) / 8.0);
  EXPECT_EQ(c.slippage_ticks, c.avg_px_tick - 100.0);
  EXPECT_EQ(c.filled_qty, 8u);
  c = book.sweep_cost(Side::kBuy, 1000);
  EXPECT_EQ(c.avg_px_tick, 101.5);
  EXPECT_EQ(c.filled_qty, 10u);
  c = book.sweep_cost(Side::kBuy, 0);
  EXPECT_EQ(c.avg_px_tick, 0.0);
  EXPECT_EQ(c.slippage_ticks, 0.0);
  EXPECT_EQ(c.filled_qty, 0u);
  c = book.sweep_cost(Side::kSell, 5);  // no bids
  EXPECT_EQ(c.filled_qty, 0u);
  EXPECT_EQ(pairs(book.depth_ladder(5).asks), (decltype(pairs({})){{100, 5}, {103, 5}}));
}

TEST(LobMarket, QuantitySumsPastSixtyFourBitsSaturateAndNeverWrap) {
  OrderBook book;
  book.process_limit(Side::kSell, kMaxPrice, kMaxQty, 1);
  book.process_limit(Side::kSell, kMaxPrice, kMaxQty, 2);
  book.process_limit(Side::kBuy, kMinPrice, kMaxQty, 3);
  book.process_limit(Side::kBuy, kMinPrice, kMaxQty, 4);
  LadderSnapshot l = book.depth_ladder(5);
  EXPECT_EQ(pairs(l.asks), (decltype(pairs({})){{kMaxPrice, kMaxQty}}));
  EXPECT_EQ(pairs(l.bids), (decltype(pairs({})){{kMinPrice, kMaxQty}}));
  // The float statistics use the exact totals, 2 * (2^64 - 1) on both sides.
  EXPECT_EQ(l.queue_imbalance, 0.0);
  EXPECT_EQ(l.mid, -0.5);
  EXPECT_EQ(l.microprice, 0.0);

  // Notionals near 2^127 are exact in 128 bits; filled stays at the asked qty.
  auto c = book.sweep_cost(Side::kBuy, kMaxQty);
  EXPECT_EQ(c.filled_qty, kMaxQty);
  EXPECT_EQ(c.avg_px_tick, static_cast<double>(kMaxPrice));
  EXPECT_EQ(c.slippage_ticks, 0.0);
  c = book.sweep_cost(Side::kSell, kMaxQty);
  EXPECT_EQ(c.avg_px_tick, static_cast<double>(kMinPrice));

  std::vector<Fill> fills = book.match_against(Side::kSell, std::nullopt, kMaxQty, 6).fills;
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].maker_id, 2u);
  EXPECT_EQ(book.depth_ladder(1).bids[0].total_qty, kMaxQty);
  EXPECT_FALSE(book.uncross().has_value());
}

struct AuctionCase {
  const char* name;
  std::vector<LevelTotal> bids, asks;
  std::optional<std::pair<std::int64_t, std::uint64_t>> expected;
};

TEST(LobMarket, CallAuctionPicksMostMatchedThenBalanceThenLowestPrice) {
  const UInt128 big = static_cast<UInt128>(kMaxQty) * 3;
  const std::vector<AuctionCase> cases = {
      {"empty", {}, {}, std::nullopt},
      {"not crossed", {{99, 5}}, {{101, 5}}, std::nullopt},
      {"full tie takes the lowest price", {{101, 5}}, {{99, 5}}, std::make_pair(99, 5)},
      // 99 and 100 match 4; 101 and 102 match 6 (demand 6, supply 9).
      {"most matched wins", {{100, 4}, {102, 6}}, {{99, 4}, {101, 5}}, std::make_pair(101, 6)},
      // All three match 5; only 102 balances demand and supply.
      {"balance beats a lower price", {{101, 3}, {102, 5}}, {{100, 5}}, std::make_pair(102, 5)},
      {"saturated matched", {{10, big}}, {{10, big}}, std::make_pair(10, kMaxQty)},
  };
  for (const AuctionCase& c : cases) {
    auto r = call_auction(c.bids, c.asks);
    ASSERT_EQ(r.has_value(), c.expected.has_value()) << c.name;
    if (r) {
      EXPECT_EQ(r->clearing_tick, c.expected->first) << c.name;
      EXPECT_EQ(r->matched_qty, c.expected->second) << c.name;
    }
  }
}

// A literal book: FIFO vectors and a linear search for ids, as the simplest
// reading of the matching rules. The indexed book must agree with it exactly.
class ReferenceBook {
 public:
  std::vector<Fill> step(const std::vector<AgentOrder>& batch) {
    std::vector<std::size_t> pos(batch.size());
    for (std::size_t i = 0; i < pos.size(); ++i) pos[i] = i;
    std::stable_sort(pos.begin(), pos.end(),
                     [&](std::size_t a, std::size_t b) { return batch[a].agent < batch[b].agent; });
    std::vector<Fill> fills;
    for (std::size_t p : pos) {
      const AgentOrder& o = batch[p];
      if (auto* l = std::get_if<LimitOrder>(&o.kind)) {
        std::uint64_t id = next_id_++;
        std::uint64_t rem = match(l->side, l->price_tick, true, l->qty, o.agent, fills);
        if (rem > 0) levels(l->side)[l->price_tick].push_back(RestingOrder{id, o.agent, rem});
      } else if (auto* m = std::get_if<MarketOrder>(&o.kind)) {
        match(m->side, 0, false, m->qty, o.agent, fills);
      } else if (auto* c = std::get_if<CancelOrder>(&o.kind)) {
        remove(c->id);
      } else {
        const auto& mo = std::get<ModifyOrder>(o.kind);
        if (mo.new_qty == 0) {
          remove(mo.id);
          continue;
        }
        for (auto* side : {&bids_, &asks_}) {
          for (auto& [price, queue] : *side) {
            for (std::size_t i = 0; i < queue.size(); ++i) {
              if (queue[i].id != mo.id) continue;
              if (mo.new_qty > queue[i].qty) {
                RestingOrder moved = queue[i];
                moved.qty = mo.new_qty;
                queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
                queue.push_back(moved);
              } else {
                queue[i].qty = mo.new_qty;
              }
              goto done;
            }
          }
        }
      done:;
      }
    }
    return fills;
  }

  std::vector<std::pair<std::int64_t, std::uint64_t>> side_pairs(Side side) const {
    std::vector<std::pair<std::int64_t, std::uint64_t>> out;
    auto add = [&](const auto& level) {
      std::uint64_t total = 0;
      for (const RestingOrder& r : level.second) total += r.qty;
      out.emplace_back(level.first, total);
    };
    if (side == Side::kBuy) {
      for (auto it = bids_.rbegin(); it != bids_.rend(); ++it) add(*it);
    } else {
      for (const auto& level : asks_) add(level);
    }
    return out;
  }

 private:
  using Levels = std::map<std::int64_t, std::vector<RestingOrder>>;
  Levels& levels(Side s) { return s == Side::kBuy ? bids_ : asks_; }

  std::uint64_t match(Side side, std::int64_t limit_px, bool has_limit, std::uint64_t qty,
                      std::uint64_t agent, std::vector<Fill>& fills) {
    Levels& opp = side == Side::kBuy ? asks_ : bids_;
    while (qty > 0 && !opp.empty()) {
      auto level = side == Side::kBuy ? opp.begin() : std::prev(opp.end());
      if (has_limit && side == Side::kBuy && level->first > limit_px) break;
      if (has_limit && side == Side::kSell && level->first < limit_px) break;
      auto& queue = level->second;
      while (qty > 0 && !queue.empty()) {
        std::uint64_t take = std::min(queue.front().qty, qty);
        const RestingOrder& maker = queue.front();
        fills.push_back(Fill{level->first, take, maker.id, maker.agent, agent, side});
        queue.front().qty -= take;
        qty -= take;
        if (queue.front().qty == 0) queue.erase(queue.begin());
      }
      if (queue.empty()) opp.erase(level);
    }
    return qty;
  }

  void remove(std::uint64_t id) {
    for (auto* side : {&bids_, &asks_}) {
      for (auto it = side->begin(); it != side->end(); ++it) {
        auto& queue = it->second;
        for (std::size_t i = 0; i < queue.size(); ++i) {
          if (queue[i].id != id) continue;
          queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
          if (queue.empty()) side->erase(it);
          return;
        }
      }
    }
  }

  Levels bids_, asks_;
  std::uint64_t next_id_ = 0;
};

struct TapeShape {
  std::uint64_t seed;
  int batches;
  std::uint64_t max_batch;
  std::uint64_t prices;       // limit prices 100 .. 100 + prices - 1
  std::uint64_t limit_share;  // of 10; the rest splits into market, cancel, modify
};

// Runs a seeded tape through both books and compares every fill and ladder.
std::size_t compare_on_tape(const TapeShape& shape) {
  support::SplitMix64 rng(shape.seed);
  OrderBook book;
  ReferenceBook reference;
  std::uint64_t ids_issued = 0;
  std::size_t total_fills = 0;
  for (int batch_no = 0; batch_no < shape.batches; ++batch_no) {
    std::vector<AgentOrder> batch;
    const std::uint64_t n = rng.next() % shape.max_batch;
    for (std::uint64_t k = 0; k < n; ++k) {
      const std::uint64_t agent = rng.next() % 5;
      const Side side = rng.next() % 2 ? Side::kBuy : Side::kSell;
      const std::uint64_t qty = rng.next() % 15;
      const std::uint64_t any_id = rng.next() % (ids_issued + 8);
      const std::uint64_t roll = rng.next() % 10;
      if (roll < shape.limit_share) {
        const auto price = static_cast<std::int64_t>(100 + rng.next() % shape.prices);
        batch.push_back(limit(agent, side, price, qty));
        ++ids_issued;
      } else if (roll == shape.limit_share) {
        batch.push_back(market(agent, side, qty));
      } else if (roll % 2) {
        batch.push_back(cancel(agent, any_id));
      } else {
        batch.push_back(modify(agent, any_id, qty));
      }
    }
    std::vector<Fill> got = book.step(batch);
    std::vector<Fill> want = reference.step(batch);
    EXPECT_EQ(got.size(), want.size()) << "batch " << batch_no;
    if (got.size() != want.size()) return total_fills;
    for (std::size_t i = 0; i < got.size(); ++i) {
      EXPECT_TRUE(same_fill(got[i], want[i])) << "batch " << batch_no << " fill " << i;
    }
    total_fills += got.size();
    LadderSnapshot l = book.depth_ladder(1000);
    EXPECT_EQ(pairs(l.bids), reference.side_pairs(Side::kBuy)) << "batch " << batch_no;
    EXPECT_EQ(pairs(l.asks), reference.side_pairs(Side::kSell)) << "batch " << batch_no;
    if (!l.bids.empty() && !l.asks.empty()) {
      EXPECT_LT(l.bids[0].price_tick, l.asks[0].price_tick);
    }
    EXPECT_FALSE(book.uncross().has_value());
    if (::testing::Test::HasFailure()) return total_fills;
  }
  return total_fills;
}

TEST(LobMarket, IndexedBookAgreesWithALinearSearchBookOnRandomTapes) {
  // Wide and shallow; then two prices with long queues full of holes from
  // cancels and upward modifies, so queues get squeezed often.
  EXPECT_GT(compare_on_tape({20260611, 400, 12, 11, 6}), 200u);
  EXPECT_GT(compare_on_tape({77, 300, 60, 2, 5}), 200u);
  EXPECT_GT(compare_on_tape({5, 200, 200, 1, 4}), 200u);
}

TEST(LobMarket, CopiesAreIndependentBooks) {
  OrderBook book;
  for (int i = 0; i < 20; ++i) book.process_limit(Side::kBuy, 10 + i % 3, 1 + i, 1);
  for (std::uint64_t id = 0; id < 20; id += 3) book.cancel_order(id);
  OrderBook copy = book;
  OrderBook assigned;
  assigned = book;
  book.reset();
  for (OrderBook* b : {&copy, &assigned}) {
    EXPECT_EQ(b->resting_count(), 13u);
    b->modify_order(1, 100);
    b->cancel_order(2);
    std::vector<Fill> fills = b->match_against(Side::kSell, std::nullopt, kMaxQty, 2).fills;
    ASSERT_EQ(fills.size(), 12u);
    EXPECT_EQ(fills.back().maker_id, 1u);  // moved behind the others at 11, the lowest bid left
    EXPECT_EQ(b->resting_count(), 0u);
  }
}

TEST(LobMarket, ResetEmptiesTheBookAndRestartsIdsKeepingTickSize) {
  OrderBook book(0.5);
  book.process_limit(Side::kBuy, 10, 5, 1);
  book.process_limit(Side::kSell, 12, 5, 1);
  book.reset();
  EXPECT_EQ(book.tick_size(), 0.5);
  EXPECT_EQ(book.next_id(), 0u);
  EXPECT_EQ(book.resting_count(), 0u);
  EXPECT_TRUE(book.depth_ladder(5).bids.empty());
  EXPECT_TRUE(book.depth_ladder(5).asks.empty());
  book.process_limit(Side::kBuy, 10, 5, 1);
  EXPECT_EQ(book.locate(0)->price_tick, 10);
}

}  // namespace
