#include "bindings/registry.hpp"

namespace bindings {

void register_trading_env(py::module_&) {}

}  // namespace bindings
