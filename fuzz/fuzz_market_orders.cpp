// Market order vectors as text: refused with a code, or cleared on a small
// market whatever the weights (NaN, huge, negative).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "evaluation/market.hpp"
#include "evaluation/market_orders.hpp"
#include "sim/data.hpp"

namespace mk = corvane::market;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto orders = mk::read_order_vectors(text, 2, 3);
  if (!orders.ok()) return 0;
  static const talmoor_sim::data::Dataset dataset = talmoor_sim::data::Dataset::synthetic(3, 30, 1);
  auto market = mk::MarketClearing::from_dataset_with_richness(
      dataset, 2, mk::richness_of(mk::RichnessLevel::kStandard), 1.0);
  mk::ImpactParams params{0.1, 0.05, 1.0, 0.5};
  for (int i = 0; i < 3; ++i) {
    (void)market.step_concave(orders.value(), params, std::nullopt, 0.5 + i * 0.5);
  }
  return 0;
}
