// TradingEnv: one steppable trading environment, driven through JSON text.
// The construction logic lives in evaluation/env_config; this file only
// converts Python values and raises refusals through the error mapper.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "bindings/args.hpp"
#include "bindings/env_args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/env_config.hpp"
#include "protocol/decision.hpp"
#include "protocol/observation.hpp"
#include "sim/env.hpp"

namespace bindings {
namespace {

namespace env_config = corvane::env_config;
namespace sim_env = talmoor_sim::env;
using env_config::ConfiguredEnv;

constexpr const char* kClassSignature =
    "TradingEnv(n_symbols=4, n_days=120, seed=0, window_start=None, window_end=None, "
    "fee_bps=None, slippage_bps=None, impact_bps=None, financing_bps=None, "
    "max_participation=None, distribution_mode=\"calm\", exec_seed=None, vol_clustering=0.0, "
    "jump_burst_probability=0.0, jump_burst_persistence=0.0, jump_burst_size=0.0)";
constexpr const char* kClassDoc =
    "A steppable, leak-free trading environment. `reset()` returns the first observation as "
    "JSON; `step(decision_json)` takes one decision as JSON and returns the tuple "
    "(observation_json, reward, done, info_json).";

constexpr const char* kFromCsvSignature =
    "from_csv($cls, csv_text, seed=0, window_start=None, window_end=None, fee_bps=None, "
    "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
    "exec_seed=None)";
constexpr const char* kFromCsvDoc =
    "Build an environment over a frozen long-format CSV (`date,symbol,close[,dividend]`).";

ConfiguredEnv construct(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("TradingEnv",
             {{"n_symbols", false},
              {"n_days", false},
              {"seed", false},
              {"window_start", false},
              {"window_end", false},
              {"fee_bps", false},
              {"slippage_bps", false},
              {"impact_bps", false},
              {"financing_bps", false},
              {"max_participation", false},
              {"distribution_mode", false},
              {"exec_seed", false},
              {"vol_clustering", false},
              {"jump_burst_probability", false},
              {"jump_burst_persistence", false},
              {"jump_burst_size", false}},
             args, kwargs);
  env_config::SyntheticEnvArgs e;
  if (a.given(0)) e.n_symbols = to_unsigned<std::size_t>(a[0], "n_symbols");
  if (a.given(1)) e.n_days = to_unsigned<std::size_t>(a[1], "n_days");
  if (a.given(2)) e.seed = to_u64(a[2], "seed");
  e.window_start = opt_size(a, 3);
  e.window_end = opt_size(a, 4);
  e.costs = cost_overrides(a, 5);
  if (a.given(10)) e.distribution_mode = to_str(a[10], "distribution_mode");
  e.exec_seed = opt_u64(a, 11);
  if (a.given(12)) e.vol_clustering = to_f64(a[12], "vol_clustering");
  if (a.given(13)) e.jump_burst_probability = to_f64(a[13], "jump_burst_probability");
  if (a.given(14)) e.jump_burst_persistence = to_f64(a[14], "jump_burst_persistence");
  if (a.given(15)) e.jump_burst_size = to_f64(a[15], "jump_burst_size");
  return built_or_raise(env_config::build_env(e));
}

py::object from_csv(const py::args& args, const py::kwargs& kwargs) {
  py::args rest = without_receiver(args);
  CallArgs a("from_csv",
             {{"csv_text", true},
              {"seed", false},
              {"window_start", false},
              {"window_end", false},
              {"fee_bps", false},
              {"slippage_bps", false},
              {"impact_bps", false},
              {"financing_bps", false},
              {"max_participation", false},
              {"exec_seed", false}},
             rest, kwargs);
  std::string csv_text = to_str(a[0], "csv_text");
  env_config::CsvEnvArgs e;
  if (a.given(1)) e.seed = to_u64(a[1], "seed");
  e.window_start = opt_size(a, 2);
  e.window_end = opt_size(a, 3);
  e.costs = cost_overrides(a, 4);
  e.exec_seed = opt_u64(a, 9);
  return py::cast(built_or_raise(env_config::build_csv_env(csv_text, e)));
}

py::str reset(ConfiguredEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("reset", {}, args, kwargs);
  return py::str(talmoor_protocol::observation_json(self.env.reset()));
}

py::tuple step(ConfiguredEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("step", {{"decision_json", true}}, args, kwargs);
  std::string text = to_str(a[0], "decision_json");
  auto decision = talmoor_protocol::read_decision(text);
  if (!decision) raise_engine_err(kInvalidJson, "invalid decision JSON: " + decision.error().display());
  sim_env::StepResult result = self.env.step(decision.value());
  return py::make_tuple(py::str(talmoor_protocol::observation_json(result.observation)),
                        py::float_(result.reward), py::bool_(result.done),
                        py::str(sim_env::step_info_json(result.info)));
}

py::str clone_state(const ConfiguredEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("clone_state", {}, args, kwargs);
  return py::str(sim_env::env_state_json(self.env.clone_state()));
}

void restore_state(ConfiguredEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("restore_state", {{"state_json", true}}, args, kwargs);
  std::string text = to_str(a[0], "state_json");
  auto state = sim_env::read_env_state_json(text);
  if (!state) raise_engine_err(kInvalidJson, "invalid env state: " + state.error().display());
  auto restored = self.env.restore_state(std::move(state.value()));
  if (!restored) raise_engine_err(kInvalidArgument, restored.error());
}

}  // namespace

void register_trading_env(py::module_& m) {
  py::class_<ConfiguredEnv> cls(m, "TradingEnv",
                                doc_with_signature(kClassSignature, kClassDoc).c_str());
  cls.def(py::init(&construct),
          doc_with_signature(
              "__init__(self, n_symbols=4, n_days=120, seed=0, window_start=None, "
              "window_end=None, fee_bps=None, slippage_bps=None, impact_bps=None, "
              "financing_bps=None, max_participation=None, distribution_mode=\"calm\", "
              "exec_seed=None, vol_clustering=0.0, jump_burst_probability=0.0, "
              "jump_burst_persistence=0.0, jump_burst_size=0.0)",
              "Build the data set (synthetic, or a procedural scenario), check the window and "
              "fill in the cost defaults.")
              .c_str());

  py::cpp_function from_csv_fn(&from_csv, py::name("from_csv"), py::scope(cls),
                               py::doc(doc_with_signature(kFromCsvSignature, kFromCsvDoc).c_str()));
  cls.attr("from_csv") = py::reinterpret_steal<py::object>(PyClassMethod_New(from_csv_fn.ptr()));

  cls.def("reset", &reset,
          doc_with_signature("reset($self)",
                             "Return to the start of the window; the first observation as JSON.")
              .c_str());
  cls.def("step", &step,
          doc_with_signature(
              "step($self, decision_json)",
              "Trade one decision (JSON) at the current bar's close; returns (observation_json, "
              "reward, done, info_json), the info holding the NAV and this step's events.")
              .c_str());
  cls.def("clone_state", &clone_state,
          doc_with_signature("clone_state($self)",
                             "The checkpoint (cursor and book, including the trace) as JSON: the "
                             "native replacement for replaying decisions.")
              .c_str());
  cls.def("restore_state", &restore_state,
          doc_with_signature("restore_state($self, state_json)",
                             "Restore a trusted snapshot produced by `clone_state` without "
                             "replay; its cost grows with the size of the state, including the "
                             "accumulated trace.")
              .c_str());
  cls.def_property_readonly(
      "scenario_seed", [](const ConfiguredEnv& self) { return py::int_(self.scenario_seed); },
      "The seed the environment was built from (out-of-band provenance, never observed).");
  cls.def_property_readonly(
      "effective_config", [](const ConfiguredEnv& self) { return py::str(self.effective_config); },
      "What was actually built, as JSON: the data set's FNV-1a fingerprint, the execution seed, "
      "its shape and the window.");
}

}  // namespace bindings
