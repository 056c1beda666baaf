#include "scoring/econrationality.hpp"

#include <cmath>

#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"

namespace talmoor_core::econrationality {

namespace {

// The Sharpe ratio of a series that can stand in a comparison.
std::optional<double> usable_sharpe(std::span<const double> x) {
  if (x.size() < 2) return std::nullopt;
  if (talmoor_stats::moments::std_dev(x) == 0.0) return std::nullopt;
  double sharpe = talmoor_stats::deflated_sharpe::sharpe_ratio(x);
  if (!std::isfinite(sharpe)) return std::nullopt;
  return sharpe;
}

}  // namespace

std::optional<RevealedSelection> elicit_revealed_selection(
    std::span<const std::vector<double>> candidates, std::span<const double> own_returns) {
  std::optional<double> own = usable_sharpe(own_returns);
  if (!own) return std::nullopt;
  RevealedSelection selection;
  for (const std::vector<double>& candidate : candidates) {
    if (std::optional<double> s = usable_sharpe(candidate)) selection.values.push_back(*s);
  }
  if (selection.values.empty()) return std::nullopt;
  selection.values.push_back(*own);
  selection.chosen = selection.values.size() - 1;
  return selection;
}

std::uint32_t dominance_violations(const RevealedSelection& selection) {
  double chosen = selection.values[selection.chosen];
  for (double v : selection.values) {
    if (v > chosen) return 1;
  }
  return 0;
}

double rationality_score(const RevealedSelection& selection) {
  return 1.0 - static_cast<double>(dominance_violations(selection));
}

}  // namespace talmoor_core::econrationality
