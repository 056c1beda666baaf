#include "bindings/registry.hpp"

namespace bindings {

void register_validate_decision_json(py::module_&) {}
void register_decision_schema_json(py::module_&) {}

}  // namespace bindings
