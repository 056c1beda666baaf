#pragma once
// A violated internal precondition, one the bindings normally guarantee. It is
// the one exception type the engine throws; the bindings turn it into the
// panic exception, which is deliberately not a coded error.

#include <stdexcept>
#include <string>

namespace support {

class Fault : public std::runtime_error {
 public:
  explicit Fault(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace support
