#pragma once
// A refusal that carries the code the bindings raise it under
// ("INVALID_ARGUMENT", "INVALID_JSON", ...), for engine operations whose
// failures do not all share one code.

#include <string>

namespace support {

struct CodedError {
  std::string code;
  std::string message;
  const std::string& display() const { return message; }
};

}  // namespace support
