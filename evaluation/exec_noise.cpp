#include "evaluation/exec_noise.hpp"

#include <cmath>

#include "support/float_text.hpp"
#include "support/splitmix64.hpp"

namespace corvane::exec_noise {
namespace {

constexpr std::uint64_t kStepKey = 0x9E3779B97F4A7C15ULL;

std::vector<double> copy_of(std::span<const double> values) {
  return std::vector<double>(values.begin(), values.end());
}

}  // namespace

std::string ExecNoiseError::display() const {
  if (kind == Kind::kDelayProb) {
    return "[INVALID_ARGUMENT] delay_prob " + support::display_number(value) +
           " is outside the finite range [0, 1]";
  }
  return "[INVALID_ARGUMENT] slippage_bps " + support::display_number(value) +
         " is negative or not finite";
}

support::Result<std::vector<double>, ExecNoiseError> perturb(std::uint64_t seed,
                                                             std::uint64_t step_index,
                                                             std::span<const double> requested,
                                                             std::span<const double> previous,
                                                             double delay_prob,
                                                             double slippage_bps) {
  if (!(std::isfinite(delay_prob) && delay_prob >= 0.0 && delay_prob <= 1.0)) {
    return support::err(ExecNoiseError{ExecNoiseError::Kind::kDelayProb, delay_prob});
  }
  if (!(std::isfinite(slippage_bps) && slippage_bps >= 0.0)) {
    return support::err(ExecNoiseError{ExecNoiseError::Kind::kSlippage, slippage_bps});
  }
  if (delay_prob == 0.0 && slippage_bps == 0.0) return copy_of(requested);

  support::SplitMix64 rng(seed ^ (step_index * kStepKey));
  // No delay draw when delay_prob is 0: the jitter then starts from the
  // stream's first output.
  if (delay_prob > 0.0) {
    double u0 = rng.next_f64();
    if (delay_prob > u0) return copy_of(previous);
  }
  if (slippage_bps == 0.0) return copy_of(requested);

  double s = slippage_bps / 10000.0;
  std::vector<double> realised;
  realised.reserve(requested.size());
  for (double w : requested) {
    double u = rng.next_f64();
    realised.push_back((((u + u) + (-1.0)) * s + 1.0) * w);
  }
  return realised;
}

}  // namespace corvane::exec_noise
