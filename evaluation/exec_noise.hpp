#pragma once
// Execution noise for a requested action (a vector of target weights), in the
// manner of sticky actions: with probability delay_prob the previous action
// runs instead (the order lands a bar late), otherwise each weight is scaled
// by its own bounded jitter of half-width slippage_bps basis points. The draws
// are keyed on (seed, step_index) alone, so a call never depends on earlier
// calls.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/result.hpp"

namespace corvane::exec_noise {

// The refusal of an out-of-range setting; both are reported benchmark
// settings, so they are never clamped.
struct ExecNoiseError {
  enum class Kind { kDelayProb, kSlippage };
  Kind kind;
  double value;
  // "[INVALID_ARGUMENT] delay_prob 1.5 is outside the finite range [0, 1]"
  // "[INVALID_ARGUMENT] slippage_bps -1 is negative or not finite"
  std::string display() const;
};

// The executed action; the inputs are not changed. A delayed result has the
// length of `previous`, whatever the length of `requested`.
[[nodiscard]] support::Result<std::vector<double>, ExecNoiseError> perturb(
    std::uint64_t seed, std::uint64_t step_index, std::span<const double> requested,
    std::span<const double> previous, double delay_prob, double slippage_bps);

}  // namespace corvane::exec_noise
