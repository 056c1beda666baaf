#include "bindings/registry.hpp"

namespace bindings {

void register_generate_scenario_json(py::module_&) {}
void register_calm_calibration_candidate_scenario_json(py::module_&) {}

}  // namespace bindings
