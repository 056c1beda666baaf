#include "scoring/measures.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <variant>

#include "stats/deflated_sharpe.hpp"
#include "stats/moments.hpp"

namespace talmoor_core::measures {

double max_drawdown(std::span<const double> returns) {
  double wealth = 1.0;
  double peak = 1.0;
  double drawdown = 0.0;
  for (double r : returns) {
    wealth = (r + 1.0) * wealth;
    // fmax keeps the peak when wealth turns NaN.
    peak = std::fmax(wealth, peak);
    if (peak > 0.0) {
      double fall = 1.0 - wealth / peak;
      if (drawdown < fall) drawdown = fall;
    }
  }
  return drawdown;
}

double worst_run_drawdown(std::span<const Run> runs) {
  double worst = 0.0;
  for (const Run& run : runs) worst = std::fmax(worst, max_drawdown(run.returns));
  return worst;
}

Calibration calibration(std::span<const Run> runs) {
  double sum = 0.0;
  std::uint64_t pairs = 0;
  for (const Run& run : runs) {
    std::size_t n = std::min(run.confidences.size(), run.outcomes.size());
    for (std::size_t i = 0; i < n; ++i) {
      double c = std::clamp(run.confidences[i], 0.0, 1.0);
      double d = c - (run.outcomes[i] ? 1.0 : 0.0);
      sum += d * d;
    }
    pairs += n;
  }
  Calibration out;
  out.observations = pairs;
  if (pairs > 0) out.brier = sum / static_cast<double>(pairs);
  return out;
}

double turnover(std::span<const Run> runs) {
  if (runs.empty()) return 0.0;
  std::uint64_t orders = 0;
  for (const Run& run : runs) {
    for (const process_event::ProcessEvent& event : run.trace.events) {
      if (std::holds_alternative<process_event::OrderPlaced>(event)) ++orders;
    }
  }
  return static_cast<double>(orders) / static_cast<double>(runs.size());
}

double confidence_weighted_return(std::span<const Run> runs, double fallback) {
  namespace moments = talmoor_stats::moments;
  double weighted = 0.0;
  double total_weight = 0.0;
  for (const Run& run : runs) {
    double w = run.confidences.empty() ? 1.0 : moments::mean(run.confidences);
    weighted += moments::mean(run.returns) * w;
    total_weight += w;
  }
  if (runs.empty() || total_weight <= 0.0) return fallback;
  return weighted / total_weight;
}

double total_cost(std::span<const Run> runs) {
  double cost = -0.0;
  for (const Run& run : runs) cost += run.cost;
  return cost;
}

std::vector<double> window_edges(std::span<const Run> runs, std::size_t k) {
  k = std::max<std::size_t>(k, 1);
  std::vector<double> edges;
  for (std::size_t start = 0; start < runs.size(); start += k) {
    std::size_t end = std::min(start + k, runs.size());
    double sum = -0.0;
    for (std::size_t i = start; i < end; ++i) {
      sum += talmoor_stats::moments::mean(runs[i].returns);
    }
    edges.push_back(sum / static_cast<double>(end - start));
  }
  return edges;
}

RollingSharpe rolling_sharpe(std::span<const double> returns, std::size_t window) {
  RollingSharpe out;
  if (window < 2 || returns.size() < window) return out;
  std::size_t windows = returns.size() - window + 1;
  double min_sharpe = std::numeric_limits<double>::infinity();
  std::uint64_t positive = 0;
  for (std::size_t i = 0; i < windows; ++i) {
    double s = talmoor_stats::deflated_sharpe::sharpe_ratio(returns.subspan(i, window));
    if (s < min_sharpe) min_sharpe = s;  // a NaN never becomes the minimum
    if (s > 0.0) ++positive;
  }
  out.min_sharpe = min_sharpe;
  out.frac_positive = static_cast<double>(positive) / static_cast<double>(windows);
  out.windows = windows;
  return out;
}

std::optional<double> dsr_percentile(std::span<const double> reference_dsrs, double dsr) {
  if (reference_dsrs.empty()) return std::nullopt;
  std::uint64_t at_or_below = 0;
  for (double v : reference_dsrs) {
    if (v <= dsr) ++at_or_below;
  }
  return static_cast<double>(at_or_below) * 100.0 / static_cast<double>(reference_dsrs.size());
}

}  // namespace talmoor_core::measures
