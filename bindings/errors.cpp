#include "bindings/errors.hpp"

#include <stdexcept>

#include "support/fault.hpp"

namespace bindings {
namespace {

constexpr const char* kCorvaneErrorDoc =
    "Base class for every error the native engine raises. Subclasses ValueError, which is what "
    "the boundary raised before the taxonomy existed, so a consumer catching ValueError keeps "
    "working. Raised directly when the engine reports a code this wrapper does not know.";
constexpr const char* kInvalidArgumentDoc =
    "A caller argument the engine cannot use: an unknown enum label, an out-of-range window, a "
    "wrong-length vector, a non-finite parameter.";
constexpr const char* kInvalidJsonDoc =
    "A JSON payload that failed to deserialize into a wire-contract type (a decision, an env "
    "state, a mandate, an order batch). The agent's output is malformed, not the engine's.";
constexpr const char* kInvalidSaltDoc =
    "A sealed-seed salt the derivation refuses, e.g. shorter than MIN_SEALED_SALT_BYTES.";
constexpr const char* kDataUnavailableDoc =
    "The engine could not load the data it was pointed at (an unparseable or empty CSV).";
constexpr const char* kEngineFailureDoc =
    "The engine failed while producing a result the caller asked for, rather than rejecting the "
    "caller's input. Serializing an engine value is the current source.";

py::handle new_exception(const char* name, const char* doc, PyObject* base) {
  PyObject* cls = PyErr_NewExceptionWithDoc(name, doc, base, nullptr);
  if (cls == nullptr) throw py::error_already_set();
  return cls;  // owned for the life of the process
}

ExceptionClasses create_exception_classes() {
  ExceptionClasses c;
  c.corvane_error = new_exception("corvane_py.CorvaneError", kCorvaneErrorDoc, PyExc_ValueError);
  PyObject* base = c.corvane_error.ptr();
  c.invalid_argument = new_exception("corvane_py.InvalidArgument", kInvalidArgumentDoc, base);
  c.invalid_json = new_exception("corvane_py.InvalidJson", kInvalidJsonDoc, base);
  c.invalid_salt = new_exception("corvane_py.InvalidSalt", kInvalidSaltDoc, base);
  c.data_unavailable = new_exception("corvane_py.DataUnavailable", kDataUnavailableDoc, base);
  c.engine_failure = new_exception("corvane_py.EngineFailure", kEngineFailureDoc, base);
  return c;
}

py::handle class_for_code(std::string_view code) {
  const ExceptionClasses& c = exception_classes();
  if (code == kInvalidJson) return c.invalid_json;
  if (code == kInvalidSalt) return c.invalid_salt;
  if (code == kEngineFailure) return c.engine_failure;
  if (code == kInvalidArgument) return c.invalid_argument;
  if (code == kDataUnavailable) return c.data_unavailable;
  return c.corvane_error;
}

}  // namespace

const ExceptionClasses& exception_classes() {
  // Every caller holds the interpreter lock, and a function-local static is
  // initialised once, so concurrent first uses create one set of classes.
  static const ExceptionClasses classes = create_exception_classes();
  return classes;
}

py::handle panic_exception_class() {
  static const py::handle cls =
      new_exception("corvane_py.InternalFault",
                    "An internal invariant of the native engine was violated. This is a bug in "
                    "the engine, not a rejection of the caller's input.",
                    PyExc_BaseException);
  return cls;
}

py::object engine_err_text(std::string_view code, std::string_view display) {
  std::string text;
  text.reserve(code.size() + display.size() + 3);
  text += '[';
  text += code;
  text += "] ";
  text += display;
  py::str message(text.data(), text.size());
  return class_for_code(code)(message);
}

void raise_engine_err_text(std::string_view code, std::string_view display) {
  py::object exc = engine_err_text(code, display);
  PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
  throw py::error_already_set();
}

void raise_coded_message(std::string_view default_code, std::string_view message) {
  if (!message.empty() && message.front() == '[') {
    std::string_view rest = message.substr(1);
    std::size_t sep = rest.find("] ");
    if (sep != std::string_view::npos) {
      std::string_view head = rest.substr(0, sep);
      if (!head.empty() && head.find(' ') == std::string_view::npos) {
        raise_engine_err_text(head, rest.substr(sep + 2));
      }
    }
  }
  raise_engine_err_text(default_code, message);
}

void register_fault_translator() {
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const support::Fault& fault) {
      PyErr_SetString(panic_exception_class().ptr(), fault.what());
    } catch (const std::length_error& e) {
      // A container asked to exceed its maximum size: a request too large to
      // hold, so the same error as any other allocation that cannot succeed.
      PyErr_SetString(PyExc_MemoryError, e.what());
    }
  });
}

}  // namespace bindings
