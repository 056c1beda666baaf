// The published decision contract: the schema text and the membership test.

#include <string>

#include "bindings/args.hpp"
#include "bindings/registry.hpp"
#include "protocol/decision.hpp"

namespace bindings {

void register_validate_decision_json(py::module_& m) {
  m.def(
      "validate_decision_json",
      [](py::args args, py::kwargs kwargs) {
        CallArgs a("validate_decision_json", {{"decision_json", true}}, args, kwargs);
        std::string text = to_str(a[0], "decision_json");
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
