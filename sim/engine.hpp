#pragma once
// The execution engine: turns one decision at one bar into trades, cash
// flows, process events and a reward, against an account (`Book`) and a cost
// model. Every formula keeps its order of operations: the output must be
// byte-identical on every machine.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/decision.hpp"
#include "protocol/observation.hpp"
#include "scoring/process_event.hpp"
#include "sim/costs.hpp"
#include "sim/data.hpp"
#include "support/json_reader.hpp"
#include "support/json_writer.hpp"
#include "support/result.hpp"

namespace talmoor_sim::engine {

// XORed into the execution seed for the book's slippage stream and for the
// execution-noise keys.
inline constexpr std::uint64_t kExecSeedSalt = 0xA5A55A5AC3C33C3CULL;
// Closes shown per instrument in an observation.
inline constexpr std::size_t kHistoryLookback = 20;

// An order carried to the next bar by execution noise.
struct PendingOrder {
  double target_weight = 0.0;
  friend bool operator==(const PendingOrder&, const PendingOrder&) = default;
};

// The account. NAV is measured in units of the starting capital (cash 1.0).
struct Book {
  // Signed share count; an entry (possibly 0.0) for every symbol of the data set.
  std::map<std::string, double> shares;
  double cash = 1.0;
  std::uint64_t rng = 0;  // SplitMix64 state of the slippage stream
  talmoor_core::process_event::Trace trace;
  double prev_nav = 1.0;  // NAV at the end of the previous bar
  // At most one carried order per symbol.
  std::map<std::string, PendingOrder> pending;

  // The start state: every symbol flat, cash 1.0, the stream at
  // exec_seed ^ kExecSeedSalt, empty trace, prev_nav 1.0, nothing pending.
  static Book fresh(const std::vector<std::string>& symbols, std::uint64_t exec_seed);

  friend bool operator==(const Book&, const Book&) = default;
};

enum class OrderOutcome { kNotTraded, kDeferred, kFilled };

// cash + the sum over `symbols` (in order, from -0.0) of shares x close at
// bar t; a missing close or share entry counts as 0.0.
double nav(const data::Dataset& dataset, const std::vector<std::string>& symbols,
           const std::map<std::string, double>& shares, std::size_t t, double cash);

// The point-in-time observation at bar t: closes up to and including t only.
// t must be a bar of the data set (a support::Fault otherwise).
talmoor_protocol::MarketObservation build_observation(const data::Dataset& dataset,
                                                      const std::vector<std::string>& symbols,
                                                      const Book& book, std::size_t t);

// Moves the book toward `target_weight` of `nav_value` in `symbol` at bar t's
// close, with costs and (when configured) execution noise. `deferred` marks
// the retry of a carried order, which noise never delays again.
OrderOutcome apply_order(const data::Dataset& dataset, const std::vector<std::string>& symbols,
                         Book& book, const costs::CostModel& costs, std::uint64_t exec_seed,
                         double nav_value, double target_weight, std::size_t t,
                         const std::string& symbol, bool deferred);

// One bar: carried orders, the decision's orders, dividends, financing, then
// the reward nav_end / prev_nav - 1. Appends events to the book's trace.
double step_once(const data::Dataset& dataset, const std::vector<std::string>& symbols,
                 Book& book, const costs::CostModel& costs, std::uint64_t exec_seed,
                 std::size_t t, const talmoor_protocol::Decision& decision);

// The checkpoint form, written directly: {"shares":{..},"cash":..,"rng":..,
// "trace":{"events":[..]},"prev_nav":..,"pending":{..}} ("pending" only when
// non-empty).
void write_book(support::JsonWriter& w, const Book& book);
std::string book_json(const Book& book);

// Reads the checkpoint form. Unknown keys are ignored; a missing "pending" is
// an empty map. A null where a float is expected reads as NaN, because the
// writer turns non-finite values into null and a checkpoint must read back.
[[nodiscard]] support::Result<Book, support::json::ReadError> read_book(
    const support::json::Value& value);

}  // namespace talmoor_sim::engine
