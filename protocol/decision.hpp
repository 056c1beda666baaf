#pragma once
// The decision an agent sends at each step: per-instrument orders, an optional
// rationale and an optional self-reported compute cost, read strictly from
// JSON text (object or positional array form).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/json_reader.hpp"
#include "support/result.hpp"

namespace talmoor_protocol {

// Variant order is part of the contract: "buy", "sell", "hold", "close".
enum class Action : std::uint8_t { kBuy, kSell, kHold, kClose };

std::string_view action_label(Action action);

struct Order {
  std::string symbol;
  Action action = Action::kHold;
  double target_weight = 0.0;
  double confidence = 0.5;  // stated conviction; not range-checked
  std::string rationale;

  friend bool operator==(const Order&, const Order&) = default;
};

struct DecisionCost {
  double cost_usd = 0.0;
  std::uint64_t tokens_in = 0;
  std::uint64_t tokens_out = 0;
  // Billed inside tokens_out; never added again to a token total.
  std::uint64_t reasoning_tokens = 0;

  friend bool operator==(const DecisionCost&, const DecisionCost&) = default;
};

struct Decision {
  std::vector<Order> orders;  // may be empty: a hold
  std::string reasoning;
  std::optional<DecisionCost> cost;  // JSON null and absence both mean none

  friend bool operator==(const Decision&, const Decision&) = default;
};

using ReadError = support::json::ReadError;

// Reads one decision from JSON text. The error's display() is the reader's
// message followed by " at line L column C".
[[nodiscard]] support::Result<Decision, ReadError> read_decision(std::string_view text);

// Reads one decision from an already parsed value (e.g. one element of a
// batch array).
[[nodiscard]] support::Result<Decision, ReadError> read_decision_value(
    const support::json::Value& value);

// Reads a JSON array of decisions, in order.
[[nodiscard]] support::Result<std::vector<Decision>, ReadError> read_decision_array(
    std::string_view text);

// The published JSON Schema (draft 2020-12) of the decision contract, exactly
// as stored: pretty-printed, 76 lines, final line feed.
std::string_view decision_schema_json();

}  // namespace talmoor_protocol
