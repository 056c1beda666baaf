#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/scenario_gen.hpp"
#include "sim/data.hpp"

namespace bindings {
namespace {

namespace sg = corvane::scenario_gen;

py::str scenario_json(const sg::ScenarioSpec& spec, std::uint64_t seed) {
  // Writing a data set cannot fail: non-finite values are written as null.
  return py::str(talmoor_sim::data::to_json(sg::generate_scenario(spec, seed)));
}

}  // namespace

void register_generate_scenario_json(py::module_& m) {
  m.def(
      "generate_scenario_json",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("generate_scenario_json",
                   {{"seed", true},
                    {"n_symbols", false},
                    {"n_days", false},
                    {"distribution_mode", false},
                    {"vol_clustering", false},
                    {"jump_burst_probability", false},
                    {"jump_burst_persistence", false},
                    {"jump_burst_size", false}},
                   args, kwargs);
        const std::uint64_t seed = to_u64(a[0], "seed");
        sg::ScenarioSpec spec;
        if (a.given(1)) spec.n_symbols = to_unsigned<std::size_t>(a[1], "n_symbols");
        if (a.given(2)) spec.n_days = to_unsigned<std::size_t>(a[2], "n_days");
        std::string mode_label = a.given(3) ? to_str(a[3], "distribution_mode") : "calm";
        if (a.given(4)) spec.vol_clustering = to_f64(a[4], "vol_clustering");
        if (a.given(5)) spec.jump_burst_probability = to_f64(a[5], "jump_burst_probability");
        if (a.given(6)) spec.jump_burst_persistence = to_f64(a[6], "jump_burst_persistence");
        if (a.given(7)) spec.jump_burst_size = to_f64(a[7], "jump_burst_size");
        auto mode = sg::parse_distribution_mode(mode_label);
        if (!mode.ok()) raise_engine_err(kInvalidArgument, mode.error());
        spec.distribution_mode = mode.value();
        return scenario_json(spec, seed);
      },
      doc_with_signature(
          "generate_scenario_json(seed, n_symbols=4, n_days=120, distribution_mode=\"calm\", "
          "vol_clustering=0.0, jump_burst_probability=0.0, jump_burst_persistence=0.0, "
          "jump_burst_size=0.0)",
          "Returns the engine's own serialisation of a procedural scenario as JSON text: the "
          "exact bytes that cross-runtime golden fingerprints (FNV-1a) are taken over. The "
          "module itself computes no fingerprint of it.")
          .c_str());
}

void register_calm_calibration_candidate_scenario_json(py::module_& m) {
  m.def(
      "calm_calibration_candidate_scenario_json",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("calm_calibration_candidate_scenario_json", {{"seed", true}}, args, kwargs);
        const std::uint64_t seed = to_u64(a[0], "seed");
        return scenario_json(sg::ScenarioSpec::calm_calibration_candidate(), seed);
      },
      doc_with_signature(
          "calm_calibration_candidate_scenario_json(seed)",
          "Returns, as JSON text, the calm calibration candidate scenario at `seed`: 4 symbols, "
          "120 days, calm, vol_clustering 0.5, jump bursts of probability 0.02, persistence 0.0 "
          "and size 0.015. A reproducible negative-result configuration with its own golden "
          "fingerprint, not a certified preset.")
          .c_str());
}

}  // namespace bindings
