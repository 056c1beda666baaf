#include "bindings/registry.hpp"

namespace bindings {

void register_market_clearing(py::module_&) {}

}  // namespace bindings
