#include "evaluation/vec_env.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/decision.hpp"
#include "support/fault.hpp"

namespace {

namespace vec_env = corvane::vec_env;
using talmoor_protocol::Decision;

vec_env::VecTradingEnv make_batch(vec_env::AutoresetMode mode) {
  vec_env::VecEnvArgs args;
  args.seeds = {4, 9, 4, 123456789};
  args.n_symbols = 3;
  args.n_days = 4;
  args.window_start = 1;
  auto built = vec_env::build_vec_env(args);
  EXPECT_TRUE(built.ok());
  vec_env::VecTradingEnv vec = std::move(built.value());
  vec.set_autoreset_mode(mode);
  return vec;
}

std::vector<Decision> decisions(int step) {
  std::vector<Decision> out(4);
  for (std::size_t i = 0; i < out.size(); ++i) {
    talmoor_protocol::Order order;
    order.symbol = "SYM0" + std::to_string((i + static_cast<std::size_t>(step)) % 3);
    order.action = talmoor_protocol::Action::kBuy;
    order.target_weight = 0.1 * static_cast<double>(i + 1);
    out[i].orders.push_back(order);
  }
  return out;
}

// The record path (step_batch, then batch_step_json) and the per-lane text
// path (step_batch_json) are two drivers of one state machine; they must
// agree byte for byte in every mode, across episode ends.
TEST(VecEnvTest, RecordAndTextPathsAgree) {
  for (auto mode : {vec_env::AutoresetMode::kNextStep, vec_env::AutoresetMode::kSameStep,
                    vec_env::AutoresetMode::kDisabled}) {
    vec_env::VecTradingEnv by_record = make_batch(mode);
    vec_env::VecTradingEnv by_text = make_batch(mode);
    for (int step = 0; step < 8; ++step) {
      std::string expected = vec_env::batch_step_json(by_record.step_batch(decisions(step)));
      ASSERT_EQ(by_text.step_batch_json(decisions(step)), expected)
          << vec_env::autoreset_mode_label(mode) << " step " << step;
    }
  }
}

TEST(VecEnvTest, NextStepFlagsAPendingResetAndClearsIt) {
  vec_env::VecTradingEnv vec = make_batch(vec_env::AutoresetMode::kNextStep);
  for (int step = 0; step < 2; ++step) (void)vec.step_batch(decisions(step));
  EXPECT_FALSE(vec.pending_reset(0));
  vec_env::BatchStep last = vec.step_batch(decisions(2));  // the third step ends [1, 4)
  EXPECT_TRUE(last.truncated[0] && vec.pending_reset(0) && vec.pending_reset(3));
  vec_env::BatchStep fresh = vec.step_batch(decisions(3));
  EXPECT_TRUE(fresh.first[0] && !vec.pending_reset(0));
  EXPECT_EQ(fresh.infos[0].nav, fresh.observations[0].cash);
  EXPECT_TRUE(fresh.infos[0].events.empty());
}

TEST(VecEnvTest, WrongDecisionCountIsAnInternalFault) {
  vec_env::VecTradingEnv vec = make_batch(vec_env::AutoresetMode::kNextStep);
  EXPECT_THROW((void)vec.step_batch(std::vector<Decision>(3)), support::Fault);
  EXPECT_THROW((void)vec.step_batch_json(std::vector<Decision>(5)), support::Fault);
}

TEST(VecEnvTest, AutoresetLabels) {
  for (auto mode : {vec_env::AutoresetMode::kNextStep, vec_env::AutoresetMode::kSameStep,
                    vec_env::AutoresetMode::kDisabled}) {
    auto parsed = vec_env::parse_autoreset_mode(vec_env::autoreset_mode_label(mode));
    ASSERT_TRUE(parsed.ok());
    EXPECT_EQ(parsed.value(), mode);
  }
  auto bad = vec_env::parse_autoreset_mode("next-step");
  ASSERT_FALSE(bad.ok());
  EXPECT_EQ(bad.error(),
            "unknown autoreset_mode \"next-step\" (expected next_step | same_step | disabled)");
}

}  // namespace
