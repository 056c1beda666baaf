#include "sim/costs.hpp"

#include <cmath>

namespace talmoor_sim::costs {
namespace {

bool finite_in_unit_interval(double v) { return std::isfinite(v) && v >= 0.0 && v <= 1.0; }

}  // namespace

support::Status<std::string> ExecutionNoise::validate(const ExecutionNoise& noise) {
  if (!finite_in_unit_interval(noise.delay_prob)) {
    return support::err(std::string("execution noise delay_prob must be finite and in [0, 1]"));
  }
  if (!finite_in_unit_interval(noise.min_fill_frac)) {
    return support::err(
        std::string("execution noise min_fill_frac must be finite and in [0, 1]"));
  }
  // -0.0 >= 0.0 holds, so a negative zero floor is accepted.
  if (!(std::isfinite(noise.carry_floor) && noise.carry_floor >= 0.0)) {
    return support::err(std::string("execution noise carry_floor must be finite and >= 0"));
  }
  if (!(std::isfinite(noise.queue_participation_ref) && noise.queue_participation_ref > 0.0)) {
    return support::err(
        std::string("execution noise queue_participation_ref must be finite and > 0"));
  }
  return support::ok_unit();
}

}  // namespace talmoor_sim::costs
