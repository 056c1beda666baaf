#include "bindings/registry.hpp"

namespace bindings {

void register_score_run(py::module_&) {}
void register_process_event_contract(py::module_&) {}

}  // namespace bindings
