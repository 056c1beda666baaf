#include "bindings/registry.hpp"

namespace bindings {

void register_perturb_action(py::module_&) {}

}  // namespace bindings
