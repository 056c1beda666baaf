#pragma once
// A bank of independent trading environments ("lanes") stepped together.
// Lanes whose episode finished are recycled by an auto-reset mode, so a batch
// never stalls. Lanes run on the process-wide pool; each lane touches only its
// own environment, flag and decision, and results are gathered in lane order,
// so the output never depends on the number of workers.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "evaluation/env_config.hpp"
#include "evaluation/scenario_gen.hpp"
#include "protocol/decision.hpp"
#include "protocol/observation.hpp"
#include "sim/costs.hpp"
#include "sim/env.hpp"
#include "support/result.hpp"

namespace corvane::vec_env {

// What happens to a lane whose step finished the episode.
enum class AutoresetMode {
  kNextStep = 0,  // returned as it is; reset at the lane's next step, whose decision is ignored
  kSameStep = 1,  // reset at once; the terminal observation and info ride along as finals
  kDisabled = 2,  // never reset by the batch
};

// Exact, case-sensitive: "next_step", "same_step", "disabled". The error is
// the plain message
//   unknown autoreset_mode "<label>" (expected next_step | same_step | disabled)
[[nodiscard]] support::Result<AutoresetMode, std::string> parse_autoreset_mode(
    std::string_view label);
std::string_view autoreset_mode_label(AutoresetMode mode);

// One lane on the synthetic or scenario path.
struct LaneConfig {
  std::optional<std::uint64_t> exec_seed;  // the lane seed when absent
  std::optional<std::pair<std::size_t, std::size_t>> window;  // all bars when absent
  talmoor_sim::costs::CostModel costs;  // no execution noise
  std::size_t n_symbols = 4;
  std::size_t n_days = 120;
  std::uint64_t seed = 0;
  double vol_clustering = 0.0;
  double jump_burst_probability = 0.0;
  double jump_burst_persistence = 0.0;
  double jump_burst_size = 0.0;
  scenario_gen::DistributionMode distribution_mode = scenario_gen::DistributionMode::kCalm;

  // The lane's data set and environment. The window is not checked here.
  talmoor_sim::env::TradingEnv build() const;
};

// The result of stepping one lane.
struct LaneOutcome {
  talmoor_protocol::MarketObservation observation;
  talmoor_sim::env::StepInfo info;
  std::optional<talmoor_protocol::MarketObservation> final_obs;
  std::optional<talmoor_sim::env::StepInfo> final_info;
  double reward = 0.0;
  bool terminated = false;  // the step's NAV is <= 0 (a NaN NAV is not)
  bool truncated = false;   // the environment's done flag
  bool first = false;       // the observation is a fresh episode's first
};

// Structure of arrays, each of length B, in lane order.
struct BatchStep {
  std::vector<talmoor_protocol::MarketObservation> observations;
  std::vector<double> rewards;
  std::vector<bool> terminated;
  std::vector<bool> truncated;
  std::vector<bool> first;
  std::vector<talmoor_sim::env::StepInfo> infos;
  std::vector<std::optional<talmoor_protocol::MarketObservation>> final_obs;
  std::vector<std::optional<talmoor_sim::env::StepInfo>> final_info;
};

class VecTradingEnv {
 public:
  // One lane per config, built in order; mode next_step.
  static VecTradingEnv from_configs(const std::vector<LaneConfig>& configs);
  // Ready environments and their seeds, of equal length; mode next_step.
  static VecTradingEnv from_envs(std::vector<talmoor_sim::env::TradingEnv> envs,
                                 std::vector<std::uint64_t> seeds);

  // Exactly one decision per lane, in lane order (anything else is a
  // support::Fault: the bindings check the count first).
  BatchStep step_batch(const std::vector<talmoor_protocol::Decision>& decisions);
  // The same step written as the batch JSON; each lane's fragments are written
  // by the worker that stepped it and the calling thread only joins them.
  std::string step_batch_json(const std::vector<talmoor_protocol::Decision>& decisions);
  // Cancels every pending reset, then resets every lane in lane order.
  std::vector<talmoor_protocol::MarketObservation> reset_batch();

  std::size_t num_envs() const { return envs_.size(); }
  AutoresetMode autoreset_mode() const { return mode_; }
  void set_autoreset_mode(AutoresetMode mode) { mode_ = mode; }
  // The seed each lane was built from: provenance, never observed.
  const std::vector<std::uint64_t>& scenario_seeds() const { return scenario_seeds_; }
  const talmoor_sim::env::TradingEnv& lane(std::size_t i) const { return envs_[i]; }
  bool pending_reset(std::size_t i) const { return pending_reset_[i] != 0; }

 private:
  VecTradingEnv(std::vector<talmoor_sim::env::TradingEnv> envs, std::vector<std::uint64_t> seeds);
  void check_decision_count(std::size_t n) const;
  LaneOutcome step_lane(std::size_t i, const talmoor_protocol::Decision& decision);

  std::vector<talmoor_sim::env::TradingEnv> envs_;
  std::vector<std::uint64_t> scenario_seeds_;
  // One byte per lane rather than vector<bool>: lanes set their flags
  // concurrently, and bits of one word would race.
  std::vector<unsigned char> pending_reset_;
  AutoresetMode mode_ = AutoresetMode::kNextStep;
};

// The batch JSON: one compact object with every key at every depth in
// ascending byte order: final_info, final_obs, first, infos, n,
// observations, rewards, terminated, truncated.
std::string batch_step_json(const BatchStep& batch);
// {"n":B,"observations":[...]} with sorted keys.
std::string reset_batch_json(const std::vector<talmoor_protocol::MarketObservation>& observations);

// The arguments of the Python constructor, with its defaults.
struct VecEnvArgs {
  std::vector<std::uint64_t> seeds;
  std::size_t n_symbols = 4;
  std::size_t n_days = 120;
  std::optional<std::size_t> window_start;
  std::optional<std::size_t> window_end;
  env_config::CostOverrides costs;
  std::string distribution_mode = "calm";
  std::optional<std::uint64_t> exec_seed;  // shared by every lane when given
  std::string autoreset_mode = "next_step";
  double vol_clustering = 0.0;
  double jump_burst_probability = 0.0;
  double jump_burst_persistence = 0.0;
  double jump_burst_size = 0.0;
};

// The arguments of the CSV constructor, besides the text.
struct VecCsvArgs {
  std::vector<std::uint64_t> seeds;  // each lane's execution seed
  std::optional<std::size_t> window_start;
  std::optional<std::size_t> window_end;
  env_config::CostOverrides costs;
  std::string autoreset_mode = "next_step";
};

// Seeds, labels, window, costs, lanes: in that order; the first refusal wins
// and nothing is built.
[[nodiscard]] support::Result<VecTradingEnv, env_config::CodedError> build_vec_env(
    const VecEnvArgs& args);
// Seeds, CSV, window, costs, mode, lanes over one shared read-only data set.
[[nodiscard]] support::Result<VecTradingEnv, env_config::CodedError> build_csv_vec_env(
    std::string_view csv_text, const VecCsvArgs& args);

}  // namespace corvane::vec_env
