#include "evaluation/market_orders.hpp"

#include <string>
#include <utility>

#include "support/json_fields.hpp"
#include "support/json_reader.hpp"

namespace corvane::market {
namespace {

using support::json::ReadError;
using support::json::Value;

support::CodedError invalid_json(const ReadError& e) {
  return support::CodedError{"INVALID_JSON", "invalid orders JSON: " + e.display()};
}

support::Result<OrderVectors, support::CodedError> parse_vectors(std::string_view text) {
  auto root = support::json::parse(text);
  if (!root.ok()) return support::err(invalid_json(root.error()));
  auto outer = support::json::read_array(root.value());
  if (!outer.ok()) return support::err(invalid_json(outer.error()));
  OrderVectors orders;
  orders.reserve(outer.value()->items.size());
  for (const Value& row : outer.value()->items) {
    auto inner = support::json::read_array(row);
    if (!inner.ok()) return support::err(invalid_json(inner.error()));
    std::vector<double> weights;
    weights.reserve(row.items.size());
    for (const Value& item : row.items) {
      auto w = support::json::read_f64(item);
      if (!w.ok()) return support::err(invalid_json(w.error()));
      weights.push_back(w.value());
    }
    orders.push_back(std::move(weights));
  }
  return orders;
}

}  // namespace

support::Result<OrderVectors, support::CodedError> read_order_vectors(std::string_view orders_json,
                                                                      std::size_t n_agents,
                                                                      std::size_t n_symbols) {
  auto orders = parse_vectors(orders_json);
  if (!orders.ok()) return orders;
  const OrderVectors& vectors = orders.value();
  if (vectors.size() != n_agents) {
    return support::err(support::CodedError{
        "INVALID_ARGUMENT", "expected " + std::to_string(n_agents) +
                                " agent order vectors, got " + std::to_string(vectors.size())});
  }
  for (std::size_t i = 0; i < vectors.size(); ++i) {
    if (vectors[i].size() != n_symbols) {
      return support::err(support::CodedError{
          "INVALID_ARGUMENT", "agent " + std::to_string(i) + " order vector has " +
                                  std::to_string(vectors[i].size()) + " weights, expected " +
                                  std::to_string(n_symbols)});
    }
  }
  return orders;
}

}  // namespace corvane::market
