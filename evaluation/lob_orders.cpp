#include "evaluation/lob_orders.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/float_text.hpp"
#include "support/json_fields.hpp"

namespace corvane::lob_market {

using support::Result;
using support::json::Kind;
using support::json::Value;

namespace {

// An order is read by key like a dynamic JSON object: when a key repeats, the
// later value replaces the earlier one.
const Value* find_member(const Value& order, std::string_view key) {
  const Value* found = nullptr;
  for (const support::json::Member& m : order.members) {
    if (m.key == key) found = &m.value;
  }
  return found;
}

std::optional<std::uint64_t> u64_member(const Value& order, std::string_view key) {
  const Value* v = find_member(order, key);
  if (v == nullptr) return std::nullopt;
  auto r = support::json::read_u64(*v);
  if (!r.ok()) return std::nullopt;
  return r.value();
}

std::optional<std::int64_t> i64_member(const Value& order, std::string_view key) {
  const Value* v = find_member(order, key);
  if (v == nullptr) return std::nullopt;
  auto r = support::json::read_i64(*v);
  if (!r.ok()) return std::nullopt;
  return r.value();
}

std::string unknown_side_message(std::string_view label) {
  return "unknown side " + support::quote_label(label) + " (expected buy | sell)";
}

support::Result<Side, std::string> side_member(const Value& order) {
  const Value* v = find_member(order, "side");
  if (v == nullptr || v->kind != Kind::kString) {
    return support::err(std::string("invalid order: side"));
  }
  return side_from_label(v->text);
}

}  // namespace

support::Result<Side, std::string> side_from_label(std::string_view label) {
  std::optional<Side> side = parse_side(label);
  if (!side) return support::err(unknown_side_message(label));
  return *side;
}

// The checks run in a fixed order and the first failure decides the message.
support::Result<AgentOrder, std::string> to_agent_order(const Value& element) {
  auto refuse = [](const char* what) {
    return support::err(std::string("invalid order: ") + what);
  };
  if (element.kind != Kind::kObject) return refuse("agent");
  std::optional<std::uint64_t> agent = u64_member(element, "agent");
  if (!agent) return refuse("agent");
  const Value* kind = find_member(element, "kind");
  if (kind == nullptr || kind->kind != Kind::kString) return refuse("kind");

  AgentOrder order;
  order.agent = *agent;
  const std::string& label = kind->text;
  if (label == "limit" || label == "market") {
    auto side = side_member(element);
    if (!side.ok()) return support::err(side.error());
    std::optional<std::int64_t> price;
    if (label == "limit") {
      price = i64_member(element, "price_tick");
      if (!price) return refuse("price_tick");
    }
    std::optional<std::uint64_t> qty = u64_member(element, "qty");
    if (!qty) return refuse("qty");
    if (label == "limit") {
      order.kind = LimitOrder{side.value(), *price, *qty};
    } else {
      order.kind = MarketOrder{side.value(), *qty};
    }
  } else if (label == "cancel" || label == "modify") {
    std::optional<std::uint64_t> id = u64_member(element, "id");
    if (!id) return refuse("id");
    if (label == "cancel") {
      order.kind = CancelOrder{*id};
    } else {
      std::optional<std::uint64_t> new_qty = u64_member(element, "new_qty");
      if (!new_qty) return refuse("new_qty");
      order.kind = ModifyOrder{*id, *new_qty};
    }
  } else {
    return support::err("invalid order: unknown kind " + support::quote_label(label));
  }
  return order;
}

Result<std::vector<AgentOrder>, support::CodedError> read_agent_orders(
    std::string_view orders_json) {
  constexpr std::string_view kPrefix = "invalid orders JSON: ";
  auto parsed = support::json::parse(orders_json);
  if (!parsed.ok()) {
    return support::err(
        support::CodedError{"INVALID_JSON", std::string(kPrefix) + parsed.error().display()});
  }
  const Value& root = parsed.value();
  if (root.kind != Kind::kArray) {
    return support::err(support::CodedError{
        "INVALID_JSON",
        std::string(kPrefix) + support::json::type_error(root, "a sequence").display()});
  }
  std::vector<AgentOrder> orders;
  orders.reserve(root.items.size());
  for (const Value& element : root.items) {
    auto order = to_agent_order(element);
    if (!order.ok()) return support::err(support::CodedError{"INVALID_ARGUMENT", order.error()});
    orders.push_back(std::move(order.value()));
  }
  return orders;
}

}  // namespace corvane::lob_market
