#pragma once
// Edge half-life: how fast an agent's edge shrinks from one execution window
// to the next, from a log-linear fit of |edge| against the window index.

#include <optional>
#include <span>

namespace talmoor_core::decay {

// Edges at or below this magnitude carry no usable log and are skipped (their
// positions still count).
inline constexpr double kMinEdgeMagnitude = 1e-9;

// The half-life in windows, or nullopt with two usable points or fewer, or
// when the fitted edge is not shrinking.
std::optional<double> edge_half_life(std::span<const double> edges);

}  // namespace talmoor_core::decay
