#pragma once
// The agents' order vectors read from JSON text and checked against the
// market's shape, before a bar is cleared.

#include <cstddef>
#include <string_view>
#include <vector>

#include "support/coded_error.hpp"
#include "support/result.hpp"

namespace corvane::market {

using OrderVectors = std::vector<std::vector<double>>;

// An array of arrays of numbers (integers taken as floats), one vector per
// agent with one weight per symbol: INVALID_JSON "invalid orders JSON: ..."
// when the text is not of that form, INVALID_ARGUMENT when the count or a
// vector's length is wrong.
[[nodiscard]] support::Result<OrderVectors, support::CodedError> read_order_vectors(
    std::string_view orders_json, std::size_t n_agents, std::size_t n_symbols);

}  // namespace corvane::market
