// The published decision contract: the schema text and the membership test.

#include <string>

#include "bindings/args.hpp"
#include "bindings/registry.hpp"
#include "protocol/decision.hpp"

namespace bindings {

namespace {

bool utf8_encodable(py::handle str) {
  Py_ssize_t size = 0;
  if (PyUnicode_AsUTF8AndSize(str.ptr(), &size) != nullptr) return true;
  PyErr_Clear();
  return false;
}

}  // namespace

void register_validate_decision_json(py::module_& m) {
  m.def(
      "validate_decision_json",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("validate_decision_json", {{"decision_json", true}}, args, kwargs);
        py::handle arg = a[0];
        // A str that has no UTF-8 form (a lone surrogate) is still a str: it is
        // simply not a decision, like every other text that does not read.
        if (PyUnicode_Check(arg.ptr()) && !utf8_encodable(arg)) return py::bool_(false);
        std::string text = to_str(arg, "decision_json");
        // A membership test: every reading error is simply "not a decision".
        return py::bool_(talmoor_protocol::read_decision(text).ok());
      },
      doc_with_signature("validate_decision_json(decision_json)",
                         "True when `decision_json` reads as a Decision under the wire "
                         "contract's rules, False otherwise. Symbols, weights and confidences "
                         "are not checked against any environment.")
          .c_str());
}

void register_decision_schema_json(py::module_& m) {
  m.def(
      "decision_schema_json",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("decision_schema_json", {}, args, kwargs);
        const std::string_view schema = talmoor_protocol::decision_schema_json();
        return py::str(schema.data(), schema.size());
      },
      doc_with_signature("decision_schema_json()",
                         "The published JSON Schema (draft 2020-12) of the decision contract, "
                         "for constrained decoding.")
          .c_str());
}

}  // namespace bindings
