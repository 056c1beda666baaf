#include "scoring/decay.hpp"

#include <cmath>
#include <vector>

#include "stats/moments.hpp"

namespace talmoor_core::decay {

namespace {
constexpr double kNegLn2 = -0.6931471805599453;
}  // namespace

std::optional<double> edge_half_life(std::span<const double> edges) {
  std::vector<double> xs;
  std::vector<double> ys;
  for (std::size_t i = 0; i < edges.size(); ++i) {
    double magnitude = std::fabs(edges[i]);
    if (magnitude > kMinEdgeMagnitude) {
      xs.push_back(static_cast<double>(i));
      ys.push_back(std::log(magnitude));
    }
  }
  if (xs.size() <= 2) return std::nullopt;

  double x_bar = talmoor_stats::moments::mean(xs);
  double y_bar = talmoor_stats::moments::mean(ys);
  double sxx = -0.0;
  double sxy = -0.0;
  for (std::size_t i = 0; i < xs.size(); ++i) {
    double dx = xs[i] - x_bar;
    sxx += dx * dx;
    sxy += dx * (ys[i] - y_bar);
  }
  if (sxx == 0.0) return std::nullopt;
  double slope = sxy / sxx;
  if (slope >= 0.0) return std::nullopt;
  return kNegLn2 / slope;
}

}  // namespace talmoor_core::decay
