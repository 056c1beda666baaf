#include "bindings/registry.hpp"

namespace bindings {

void register_sample_mandate_json(py::module_&) {}
void register_mandate_breach(py::module_&) {}

}  // namespace bindings
