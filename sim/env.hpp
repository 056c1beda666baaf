#pragma once
// The steppable, leak-free episode over one data set: hands out the
// observation of bar t, trades the decision at bar t's close through the
// engine, and returns reward, done flag, NAV and the step's process events.
// Its mutable state (cursor and book) can be checkpointed and restored.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/decision.hpp"
#include "protocol/observation.hpp"
#include "scoring/process_event.hpp"
#include "sim/costs.hpp"
#include "sim/data.hpp"
#include "sim/engine.hpp"
#include "support/json_reader.hpp"
#include "support/json_record.hpp"
#include "support/json_writer.hpp"
#include "support/result.hpp"

namespace talmoor_sim::env {

struct StepInfo {
  double nav = 0.0;  // NAV after the step
  std::vector<talmoor_core::process_event::ProcessEvent> events;  // this step's, in order
  friend bool operator==(const StepInfo&, const StepInfo&) = default;
};

struct StepResult {
  talmoor_protocol::MarketObservation observation;
  double reward = 0.0;
  bool done = false;
  StepInfo info;
};

// The checkpoint: everything a step changes.
struct EnvState {
  std::uint64_t cursor = 0;
  engine::Book book;
  friend bool operator==(const EnvState&, const EnvState&) = default;
};

class TradingEnv {
 public:
  // Builds the environment in its reset state. The window is not checked
  // here: callers make sure 0 <= window_start < window_end <= number of
  // dates. Execution noise that fails ExecutionNoise::validate is a caller's
  // programming error (support::Fault).
  TradingEnv(data::Dataset dataset, std::size_t window_start, std::size_t window_end,
             costs::CostModel costs, std::uint64_t exec_seed);
  // Shares one read-only data set between environments (batched lanes).
  TradingEnv(std::shared_ptr<const data::Dataset> dataset, std::size_t window_start,
             std::size_t window_end, costs::CostModel costs, std::uint64_t exec_seed);

  // Back to the start state (fresh book, cursor at window_start); returns the
  // observation of the first bar.
  talmoor_protocol::MarketObservation reset();
  StepResult step(const talmoor_protocol::Decision& decision);

  EnvState clone_state() const { return EnvState{cursor_, book_}; }
  // Takes the state over whole. Refuses (and changes nothing) when the
  // book's shares lack a symbol of the data set, which could not be stepped.
  [[nodiscard]] support::Status<std::string> restore_state(EnvState state);

  // The bar a cursor trades at: clamped to the last bar of the window.
  std::size_t bar(std::uint64_t cursor) const;

  const data::Dataset& dataset() const { return *dataset_; }
  const std::shared_ptr<const data::Dataset>& shared_dataset() const { return dataset_; }
  const std::vector<std::string>& symbols() const { return symbols_; }
  const costs::CostModel& costs() const { return costs_; }
  std::size_t window_start() const { return window_start_; }
  std::size_t window_end() const { return window_end_; }
  // min(number of dates, window_end)
  std::size_t effective_end() const { return effective_end_; }
  std::uint64_t exec_seed() const { return exec_seed_; }
  std::uint64_t cursor() const { return cursor_; }
  const engine::Book& book() const { return book_; }

 private:
  std::shared_ptr<const data::Dataset> dataset_;
  std::vector<std::string> symbols_;
  costs::CostModel costs_;
  std::size_t window_start_;
  std::size_t window_end_;
  std::size_t effective_end_;
  std::uint64_t exec_seed_;
  std::uint64_t cursor_;
  engine::Book book_;
};

// {"nav":..,"events":[..]} in declaration order, or {"events":..,"nav":..}
// with every key sorted (the form the Python step returns).
void write_step_info(support::JsonWriter& w, const StepInfo& info, support::KeyOrder order);
std::string step_info_json(const StepInfo& info,
                           support::KeyOrder order = support::KeyOrder::kSorted);

// {"cursor":N,"book":{..}}, written directly.
void write_env_state(support::JsonWriter& w, const EnvState& state);
std::string env_state_json(const EnvState& state);

// Both keys required, unknown keys ignored.
[[nodiscard]] support::Result<EnvState, support::json::ReadError> read_env_state(
    const support::json::Value& value);
[[nodiscard]] support::Result<EnvState, support::json::ReadError> read_env_state_json(
    std::string_view text);

}  // namespace talmoor_sim::env
