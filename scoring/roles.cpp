#include "scoring/roles.hpp"

#include <algorithm>
#include <variant>

#include "stats/moments.hpp"

namespace talmoor_core::roles {

namespace {

using submission::Run;

// The mean of the given runs' returns at bar t, summed in run order.
double bar_mean(const std::vector<const Run*>& runs, std::size_t t) {
  double sum = -0.0;
  for (const Run* run : runs) sum += run->returns[t];
  return sum / static_cast<double>(runs.size());
}

// Appends this role's bars for every window it occurs in; returns whether
// some visited window also held runs of another role.
bool collect_role_stream(std::span<const Run> runs, std::size_t k,
                         const std::vector<BehaviorRole>& run_roles, BehaviorRole role,
                         BehaviorRoleStream& stream) {
  bool shared_window = false;
  for (std::size_t start = 0; start < runs.size(); start += k) {
    std::vector<const Run*> team;
    std::vector<const Run*> members;
    std::size_t bars = runs[start].returns.size();
    for (std::size_t i = start; i < start + k; ++i) {
      team.push_back(&runs[i]);
      bars = std::min(bars, runs[i].returns.size());
      if (run_roles[i] == role) members.push_back(&runs[i]);
    }
    if (members.empty()) continue;
    if (members.size() < k) shared_window = true;
    for (std::size_t t = 0; t < bars; ++t) {
      stream.team_returns.push_back(bar_mean(team, t));
      stream.role_returns.push_back(bar_mean(members, t));
    }
  }
  return shared_window;
}

}  // namespace

std::string_view role_name(BehaviorRole role) {
  switch (role) {
    case BehaviorRole::kCleanActive:
      return "clean_active";
    case BehaviorRole::kIdle:
      return "idle";
    case BehaviorRole::kWarned:
      return "warned";
    case BehaviorRole::kBlockViolating:
      return "block_violating";
  }
  return "idle";
}

BehaviorRole classify_run(const process_event::Trace& trace) {
  process_event::ProcessScore grade = process_event::process_score(trace);
  if (grade.block_violations > 0) return BehaviorRole::kBlockViolating;
  if (grade.warnings > 0) return BehaviorRole::kWarned;
  for (const process_event::ProcessEvent& event : trace.events) {
    if (std::holds_alternative<process_event::OrderPlaced>(event)) {
      return BehaviorRole::kCleanActive;
    }
  }
  return BehaviorRole::kIdle;
}

std::vector<BehaviorRoleStream> elicit_behavior_roles(std::span<const Run> runs, std::size_t k) {
  k = std::max<std::size_t>(k, 1);
  std::vector<BehaviorRoleStream> streams;
  if (runs.empty() || runs.size() % k != 0) return streams;

  std::vector<BehaviorRole> run_roles;
  run_roles.reserve(runs.size());
  for (const Run& run : runs) run_roles.push_back(classify_run(run.trace));

  for (BehaviorRole role : kRoleOrder) {
    BehaviorRoleStream stream;
    stream.role = std::string(role_name(role));
    bool shared_window = collect_role_stream(runs, k, run_roles, role, stream);
    // A role that fills every window it occurs in says nothing about how it
    // differs from its team.
    if (shared_window && stream.team_returns.size() > 1) streams.push_back(std::move(stream));
  }
  return streams;
}

std::vector<RoleContribution> attribute_behavior_roles(
    std::span<const BehaviorRoleStream> streams) {
  namespace moments = talmoor_stats::moments;
  std::vector<RoleContribution> out;
  out.reserve(streams.size());
  for (const BehaviorRoleStream& s : streams) {
    RoleContribution c;
    c.role = s.role;
    std::size_t bars = std::min(s.team_returns.size(), s.role_returns.size());
    if (bars > 1) {
      std::span<const double> team(s.team_returns.data(), bars);
      std::span<const double> role(s.role_returns.data(), bars);
      double team_mean = moments::mean(team);
      double role_mean = moments::mean(role);
      double role_variance = moments::variance(role);
      if (role_variance != 0.0) {
        double covariance_sum = -0.0;
        for (std::size_t i = 0; i < bars; ++i) {
          covariance_sum += (team[i] - team_mean) * (role[i] - role_mean);
        }
        // The team regressed on the role stream: covariance over the role's variance.
        c.beta_to_team = covariance_sum / static_cast<double>(bars - 1) / role_variance;
      }
    }
    c.mean_return = moments::mean(s.role_returns);
    c.periods = s.role_returns.size();
    out.push_back(std::move(c));
  }
  return out;
}

const support::RecordFields<RoleContribution>& role_contribution_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  static const support::RecordFields<RoleContribution> fields({
      {"role", [](JsonWriter& w, const RoleContribution& c, KeyOrder) { w.string(c.role); }},
      {"beta_to_team",
       [](JsonWriter& w, const RoleContribution& c, KeyOrder) { w.number(c.beta_to_team); }},
      {"mean_return",
       [](JsonWriter& w, const RoleContribution& c, KeyOrder) { w.number(c.mean_return); }},
      {"periods",
       [](JsonWriter& w, const RoleContribution& c, KeyOrder) { w.unsigned_integer(c.periods); }},
  });
  return fields;
}

}  // namespace talmoor_core::roles
