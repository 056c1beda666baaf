// VecTradingEnv: many trading environments stepped together, driven through
// JSON text. Construction and stepping live in evaluation/vec_env; this file
// converts Python values and raises refusals through the error mapper.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/args.hpp"
#include "bindings/env_args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/env_config.hpp"
#include "evaluation/vec_env.hpp"
#include "protocol/decision.hpp"

namespace bindings {
namespace {

namespace vec_env = corvane::vec_env;
using vec_env::VecTradingEnv;

constexpr const char* kClassSignature =
    "VecTradingEnv(seeds, n_symbols=4, n_days=120, window_start=None, window_end=None, "
    "fee_bps=None, slippage_bps=None, impact_bps=None, financing_bps=None, "
    "max_participation=None, distribution_mode=\"calm\", exec_seed=None, "
    "autoreset_mode=\"next_step\", vol_clustering=0.0, jump_burst_probability=0.0, "
    "jump_burst_persistence=0.0, jump_burst_size=0.0)";
constexpr const char* kInitSignature =
    "__init__(self, seeds, n_symbols=4, n_days=120, window_start=None, window_end=None, "
    "fee_bps=None, slippage_bps=None, impact_bps=None, financing_bps=None, "
    "max_participation=None, distribution_mode=\"calm\", exec_seed=None, "
    "autoreset_mode=\"next_step\", vol_clustering=0.0, jump_burst_probability=0.0, "
    "jump_burst_persistence=0.0, jump_burst_size=0.0)";
constexpr const char* kClassDoc =
    "A bank of independent trading environments (lanes), one per seed, stepped together on a "
    "process-wide thread pool. `step_batch(decisions_json)` takes a JSON array of one decision "
    "per lane and returns one structure-of-arrays JSON object; finished lanes are recycled "
    "under `autoreset_mode` (\"next_step\", \"same_step\" or \"disabled\").";

constexpr const char* kFromCsvSignature =
    "from_csv($cls, csv_text, seeds, window_start=None, window_end=None, fee_bps=None, "
    "slippage_bps=None, impact_bps=None, financing_bps=None, max_participation=None, "
    "autoreset_mode=\"next_step\")";
constexpr const char* kFromCsvDoc =
    "Build lanes over one frozen long-format CSV (`date,symbol,close[,dividend]`); each seed "
    "selects its lane's execution-noise stream.";

VecTradingEnv construct(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("VecTradingEnv",
             {{"seeds", true},
              {"n_symbols", false},
              {"n_days", false},
              {"window_start", false},
              {"window_end", false},
              {"fee_bps", false},
              {"slippage_bps", false},
              {"impact_bps", false},
              {"financing_bps", false},
              {"max_participation", false},
              {"distribution_mode", false},
              {"exec_seed", false},
              {"autoreset_mode", false},
              {"vol_clustering", false},
              {"jump_burst_probability", false},
              {"jump_burst_persistence", false},
              {"jump_burst_size", false}},
             args, kwargs);
  vec_env::VecEnvArgs e;
  e.seeds = to_u64_list(a[0], "seeds");
  if (a.given(1)) e.n_symbols = to_unsigned<std::size_t>(a[1], "n_symbols");
  if (a.given(2)) e.n_days = to_unsigned<std::size_t>(a[2], "n_days");
  e.window_start = opt_size(a, 3);
  e.window_end = opt_size(a, 4);
  e.costs = cost_overrides(a, 5);
  e.distribution_mode = str_or(a, 10, "calm");
  e.exec_seed = opt_u64(a, 11);
  e.autoreset_mode = str_or(a, 12, "next_step");
  e.vol_clustering = f64_or(a, 13, 0.0);
  e.jump_burst_probability = f64_or(a, 14, 0.0);
  e.jump_burst_persistence = f64_or(a, 15, 0.0);
  e.jump_burst_size = f64_or(a, 16, 0.0);
  return built_or_raise(vec_env::build_vec_env(e));
}

py::object from_csv(const py::args& args, const py::kwargs& kwargs) {
  py::args rest = without_receiver(args);
  CallArgs a("from_csv",
             {{"csv_text", true},
              {"seeds", true},
              {"window_start", false},
              {"window_end", false},
              {"fee_bps", false},
              {"slippage_bps", false},
              {"impact_bps", false},
              {"financing_bps", false},
              {"max_participation", false},
              {"autoreset_mode", false}},
             rest, kwargs);
  std::string csv_text = to_str(a[0], "csv_text");
  vec_env::VecCsvArgs e;
  e.seeds = to_u64_list(a[1], "seeds");
  e.window_start = opt_size(a, 2);
  e.window_end = opt_size(a, 3);
  e.costs = cost_overrides(a, 4);
  e.autoreset_mode = str_or(a, 9, "next_step");
  return py::cast(built_or_raise(vec_env::build_csv_vec_env(csv_text, e)));
}

py::str step_batch(VecTradingEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("step_batch", {{"decisions_json", true}}, args, kwargs);
  std::string text = to_str(a[0], "decisions_json");
  auto decisions = talmoor_protocol::read_decision_array(text);
  if (!decisions) {
    raise_engine_err(kInvalidJson, "invalid decisions JSON: " + decisions.error().display());
  }
  if (decisions.value().size() != self.num_envs()) {
    raise_engine_err(kInvalidArgument, "expected " + std::to_string(self.num_envs()) +
                                           " decisions, got " +
                                           std::to_string(decisions.value().size()));
  }
  return py::str(self.step_batch_json(decisions.value()));
}

py::str reset_batch(VecTradingEnv& self, const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("reset_batch", {}, args, kwargs);
  return py::str(vec_env::reset_batch_json(self.reset_batch()));
}

}  // namespace

void register_vec_trading_env(py::module_& m) {
  py::class_<VecTradingEnv> cls(m, "VecTradingEnv",
                                doc_with_signature(kClassSignature, kClassDoc).c_str());
  cls.def(py::init(&construct),
          doc_with_signature(kInitSignature,
                             "Build one lane per seed (synthetic data set or procedural "
                             "scenario), check the window and fill in the cost defaults.")
              .c_str());

  py::cpp_function from_csv_fn(&from_csv, py::name("from_csv"), py::scope(cls),
                               py::doc(doc_with_signature(kFromCsvSignature, kFromCsvDoc).c_str()));
  cls.attr("from_csv") = py::reinterpret_steal<py::object>(PyClassMethod_New(from_csv_fn.ptr()));

  cls.def("step_batch", &step_batch,
          doc_with_signature(
              "step_batch($self, decisions_json)",
              "Step every lane with its decision (a JSON array of exactly `num_envs` "
              "decisions, element i for lane i); returns the batch as one JSON object with "
              "the arrays final_info, final_obs, first, infos, observations, rewards, "
              "terminated and truncated, and n.")
              .c_str());
  cls.def("reset_batch", &reset_batch,
          doc_with_signature("reset_batch($self)",
                             "Cancel pending resets and reset every lane; returns "
                             "{\"n\": B, \"observations\": [...]} as JSON.")
              .c_str());
  cls.def_property_readonly(
      "num_envs", [](const VecTradingEnv& self) { return py::int_(self.num_envs()); },
      "The number of lanes (`B`).");
  cls.def_property_readonly(
      "autoreset_mode",
      [](const VecTradingEnv& self) {
        return py::str(std::string(vec_env::autoreset_mode_label(self.autoreset_mode())));
      },
      "The auto-reset mode of every lane: \"next_step\", \"same_step\" or \"disabled\".");
  cls.def_property_readonly(
      "scenario_seeds",
      [](const VecTradingEnv& self) {
        py::list out;
        for (std::uint64_t seed : self.scenario_seeds()) out.append(py::int_(seed));
        return out;
      },
      "The seed of each lane as passed, in lane order (provenance, never observed).");
}

}  // namespace bindings
