#include "bindings/args.hpp"

#include <cmath>

namespace bindings {

[[noreturn]] void raise_type_error(const char* arg, const std::string& what) {
  std::string text = std::string("argument '") + arg + "': " + what;
  PyErr_SetString(PyExc_TypeError, text.c_str());
  throw py::error_already_set();
}

[[noreturn]] void raise_overflow_error(const char* arg, const std::string& what) {
  std::string text = std::string("argument '") + arg + "': " + what;
  PyErr_SetString(PyExc_OverflowError, text.c_str());
  throw py::error_already_set();
}

namespace {

[[noreturn]] void raise_plain_type_error(const std::string& text) {
  PyErr_SetString(PyExc_TypeError, text.c_str());
  throw py::error_already_set();
}

std::string type_name(py::handle h) { return Py_TYPE(h.ptr())->tp_name; }

bool is_text_like(py::handle h) {
  return PyUnicode_Check(h.ptr()) || PyBytes_Check(h.ptr()) || PyByteArray_Check(h.ptr());
}

}  // namespace

CallArgs::CallArgs(const char* function, std::initializer_list<Param> params, const py::args& args,
                   const py::kwargs& kwargs)
    : params_(params), values_(params.size()) {
  std::string fn = std::string(function) + "()";
  if (args.size() > params_.size()) {
    raise_plain_type_error(fn + " takes at most " + std::to_string(params_.size()) +
                           " positional arguments (" + std::to_string(args.size()) + " given)");
  }
  for (std::size_t i = 0; i < args.size(); ++i) values_[i] = args[i];
  for (auto item : kwargs) {
    std::string key = py::str(item.first);
    std::size_t index = params_.size();
    for (std::size_t i = 0; i < params_.size(); ++i) {
      if (key == params_[i].name) index = i;
    }
    if (index == params_.size()) {
      raise_plain_type_error("'" + key + "' is an invalid keyword argument for " + fn);
    }
    if (values_[index].ptr() != nullptr) {
      raise_plain_type_error("argument for " + fn + " given by name ('" + key +
                             "') and position (" + std::to_string(index + 1) + ")");
    }
    values_[index] = item.second;
  }
  for (std::size_t i = 0; i < params_.size(); ++i) {
    if (params_[i].required && values_[i].ptr() == nullptr) {
      raise_plain_type_error(fn + " missing required argument '" + params_[i].name + "' (pos " +
                             std::to_string(i + 1) + ")");
    }
  }
}

std::int64_t to_i64(py::handle h, const char* arg) {
  if (!PyLong_Check(h.ptr())) {
    raise_type_error(arg, "'" + type_name(h) + "' object cannot be interpreted as an integer");
  }
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(h.ptr(), &overflow);
  if (overflow != 0) raise_overflow_error(arg, "int too big to convert");
  return v;
}

std::uint64_t to_u64(py::handle h, const char* arg) {
  if (!PyLong_Check(h.ptr())) {
    raise_type_error(arg, "'" + type_name(h) + "' object cannot be interpreted as an integer");
  }
  int overflow = 0;
  long long small = PyLong_AsLongLongAndOverflow(h.ptr(), &overflow);
  if (overflow == 0) {
    if (small < 0) raise_overflow_error(arg, "can't convert negative int to unsigned");
    return static_cast<std::uint64_t>(small);
  }
  if (overflow < 0) raise_overflow_error(arg, "can't convert negative int to unsigned");
  unsigned long long v = PyLong_AsUnsignedLongLong(h.ptr());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    raise_overflow_error(arg, "int too big to convert");
  }
  return v;
}

namespace {

// Python's own rule for a float argument: a float, an int, or any number
// type with __float__ or __index__ (numpy scalars among them), never text.
bool is_real_number(py::handle h) {
  if (PyFloat_Check(h.ptr()) || PyLong_Check(h.ptr())) return true;
  if (is_text_like(h)) return false;
  PyNumberMethods* nb = Py_TYPE(h.ptr())->tp_as_number;
  return nb != nullptr && (nb->nb_float != nullptr || nb->nb_index != nullptr);
}

double real_number(py::handle h, const char* arg, const std::string& where) {
  if (PyFloat_Check(h.ptr())) return PyFloat_AS_DOUBLE(h.ptr());
  if (!is_real_number(h)) {
    raise_type_error(arg, where + "must be real number, not " + type_name(h));
  }
  double v = PyFloat_AsDouble(h.ptr());
  if (v == -1.0 && PyErr_Occurred()) {
    PyErr_Clear();
    raise_overflow_error(arg, where + "int too large to convert to float");
  }
  return v;
}

}  // namespace

double to_f64(py::handle h, const char* arg) { return real_number(h, arg, ""); }

bool to_bool(py::handle h, const char* arg) {
  if (PyBool_Check(h.ptr())) return h.ptr() == Py_True;
  if (PyLong_Check(h.ptr())) return to_i64(h, arg) != 0;
  raise_type_error(arg, "must be bool, not " + type_name(h));
}

std::string to_str(py::handle h, const char* arg) {
  if (!PyUnicode_Check(h.ptr())) raise_type_error(arg, "must be str, not " + type_name(h));
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(h.ptr(), &size);
  if (data == nullptr) {
    PyErr_Clear();
    raise_type_error(arg, "must be a str encodable as UTF-8");
  }
  return std::string(data, static_cast<std::size_t>(size));
}

std::optional<double> to_opt_f64(py::handle h, const char* arg) {
  if (h.is_none()) return std::nullopt;
  return to_f64(h, arg);
}

namespace {

// Each item of a sequence argument, refusing text and non-sequences.
template <class F>
void for_each_item(py::handle h, const char* arg, const char* expected, F&& f) {
  if (is_text_like(h) || !PySequence_Check(h.ptr())) {
    raise_type_error(arg, std::string("must be ") + expected + ", not " + type_name(h));
  }
  PyObject* fast = PySequence_Fast(h.ptr(), "");
  if (fast == nullptr) {
    PyErr_Clear();
    raise_type_error(arg, std::string("must be ") + expected + ", not " + type_name(h));
  }
  py::object owner = py::reinterpret_steal<py::object>(fast);
  Py_ssize_t n = PySequence_Fast_GET_SIZE(fast);
  PyObject** items = PySequence_Fast_ITEMS(fast);
  for (Py_ssize_t i = 0; i < n; ++i) f(static_cast<std::size_t>(i), py::handle(items[i]));
}

double item_f64(py::handle item, const char* arg, const std::string& where) {
  return real_number(item, arg, where + " ");
}

}  // namespace

std::vector<double> to_f64_list(py::handle h, const char* arg) {
  std::vector<double> out;
  for_each_item(h, arg, "a sequence of floats", [&](std::size_t i, py::handle item) {
    out.push_back(item_f64(item, arg, "item " + std::to_string(i)));
  });
  return out;
}

std::vector<std::vector<double>> to_f64_list_list(py::handle h, const char* arg) {
  std::vector<std::vector<double>> out;
  for_each_item(h, arg, "a sequence of sequences of floats", [&](std::size_t i, py::handle row) {
    std::vector<double> values;
    std::string where = "item " + std::to_string(i);
    if (is_text_like(row) || !PySequence_Check(row.ptr())) {
      raise_type_error(arg, where + " must be a sequence of floats, not " + type_name(row));
    }
    for_each_item(row, arg, "a sequence of floats", [&](std::size_t j, py::handle item) {
      values.push_back(item_f64(item, arg, where + "[" + std::to_string(j) + "]"));
    });
    out.push_back(std::move(values));
  });
  return out;
}

std::vector<std::uint64_t> to_u64_list(py::handle h, const char* arg) {
  std::vector<std::uint64_t> out;
  for_each_item(h, arg, "a sequence of ints",
                [&](std::size_t, py::handle item) { out.push_back(to_u64(item, arg)); });
  return out;
}

std::optional<std::size_t> opt_size(const CallArgs& a, std::size_t i) {
  if (!a.given(i) || a[i].is_none()) return std::nullopt;
  return to_unsigned<std::size_t>(a[i], a.name(i));
}

std::optional<std::uint64_t> opt_u64(const CallArgs& a, std::size_t i) {
  if (!a.given(i) || a[i].is_none()) return std::nullopt;
  return to_u64(a[i], a.name(i));
}

std::optional<double> opt_f64(const CallArgs& a, std::size_t i) {
  if (!a.given(i)) return std::nullopt;
  return to_opt_f64(a[i], a.name(i));
}

double f64_or(const CallArgs& a, std::size_t i, double fallback) {
  return a.given(i) ? to_f64(a[i], a.name(i)) : fallback;
}

std::string str_or(const CallArgs& a, std::size_t i, const char* fallback) {
  return a.given(i) ? to_str(a[i], a.name(i)) : std::string(fallback);
}

py::args without_receiver(const py::args& args) {
  PyObject* rest = PyTuple_GetSlice(args.ptr(), 1, static_cast<Py_ssize_t>(args.size()));
  if (rest == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::args>(rest);
}

std::string doc_with_signature(const char* signature, const char* doc) {
  std::string sig(signature);
  // pybind11 methods are builtins whose __self__ is set (to their function
  // record), so inspect would drop a "$self"/"$cls" marker *and* then the
  // first real parameter of the bound method. A plain "self"/"cls" is
  // dropped exactly once, so inspect shows the published signature.
  for (const char* marker : {"($self", "($cls"}) {
    std::size_t at = sig.find(marker);
    if (at != std::string::npos) sig.erase(at + 1, 1);
  }
  return sig + "\n--\n\n" + doc;
}

}  // namespace bindings
