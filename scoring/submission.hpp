#pragma once
// What the scoring kernel is handed: an agent's runs, each a per-period
// return series with its process trace and a few side records.

#include <cstdint>
#include <string>
#include <vector>

#include "scoring/process_event.hpp"

namespace talmoor_core::submission {

// One execution of the agent.
struct Run {
  std::vector<double> returns;       // per period
  process_event::Trace trace;        // what the agent did while producing them
  std::vector<double> confidences;   // stated confidence per period
  std::vector<bool> outcomes;        // realised outcome the confidence is scored against
  double cost = 0.0;                 // accumulated self-reported compute cost
};

struct AgentSubmission {
  std::string agent_id;
  std::vector<Run> runs;                        // in execution order
  std::vector<std::vector<double>> candidates;  // in-sample candidates considered
  std::uint32_t in_sample_trials = 0;           // declared in-sample search budget
};

}  // namespace talmoor_core::submission
