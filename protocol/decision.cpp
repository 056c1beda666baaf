#include "protocol/decision.hpp"

#include <array>
#include <utility>

#include "support/json_fields.hpp"

namespace talmoor_protocol {

namespace json = support::json;
using support::err;
using support::Result;

namespace {

constexpr std::array<std::string_view, 4> kActionLabels = {"buy", "sell", "hold", "close"};

constexpr std::array<json::FieldSpec, 3> kDecisionFields = {{
    {"orders", true},
    {"reasoning", false},
    {"cost", false},
}};
constexpr json::RecordSpec kDecisionSpec{"Decision", kDecisionFields};

constexpr std::array<json::FieldSpec, 5> kOrderFields = {{
    {"symbol", true},
    {"action", true},
    {"target_weight", true},
    {"confidence", false},
    {"rationale", false},
}};
constexpr json::RecordSpec kOrderSpec{"Order", kOrderFields};

constexpr std::array<json::FieldSpec, 4> kCostFields = {{
    {"cost_usd", false},
    {"tokens_in", false},
    {"tokens_out", false},
    {"reasoning_tokens", false},
}};
constexpr json::RecordSpec kCostSpec{"DecisionCost", kCostFields};

// Reads an optional field into `out` when present; the first error wins.
template <class T, class ReadFn>
bool read_optional(const json::Value* slot, ReadFn read, T& out, ReadError& error) {
  if (slot == nullptr) return true;
  auto r = read(*slot);
  if (!r.ok()) {
    error = std::move(r.error());
    return false;
  }
  out = std::move(r.value());
  return true;
}

Result<Action, ReadError> read_action(const json::Value& v) {
  auto index = json::read_label(v, kActionLabels, /*allow_object_form=*/true);
  if (!index.ok()) return err(std::move(index.error()));
  return static_cast<Action>(index.value());
}

Result<DecisionCost, ReadError> read_cost(const json::Value& v) {
  auto slots = json::bind_record(v, kCostSpec);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  DecisionCost cost;
  ReadError error;
  if (!read_optional(s[0], json::read_f64, cost.cost_usd, error) ||
      !read_optional(s[1], json::read_u64, cost.tokens_in, error) ||
      !read_optional(s[2], json::read_u64, cost.tokens_out, error) ||
      !read_optional(s[3], json::read_u64, cost.reasoning_tokens, error)) {
    return err(std::move(error));
  }
  return cost;
}

Result<Order, ReadError> read_order(const json::Value& v) {
  auto slots = json::bind_record(v, kOrderSpec);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  Order order;
  ReadError error;
  if (!read_optional(s[0], json::read_string, order.symbol, error) ||
      !read_optional(s[1], read_action, order.action, error) ||
      !read_optional(s[2], json::read_f64, order.target_weight, error) ||
      !read_optional(s[3], json::read_f64, order.confidence, error) ||
      !read_optional(s[4], json::read_string, order.rationale, error)) {
    return err(std::move(error));
  }
  return order;
}

Result<std::vector<Order>, ReadError> read_orders(const json::Value& v) {
  auto array = json::read_array(v);
  if (!array.ok()) return err(std::move(array.error()));
  std::vector<Order> orders;
  orders.reserve(v.items.size());
  for (const json::Value& item : v.items) {
    auto order = read_order(item);
    if (!order.ok()) return err(std::move(order.error()));
    orders.push_back(std::move(order.value()));
  }
  return orders;
}

}  // namespace

std::string_view action_label(Action action) {
  return kActionLabels[static_cast<std::size_t>(action)];
}

Result<Decision, ReadError> read_decision_value(const json::Value& value) {
  auto slots = json::bind_record(value, kDecisionSpec);
  if (!slots.ok()) return err(std::move(slots.error()));
  const json::FieldSlots& s = slots.value();
  Decision decision;
  ReadError error;
  if (!read_optional(s[0], read_orders, decision.orders, error) ||
      !read_optional(s[1], json::read_string, decision.reasoning, error)) {
    return err(std::move(error));
  }
  // A JSON null cost means "not reported", like an absent key.
  if (s[2] != nullptr && s[2]->kind != json::Kind::kNull) {
    auto cost = read_cost(*s[2]);
    if (!cost.ok()) return err(std::move(cost.error()));
    decision.cost = cost.value();
  }
  return decision;
}

Result<Decision, ReadError> read_decision(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed.ok()) return err(std::move(parsed.error()));
  return read_decision_value(parsed.value());
}

Result<std::vector<Decision>, ReadError> read_decision_array(std::string_view text) {
  auto parsed = json::parse(text);
  if (!parsed.ok()) return err(std::move(parsed.error()));
  const json::Value& root = parsed.value();
  auto array = json::read_array(root);
  if (!array.ok()) return err(std::move(array.error()));
  std::vector<Decision> decisions;
  decisions.reserve(root.items.size());
  for (const json::Value& item : root.items) {
    auto decision = read_decision_value(item);
    if (!decision.ok()) return err(std::move(decision.error()));
    decisions.push_back(std::move(decision.value()));
  }
  return decisions;
}

}  // namespace talmoor_protocol
