#pragma once
// The one place where engine failures become Python exceptions.

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

namespace bindings {

namespace py = pybind11;

inline constexpr std::string_view kInvalidArgument = "INVALID_ARGUMENT";
inline constexpr std::string_view kInvalidJson = "INVALID_JSON";
inline constexpr std::string_view kInvalidSalt = "INVALID_SALT";
inline constexpr std::string_view kDataUnavailable = "DATA_UNAVAILABLE";
inline constexpr std::string_view kEngineFailure = "ENGINE_FAILURE";

// The six exception classes, created once per process on first use.
struct ExceptionClasses {
  py::handle corvane_error, invalid_argument, invalid_json, invalid_salt, data_unavailable,
      engine_failure;
};
const ExceptionClasses& exception_classes();

// The panic exception for violated internal preconditions: derived from
// BaseException, deliberately not a module attribute.
py::handle panic_exception_class();

// The display text of an engine error value: a message string as it is, any
// other error record through its display().
inline std::string display_text(std::string_view message) { return std::string(message); }
inline std::string display_text(const std::string& message) { return message; }
inline std::string display_text(const char* message) { return message; }
template <class E>
auto display_text(const E& error) -> decltype(error.display()) {
  return error.display();
}

// The mapper: an exception instance (not raised) of the class chosen by
// `code`, with the single argument "[" + code + "] " + display.
py::object engine_err_text(std::string_view code, std::string_view display);

template <class E>
py::object engine_err(std::string_view code, const E& error) {
  return engine_err_text(code, display_text(error));
}

// Raises engine_err(code, error) as the current Python exception.
[[noreturn]] void raise_engine_err_text(std::string_view code, std::string_view display);

template <class E>
[[noreturn]] void raise_engine_err(std::string_view code, const E& error) {
  raise_engine_err_text(code, display_text(error));
}

// The coded-message rule: a message "[CODE] text" raises under CODE (with the
// message unchanged); any other message raises under `default_code`.
[[noreturn]] void raise_coded_message(std::string_view default_code, std::string_view message);

// Installs the translator that turns support::Fault into the panic exception.
void register_fault_translator();

}  // namespace bindings
