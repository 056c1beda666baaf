#include "evaluation/vec_env.hpp"

#include <array>
#include <memory>

#include "support/fault.hpp"
#include "support/float_text.hpp"
#include "support/json_record.hpp"
#include "support/json_writer.hpp"
#include "support/thread_pool.hpp"

namespace corvane::vec_env {
namespace {

using env_config::CodedError;
using support::KeyOrder;
using talmoor_protocol::Decision;
using talmoor_protocol::MarketObservation;
using talmoor_sim::env::StepInfo;
using talmoor_sim::env::TradingEnv;

constexpr std::array<std::string_view, 3> kModeLabels = {"next_step", "same_step", "disabled"};

CodedError invalid_argument(std::string message) {
  return CodedError{std::string(env_config::kInvalidArgument), std::move(message)};
}

std::string observation_text(const MarketObservation& obs) {
  return talmoor_protocol::observation_json(obs, KeyOrder::kSorted);
}

// One lane's share of the batch JSON, written where the lane was stepped.
struct LaneFragments {
  std::string observation;
  std::string info;
  std::string final_obs;   // "null" when absent
  std::string final_info;  // "null" when absent
  double reward = 0.0;
  bool terminated = false;
  bool truncated = false;
  bool first = false;
};

LaneFragments write_fragments(const MarketObservation& observation, const StepInfo& info,
                              const std::optional<MarketObservation>& final_obs,
                              const std::optional<StepInfo>& final_info, double reward,
                              bool terminated, bool truncated, bool first) {
  LaneFragments f;
  f.observation = observation_text(observation);
  f.info = talmoor_sim::env::step_info_json(info, KeyOrder::kSorted);
  f.final_obs = final_obs ? observation_text(*final_obs) : "null";
  f.final_info = final_info ? talmoor_sim::env::step_info_json(*final_info, KeyOrder::kSorted)
                            : "null";
  f.reward = reward;
  f.terminated = terminated;
  f.truncated = truncated;
  f.first = first;
  return f;
}

LaneFragments write_fragments(const LaneOutcome& o) {
  return write_fragments(o.observation, o.info, o.final_obs, o.final_info, o.reward, o.terminated,
                         o.truncated, o.first);
}

template <class F>
void write_array(support::JsonWriter& w, const std::vector<LaneFragments>& lanes, F&& item) {
  w.begin_array();
  for (const LaneFragments& f : lanes) item(f);
  w.end_array();
}

// The top-level keys are written in ascending byte order by hand; every
// fragment already has its keys sorted at every depth.
std::string join_fragments(const std::vector<LaneFragments>& lanes) {
  std::size_t size = 160;
  for (const LaneFragments& f : lanes) {
    size += f.observation.size() + f.info.size() + f.final_obs.size() + f.final_info.size() + 48;
  }
  std::string out;
  out.reserve(size);
  support::JsonWriter w(out);
  w.begin_object();
  w.key("final_info");
  write_array(w, lanes, [&](const LaneFragments& f) { w.raw(f.final_info); });
  w.key("final_obs");
  write_array(w, lanes, [&](const LaneFragments& f) { w.raw(f.final_obs); });
  w.key("first");
  write_array(w, lanes, [&](const LaneFragments& f) { w.boolean(f.first); });
  w.key("infos");
  write_array(w, lanes, [&](const LaneFragments& f) { w.raw(f.info); });
  w.member("n", static_cast<std::uint64_t>(lanes.size()));
  w.key("observations");
  write_array(w, lanes, [&](const LaneFragments& f) { w.raw(f.observation); });
  w.key("rewards");
  write_array(w, lanes, [&](const LaneFragments& f) { w.number(f.reward); });
  w.key("terminated");
  write_array(w, lanes, [&](const LaneFragments& f) { w.boolean(f.terminated); });
  w.key("truncated");
  write_array(w, lanes, [&](const LaneFragments& f) { w.boolean(f.truncated); });
  w.end_object();
  return out;
}

struct Window {
  std::size_t start;
  std::size_t end;
};

// A window is formed when either bound is given; the missing bound is 0 or
// n_days. Without one, every lane spans its whole data set, which must then
// have at least one bar: a lane over an empty calendar could not be stepped.
support::Result<std::optional<Window>, CodedError> synthetic_window(const VecEnvArgs& args) {
  if (!args.window_start && !args.window_end) {
    if (args.n_days == 0) {
      auto checked = env_config::check_window(0, 0, 0);
      return support::err(std::move(checked.error()));
    }
    return std::optional<Window>();
  }
  Window window{args.window_start.value_or(0), args.window_end.value_or(args.n_days)};
  auto checked = env_config::check_window(window.start, window.end, args.n_days);
  if (!checked) return support::err(std::move(checked.error()));
  return std::optional<Window>(window);
}

}  // namespace

support::Result<AutoresetMode, std::string> parse_autoreset_mode(std::string_view label) {
  for (std::size_t i = 0; i < kModeLabels.size(); ++i) {
    if (label == kModeLabels[i]) return static_cast<AutoresetMode>(i);
  }
  return support::err("unknown autoreset_mode " + support::quote_label(label) +
                      " (expected next_step | same_step | disabled)");
}

std::string_view autoreset_mode_label(AutoresetMode mode) {
  return kModeLabels[static_cast<std::size_t>(mode)];
}

TradingEnv LaneConfig::build() const {
  scenario_gen::ScenarioSpec spec;
  spec.n_symbols = n_symbols;
  spec.n_days = n_days;
  spec.vol_clustering = vol_clustering;
  spec.jump_burst_probability = jump_burst_probability;
  spec.jump_burst_persistence = jump_burst_persistence;
  spec.jump_burst_size = jump_burst_size;
  spec.distribution_mode = distribution_mode;
  talmoor_sim::data::Dataset dataset = env_config::build_dataset(spec, seed);
  auto [start, end] = window.value_or(std::pair<std::size_t, std::size_t>(0, dataset.dates.size()));
  return TradingEnv(std::move(dataset), start, end, costs, exec_seed.value_or(seed));
}

VecTradingEnv::VecTradingEnv(std::vector<TradingEnv> envs, std::vector<std::uint64_t> seeds)
    : envs_(std::move(envs)), scenario_seeds_(std::move(seeds)), pending_reset_(envs_.size(), 0) {}

VecTradingEnv VecTradingEnv::from_configs(const std::vector<LaneConfig>& configs) {
  std::vector<TradingEnv> envs;
  std::vector<std::uint64_t> seeds;
  envs.reserve(configs.size());
  seeds.reserve(configs.size());
  for (const LaneConfig& config : configs) {
    envs.push_back(config.build());
    seeds.push_back(config.seed);
  }
  return VecTradingEnv(std::move(envs), std::move(seeds));
}

VecTradingEnv VecTradingEnv::from_envs(std::vector<TradingEnv> envs,
                                       std::vector<std::uint64_t> seeds) {
  if (envs.size() != seeds.size()) {
    throw support::Fault("VecTradingEnv::from_envs needs one seed per environment");
  }
  return VecTradingEnv(std::move(envs), std::move(seeds));
}

void VecTradingEnv::check_decision_count(std::size_t n) const {
  if (n != envs_.size()) {
    throw support::Fault("step_batch needs exactly one decision per lane: expected " +
                         std::to_string(envs_.size()) + ", got " + std::to_string(n));
  }
}

LaneOutcome VecTradingEnv::step_lane(std::size_t i, const Decision& decision) {
  TradingEnv& env = envs_[i];
  LaneOutcome out;
  if (mode_ == AutoresetMode::kNextStep && pending_reset_[i]) {
    pending_reset_[i] = 0;
    out.observation = env.reset();
    out.info.nav = out.observation.cash;
    out.first = true;
    return out;
  }
  talmoor_sim::env::StepResult step = env.step(decision);
  out.reward = step.reward;
  out.terminated = step.info.nav <= 0.0;
  out.truncated = step.done;
  if (!(out.terminated || out.truncated)) {
    out.observation = std::move(step.observation);
    out.info = std::move(step.info);
    return out;
  }
  switch (mode_) {
    case AutoresetMode::kNextStep:
      pending_reset_[i] = 1;
      out.observation = std::move(step.observation);
      out.info = std::move(step.info);
      break;
    case AutoresetMode::kSameStep:
      out.observation = env.reset();
      out.first = true;
      out.final_obs = std::move(step.observation);
      out.final_info = step.info;
      out.info = std::move(step.info);
      break;
    case AutoresetMode::kDisabled:
      out.observation = std::move(step.observation);
      out.info = std::move(step.info);
      break;
  }
  return out;
}

BatchStep VecTradingEnv::step_batch(const std::vector<Decision>& decisions) {
  check_decision_count(decisions.size());
  std::vector<LaneOutcome> outcomes = support::thread_pool::parallel_map<LaneOutcome>(
      envs_.size(), [&](std::size_t i) { return step_lane(i, decisions[i]); });

  const std::size_t n = outcomes.size();
  BatchStep batch;
  batch.observations.reserve(n);
  batch.rewards.reserve(n);
  batch.terminated.reserve(n);
  batch.truncated.reserve(n);
  batch.first.reserve(n);
  batch.infos.reserve(n);
  batch.final_obs.reserve(n);
  batch.final_info.reserve(n);
  for (LaneOutcome& o : outcomes) {
    batch.observations.push_back(std::move(o.observation));
    batch.rewards.push_back(o.reward);
    batch.terminated.push_back(o.terminated);
    batch.truncated.push_back(o.truncated);
    batch.first.push_back(o.first);
    batch.infos.push_back(std::move(o.info));
    batch.final_obs.push_back(std::move(o.final_obs));
    batch.final_info.push_back(std::move(o.final_info));
  }
  return batch;
}

std::string VecTradingEnv::step_batch_json(const std::vector<Decision>& decisions) {
  check_decision_count(decisions.size());
  std::vector<LaneFragments> lanes = support::thread_pool::parallel_map<LaneFragments>(
      envs_.size(), [&](std::size_t i) { return write_fragments(step_lane(i, decisions[i])); });
  return join_fragments(lanes);
}

std::vector<MarketObservation> VecTradingEnv::reset_batch() {
  std::fill(pending_reset_.begin(), pending_reset_.end(), 0);
  std::vector<MarketObservation> observations;
  observations.reserve(envs_.size());
  for (TradingEnv& env : envs_) observations.push_back(env.reset());
  return observations;
}

std::string batch_step_json(const BatchStep& batch) {
  std::vector<LaneFragments> lanes;
  lanes.reserve(batch.observations.size());
  for (std::size_t i = 0; i < batch.observations.size(); ++i) {
    lanes.push_back(write_fragments(batch.observations[i], batch.infos[i], batch.final_obs[i],
                                    batch.final_info[i], batch.rewards[i], batch.terminated[i],
                                    batch.truncated[i], batch.first[i]));
  }
  return join_fragments(lanes);
}

std::string reset_batch_json(const std::vector<MarketObservation>& observations) {
  std::string out;
  support::JsonWriter w(out);
  w.begin_object();
  w.member("n", static_cast<std::uint64_t>(observations.size()));
  w.key("observations");
  w.begin_array();
  for (const MarketObservation& obs : observations) {
    talmoor_protocol::write_observation(w, obs, KeyOrder::kSorted);
  }
  w.end_array();
  w.end_object();
  return out;
}

support::Result<VecTradingEnv, CodedError> build_vec_env(const VecEnvArgs& args) {
  if (args.seeds.empty()) return support::err(invalid_argument("seeds must be non-empty"));
  auto distribution = scenario_gen::parse_distribution_mode(args.distribution_mode);
  if (!distribution) return support::err(invalid_argument(distribution.error()));
  auto mode = parse_autoreset_mode(args.autoreset_mode);
  if (!mode) return support::err(invalid_argument(mode.error()));
  auto window = synthetic_window(args);
  if (!window) return support::err(std::move(window.error()));
  auto costs = env_config::build_cost_model(args.costs);
  if (!costs) return support::err(std::move(costs.error()));

  std::vector<LaneConfig> configs;
  configs.reserve(args.seeds.size());
  for (std::uint64_t seed : args.seeds) {
    LaneConfig c;
    c.exec_seed = args.exec_seed;
    if (window.value()) c.window = std::pair(window.value()->start, window.value()->end);
    c.costs = costs.value();
    c.n_symbols = args.n_symbols;
    c.n_days = args.n_days;
    c.seed = seed;
    c.vol_clustering = args.vol_clustering;
    c.jump_burst_probability = args.jump_burst_probability;
    c.jump_burst_persistence = args.jump_burst_persistence;
    c.jump_burst_size = args.jump_burst_size;
    c.distribution_mode = distribution.value();
    configs.push_back(std::move(c));
  }
  VecTradingEnv vec = VecTradingEnv::from_configs(configs);
  vec.set_autoreset_mode(mode.value());
  return vec;
}

support::Result<VecTradingEnv, CodedError> build_csv_vec_env(std::string_view csv_text,
                                                             const VecCsvArgs& args) {
  if (args.seeds.empty()) return support::err(invalid_argument("seeds must be non-empty"));
  auto loaded = talmoor_sim::data::Dataset::from_csv(csv_text);
  if (!loaded) {
    return support::err(
        CodedError{std::string(env_config::kDataUnavailable), std::move(loaded.error())});
  }
  const std::size_t n_bars = loaded.value().dates.size();
  const std::size_t start = args.window_start.value_or(0);
  const std::size_t end = args.window_end.value_or(n_bars);
  auto checked = env_config::check_window(start, end, n_bars);
  if (!checked) return support::err(std::move(checked.error()));
  auto costs = env_config::build_cost_model(args.costs);
  if (!costs) return support::err(std::move(costs.error()));
  auto mode = parse_autoreset_mode(args.autoreset_mode);
  if (!mode) return support::err(invalid_argument(mode.error()));

  // The lanes only read the data set, so they share one copy of it.
  auto dataset =
      std::make_shared<const talmoor_sim::data::Dataset>(std::move(loaded.value()));
  std::vector<TradingEnv> envs;
  envs.reserve(args.seeds.size());
  for (std::uint64_t seed : args.seeds) envs.emplace_back(dataset, start, end, costs.value(), seed);
  VecTradingEnv vec = VecTradingEnv::from_envs(std::move(envs), args.seeds);
  vec.set_autoreset_mode(mode.value());
  return vec;
}

}  // namespace corvane::vec_env
