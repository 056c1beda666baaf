#include "evaluation/lob_market.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <type_traits>

namespace corvane::lob_market {

std::string_view side_label(Side side) { return side == Side::kBuy ? "buy" : "sell"; }

std::optional<Side> parse_side(std::string_view label) {
  if (label == "buy") return Side::kBuy;
  if (label == "sell") return Side::kSell;
  return std::nullopt;
}

UInt128 OrderBook::Queue::total() const {
  UInt128 sum = 0;
  for (std::size_t i = head; i < slots.size(); ++i) sum += slots[i].qty;  // holes add 0
  return sum;
}

std::uint64_t saturate_u64(UInt128 sum) {
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  return sum > kMax ? kMax : static_cast<std::uint64_t>(sum);
}

OrderBook::OrderBook(const OrderBook& other)
    : bids_(other.bids_),
      asks_(other.asks_),
      tick_size_(other.tick_size_),
      next_id_(other.next_id_) {
  rebuild_index();
}

OrderBook& OrderBook::operator=(const OrderBook& other) {
  if (this != &other) *this = OrderBook(other);
  return *this;
}

void OrderBook::rebuild_index() {
  index_.clear();
  for (Side side : {Side::kBuy, Side::kSell}) {
    Levels& levels = side_levels(side);
    for (auto level = levels.begin(); level != levels.end(); ++level) {
      const Queue& queue = level->second;
      for (std::size_t pos = queue.head; pos < queue.slots.size(); ++pos) {
        if (queue.slots[pos].qty > 0) index_[queue.slots[pos].id] = Slot{side, level, pos};
      }
    }
  }
}

void OrderBook::reset() {
  index_.clear();
  bids_.clear();
  asks_.clear();
  next_id_ = 0;
}

std::vector<Fill> OrderBook::step(std::span<const AgentOrder> orders) {
  // Sort positions, not orders: stable by agent id, so each agent's entries
  // keep the order that agent listed them in.
  std::vector<std::size_t> order(orders.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return orders[a].agent < orders[b].agent;
  });

  std::vector<Fill> fills;
  for (std::size_t position : order) {
    const AgentOrder& entry = orders[position];
    std::visit(
        [&](const auto& o) {
          using T = std::decay_t<decltype(o)>;
          if constexpr (std::is_same_v<T, LimitOrder>) {
            process_limit_into(o.side, o.price_tick, o.qty, entry.agent, fills);
          } else if constexpr (std::is_same_v<T, MarketOrder>) {
            std::uint64_t remaining = o.qty;
            match_into(o.side, std::nullopt, remaining, entry.agent, fills);  // never rests
          } else if constexpr (std::is_same_v<T, CancelOrder>) {
            cancel_order(o.id);
          } else {
            modify_order(o.id, o.new_qty);
          }
        },
        entry.kind);
  }
  return fills;
}

std::vector<Fill> OrderBook::process_limit(Side side, std::int64_t price_tick, std::uint64_t qty,
                                           std::uint64_t agent) {
  std::vector<Fill> fills;
  process_limit_into(side, price_tick, qty, agent, fills);
  return fills;
}

void OrderBook::process_limit_into(Side side, std::int64_t price_tick, std::uint64_t qty,
                                   std::uint64_t agent, std::vector<Fill>& fills) {
  // Every limit order uses up an id, also one that fills at once or has qty 0.
  const std::uint64_t id = next_id_++;
  std::uint64_t remaining = qty;
  match_into(side, price_tick, remaining, agent, fills);
  if (remaining == 0) return;
  auto level = side_levels(side).try_emplace(price_tick).first;
  append(side, level, RestingOrder{id, agent, remaining});
}

MatchResult OrderBook::match_against(Side side, std::optional<std::int64_t> limit,
                                     std::uint64_t qty, std::uint64_t agent) {
  MatchResult result;
  result.remaining = qty;
  match_into(side, limit, result.remaining, agent, result.fills);
  return result;
}

void OrderBook::match_into(Side side, std::optional<std::int64_t> limit, std::uint64_t& remaining,
                           std::uint64_t agent, std::vector<Fill>& fills) {
  Levels& opposite = side == Side::kBuy ? asks_ : bids_;
  while (remaining > 0 && !opposite.empty()) {
    auto level = side == Side::kBuy ? opposite.begin() : std::prev(opposite.end());
    const std::int64_t price = level->first;
    if (limit) {
      if (side == Side::kBuy && price > *limit) break;
      if (side == Side::kSell && price < *limit) break;
    }
    Queue& queue = level->second;
    while (remaining > 0 && queue.live > 0) {
      RestingOrder& front = queue.slots[queue.head];
      const std::uint64_t take = std::min(front.qty, remaining);
      fills.push_back(Fill{price, take, front.id, front.agent, agent, side});
      front.qty -= take;
      remaining -= take;
      if (front.qty == 0) {
        index_.erase(front.id);
        if (--queue.live > 0) {
          while (queue.slots[queue.head].qty == 0) ++queue.head;
        }
      }
    }
    // A partly filled maker keeps its place at the front of a level that stays.
    if (queue.live == 0) {
      opposite.erase(level);
    } else {
      squeeze_if_sparse(level);
    }
  }
}

void OrderBook::append(Side side, Levels::iterator level, const RestingOrder& order) {
  Queue& queue = level->second;
  index_[order.id] = Slot{side, level, queue.slots.size()};
  queue.slots.push_back(order);
  ++queue.live;
}

void OrderBook::remove_at(Side side, Levels::iterator level, std::size_t pos) {
  Queue& queue = level->second;
  queue.slots[pos].qty = 0;
  if (--queue.live == 0) {
    side_levels(side).erase(level);
    return;
  }
  // Every live order sits at or after the head, so this stops inside the queue.
  while (queue.slots[queue.head].qty == 0) ++queue.head;
  squeeze_if_sparse(level);
}

void OrderBook::squeeze_if_sparse(Levels::iterator level) {
  constexpr std::size_t kMinHoles = 8;
  Queue& queue = level->second;
  const std::size_t holes = queue.slots.size() - queue.live;
  if (holes <= queue.live || holes < kMinHoles) return;
  // Each hole came from one removal and this pass clears them all, so the
  // pass is paid for by the removals: O(1) amortised for each.
  std::size_t out = 0;
  for (std::size_t i = queue.head; i < queue.slots.size(); ++i) {
    if (queue.slots[i].qty == 0) continue;
    queue.slots[out] = queue.slots[i];
    index_.find(queue.slots[out].id)->second.pos = out;
    ++out;
  }
  queue.slots.resize(out);
  queue.head = 0;
  // A queue that was once very long gives its memory back.
  if (queue.slots.capacity() > 64 && queue.slots.capacity() > 4 * out) queue.slots.shrink_to_fit();
}

void OrderBook::cancel_order(std::uint64_t id) {
  auto it = index_.find(id);
  if (it == index_.end()) return;
  const Slot slot = it->second;
  index_.erase(it);
  remove_at(slot.side, slot.level, slot.pos);
}

void OrderBook::modify_order(std::uint64_t id, std::uint64_t new_qty) {
  if (new_qty == 0) {
    cancel_order(id);
    return;
  }
  auto it = index_.find(id);
  if (it == index_.end()) return;
  const Slot slot = it->second;
  RestingOrder& order = slot.level->second.slots[slot.pos];
  if (new_qty <= order.qty) {
    order.qty = new_qty;  // a decrease keeps its place
    return;
  }
  // An increase loses time priority: the order moves to the back of its
  // level (the index now points there) and its old place becomes a hole.
  const RestingOrder moved{order.id, order.agent, new_qty};
  append(slot.side, slot.level, moved);
  remove_at(slot.side, slot.level, slot.pos);
}

std::optional<Location> OrderBook::locate(std::uint64_t id) const {
  auto it = index_.find(id);
  if (it == index_.end()) return std::nullopt;
  return Location{it->second.side, it->second.level->first};
}

LadderSnapshot OrderBook::depth_ladder(std::uint64_t levels) const {
  LadderSnapshot ladder;
  std::uint64_t n = 0;
  for (auto it = bids_.rbegin(); it != bids_.rend() && n < levels; ++it, ++n) {
    ladder.bids.push_back(LadderLevel{it->first, saturate_u64(it->second.total())});
  }
  n = 0;
  for (auto it = asks_.begin(); it != asks_.end() && n < levels; ++it, ++n) {
    ladder.asks.push_back(LadderLevel{it->first, saturate_u64(it->second.total())});
  }

  if (!bids_.empty() && !asks_.empty()) {
    const auto& best_bid = *bids_.rbegin();
    const auto& best_ask = *asks_.begin();
    const double bid = static_cast<double>(best_bid.first);
    const double ask = static_cast<double>(best_ask.first);
    const double qb = static_cast<double>(best_bid.second.total());
    const double qa = static_cast<double>(best_ask.second.total());
    // The integer sum is taken in 128 bits: prices near the i64 limits would
    // otherwise overflow. Where it fits, this is the 64-bit sum.
    const Int128 price_sum = static_cast<Int128>(best_bid.first) + best_ask.first;
    ladder.mid = static_cast<double>(price_sum) * 0.5;
    ladder.microprice = (ask * qb + bid * qa) / (qb + qa);
    ladder.queue_imbalance = (qb - qa) / (qb + qa);
  } else if (!bids_.empty()) {
    ladder.mid = ladder.microprice = static_cast<double>(bids_.rbegin()->first);
    ladder.queue_imbalance = 1.0;
  } else if (!asks_.empty()) {
    ladder.mid = ladder.microprice = static_cast<double>(asks_.begin()->first);
    ladder.queue_imbalance = -1.0;
  }
  return ladder;
}

SweepCost OrderBook::sweep_cost(Side side, std::uint64_t qty) const {
  SweepCost cost;
  const Levels& walked = side == Side::kBuy ? asks_ : bids_;
  if (walked.empty()) return cost;

  std::int64_t touch = 0;
  Int128 notional = 0;  // |sum| <= (2^64 - 1) * 2^63: exact in 128 bits
  std::uint64_t filled = 0;
  std::uint64_t remaining = qty;
  auto take_level = [&](const std::pair<const std::int64_t, Queue>& level) {
    const UInt128 level_qty = level.second.total();
    const std::uint64_t take = level_qty < remaining ? static_cast<std::uint64_t>(level_qty)
                                                     : remaining;
    notional += static_cast<Int128>(take) * level.first;
    filled += take;
    remaining -= take;
  };
  // Once nothing remains, the later levels add nothing: stop walking.
  if (side == Side::kBuy) {
    touch = walked.begin()->first;
    for (auto it = walked.begin(); it != walked.end() && remaining > 0; ++it) take_level(*it);
  } else {
    touch = walked.rbegin()->first;
    for (auto it = walked.rbegin(); it != walked.rend() && remaining > 0; ++it) take_level(*it);
  }
  if (filled > 0) {
    cost.avg_px_tick = static_cast<double>(notional) / static_cast<double>(filled);
    cost.slippage_ticks = std::fabs(cost.avg_px_tick - static_cast<double>(touch));
  }
  cost.filled_qty = filled;
  return cost;
}

std::optional<UncrossResult> call_auction(std::span<const LevelTotal> bids,
                                          std::span<const LevelTotal> asks) {
  // demand(p) = bids priced >= p, supply(p) = asks priced <= p, over every
  // price present on either side, ascending. Running sums give the same
  // values as summing per candidate; all of them are exact in 128 bits.
  UInt128 all_bids = 0;
  for (const LevelTotal& level : bids) all_bids += level.qty;
  UInt128 bids_below = 0;  // bids priced < p
  UInt128 asks_upto = 0;   // asks priced <= p

  std::optional<UncrossResult> best;
  UInt128 best_matched = 0;
  UInt128 best_gap = 0;
  std::size_t b = 0;
  std::size_t a = 0;
  while (b < bids.size() || a < asks.size()) {
    const bool bid_first =
        a == asks.size() || (b < bids.size() && bids[b].price_tick < asks[a].price_tick);
    const std::int64_t p = bid_first ? bids[b].price_tick : asks[a].price_tick;
    UInt128 bid_here = 0;
    if (b < bids.size() && bids[b].price_tick == p) bid_here = bids[b++].qty;
    if (a < asks.size() && asks[a].price_tick == p) asks_upto += asks[a++].qty;
    const UInt128 demand = all_bids - bids_below;
    const UInt128 supply = asks_upto;
    bids_below += bid_here;

    const UInt128 matched = std::min(demand, supply);
    if (matched == 0) continue;
    const UInt128 gap = demand > supply ? demand - supply : supply - demand;
    // Ascending walk: only a strictly better candidate replaces the best, so
    // among full ties the lowest price stays.
    if (!best || matched > best_matched || (matched == best_matched && gap < best_gap)) {
      best = UncrossResult{p, saturate_u64(matched)};
      best_matched = matched;
      best_gap = gap;
    }
  }
  return best;
}

std::optional<UncrossResult> OrderBook::uncross() const {
  auto totals = [](const Levels& levels) {
    std::vector<LevelTotal> out;
    out.reserve(levels.size());
    for (const auto& [price, queue] : levels) out.push_back(LevelTotal{price, queue.total()});
    return out;
  };
  const std::vector<LevelTotal> bids = totals(bids_);
  const std::vector<LevelTotal> asks = totals(asks_);
  return call_auction(bids, asks);
}

const support::RecordFields<Fill>& fill_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  static const support::RecordFields<Fill> fields({
      {"price_tick", [](JsonWriter& w, const Fill& f, KeyOrder) { w.integer(f.price_tick); }},
      {"qty", [](JsonWriter& w, const Fill& f, KeyOrder) { w.unsigned_integer(f.qty); }},
      {"maker_id", [](JsonWriter& w, const Fill& f, KeyOrder) { w.unsigned_integer(f.maker_id); }},
      {"maker_agent",
       [](JsonWriter& w, const Fill& f, KeyOrder) { w.unsigned_integer(f.maker_agent); }},
      {"taker_agent",
       [](JsonWriter& w, const Fill& f, KeyOrder) { w.unsigned_integer(f.taker_agent); }},
      {"taker_side",
       [](JsonWriter& w, const Fill& f, KeyOrder) { w.string(side_label(f.taker_side)); }},
  });
  return fields;
}

namespace {

void write_levels(support::JsonWriter& w, const std::vector<LadderLevel>& levels) {
  w.begin_array();
  for (const LadderLevel& l : levels) {
    w.begin_array();
    w.integer(l.price_tick);
    w.unsigned_integer(l.total_qty);
    w.end_array();
  }
  w.end_array();
}

}  // namespace

const support::RecordFields<LadderSnapshot>& ladder_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  using L = LadderSnapshot;
  static const support::RecordFields<L> fields({
      {"bids", [](JsonWriter& w, const L& l, KeyOrder) { write_levels(w, l.bids); }},
      {"asks", [](JsonWriter& w, const L& l, KeyOrder) { write_levels(w, l.asks); }},
      {"mid", [](JsonWriter& w, const L& l, KeyOrder) { w.number(l.mid); }},
      {"microprice", [](JsonWriter& w, const L& l, KeyOrder) { w.number(l.microprice); }},
      {"queue_imbalance",
       [](JsonWriter& w, const L& l, KeyOrder) { w.number(l.queue_imbalance); }},
  });
  return fields;
}

const support::RecordFields<SweepCost>& sweep_cost_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  using S = SweepCost;
  static const support::RecordFields<S> fields({
      {"avg_px_tick", [](JsonWriter& w, const S& s, KeyOrder) { w.number(s.avg_px_tick); }},
      {"slippage_ticks", [](JsonWriter& w, const S& s, KeyOrder) { w.number(s.slippage_ticks); }},
      {"filled_qty", [](JsonWriter& w, const S& s, KeyOrder) { w.unsigned_integer(s.filled_qty); }},
  });
  return fields;
}

const support::RecordFields<UncrossResult>& uncross_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  using U = UncrossResult;
  static const support::RecordFields<U> fields({
      {"clearing_tick", [](JsonWriter& w, const U& u, KeyOrder) { w.integer(u.clearing_tick); }},
      {"matched_qty",
       [](JsonWriter& w, const U& u, KeyOrder) { w.unsigned_integer(u.matched_qty); }},
  });
  return fields;
}

}  // namespace corvane::lob_market
