#pragma once
// Behaviour roles: which kind of behaviour each run showed (trading cleanly,
// idling, being warned, violating a block rule), and how the returns of the
// runs in each role relate to those of their whole execution window.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scoring/process_event.hpp"
#include "scoring/submission.hpp"
#include "support/json_record.hpp"

namespace talmoor_core::roles {

// In this fixed order, which is also the order of the streams.
enum class BehaviorRole : std::uint8_t { kCleanActive, kIdle, kWarned, kBlockViolating };
inline constexpr std::array<BehaviorRole, 4> kRoleOrder = {
    BehaviorRole::kCleanActive, BehaviorRole::kIdle, BehaviorRole::kWarned,
    BehaviorRole::kBlockViolating};

// "clean_active", "idle", "warned", "block_violating".
std::string_view role_name(BehaviorRole role);

// Any block event makes a run block-violating; otherwise any warning makes it
// warned; otherwise it is clean-active when it placed an order, else idle.
BehaviorRole classify_run(const process_event::Trace& trace);

struct BehaviorRoleStream {
  std::string role;
  std::vector<double> team_returns;  // per-bar mean of every run of the window
  std::vector<double> role_returns;  // per-bar mean of the window's runs in this role
};

struct RoleContribution {
  std::string role;
  double beta_to_team = 0.0;
  double mean_return = 0.0;
  std::uint64_t periods = 0;
};

// Streams only for roles that shared a window with other behaviour and have
// more than one bar; empty when the runs do not form whole windows of k.
std::vector<BehaviorRoleStream> elicit_behavior_roles(
    std::span<const submission::Run> runs, std::size_t k);

std::vector<RoleContribution> attribute_behavior_roles(
    std::span<const BehaviorRoleStream> streams);

// {"role":...,"beta_to_team":...,"mean_return":...,"periods":...}
const support::RecordFields<RoleContribution>& role_contribution_fields();

}  // namespace talmoor_core::roles
