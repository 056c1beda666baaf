#include "evaluation/env_config.hpp"

#include <cstdio>
#include <limits>
#include <utility>

#include "support/fnv1a.hpp"
#include "support/float_text.hpp"
#include "support/json_writer.hpp"

namespace corvane::env_config {
namespace {

using talmoor_sim::costs::CostModel;
using talmoor_sim::data::Dataset;

CodedError invalid_argument(std::string message) {
  return CodedError{std::string(kInvalidArgument), std::move(message)};
}

std::string hex16(std::uint64_t value) {
  char buffer[17];
  std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(value));
  return buffer;
}

struct Window {
  std::size_t start;
  std::size_t end;
};

support::Result<Window, CodedError> resolve_window(std::optional<std::size_t> start,
                                                   std::optional<std::size_t> end,
                                                   std::size_t n_bars) {
  Window window{start.value_or(0), end.value_or(n_bars)};
  auto checked = check_window(window.start, window.end, n_bars);
  if (!checked) return support::err(std::move(checked.error()));
  return window;
}

// The steps after the data set, common to both constructors.
support::Result<ConfiguredEnv, CodedError> configure(Dataset dataset,
                                                     std::optional<std::size_t> window_start,
                                                     std::optional<std::size_t> window_end,
                                                     const CostOverrides& overrides,
                                                     std::uint64_t seed,
                                                     std::optional<std::uint64_t> exec_seed) {
  auto window = resolve_window(window_start, window_end, dataset.dates.size());
  if (!window) return support::err(std::move(window.error()));
  auto costs = build_cost_model(overrides);
  if (!costs) return support::err(std::move(costs.error()));
  const std::uint64_t execution_seed = exec_seed.value_or(seed);
  std::string config =
      effective_config_json(dataset, window.value().start, window.value().end, execution_seed);
  return ConfiguredEnv{
      talmoor_sim::env::TradingEnv(std::move(dataset), window.value().start, window.value().end,
                                   std::move(costs.value()), execution_seed),
      seed, std::move(config)};
}

}  // namespace

support::Result<CostModel, CodedError> build_cost_model(const CostOverrides& overrides) {
  CostModel costs;
  costs.fee_bps = overrides.fee_bps.value_or(2.0);
  costs.slippage_bps = overrides.slippage_bps.value_or(3.0);
  costs.impact_bps = overrides.impact_bps.value_or(50.0);
  costs.financing_bps = overrides.financing_bps.value_or(5.0);
  costs.max_participation =
      overrides.max_participation.value_or(std::numeric_limits<double>::infinity());
  if (costs.max_participation < 0.0) {
    return support::err(invalid_argument("max_participation must not be negative, got " +
                                         support::display_number(costs.max_participation)));
  }
  return costs;
}

support::Status<CodedError> check_window(std::size_t start, std::size_t end, std::size_t n_bars) {
  if (start < end && end <= n_bars) return support::ok_unit();
  return support::err(invalid_argument("invalid window [" + std::to_string(start) + ", " +
                                       std::to_string(end) + ") over " + std::to_string(n_bars) +
                                       " bars"));
}

Dataset build_dataset(const scenario_gen::ScenarioSpec& spec, std::uint64_t seed) {
  if (spec.is_plain_calm()) return Dataset::synthetic(spec.n_symbols, spec.n_days, seed);
  return scenario_gen::generate_scenario(spec, seed);
}

std::string effective_config_json(const Dataset& dataset, std::size_t window_start,
                                  std::size_t window_end, std::uint64_t exec_seed) {
  const std::uint64_t hash = support::fnv1a64(talmoor_sim::data::to_json(dataset));
  // Keys already in ascending byte order, as the dynamic form writes them.
  std::string out;
  support::JsonWriter w(out);
  w.begin_object();
  w.member("dataset_fnv1a64", hex16(hash));
  w.member("exec_seed", exec_seed);
  w.member("n_bars", static_cast<std::uint64_t>(dataset.dates.size()));
  w.member("n_symbols", static_cast<std::uint64_t>(dataset.closes.size()));
  w.member("window_end", static_cast<std::uint64_t>(window_end));
  w.member("window_start", static_cast<std::uint64_t>(window_start));
  w.end_object();
  return out;
}

support::Result<ConfiguredEnv, CodedError> build_env(const SyntheticEnvArgs& args) {
  auto mode = scenario_gen::parse_distribution_mode(args.distribution_mode);
  if (!mode) return support::err(invalid_argument(mode.error()));
  scenario_gen::ScenarioSpec spec;
  spec.n_symbols = args.n_symbols;
  spec.n_days = args.n_days;
  spec.vol_clustering = args.vol_clustering;
  spec.jump_burst_probability = args.jump_burst_probability;
  spec.jump_burst_persistence = args.jump_burst_persistence;
  spec.jump_burst_size = args.jump_burst_size;
  spec.distribution_mode = mode.value();
  return configure(build_dataset(spec, args.seed), args.window_start, args.window_end, args.costs,
                   args.seed, args.exec_seed);
}

support::Result<ConfiguredEnv, CodedError> build_csv_env(std::string_view csv_text,
                                                         const CsvEnvArgs& args) {
  auto dataset = Dataset::from_csv(csv_text);
  if (!dataset) {
    return support::err(CodedError{std::string(kDataUnavailable), std::move(dataset.error())});
  }
  return configure(std::move(dataset.value()), args.window_start, args.window_end, args.costs,
                   args.seed, args.exec_seed);
}

}  // namespace corvane::env_config
