#include "bindings/registry.hpp"

namespace bindings {

void register_vec_trading_env(py::module_&) {}

}  // namespace bindings
