// The module frame: the init entry, the single execution step and the
// registration order, readable at a glance below.

#include <pybind11/pybind11.h>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"

namespace bindings {
namespace {

// Fixed at build time; it changes whenever the bytes the engine produces for
// a given input change.
constexpr const char* kSpecHashHex = "460811a8d810c454";
constexpr long kEvalSeedBase = 1000000;
constexpr long kMinSealedSaltBytes = 16;

constexpr const char* kModuleDoc =
    "Native bindings of the Corvane trading-agent environment: deterministic trading "
    "environments, markets, an order book and the scoring kernel, driven through JSON text.";

void register_exceptions(py::module_& m) {
  const ExceptionClasses& c = exception_classes();
  m.attr("CorvaneError") = c.corvane_error;
  m.attr("InvalidArgument") = c.invalid_argument;
  m.attr("InvalidJson") = c.invalid_json;
  m.attr("InvalidSalt") = c.invalid_salt;
  m.attr("DataUnavailable") = c.data_unavailable;
  m.attr("EngineFailure") = c.engine_failure;
}

void register_constants(py::module_& m) {
  m.attr("EVAL_SEED_BASE") = py::int_(kEvalSeedBase);
  m.attr("MIN_SEALED_SALT_BYTES") = py::int_(kMinSealedSaltBytes);
  m.attr("__doc__") = py::str(kModuleDoc);
}

void register_all(py::module_& m) {
  // Signatures come from each docstring's first line, not from pybind11.
  py::options options;
  options.disable_function_signatures();
  register_fault_translator();

  // 1. Classes.
  register_trading_env(m);
  register_vec_trading_env(m);
  register_market_clearing(m);
  register_order_book(m);

  // 2. Functions.
  register_score_run(m);
  register_process_event_contract(m);
  register_bootstrap_dsr_ci(m);
  register_paired_dsr_diff(m);
  register_validate_decision_json(m);
  register_decision_schema_json(m);
  register_sample_mandate_json(m);
  register_mandate_breach(m);
  register_perturb_action(m);
  register_sealed_seed(m);
  register_spec_hash(m);
  register_raise_coded(m);
  register_generate_scenario_json(m);
  register_calm_calibration_candidate_scenario_json(m);

  // 3. Exception classes.
  register_exceptions(m);

  // 4. Constants, then the module's own description.
  register_constants(m);
}

int exec_module(PyObject* module) {
  try {
    py::module_ m = py::reinterpret_borrow<py::module_>(module);
    register_all(m);
    return 0;
  } catch (py::error_already_set& e) {
    e.restore();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_ImportError, e.what());
  }
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "corvane_py",
    "The `corvane_py` native module (imported as `corvane.corvane_py`).",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

void register_spec_hash(py::module_& m) {
  m.def(
      "spec_hash",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("spec_hash", {}, args, kwargs);
        return py::str(kSpecHashHex);
      },
      doc_with_signature("spec_hash()",
                         "The fingerprint of the engine's tape semantics this build carries.")
          .c_str());
}

void register_raise_coded(py::module_& m) {
  m.def(
      "_raise_coded",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("_raise_coded", {{"code", true}, {"message", true}}, args, kwargs);
        std::string code = to_str(a[0], "code");
        std::string message = to_str(a[1], "message");
        raise_coded_message(code, message);
      },
      doc_with_signature("_raise_coded(code, message)",
                         "Test hook: raises `message` through the error mapper, with `code` as "
                         "the default code.")
          .c_str());
}

}  // namespace bindings

extern "C" PYBIND11_EXPORT PyObject* PyInit_corvane_py() {
  return PyModuleDef_Init(&bindings::module_def);
}
