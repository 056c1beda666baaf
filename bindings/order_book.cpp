#include "bindings/registry.hpp"

namespace bindings {

void register_order_book(py::module_&) {}

}  // namespace bindings
