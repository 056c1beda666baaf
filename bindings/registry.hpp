#pragma once
// Every registration of the module, in the order the module executes them
// (see lib.cpp). Each binding file defines its own entries.

#include <pybind11/pybind11.h>

namespace bindings {

namespace py = pybind11;

// Classes.
void register_trading_env(py::module_& m);
void register_vec_trading_env(py::module_& m);
void register_market_clearing(py::module_& m);
void register_order_book(py::module_& m);

// Functions.
void register_score_run(py::module_& m);
void register_process_event_contract(py::module_& m);
void register_bootstrap_dsr_ci(py::module_& m);
void register_paired_dsr_diff(py::module_& m);
void register_validate_decision_json(py::module_& m);
void register_decision_schema_json(py::module_& m);
void register_sample_mandate_json(py::module_& m);
void register_mandate_breach(py::module_& m);
void register_perturb_action(py::module_& m);
void register_sealed_seed(py::module_& m);
void register_spec_hash(py::module_& m);
void register_raise_coded(py::module_& m);
void register_generate_scenario_json(py::module_& m);
void register_calm_calibration_candidate_scenario_json(py::module_& m);

}  // namespace bindings
