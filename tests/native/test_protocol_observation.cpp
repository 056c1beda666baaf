#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "protocol/observation.hpp"

namespace {

using support::KeyOrder;
using talmoor_protocol::DeclaredMandate;
using talmoor_protocol::MarketObservation;
using talmoor_protocol::observation_json;

MarketObservation sample() {
  MarketObservation obs;
  obs.date = "2025-003";
  obs.cash = 1000000.0;
  talmoor_protocol::SymbolSnapshot a{"SYM00", {100.0, 101.5, 1.5e-7}, {}, {}};
  talmoor_protocol::SymbolSnapshot b{"SYM01", {}, {}, {"q\"1\n", "b"}};
  // Inserted out of order: written in ascending byte order ("Z" < "a").
  b.fundamentals.emplace("pe", 12.0);
  b.fundamentals.emplace("Zeta", -0.0);
  b.fundamentals.emplace("eps", 1e16);
  obs.symbols = {a, b};
  obs.portfolio = {{"SYM00", 0.0, 0.0}, {"SYM01", -2.5, 0.00001}};
  return obs;
}

TEST(ProtocolObservation, DeclaredOrder) {
  EXPECT_EQ(observation_json(sample()),
            R"({"date":"2025-003","cash":1000000.0,"symbols":[)"
            R"({"symbol":"SYM00","close_history":[100.0,101.5,1.5e-7],)"
            R"("fundamentals":{},"news":[]},)"
            R"({"symbol":"SYM01","close_history":[],"fundamentals":{"Zeta":-0.0,"eps":1e+16,)"
            R"("pe":12.0},"news":["q\"1\n","b"]}],"portfolio":[)"
            R"({"symbol":"SYM00","shares":0.0,"avg_price":0.0},)"
            R"({"symbol":"SYM01","shares":-2.5,"avg_price":0.00001}]})");
}

TEST(ProtocolObservation, SortedOrderAtEveryDepth) {
  EXPECT_EQ(observation_json(sample(), KeyOrder::kSorted),
            R"({"cash":1000000.0,"date":"2025-003","portfolio":[)"
            R"({"avg_price":0.0,"shares":0.0,"symbol":"SYM00"},)"
            R"({"avg_price":0.00001,"shares":-2.5,"symbol":"SYM01"}],"symbols":[)"
            R"({"close_history":[100.0,101.5,1.5e-7],"fundamentals":{},"news":[],)"
            R"("symbol":"SYM00"},)"
            R"({"close_history":[],"fundamentals":{"Zeta":-0.0,"eps":1e+16,"pe":12.0},)"
            R"("news":["q\"1\n","b"],"symbol":"SYM01"}]})");
}

TEST(ProtocolObservation, NonFiniteCashIsNullAndWriterNestsIntoALargerObject) {
  MarketObservation obs;
  obs.cash = 1e16;
  EXPECT_EQ(observation_json(obs), R"({"date":"","cash":1e+16,"symbols":[],"portfolio":[]})");
  obs.cash = std::numeric_limits<double>::quiet_NaN();
  std::string out;
  support::JsonWriter w(out);
  w.begin_array();
  talmoor_protocol::write_observation(w, obs, KeyOrder::kSorted);
  w.integer(1);
  w.end_array();
  EXPECT_EQ(out, R"([{"cash":null,"date":"","portfolio":[],"symbols":[]},1])");
}

TEST(ProtocolObservation, DeclaredMandateForms) {
  using namespace talmoor_protocol;
  struct Case {
    DeclaredMandate mandate;
    const char* declared;
    const char* sorted;
  };
  const Case cases[] = {
      {AbsoluteReturn{}, R"({"kind":"absolute_return"})", R"({"kind":"absolute_return"})"},
      {RelativeTo{"SPX"}, R"({"kind":"relative_to","benchmark_id":"SPX"})",
       R"({"benchmark_id":"SPX","kind":"relative_to"})"},
      {DrawdownCapped{0.2}, R"({"kind":"drawdown_capped","max_per_run_drawdown":0.2})",
       R"({"kind":"drawdown_capped","max_per_run_drawdown":0.2})"},
      {OutperformBuyAndHold{}, R"({"kind":"outperform_buy_and_hold"})",
       R"({"kind":"outperform_buy_and_hold"})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(declared_mandate_json(c.mandate), c.declared);
    EXPECT_EQ(declared_mandate_json(c.mandate, KeyOrder::kSorted), c.sorted);
  }
}

}  // namespace
