#pragma once
// What the two environment classes share at the boundary: the five cost
// overrides and raising a construction refusal under its own code.

#include <cstddef>
#include <utility>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "evaluation/env_config.hpp"
#include "support/result.hpp"

namespace bindings {

// fee_bps, slippage_bps, impact_bps, financing_bps, max_participation, as
// consecutive parameters starting at index `first`.
inline corvane::env_config::CostOverrides cost_overrides(const CallArgs& a, std::size_t first) {
  corvane::env_config::CostOverrides costs;
  costs.fee_bps = opt_f64(a, first);
  costs.slippage_bps = opt_f64(a, first + 1);
  costs.impact_bps = opt_f64(a, first + 2);
  costs.financing_bps = opt_f64(a, first + 3);
  costs.max_participation = opt_f64(a, first + 4);
  return costs;
}

template <class T>
T built_or_raise(support::Result<T, corvane::env_config::CodedError> built) {
  if (!built) raise_engine_err(built.error().code, built.error().message);
  return std::move(built.value());
}

}  // namespace bindings
