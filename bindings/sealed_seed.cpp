#include "bindings/registry.hpp"

namespace bindings {

void register_sealed_seed(py::module_&) {}

}  // namespace bindings
