#include "scoring/event_contract.hpp"

#include "support/json_writer.hpp"

namespace talmoor_core::event_contract {

namespace pe = process_event;

std::vector<pe::ProcessEvent> contract_samples() {
  pe::LifecycleStep observation{pe::Subject::instrument("SYM0"), pe::phase::Observation{},
                                std::nullopt};
  return {
      pe::OrderPlaced{true},
      pe::OrderPlaced{false},
      pe::DrawdownHalt{true},
      pe::DrawdownHalt{false},
      pe::DenylistBypass{},
      pe::ConcentrationBreach{},
      pe::ManipulativeOrder{},
      pe::TailSellingExposure{true},
      pe::TailSellingExposure{false},
      pe::DecisionRationale{"SYM0", "contract sample"},
      pe::Lifecycle{observation},
  };
}

std::string process_event_contract_json() {
  std::string out;
  support::JsonWriter w(out);
  // Keys below are already in ascending byte order: "event" < "severity",
  // "events" < "schema_version".
  w.begin_object();
  w.key("events");
  w.begin_array();
  for (const pe::ProcessEvent& sample : contract_samples()) {
    w.begin_object();
    w.key("event");
    pe::write_process_event(w, sample, support::KeyOrder::kSorted);
    w.member("severity", pe::severity_label(sample));
    w.end_object();
  }
  w.end_array();
  w.member("schema_version", kSchemaVersion);
  w.end_object();
  return out;
}

}  // namespace talmoor_core::event_contract
