#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/mandate.hpp"

namespace bindings {
namespace {

py::object sample_mandate_json(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("sample_mandate_json", {{"seed", true}, {"n_symbols", false}, {"allow_short", false}},
             args, kwargs);
  std::uint64_t seed = to_u64(a[0], "seed");
  std::size_t n_symbols = a.given(1) ? to_unsigned<std::size_t>(a[1], "n_symbols") : 4;
  bool allow_short = a.given(2) ? to_bool(a[2], "allow_short") : true;
  corvane::mandate::Mandate m = corvane::mandate::sample_mandate(seed, n_symbols, allow_short);
  return py::str(corvane::mandate::mandate_json(m));
}

py::object mandate_breach(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("mandate_breach", {{"mandate_json", true}, {"returns", true}, {"weights", true}},
             args, kwargs);
  std::string text = to_str(a[0], "mandate_json");
  std::vector<double> returns = to_f64_list(a[1], "returns");
  std::vector<std::vector<double>> weights = to_f64_list_list(a[2], "weights");

  auto mandate = corvane::mandate::parse_mandate_json(text);
  if (!mandate.ok()) {
    raise_engine_err_text(kInvalidJson, "invalid mandate JSON: " + mandate.error().display());
  }
  auto breach = corvane::mandate::mandate_breach(mandate.value(), returns, weights);
  if (!breach.ok()) raise_coded_message(kInvalidArgument, breach.error().display());
  return py::float_(breach.value());
}

}  // namespace

void register_sample_mandate_json(py::module_& m) {
  m.def("sample_mandate_json", &sample_mandate_json,
        doc_with_signature(
            "sample_mandate_json(seed, n_symbols=4, allow_short=True)",
            "A mandate sampled deterministically from `seed`, as compact JSON with the keys "
            "style, max_drawdown, max_inventory, benchmark and text.\n\n"
            "The text is byte-identical across runtimes for the same arguments. With "
            "`allow_short` false only long_only, momentum and unconstrained are drawn; a "
            "benchmark is one of the `n_symbols` synthetic symbols (SYM00, SYM01, ...).")
            .c_str());
}

void register_mandate_breach(py::module_& m) {
  m.def("mandate_breach", &mandate_breach,
        doc_with_signature(
            "mandate_breach(mandate_json, returns, weights)",
            "How far a recorded run strayed from its mandate: 0.0 clean, 1.0 fully breached.\n\n"
            "`returns` holds one return per bar and `weights` one list of target weights per "
            "bar. The result is the worst of the style, gross-exposure and drawdown terms that "
            "apply. A malformed mandate raises InvalidJson; a non-finite value or an unusable "
            "cap raises InvalidArgument.")
            .c_str());
}

}  // namespace bindings
