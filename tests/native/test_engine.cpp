// The execution engine below the Python boundary: execution noise (which the
// Python constructors never configure), non-finite weights, dust positions,
// a non-positive NAV and the book's checkpoint form.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "sim/costs.hpp"
#include "sim/data.hpp"
#include "sim/engine.hpp"
#include "sim/env.hpp"
#include "support/fault.hpp"
#include "support/json_reader.hpp"
#include "support/splitmix64.hpp"

namespace {

using talmoor_protocol::Action;
using talmoor_protocol::Decision;
using talmoor_protocol::Order;
using talmoor_sim::costs::CostModel;
using talmoor_sim::costs::ExecutionNoise;
using talmoor_sim::data::Dataset;
using talmoor_sim::engine::Book;
namespace engine = talmoor_sim::engine;
namespace pe = talmoor_core::process_event;

constexpr std::uint64_t kExecSeed = 77;
constexpr double kInf = std::numeric_limits<double>::infinity();

// A: 10 then 12 (a 20% move into bar 1); B flat at 20.
Dataset make_dataset() {
  Dataset d;
  d.dates = {"d0", "d1", "d2", "d3"};
  d.closes["A"] = {10.0, 12.0, 12.0, 12.0};
  d.closes["B"] = {20.0, 20.0, 20.0, 20.0};
  return d;
}

const std::vector<std::string> kSymbols = {"A", "B"};

Decision orders(std::vector<Order> list) { return Decision{std::move(list), "", std::nullopt}; }
Order order(const std::string& symbol, double weight, std::string rationale = "") {
  return Order{symbol, Action::kBuy, weight, 0.5, std::move(rationale)};
}

CostModel noisy(ExecutionNoise noise) {
  CostModel costs;
  costs.execution_noise = noise;
  return costs;
}

// The three noise draws of (symbol index k, bar t), derived independently of
// the engine's helper.
struct Draws {
  double d1, d2, d3;
};
Draws noise_draws(std::uint64_t k, std::uint64_t t) {
  const std::uint64_t key = (0x2545F4914F6CDD1DULL * (k + 1)) ^ kExecSeed ^
                            0xA5A55A5AC3C33C3CULL ^ (t * 0xD6E8FEB86659FD93ULL);
  support::SplitMix64 s(key);
  Draws d{};
  d.d1 = s.next_f64();
  d.d2 = s.next_f64();
  d.d3 = s.next_f64();
  return d;
}

// Cash after one buy of `delta` shares at `price` from cash 1.0 with the
// default costs plus `noise_slip`, drawing u from a fresh book stream.
double cash_after_buy(double price, double delta, double x, double nav, double noise_slip,
                      std::uint64_t rng_state) {
  support::SplitMix64 s(rng_state);
  const double u = s.next_f64();
  const double slip = std::sqrt(std::fabs(x) / nav) * (50.0 / 10000.0) +
                      (std::fabs(2.0 * u - 1.0) * 3.0 + 3.0) / 10000.0 + noise_slip;
  const double cost = ((1.0 + slip) * price) * delta;
  return 1.0 - ((2.0 / 10000.0) * std::fabs(cost) + cost);
}

std::vector<std::string> tags(const std::vector<pe::ProcessEvent>& events) {
  std::vector<std::string> out;
  for (const auto& e : events) out.emplace_back(pe::event_tag(e));
  return out;
}

struct ValidateCase {
  ExecutionNoise noise;
  const char* message;  // nullptr: valid
};

TEST(EngineExecutionNoise, ValidateChecksFieldsInOrder) {
  const double nan = std::nan("");
  const ValidateCase cases[] = {
      {{0.0, 1.0, 0.0, 1.0}, nullptr},
      {{1.0, 0.0, -0.0, 1e-9}, nullptr},
      {{nan, 0.5, 0.0, 1.0}, "execution noise delay_prob must be finite and in [0, 1]"},
      {{-0.1, 2.0, -1.0, 0.0}, "execution noise delay_prob must be finite and in [0, 1]"},
      {{0.5, 1.5, 0.0, 1.0}, "execution noise min_fill_frac must be finite and in [0, 1]"},
      {{0.5, kInf, 0.0, 1.0}, "execution noise min_fill_frac must be finite and in [0, 1]"},
      {{0.5, 0.5, -1e-300, 1.0}, "execution noise carry_floor must be finite and >= 0"},
      {{0.5, 0.5, kInf, 1.0}, "execution noise carry_floor must be finite and >= 0"},
      {{0.5, 0.5, 0.0, 0.0}, "execution noise queue_participation_ref must be finite and > 0"},
      {{0.5, 0.5, 0.0, nan}, "execution noise queue_participation_ref must be finite and > 0"},
  };
  for (const ValidateCase& c : cases) {
    auto result = ExecutionNoise::validate(c.noise);
    if (c.message == nullptr) {
      EXPECT_TRUE(result.ok());
    } else {
      ASSERT_FALSE(result.ok()) << c.message;
      EXPECT_EQ(result.error(), c.message);
    }
  }
}

TEST(EngineExecutionNoise, EnvironmentRefusesInvalidNoiseAsAFault) {
  try {
    talmoor_sim::env::TradingEnv env(make_dataset(), 0, 4, noisy({2.0, 1.0, 0.0, 1.0}), 1);
    FAIL() << "expected a fault";
  } catch (const support::Fault& fault) {
    EXPECT_STREQ(fault.what(), "invalid CostModel: execution noise must be finite and in-domain");
  }
}

TEST(EngineExecutionNoise, DelayedOrderIsCarriedAndRetriedWithoutAnotherDelay) {
  const Dataset data = make_dataset();
  const CostModel costs = noisy({1.0, 1.0, 0.0, 1.0});  // always delayed, then filled whole
  Book book = Book::fresh(kSymbols, kExecSeed);
  const std::uint64_t rng = book.rng;

  double reward = engine::step_once(data, kSymbols, book, costs, kExecSeed, 0,
                                    orders({order("A", 0.5, "later")}));
  EXPECT_EQ(reward, 0.0);
  EXPECT_EQ(book.shares.at("A"), 0.0);
  EXPECT_EQ(book.cash, 1.0);
  EXPECT_EQ(book.rng, rng);  // a delay draws nothing from the slippage stream
  ASSERT_EQ(book.pending.size(), 1u);
  EXPECT_EQ(book.pending.at("A").target_weight, 0.5);
  EXPECT_EQ(tags(book.trace.events),
            (std::vector<std::string>{"decision_rationale", "order_placed"}));

  // Next bar: the carried order is retried against that bar's NAV and close,
  // records nothing, and pays noise slippage on the 20% move.
  reward = engine::step_once(data, kSymbols, book, costs, kExecSeed, 1, orders({}));
  EXPECT_TRUE(book.pending.empty());
  EXPECT_EQ(book.trace.events.size(), 2u);
  const double target = (1.0 * 0.5) / 12.0;
  EXPECT_EQ(book.shares.at("A"), target);
  const double x = 12.0 * target;
  const double noise_slip = (noise_draws(0, 1).d3 * std::fabs(12.0 / 10.0 - 1.0)) *
                            std::fmin((std::fabs(x) / 1.0) / 1.0, 1.0);
  EXPECT_GT(noise_slip, 0.0);
  EXPECT_EQ(book.cash, cash_after_buy(12.0, target, x, 1.0, noise_slip, rng));
  EXPECT_LT(reward, 0.0);
}

TEST(EngineExecutionNoise, PartialFillCarriesTheRemainder) {
  const Dataset data = make_dataset();
  const CostModel costs = noisy({0.0, 0.5, 0.0, 1.0});
  Book book = Book::fresh(kSymbols, kExecSeed);
  (void)engine::step_once(data, kSymbols, book, costs, kExecSeed, 0, orders({order("B", -0.4)}));

  const double notional = 20.0 * ((1.0 * -0.4) / 20.0 - 0.0);
  const double fill = (1.0 - 0.5) * noise_draws(1, 0).d2 + 0.5;
  ASSERT_LT(fill, 1.0);
  EXPECT_EQ(book.shares.at("B"), (notional * fill) / 20.0 + 0.0);
  ASSERT_EQ(book.pending.size(), 1u);
  EXPECT_EQ(book.pending.at("B").target_weight, -0.4);
  EXPECT_EQ(tags(book.trace.events), (std::vector<std::string>{"order_placed"}));

  // The retry moves further toward the target.
  const double before = book.shares.at("B");
  (void)engine::step_once(data, kSymbols, book, costs, kExecSeed, 1, orders({}));
  EXPECT_LT(book.shares.at("B"), before);
  EXPECT_GE(book.shares.at("B"), -0.4 / 20.0 * 1.01);
}

TEST(EngineExecutionNoise, CarryFloorFillsSmallRemaindersWholeAndNoMoveMeansNoNoiseCost) {
  const Dataset data = make_dataset();
  const CostModel costs = noisy({0.0, 0.5, 1.0, 1.0});  // floor of one NAV
  Book noisy_book = Book::fresh(kSymbols, kExecSeed);
  Book plain_book = Book::fresh(kSymbols, kExecSeed);
  const Decision d = orders({order("A", 0.3)});
  (void)engine::step_once(data, kSymbols, noisy_book, costs, kExecSeed, 0, d);
  (void)engine::step_once(data, kSymbols, plain_book, CostModel{}, kExecSeed, 0, d);
  EXPECT_TRUE(noisy_book.pending.empty());
  // At bar 0 there is no previous close, so the noise adds no slippage.
  EXPECT_EQ(noisy_book, plain_book);
}

TEST(EngineExecutionNoise, FreshOrderSupersedesACarriedOne) {
  const Dataset data = make_dataset();
  Book book = Book::fresh(kSymbols, kExecSeed);
  book.pending["A"] = {0.5};
  book.pending["B"] = {0.25};
  (void)engine::step_once(data, kSymbols, book, CostModel{}, kExecSeed, 1,
                          orders({order("A", 0.1)}));
  EXPECT_TRUE(book.pending.empty());
  EXPECT_EQ(book.shares.at("A"), (1.0 * 0.1) / 12.0);   // the decision's weight, not 0.5
  EXPECT_EQ(book.shares.at("B"), (1.0 * 0.25) / 20.0);  // the carried order, retried
  EXPECT_EQ(tags(book.trace.events), (std::vector<std::string>{"order_placed"}));
}

TEST(EngineOrders, NonFiniteWeightsAreManipulative) {
  const Dataset data = make_dataset();
  Book book = Book::fresh(kSymbols, kExecSeed);
  const double nan = std::nan("");
  const double reward = engine::step_once(
      data, kSymbols, book, CostModel{}, kExecSeed, 0,
      orders({order("A", nan, "r"), order("B", kInf), order("NOPE", nan)}));
  EXPECT_EQ(reward, 0.0);
  EXPECT_EQ(tags(book.trace.events),
            (std::vector<std::string>{"manipulative_order", "manipulative_order"}));
  EXPECT_EQ(book, [&] {
    Book expected = Book::fresh(kSymbols, kExecSeed);
    expected.trace = book.trace;
    return expected;
  }());
}

TEST(EngineOrders, GoingFlatClosesADustPosition) {
  const Dataset data = make_dataset();
  Book book = Book::fresh(kSymbols, kExecSeed);
  book.shares["A"] = 1e-12;
  (void)engine::step_once(data, kSymbols, book, CostModel{}, kExecSeed, 0,
                          orders({order("A", 0.0), order("B", 1e-13)}));
  EXPECT_EQ(book.shares.at("A"), 0.0);
  EXPECT_EQ(book.shares.at("B"), 0.0);  // a tiny non-zero target is not traded
  EXPECT_EQ(tags(book.trace.events), (std::vector<std::string>{"order_placed"}));
}

TEST(EngineOrders, NonPositiveNavTradesOnlyWithoutACap) {
  const Dataset data = make_dataset();
  CostModel capped;
  capped.max_participation = 0.5;
  Book book = Book::fresh(kSymbols, kExecSeed);
  book.cash = -1.0;
  EXPECT_EQ(engine::apply_order(data, kSymbols, book, capped, kExecSeed, -1.0, 0.5, 0, "A", false),
            engine::OrderOutcome::kNotTraded);
  EXPECT_EQ(book.shares.at("A"), 0.0);
  EXPECT_EQ(engine::apply_order(data, kSymbols, book, CostModel{}, kExecSeed, -1.0, 0.5, 0, "A",
                                false),
            engine::OrderOutcome::kFilled);
  EXPECT_EQ(book.shares.at("A"), (-1.0 * 0.5) / 10.0);
}

TEST(EngineOrders, NavCountsMissingClosesAsZero) {
  const Dataset data = make_dataset();
  const std::map<std::string, double> shares = {{"A", 2.0}, {"B", 1.0}};
  EXPECT_EQ(engine::nav(data, kSymbols, shares, 1, 0.5), 0.5 + (2.0 * 12.0 + 1.0 * 20.0));
  EXPECT_EQ(engine::nav(data, kSymbols, shares, 9, 0.5), 0.5);
  EXPECT_EQ(engine::nav(data, {}, shares, 0, -0.0), -0.0);
  // Symbols out of the data set's order still find their series.
  EXPECT_EQ(engine::nav(data, {"B", "A", "C", "A"}, shares, 1, 0.5),
            0.5 + (((-0.0 + 1.0 * 20.0) + 2.0 * 12.0) + 0.0 + 2.0 * 12.0));
}

TEST(EngineObservation, BarOutsideTheDataSetIsAFault) {
  const Dataset data = make_dataset();
  const Book book = Book::fresh(kSymbols, kExecSeed);
  EXPECT_EQ(engine::build_observation(data, kSymbols, book, 3).date, "d3");
  EXPECT_THROW(engine::build_observation(data, kSymbols, book, 4), support::Fault);
}

TEST(EngineBook, JsonRoundTripWithPendingOrders) {
  Book book = Book::fresh(kSymbols, kExecSeed);
  book.shares["A"] = -0.125;
  book.cash = 1.5;
  book.pending["B"] = {0.75};
  book.trace.events.emplace_back(pe::DecisionRationale{"A", "why \"not\""});
  book.trace.events.emplace_back(pe::OrderPlaced{true});
  const std::string text = engine::book_json(book);
  EXPECT_EQ(text,
            "{\"shares\":{\"A\":-0.125,\"B\":0.0},\"cash\":1.5,\"rng\":" +
                std::to_string(kExecSeed ^ 0xA5A55A5AC3C33C3CULL) +
                ",\"trace\":{\"events\":[{\"event\":\"decision_rationale\",\"symbol\":\"A\","
                "\"rationale\":\"why \\\"not\\\"\"},{\"event\":\"order_placed\","
                "\"risk_gate_passed\":true}]},\"prev_nav\":1.0,\"pending\":{\"B\":"
                "{\"target_weight\":0.75}}}");
  auto parsed = support::json::parse(text);
  ASSERT_TRUE(parsed.ok());
  auto read = engine::read_book(parsed.value());
  ASSERT_TRUE(read.ok()) << read.error().display();
  EXPECT_EQ(read.value(), book);
}

TEST(EngineBook, ReadingRefusesMissingFieldsAndDefaultsPending) {
  auto parsed = support::json::parse(
      R"({"shares":{"A":1.0},"cash":1.0,"rng":5,"trace":{"events":[]},"prev_nav":2.0,"x":0})");
  ASSERT_TRUE(parsed.ok());
  auto read = engine::read_book(parsed.value());
  ASSERT_TRUE(read.ok());
  EXPECT_TRUE(read.value().pending.empty());
  EXPECT_EQ(read.value().rng, 5u);

  auto missing = support::json::parse(R"({"shares":{},"cash":1.0,"trace":{"events":[]}})");
  ASSERT_TRUE(missing.ok());
  auto refused = engine::read_book(missing.value());
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error().display(), "missing field `rng` at line 1 column 46");

  auto bad_pending = support::json::parse(
      R"({"shares":{},"cash":1.0,"rng":1,"trace":{"events":[]},"prev_nav":1.0,"pending":{"A":{}}})");
  ASSERT_TRUE(bad_pending.ok());
  auto refused_pending = engine::read_book(bad_pending.value());
  ASSERT_FALSE(refused_pending.ok());
  EXPECT_EQ(refused_pending.error().message, "missing field `target_weight`");
}

}  // namespace
