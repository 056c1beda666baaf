#include "sim/env.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "support/fault.hpp"
#include "support/float_text.hpp"
#include "support/json_fields.hpp"

namespace talmoor_sim::env {
namespace {

namespace pe = talmoor_core::process_event;
namespace json = support::json;

costs::CostModel checked_costs(costs::CostModel costs) {
  if (costs.execution_noise && !costs::ExecutionNoise::validate(*costs.execution_noise)) {
    throw support::Fault("invalid CostModel: execution noise must be finite and in-domain");
  }
  return costs;
}

}  // namespace

TradingEnv::TradingEnv(data::Dataset dataset, std::size_t window_start, std::size_t window_end,
                       costs::CostModel costs, std::uint64_t exec_seed)
    : TradingEnv(std::make_shared<const data::Dataset>(std::move(dataset)), window_start,
                 window_end, std::move(costs), exec_seed) {}

TradingEnv::TradingEnv(std::shared_ptr<const data::Dataset> dataset, std::size_t window_start,
                       std::size_t window_end, costs::CostModel costs, std::uint64_t exec_seed)
    : dataset_(std::move(dataset)),
      symbols_(dataset_->symbols()),
      costs_(checked_costs(std::move(costs))),
      window_start_(window_start),
      window_end_(window_end),
      effective_end_(std::min(dataset_->dates.size(), window_end)),
      exec_seed_(exec_seed),
      cursor_(window_start),
      book_(engine::Book::fresh(symbols_, exec_seed)) {}

std::size_t TradingEnv::bar(std::uint64_t cursor) const {
  if (effective_end_ == 0) return 0;
  return static_cast<std::size_t>(std::min<std::uint64_t>(effective_end_ - 1, cursor));
}

talmoor_protocol::MarketObservation TradingEnv::reset() {
  book_ = engine::Book::fresh(symbols_, exec_seed_);
  cursor_ = window_start_;
  return engine::build_observation(*dataset_, symbols_, book_, bar(cursor_));
}

StepResult TradingEnv::step(const talmoor_protocol::Decision& decision) {
  const std::size_t t = bar(cursor_);
  const std::size_t first_new_event = book_.trace.events.size();
  StepResult result;
  result.reward =
      engine::step_once(*dataset_, symbols_, book_, costs_, exec_seed_, t, decision);
  const auto& events = book_.trace.events;
  result.info.events.assign(events.begin() + static_cast<std::ptrdiff_t>(first_new_event),
                            events.end());
  // step_once just computed this bar's NAV from the same shares and cash.
  result.info.nav = book_.prev_nav;
  // A restored cursor may sit at the top of its range; stepping stays there
  // rather than wrapping back to bar 0.
  if (cursor_ != std::numeric_limits<std::uint64_t>::max()) ++cursor_;
  result.observation = engine::build_observation(*dataset_, symbols_, book_, bar(cursor_));
  result.done = cursor_ >= effective_end_;
  return result;
}

support::Status<std::string> TradingEnv::restore_state(EnvState state) {
  for (const std::string& symbol : symbols_) {
    if (state.book.shares.find(symbol) == state.book.shares.end()) {
      return support::err("env state has no share count for symbol " +
                          support::quote_label(symbol) + " of the data set");
    }
  }
  cursor_ = state.cursor;
  book_ = std::move(state.book);
  return support::ok_unit();
}

// ---- JSON ----------------------------------------------------------------------

namespace {

const support::RecordFields<StepInfo>& step_info_fields() {
  static const support::RecordFields<StepInfo> fields({
      {"nav", [](support::JsonWriter& w, const StepInfo& s, support::KeyOrder) { w.number(s.nav); }},
      {"events",
       [](support::JsonWriter& w, const StepInfo& s, support::KeyOrder order) {
         pe::write_events(w, s.events, order);
       }},
  });
  return fields;
}

constexpr json::FieldSpec kEnvStateFields[] = {{"cursor", true}, {"book", true}};
const json::RecordSpec kEnvStateSpec{"EnvState", kEnvStateFields, json::UnknownKeys::kIgnore};

}  // namespace

void write_step_info(support::JsonWriter& w, const StepInfo& info, support::KeyOrder order) {
  step_info_fields().write(w, info, order);
}

std::string step_info_json(const StepInfo& info, support::KeyOrder order) {
  std::string out;
  support::JsonWriter w(out);
  write_step_info(w, info, order);
  return out;
}

void write_env_state(support::JsonWriter& w, const EnvState& state) {
  w.begin_object();
  w.member("cursor", state.cursor);
  w.key("book");
  engine::write_book(w, state.book);
  w.end_object();
}

std::string env_state_json(const EnvState& state) {
  std::string out;
  support::JsonWriter w(out);
  write_env_state(w, state);
  return out;
}

support::Result<EnvState, json::ReadError> read_env_state(const json::Value& value) {
  auto slots = json::bind_record(value, kEnvStateSpec);
  if (!slots) return support::err(slots.error());
  auto cursor = json::read_u64(*slots.value()[0]);
  if (!cursor) return support::err(cursor.error());
  auto book = engine::read_book(*slots.value()[1]);
  if (!book) return support::err(book.error());
  return EnvState{cursor.value(), std::move(book.value())};
}

support::Result<EnvState, json::ReadError> read_env_state_json(std::string_view text) {
  auto value = json::parse(text);
  if (!value) return support::err(value.error());
  return read_env_state(value.value());
}

}  // namespace talmoor_sim::env
