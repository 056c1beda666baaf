#pragma once
// Turns the arguments a caller gives a trading environment (distribution
// mode, data-set shape, window, cost overrides, seeds) into an engine
// environment, with every default and check in a fixed order, and records a
// fingerprint of what was actually built (the effective configuration).
// Shared by the single-environment binding and the batched environment.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "evaluation/scenario_gen.hpp"
#include "sim/costs.hpp"
#include "sim/data.hpp"
#include "sim/env.hpp"
#include "support/coded_error.hpp"
#include "support/result.hpp"

namespace corvane::env_config {

inline constexpr std::string_view kInvalidArgument = "INVALID_ARGUMENT";
inline constexpr std::string_view kDataUnavailable = "DATA_UNAVAILABLE";

// A refusal with the code the bindings raise it under.
using CodedError = support::CodedError;

// An absent value takes the default of CostModel.
struct CostOverrides {
  std::optional<double> fee_bps;
  std::optional<double> slippage_bps;
  std::optional<double> impact_bps;
  std::optional<double> financing_bps;
  std::optional<double> max_participation;
};

// The defaults filled in, no execution noise. Given values are taken as they
// are, except a negative max_participation (an empty cap interval), which is
// refused; NaN still means no cap.
[[nodiscard]] support::Result<talmoor_sim::costs::CostModel, CodedError> build_cost_model(
    const CostOverrides& overrides);

// start < end <= n_bars, else "invalid window [start, end) over n_bars bars".
[[nodiscard]] support::Status<CodedError> check_window(std::size_t start, std::size_t end,
                                                       std::size_t n_bars);

// The plain synthetic data set for a plain calm request, the scenario
// generator otherwise.
talmoor_sim::data::Dataset build_dataset(const scenario_gen::ScenarioSpec& spec,
                                         std::uint64_t seed);

// {"dataset_fnv1a64":"<16 hex>","exec_seed":..,"n_bars":..,"n_symbols":..,
//  "window_end":..,"window_start":..}: FNV-1a 64 over the data set's JSON text.
std::string effective_config_json(const talmoor_sim::data::Dataset& dataset,
                                  std::size_t window_start, std::size_t window_end,
                                  std::uint64_t exec_seed);

// The arguments of the synthetic/scenario constructor, with its defaults.
struct SyntheticEnvArgs {
  std::size_t n_symbols = 4;
  std::size_t n_days = 120;
  std::uint64_t seed = 0;
  std::optional<std::size_t> window_start;
  std::optional<std::size_t> window_end;
  CostOverrides costs;
  std::string distribution_mode = "calm";
  std::optional<std::uint64_t> exec_seed;  // the scenario seed when absent
  double vol_clustering = 0.0;
  double jump_burst_probability = 0.0;
  double jump_burst_persistence = 0.0;
  double jump_burst_size = 0.0;
};

// The arguments of the CSV constructor, besides the text.
struct CsvEnvArgs {
  std::uint64_t seed = 0;  // the default execution seed and the scenario seed
  std::optional<std::size_t> window_start;
  std::optional<std::size_t> window_end;
  CostOverrides costs;
  std::optional<std::uint64_t> exec_seed;
};

// An environment together with the provenance fixed at construction.
struct ConfiguredEnv {
  talmoor_sim::env::TradingEnv env;
  std::uint64_t scenario_seed;
  std::string effective_config;
};

// Mode, data set, window, costs, execution seed, effective configuration,
// environment: in that order; the first refusal wins and nothing is built.
[[nodiscard]] support::Result<ConfiguredEnv, CodedError> build_env(const SyntheticEnvArgs& args);
// As build_env over the CSV loader's data set (a loader failure is
// DATA_UNAVAILABLE with the loader's message); there is no mode to read.
[[nodiscard]] support::Result<ConfiguredEnv, CodedError> build_csv_env(std::string_view csv_text,
                                                                       const CsvEnvArgs& args);

}  // namespace corvane::env_config
