#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "scoring/process_event.hpp"

namespace {

using support::KeyOrder;
namespace pe = talmoor_core::process_event;
using pe::ProcessEvent;
using pe::Trace;

// One sample of every variant, every phase and both subjects, with and
// without a client key.
std::vector<ProcessEvent> every_variant() {
  std::vector<ProcessEvent> events = {
      pe::OrderPlaced{true},         pe::OrderPlaced{false},       pe::DrawdownHalt{true},
      pe::DrawdownHalt{false},       pe::DenylistBypass{},         pe::ConcentrationBreach{},
      pe::ManipulativeOrder{},       pe::TailSellingExposure{true}, pe::TailSellingExposure{false},
      pe::DecisionRationale{"SYM0", "contract \"sample\"\n"},
  };
  const std::vector<pe::Phase> phases = {
      pe::phase::Observation{},          pe::phase::Decision{},
      pe::phase::RiskEvaluation{false},  pe::phase::RiskEvaluation{true},
      pe::phase::Submission{"o-1"},      pe::phase::Acknowledgment{"o-2"},
      pe::phase::AcknowledgmentUnobserved{"o-3"}, pe::phase::Fill{"o-4"},
      pe::phase::Reconciliation{""},
  };
  for (const pe::Phase& p : phases) {
    events.push_back(pe::Lifecycle{{pe::Subject::instrument("SYM0"), p, std::nullopt}});
    events.push_back(pe::Lifecycle{{pe::Subject::position("SYM1"), p, "k-9"}});
  }
  return events;
}

ProcessEvent read_ok(const std::string& text) {
  auto r = pe::read_process_event_json(text);
  EXPECT_TRUE(r.ok()) << text << ": " << (r.ok() ? "" : r.error().display());
  return r.ok() ? r.value() : ProcessEvent{};
}

std::string read_error(const std::string& text) {
  auto r = pe::read_process_event_json(text);
  EXPECT_FALSE(r.ok()) << text;
  return r.ok() ? "" : r.error().display();
}

TEST(ProcessEventJson, RoundTripOfEveryVariantThroughBothPaths) {
  const Trace trace{every_variant()};
  for (KeyOrder order : {KeyOrder::kDeclared, KeyOrder::kSorted}) {
    for (const ProcessEvent& e : trace.events) {
      EXPECT_EQ(read_ok(pe::process_event_json(e, order)), e) << pe::process_event_json(e, order);
    }
    auto back = pe::read_trace_json(pe::trace_json(trace, order));
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value(), trace);
  }
}

TEST(ProcessEventJson, BothPathsWriteTheDocumentedForms) {
  struct Case {
    ProcessEvent event;
    const char* declared;
    const char* sorted;
  };
  const Case cases[] = {
      {pe::OrderPlaced{true}, R"({"event":"order_placed","risk_gate_passed":true})",
       R"({"event":"order_placed","risk_gate_passed":true})"},
      {pe::DenylistBypass{}, R"({"event":"denylist_bypass"})", R"({"event":"denylist_bypass"})"},
      {pe::TailSellingExposure{false}, R"({"event":"tail_selling_exposure","hedged":false})",
       R"({"event":"tail_selling_exposure","hedged":false})"},
      {pe::DecisionRationale{"SYM0", "contract sample"},
       R"({"event":"decision_rationale","symbol":"SYM0","rationale":"contract sample"})",
       R"({"event":"decision_rationale","rationale":"contract sample","symbol":"SYM0"})"},
      {pe::Lifecycle{{pe::Subject::instrument("SYM0"), pe::phase::Fill{"o-1"}, "k"}},
       R"({"event":"lifecycle","subject":{"Instrument":"SYM0"},)"
       R"("phase":{"phase":"fill","order":"o-1"},"client_key":"k"})",
       R"({"client_key":"k","event":"lifecycle","phase":{"order":"o-1","phase":"fill"},)"
       R"("subject":{"Instrument":"SYM0"}})"},
      {pe::Lifecycle{{pe::Subject::instrument("SYM0"), pe::phase::Observation{}, std::nullopt}},
       R"({"event":"lifecycle","subject":{"Instrument":"SYM0"},"phase":{"phase":"observation"}})",
       R"({"event":"lifecycle","phase":{"phase":"observation"},"subject":{"Instrument":"SYM0"}})"},
      {pe::Lifecycle{{pe::Subject::position("S"), pe::phase::RiskEvaluation{false}, std::nullopt}},
       R"({"event":"lifecycle","subject":{"Position":"S"},)"
       R"("phase":{"phase":"risk_evaluation","passed":false}})",
       R"({"event":"lifecycle","phase":{"passed":false,"phase":"risk_evaluation"},)"
       R"("subject":{"Position":"S"}})"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(pe::process_event_json(c.event, KeyOrder::kDeclared), c.declared);
    EXPECT_EQ(pe::process_event_json(c.event, KeyOrder::kSorted), c.sorted);
  }
  EXPECT_EQ(pe::trace_json(Trace{{pe::ConcentrationBreach{}}}, KeyOrder::kDeclared),
            R"({"events":[{"event":"concentration_breach"}]})");
  EXPECT_EQ(pe::trace_json(Trace{}, KeyOrder::kSorted), R"({"events":[]})");
  std::string out;
  support::JsonWriter w(out);
  pe::write_lifecycle_step(w, {pe::Subject::position("S"), pe::phase::Decision{}, "c"},
                           KeyOrder::kDeclared);
  EXPECT_EQ(out, R"({"subject":{"Position":"S"},"phase":{"phase":"decision"},"client_key":"c"})");
}

TEST(ProcessEventJson, StandaloneLifecycleStepPhaseAndSubjectRoundTrip) {
  const pe::LifecycleStep steps[] = {
      {pe::Subject::position("P"), pe::phase::Acknowledgment{"a"}, "ck"},
      {pe::Subject::instrument("I"), pe::phase::RiskEvaluation{true}, std::nullopt},
  };
  for (KeyOrder order : {KeyOrder::kDeclared, KeyOrder::kSorted}) {
    for (const pe::LifecycleStep& step : steps) {
      std::string text;
      support::JsonWriter w(text);
      pe::write_lifecycle_step(w, step, order);
      auto parsed = support::json::parse(text);
      ASSERT_TRUE(parsed.ok());
      auto back = pe::read_lifecycle_step(parsed.value());
      ASSERT_TRUE(back.ok()) << text;
      EXPECT_EQ(back.value(), step) << text;
    }
  }
  auto phase = support::json::parse(R"(["reconciliation","o-7"])");
  ASSERT_TRUE(phase.ok());
  auto read = pe::read_phase(phase.value());
  ASSERT_TRUE(read.ok());
  EXPECT_EQ(read.value(), pe::Phase(pe::phase::Reconciliation{"o-7"}));
  EXPECT_EQ(pe::phase_tag(read.value()), "reconciliation");
  auto two_keys = support::json::parse(R"({"Instrument":"A","Position":"B"})");
  ASSERT_TRUE(two_keys.ok());
  auto subject = pe::read_subject(two_keys.value());
  ASSERT_FALSE(subject.ok());
  EXPECT_EQ(subject.error().display(),
            "expected an object with exactly one key at line 1 column 1");
}

TEST(ProcessEventJson, ReaderIsTolerantWhereItShouldBe) {
  // Tag anywhere among the keys, unknown extra keys ignored, null client key.
  EXPECT_EQ(read_ok(R"({"risk_gate_passed":true,"event":"order_placed"})"),
            ProcessEvent(pe::OrderPlaced{true}));
  EXPECT_EQ(read_ok(R"({"severity":"block","event":"denylist_bypass","note":[1,{}]})"),
            ProcessEvent(pe::DenylistBypass{}));
  EXPECT_EQ(read_ok(R"({"subject":{"Position":"X"},"client_key":null,"x":1,)"
                    R"("phase":{"order":"o","phase":"submission","extra":true},)"
                    R"("event":"lifecycle"})"),
            ProcessEvent(pe::Lifecycle{{pe::Subject::position("X"), pe::phase::Submission{"o"},
                                        std::nullopt}}));
  // The array form: tag first, then the fields in declaration order.
  EXPECT_EQ(read_ok(R"(["drawdown_halt", false])"), ProcessEvent(pe::DrawdownHalt{false}));
  EXPECT_EQ(read_ok(R"(["decision_rationale","A","r"])"),
            ProcessEvent(pe::DecisionRationale{"A", "r"}));
  EXPECT_EQ(read_ok(R"(["lifecycle",{"Instrument":"A"},["fill","o-1"],"k"])"),
            ProcessEvent(
                pe::Lifecycle{{pe::Subject::instrument("A"), pe::phase::Fill{"o-1"}, "k"}}));
  EXPECT_EQ(read_ok(R"(["manipulative_order"])"), ProcessEvent(pe::ManipulativeOrder{}));
}

TEST(ProcessEventJson, ReaderRefusals) {
  struct Case {
    const char* text;
    const char* display;
  };
  const Case cases[] = {
      {R"({"event":"order_cancelled"})",
       "unknown variant `order_cancelled`, expected one of `order_placed`, `drawdown_halt`, "
       "`denylist_bypass`, `concentration_breach`, `manipulative_order`, "
       "`tail_selling_exposure`, `decision_rationale`, `lifecycle` at line 1 column 10"},
      {R"({"event":"lifecycle","subject":{"Instrument":"A"},)"
       R"("phase":{"phase":"filled","order":"o"}})",
       "unknown variant `filled`, expected one of `observation`, `decision`, `risk_evaluation`, "
       "`submission`, `acknowledgment`, `acknowledgment_unobserved`, `fill`, `reconciliation` "
       "at line 1 column 68"},
      {R"({"event":"lifecycle","subject":{"Symbol":"A"},"phase":{"phase":"decision"}})",
       "unknown variant `Symbol`, expected `Instrument` or `Position` at line 1 column 33"},
      {R"({"risk_gate_passed":true})", "missing field `event` at line 1 column 25"},
      {R"({"event":"order_placed"})", "missing field `risk_gate_passed` at line 1 column 24"},
      {R"({"event":"decision_rationale","symbol":"A"})",
       "missing field `rationale` at line 1 column 43"},
      {R"({"event":"lifecycle","phase":{"phase":"decision"}})",
       "missing field `subject` at line 1 column 50"},
      {R"({"event":"lifecycle","subject":{"Position":"A"},"phase":{"phase":"fill"}})",
       "missing field `order` at line 1 column 72"},
      {R"({"event":"drawdown_halt","respected":true,"respected":false})",
       "duplicate field `respected` at line 1 column 43"},
      {R"({"event":"denylist_bypass","event":"denylist_bypass"})",
       "duplicate field `event` at line 1 column 28"},
      {R"({"event":"order_placed","risk_gate_passed":1})",
       "invalid type: integer `1`, expected a boolean at line 1 column 44"},
      {R"({"event":7})", "invalid type: integer `7`, expected a label at line 1 column 10"},
      {R"(["order_placed",true,true])",
       "invalid length 3, expected struct OrderPlaced with 2 elements at line 1 column 22"},
      {R"([])", "invalid length 0, expected a tag of ProcessEvent at line 1 column 1"},
      {R"("denylist_bypass")",
       "invalid type: string \"denylist_bypass\", expected internally tagged enum ProcessEvent "
       "at line 1 column 1"},
  };
  for (const Case& c : cases) EXPECT_EQ(read_error(c.text), c.display) << c.text;
  auto trace = pe::read_trace_json(R"({"events":[{"event":"denylist_bypass"},{}]})");
  ASSERT_FALSE(trace.ok());
  EXPECT_EQ(trace.error().display(), "missing field `event` at line 1 column 41");
}

TEST(ProcessScore, GradingTable) {
  struct Case {
    std::vector<ProcessEvent> events;
    std::uint64_t blocks;
    std::uint64_t warnings;
    double score;
  };
  std::vector<ProcessEvent> quiet(50, pe::DecisionRationale{"A", "r"});
  quiet.push_back(
      pe::Lifecycle{{pe::Subject::instrument("A"), pe::phase::Observation{}, std::nullopt}});
  const Case cases[] = {
      {{}, 0, 0, 1.0},
      {quiet, 0, 0, 1.0},
      {std::vector<ProcessEvent>(3, pe::ConcentrationBreach{}), 0, 3, 0.7},
      {std::vector<ProcessEvent>(7, pe::TailSellingExposure{true}), 0, 7, 0.29999999999999993},
      {std::vector<ProcessEvent>(10, pe::ConcentrationBreach{}), 0, 10, 0.0},
      {std::vector<ProcessEvent>(12, pe::ConcentrationBreach{}), 0, 12, 0.0},
      {{pe::DenylistBypass{}, pe::ConcentrationBreach{}, pe::ConcentrationBreach{},
        pe::ConcentrationBreach{}, pe::ConcentrationBreach{}},
       1, 4, 0.0},
      {{pe::TailSellingExposure{false}}, 1, 0, 0.0},
      {{pe::OrderPlaced{true}, pe::DrawdownHalt{true}}, 0, 0, 1.0},
      {{pe::OrderPlaced{false}, pe::DrawdownHalt{false}, pe::ManipulativeOrder{}}, 3, 0, 0.0},
  };
  for (const Case& c : cases) {
    pe::ProcessScore s = pe::process_score(Trace{c.events});
    EXPECT_EQ(s.block_violations, c.blocks);
    EXPECT_EQ(s.warnings, c.warnings);
    EXPECT_EQ(s.score, c.score);  // bit-exact
    EXPECT_FALSE(std::signbit(s.score));
  }
}

TEST(ProcessScore, SeverityLabelsOfEveryVariant) {
  std::string labels;
  for (const ProcessEvent& e : every_variant()) {
    if (!labels.empty()) labels += ',';
    labels += std::string(pe::event_tag(e)) + ":" + std::string(pe::severity_label(e));
  }
  std::string expected =
      "order_placed:none,order_placed:block,drawdown_halt:none,drawdown_halt:block,"
      "denylist_bypass:block,concentration_breach:warn,manipulative_order:block,"
      "tail_selling_exposure:warn,tail_selling_exposure:block,decision_rationale:none";
  for (int i = 0; i < 18; ++i) expected += ",lifecycle:none";
  EXPECT_EQ(labels, expected);
}

}  // namespace
