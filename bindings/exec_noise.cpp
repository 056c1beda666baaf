#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/exec_noise.hpp"

namespace bindings {
namespace {

py::object perturb_action(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("perturb_action",
             {{"seed", true},
              {"step_index", true},
              {"requested", true},
              {"previous", true},
              {"delay_prob", false},
              {"slippage_bps", false}},
             args, kwargs);
  std::uint64_t seed = to_u64(a[0], "seed");
  std::uint64_t step_index = to_u64(a[1], "step_index");
  std::vector<double> requested = to_f64_list(a[2], "requested");
  std::vector<double> previous = to_f64_list(a[3], "previous");
  double delay_prob = a.given(4) ? to_f64(a[4], "delay_prob") : 0.0;
  double slippage_bps = a.given(5) ? to_f64(a[5], "slippage_bps") : 0.0;

  auto realised = corvane::exec_noise::perturb(seed, step_index, requested, previous, delay_prob,
                                               slippage_bps);
  if (!realised.ok()) raise_coded_message(kInvalidArgument, realised.error().display());
  py::list out(realised.value().size());
  for (std::size_t i = 0; i < realised.value().size(); ++i) {
    out[i] = py::float_(realised.value()[i]);
  }
  return out;
}

}  // namespace

void register_perturb_action(py::module_& m) {
  m.def("perturb_action", &perturb_action,
        doc_with_signature(
            "perturb_action(seed, step_index, requested, previous, delay_prob=0.0, "
            "slippage_bps=0.0)",
            "The action actually executed for the `requested` target weights.\n\n"
            "With probability `delay_prob` the `previous` action runs instead (the order lands "
            "one bar late); otherwise every weight is scaled by its own jitter in "
            "[1 - s, 1 + s] with s = slippage_bps / 10000. The draws depend only on "
            "(seed, step_index), so the same arguments always give the same list. An "
            "out-of-range setting raises InvalidArgument.")
            .c_str());
}

}  // namespace bindings
