#pragma once
// Flat agent orders read from JSON text: the whole batch is converted, with
// the first refusal's code and message, before anything touches a book.

#include <string>
#include <string_view>
#include <vector>

#include "evaluation/lob_market.hpp"
#include "support/coded_error.hpp"
#include "support/json_reader.hpp"
#include "support/result.hpp"

namespace corvane::lob_market {

// One element of a batch; the checks run in a fixed order and the first
// failure decides the message ("invalid order: agent", ...).
[[nodiscard]] support::Result<AgentOrder, std::string> to_agent_order(
    const support::json::Value& element);

// "buy" or "sell", else "unknown side \"x\" (expected buy | sell)".
[[nodiscard]] support::Result<Side, std::string> side_from_label(std::string_view label);

// A JSON array of flat orders: INVALID_JSON with "invalid orders JSON: ..."
// when the text is not an array, INVALID_ARGUMENT for a refused element.
[[nodiscard]] support::Result<std::vector<AgentOrder>, support::CodedError> read_agent_orders(
    std::string_view orders_json);

}  // namespace corvane::lob_market
