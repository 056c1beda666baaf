#pragma once
// A deterministic limit order book for one instrument on integer price ticks,
// shared by many agents: price-time priority, partial fills, and batches that
// are applied in a canonical order independent of how the agents' orders were
// listed. No operation can fail: unknown ids are ignored and empty sides give
// fixed defaults.
//
// Quantities are u64. Sums of quantities (level totals, auction demand and
// supply) are taken exactly in 128 bits and saturate at 2^64 - 1 where they
// leave the engine as a u64, so they never wrap.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <variant>
#include <vector>

#include "support/json_record.hpp"

namespace corvane::lob_market {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

enum class Side { kBuy, kSell };

// "buy" / "sell".
std::string_view side_label(Side side);
// The side a label names (exact, lower case), or nothing.
std::optional<Side> parse_side(std::string_view label);

struct RestingOrder {
  std::uint64_t id = 0;
  std::uint64_t agent = 0;
  std::uint64_t qty = 0;  // remaining; always > 0 while the order rests
};

struct LimitOrder {
  Side side = Side::kBuy;
  std::int64_t price_tick = 0;
  std::uint64_t qty = 0;
};
struct MarketOrder {
  Side side = Side::kBuy;
  std::uint64_t qty = 0;
};
struct CancelOrder {
  std::uint64_t id = 0;
};
struct ModifyOrder {
  std::uint64_t id = 0;
  std::uint64_t new_qty = 0;
};

struct AgentOrder {
  std::uint64_t agent = 0;
  std::variant<LimitOrder, MarketOrder, CancelOrder, ModifyOrder> kind;
};

struct Fill {
  std::int64_t price_tick = 0;  // the maker's level
  std::uint64_t qty = 0;
  std::uint64_t maker_id = 0;
  std::uint64_t maker_agent = 0;
  std::uint64_t taker_agent = 0;
  Side taker_side = Side::kBuy;
};

struct LadderLevel {
  std::int64_t price_tick = 0;
  std::uint64_t total_qty = 0;  // saturated at 2^64 - 1
};

struct LadderSnapshot {
  std::vector<LadderLevel> bids;  // best (highest) first
  std::vector<LadderLevel> asks;  // best (lowest) first
  double mid = 0.0;
  double microprice = 0.0;
  double queue_imbalance = 0.0;
};

struct SweepCost {
  double avg_px_tick = 0.0;
  double slippage_ticks = 0.0;
  std::uint64_t filled_qty = 0;
};

struct UncrossResult {
  std::int64_t clearing_tick = 0;
  std::uint64_t matched_qty = 0;  // saturated at 2^64 - 1
};

struct MatchResult {
  std::vector<Fill> fills;
  std::uint64_t remaining = 0;
};

struct Location {
  Side side = Side::kBuy;
  std::int64_t price_tick = 0;
};

class OrderBook {
 public:
  explicit OrderBook(double tick_size = 0.01) : tick_size_(tick_size) {}
  // The id index points into the price maps, so a copy rebuilds its own.
  OrderBook(const OrderBook& other);
  OrderBook& operator=(const OrderBook& other);
  OrderBook(OrderBook&&) noexcept = default;
  OrderBook& operator=(OrderBook&&) noexcept = default;

  // Both sides emptied and ids starting again at 0; the tick size stays.
  void reset();

  // Applies the batch in canonical order (stable by agent id) and returns the
  // fills in the order in which they occurred.
  std::vector<Fill> step(std::span<const AgentOrder> orders);

  std::vector<Fill> process_limit(Side side, std::int64_t price_tick, std::uint64_t qty,
                                  std::uint64_t agent);
  MatchResult match_against(Side side, std::optional<std::int64_t> limit, std::uint64_t qty,
                            std::uint64_t agent);
  void cancel_order(std::uint64_t id);
  void modify_order(std::uint64_t id, std::uint64_t new_qty);

  std::optional<Location> locate(std::uint64_t id) const;
  LadderSnapshot depth_ladder(std::uint64_t levels) const;
  SweepCost sweep_cost(Side side, std::uint64_t qty) const;
  std::optional<UncrossResult> uncross() const;

  double tick_size() const { return tick_size_; }
  std::uint64_t next_id() const { return next_id_; }
  std::size_t resting_count() const { return index_.size(); }

 private:
  // A price level's FIFO queue, kept contiguous so that summing a level walks
  // memory in order. Removed orders leave a hole (qty 0, which no resting
  // order has) that every walk steps over; the holes are squeezed out once
  // they outnumber the live orders, so each removal costs O(1) amortised.
  struct Queue {
    std::vector<RestingOrder> slots;
    std::size_t head = 0;  // the first live order (the front) while live > 0
    std::size_t live = 0;
    UInt128 total() const;
  };
  using Levels = std::map<std::int64_t, Queue>;  // ascending price

  // Where a resting order sits, so that cancel and modify do not search the
  // book. Ids are unique, so this finds exactly the order a scan would.
  struct Slot {
    Side side;
    Levels::iterator level;
    std::size_t pos;  // index into the level's slots
  };

  void match_into(Side side, std::optional<std::int64_t> limit, std::uint64_t& remaining,
                  std::uint64_t agent, std::vector<Fill>& fills);
  void process_limit_into(Side side, std::int64_t price_tick, std::uint64_t qty,
                          std::uint64_t agent, std::vector<Fill>& fills);
  void append(Side side, Levels::iterator level, const RestingOrder& order);
  // Leaves a hole at pos; erases the level when nothing is left in it.
  void remove_at(Side side, Levels::iterator level, std::size_t pos);
  void squeeze_if_sparse(Levels::iterator level);
  void rebuild_index();
  Levels& side_levels(Side side) { return side == Side::kBuy ? bids_ : asks_; }

  Levels bids_;
  Levels asks_;
  double tick_size_;
  std::uint64_t next_id_ = 0;
  std::unordered_map<std::uint64_t, Slot> index_;
};

// One price level reduced to its exact total, for the call auction.
struct LevelTotal {
  std::int64_t price_tick = 0;
  UInt128 qty = 0;
};

// The single-price call auction over levels given in ascending price order
// (each side's prices unique). The book's uncross() feeds it its own levels;
// taken apart so that crossed books, which no book operation can produce, can
// be auctioned too.
std::optional<UncrossResult> call_auction(std::span<const LevelTotal> bids,
                                          std::span<const LevelTotal> asks);
// A 128-bit quantity sum as a u64, saturated at 2^64 - 1.
std::uint64_t saturate_u64(UInt128 sum);

// Field descriptions of the records written as JSON (declaration order; the
// sorted order comes from the same description).
const support::RecordFields<Fill>& fill_fields();
const support::RecordFields<LadderSnapshot>& ladder_fields();
const support::RecordFields<SweepCost>& sweep_cost_fields();
const support::RecordFields<UncrossResult>& uncross_fields();

}  // namespace corvane::lob_market
