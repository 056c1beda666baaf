#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/decision.hpp"

namespace {

using talmoor_protocol::Action;
using talmoor_protocol::Decision;
using talmoor_protocol::DecisionCost;
using talmoor_protocol::Order;
using talmoor_protocol::read_decision;
using talmoor_protocol::read_decision_array;

Decision read_ok(const std::string& text) {
  auto r = read_decision(text);
  EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().display());
  return r.ok() ? r.value() : Decision{};
}

TEST(ProtocolDecision, EmptyOrdersIsAHoldWithDefaults) {
  Decision d = read_ok(R"({"orders":[]})");
  EXPECT_TRUE(d.orders.empty());
  EXPECT_EQ(d.reasoning, "");
  EXPECT_FALSE(d.cost.has_value());
}

TEST(ProtocolDecision, OrderDefaultsAndEveryActionLabel) {
  Decision d = read_ok(
      R"({"orders":[{"symbol":"A","action":"buy","target_weight":1},)"
      R"({"symbol":"B","action":"sell","target_weight":-0.5,"confidence":7.0,"rationale":"r"},)"
      R"({"symbol":"C","action":"hold","target_weight":0.0},)"
      R"({"symbol":"D","action":{"close":null},"target_weight":1000000}]})");
  ASSERT_EQ(d.orders.size(), 4u);
  EXPECT_EQ(d.orders[0], (Order{"A", Action::kBuy, 1.0, 0.5, ""}));
  EXPECT_EQ(d.orders[1], (Order{"B", Action::kSell, -0.5, 7.0, "r"}));
  EXPECT_EQ(d.orders[2], (Order{"C", Action::kHold, 0.0, 0.5, ""}));
  EXPECT_EQ(d.orders[3], (Order{"D", Action::kClose, 1000000.0, 0.5, ""}));
  EXPECT_EQ(talmoor_protocol::action_label(Action::kClose), "close");
}

TEST(ProtocolDecision, CostNullIsAbsentAndEmptyCostIsZeros) {
  EXPECT_FALSE(read_ok(R"({"orders":[],"cost":null})").cost.has_value());
  EXPECT_EQ(read_ok(R"({"orders":[],"cost":{}})").cost, DecisionCost{});
  EXPECT_EQ(read_ok(R"({"cost":{"cost_usd":2,"tokens_in":18446744073709551615,)"
                    R"("tokens_out":3,"reasoning_tokens":1},"orders":[]})")
                .cost,
            (DecisionCost{2.0, 18446744073709551615ull, 3, 1}));
}

TEST(ProtocolDecision, PositionalForms) {
  Decision d = read_ok(R"([[], "why"])");
  EXPECT_TRUE(d.orders.empty());
  EXPECT_EQ(d.reasoning, "why");
  Decision e = read_ok(R"([[["A","sell",0.25,0.9]], "", [0.5, 10]])");
  ASSERT_EQ(e.orders.size(), 1u);
  EXPECT_EQ(e.orders[0], (Order{"A", Action::kSell, 0.25, 0.9, ""}));
  EXPECT_EQ(e.cost, (DecisionCost{0.5, 10, 0, 0}));
}

TEST(ProtocolDecision, RefusalsCarryTheReaderTextAndPosition) {
  struct Case {
    const char* text;
    const char* display;
  };
  const Case cases[] = {
      {"{\"orders\":[],\n \"reasoning\":\"a\",\"reasoning\":\"b\"}",
       "duplicate field `reasoning` at line 2 column 18"},
      {R"({"orders":[{"symbol":"A","action":{"buy":null,"sell":null},"target_weight":0}]})",
       "expected an object with exactly one key at line 1 column 35"},
      {R"({"orders":[{"symbol":"A","action":{"Buy":null},"target_weight":0}]})",
       "unknown variant `Buy`, expected one of `buy`, `sell`, `hold`, `close` at line 1 column 36"},
      {R"({"orders":[],"cost":{"tokens_in":18446744073709551616}})",
       "invalid type: floating point `1.8446744073709552e+19`, expected u64 at line 1 column 34"},
      {R"([[],"",{},0])",
       "invalid length 4, expected struct Decision with 3 elements at line 1 column 11"},
      {R"("hold")", "invalid type: string \"hold\", expected struct Decision at line 1 column 1"},
  };
  for (const Case& c : cases) {
    auto r = read_decision(c.text);
    ASSERT_FALSE(r.ok()) << c.text;
    EXPECT_EQ(r.error().display(), c.display) << c.text;
  }
}

TEST(ProtocolDecision, ArrayOfDecisionsKeepsOrderAndStopsAtFirstError) {
  auto batch = read_decision_array(R"([{"orders":[]},[[],"second"]])");
  ASSERT_TRUE(batch.ok());
  ASSERT_EQ(batch.value().size(), 2u);
  EXPECT_EQ(batch.value()[1].reasoning, "second");
  auto bad = read_decision_array(R"([{"orders":[]},{}])");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error().display(), "missing field `orders` at line 1 column 17");
  auto not_array = read_decision_array("{}");
  ASSERT_FALSE(not_array.ok());
  EXPECT_EQ(not_array.error().display(),
            "invalid type: map, expected a sequence at line 1 column 1");
}

}  // namespace
