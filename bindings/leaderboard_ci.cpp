#include "bindings/registry.hpp"

namespace bindings {

void register_bootstrap_dsr_ci(py::module_&) {}
void register_paired_dsr_diff(py::module_&) {}

}  // namespace bindings
