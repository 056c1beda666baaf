#pragma once
// The published process-event contract: one sample of every event variant
// (one per value of a variant's boolean, true first) with the severity the
// kernel's own grading gives it, so consumers never restate the table.

#include <string>
#include <vector>

#include "scoring/process_event.hpp"

namespace talmoor_core::event_contract {

inline constexpr int kSchemaVersion = 1;

// The eleven samples, in contract order.
std::vector<process_event::ProcessEvent> contract_samples();

// {"events":[{"event":{...},"severity":"..."},...],"schema_version":1}, every
// object's keys in ascending byte order, compact.
std::string process_event_contract_json();

}  // namespace talmoor_core::event_contract
