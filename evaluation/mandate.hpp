#pragma once
// Mandates: the investment brief an agent gets for a scenario (a style,
// optional drawdown and gross-exposure caps, an optional benchmark and the
// brief in words), the deterministic sampler that draws one from a seed, and
// the breach penalty of a recorded run against it (0 clean, 1 fully breached).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/json_reader.hpp"
#include "support/result.hpp"

namespace corvane::mandate {

// The ordinal is the sampler's index.
enum class MandateStyle { kLongOnly, kMarketNeutral, kMomentum, kUnconstrained, kPairsConvergence };

std::string_view style_label(MandateStyle style);
std::string_view style_text(MandateStyle style);

struct Mandate {
  MandateStyle style = MandateStyle::kUnconstrained;
  std::optional<double> max_drawdown;   // fraction of peak equity, valid in (0, 1]
  std::optional<double> max_inventory;  // gross exposure per bar, finite and > 0
  std::optional<std::string> benchmark;
  std::string text;
};

// The refusal of a run or a mandate that cannot be graded.
struct MandateError {
  enum class Kind { kReturn, kWeight, kMaxDrawdown, kMaxInventory };
  Kind kind;
  double value;
  std::size_t index = 0;     // the return's index, or the weight's bar
  std::size_t position = 0;  // the weight's position within its bar
  // A coded message, e.g.
  // "[INVALID_ARGUMENT] returns[3] is NaN; every per-bar return must be finite"
  std::string display() const;
};

// Never fails; the same arguments give the same mandate everywhere.
Mandate sample_mandate(std::uint64_t seed, std::size_t n_symbols, bool allow_short);

// The worst of the applicable breach terms, in [0, 1]. `returns` has one value
// per bar and `weights` one vector of target weights per bar; the two need not
// have the same length.
[[nodiscard]] support::Result<double, MandateError> mandate_breach(
    const Mandate& mandate, std::span<const double> returns,
    std::span<const std::vector<double>> weights);

// Compact JSON with the keys style, max_drawdown, max_inventory, benchmark,
// text (absent values as null).
std::string mandate_json(const Mandate& mandate);

// Reads a mandate object: "style" required; the caps and benchmark optional
// (null is absent); "text" optional (absent is ""); unknown and duplicate
// keys refused.
[[nodiscard]] support::Result<Mandate, support::json::ReadError> parse_mandate_json(
    std::string_view text);

}  // namespace corvane::mandate
