#pragma once
// Revealed selection: is the strategy an agent actually ran dominated, by
// Sharpe ratio, by one of the candidates it says it considered?

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace talmoor_core::econrationality {

struct RevealedSelection {
  // The usable candidates' Sharpe ratios, then the agent's own.
  std::vector<double> values;
  // Index of the agent's own value: always the last.
  std::size_t chosen = 0;
};

// nullopt when the agent's own series, or every candidate, is unusable (fewer
// than two values, zero spread or a non-finite Sharpe ratio).
std::optional<RevealedSelection> elicit_revealed_selection(
    std::span<const std::vector<double>> candidates, std::span<const double> own_returns);

// 1 when some value is strictly greater than the chosen one, else 0.
std::uint32_t dominance_violations(const RevealedSelection& selection);

// 1.0 for an undominated choice, 0.0 for a dominated one.
double rationality_score(const RevealedSelection& selection);

}  // namespace talmoor_core::econrationality
