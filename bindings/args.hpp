#pragma once
// Argument conversion for every binding. Functions take (*args, **kwargs) and
// convert here, so every type or range error is an ordinary TypeError or
// OverflowError that names the argument, raised before engine code runs, and
// a Python str is never taken for a sequence of numbers.

#include <pybind11/pybind11.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace bindings {

namespace py = pybind11;

struct Param {
  const char* name;
  bool required;
};

// Positional and keyword arguments matched against a parameter list, with
// Python's own messages for missing, repeated, unknown and surplus arguments.
class CallArgs {
 public:
  CallArgs(const char* function, std::initializer_list<Param> params, const py::args& args,
           const py::kwargs& kwargs);

  // The argument, or a null handle when it was not given.
  py::handle operator[](std::size_t i) const { return values_[i]; }
  bool given(std::size_t i) const { return values_[i].ptr() != nullptr; }
  const char* name(std::size_t i) const { return params_[i].name; }

 private:
  std::vector<Param> params_;
  std::vector<py::handle> values_;
};

[[noreturn]] void raise_type_error(const char* arg, const std::string& what);
[[noreturn]] void raise_overflow_error(const char* arg, const std::string& what);

std::int64_t to_i64(py::handle h, const char* arg);
std::uint64_t to_u64(py::handle h, const char* arg);
double to_f64(py::handle h, const char* arg);
bool to_bool(py::handle h, const char* arg);
std::string to_str(py::handle h, const char* arg);
// None -> nullopt (an optional setting that takes its default).
std::optional<double> to_opt_f64(py::handle h, const char* arg);
std::vector<double> to_f64_list(py::handle h, const char* arg);
std::vector<std::vector<double>> to_f64_list_list(py::handle h, const char* arg);

// A sequence of unsigned 64-bit ints; text and bytes are refused.
std::vector<std::uint64_t> to_u64_list(py::handle h, const char* arg);

// Optional parameters: absent or None gives nullopt (opt_f64: None is the
// "take the default" of an optional setting).
std::optional<std::size_t> opt_size(const CallArgs& a, std::size_t i);
std::optional<std::uint64_t> opt_u64(const CallArgs& a, std::size_t i);
std::optional<double> opt_f64(const CallArgs& a, std::size_t i);
// Defaulted parameters: absent gives the default.
double f64_or(const CallArgs& a, std::size_t i, double fallback);
std::string str_or(const CallArgs& a, std::size_t i, const char* fallback);

// A class method's arguments without the class it was called on.
py::args without_receiver(const py::args& args);

// An unsigned integer that must also fit T (usize/u32 parameters).
template <class T>
T to_unsigned(py::handle h, const char* arg) {
  std::uint64_t v = to_u64(h, arg);
  if (v > std::numeric_limits<T>::max()) raise_overflow_error(arg, "int too big to convert");
  return static_cast<T>(v);
}

// The first line of every docstring: "name(sig)\n--\n\n" lets inspect show
// exactly the published text signature.
std::string doc_with_signature(const char* signature, const char* doc);

}  // namespace bindings
