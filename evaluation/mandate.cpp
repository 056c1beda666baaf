#include "evaluation/mandate.hpp"

#include <array>
#include <cmath>

#include "support/float_text.hpp"
#include "support/json_fields.hpp"
#include "support/json_record.hpp"
#include "support/json_writer.hpp"
#include "support/splitmix64.hpp"

namespace corvane::mandate {
namespace {

using support::json::ReadError;
using support::json::Value;

constexpr std::array<std::string_view, 5> kStyleLabels = {
    "long_only", "market_neutral", "momentum", "unconstrained", "pairs_convergence"};
constexpr std::array<std::string_view, 5> kStyleTexts = {
    "Long-only mandate: hold no short positions",
    "Market-neutral mandate: keep net exposure near zero (balance longs and shorts)",
    "Momentum mandate: lean into recent winners, cut losers",
    "Unconstrained mandate: trade freely",
    "Pairs-convergence mandate: hold offsetting weights on the pair (stay dollar-neutral)"};

constexpr std::array<double, 4> kDrawdownCaps = {0.05, 0.1, 0.15, 0.2};
constexpr std::array<double, 4> kExposureCaps = {0.5, 1.0, 1.5, 2.0};

// Shared with the synthetic data set of the same seed: the sampler runs its
// own generator from that initial state.
constexpr std::uint64_t kSamplerSeedMask = 0x123456789ABCDEF0ULL;

constexpr double kShortEpsilon = 1e-9;
constexpr double kGrossEpsilon = 1e-9;
constexpr double kCapFloor = 1e-9;
constexpr double kPeakEpsilon = 1e-9;

// An index below `count` from one uniform draw: the product truncated.
std::size_t pick(std::size_t count, double u) {
  return static_cast<std::size_t>(static_cast<double>(count) * u);
}

std::string synthetic_symbol(std::size_t k) {
  std::string digits = std::to_string(k);
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  return "SYM" + digits;
}

// A cap as a whole percentage, rounded half away from zero.
std::string percent(double fraction) {
  return std::to_string(static_cast<long long>(std::round(fraction * 100.0)));
}

std::string mandate_text(const Mandate& m) {
  std::string text(style_text(m.style));
  if (m.max_drawdown) text += "; keep max drawdown under " + percent(*m.max_drawdown) + "%";
  if (m.max_inventory) text += "; keep gross exposure under " + percent(*m.max_inventory) + "%";
  if (m.benchmark) text += "; aim to beat " + *m.benchmark;
  text += '.';
  return text;
}

struct Exposure {
  double gross;
  double net;
};

Exposure exposure_of(const std::vector<double>& bar) {
  double gross = -0.0;
  double sum = -0.0;
  for (double w : bar) {
    gross += std::fabs(w);
    sum += w;
  }
  return Exposure{gross, std::fabs(sum)};
}

double short_share(std::span<const std::vector<double>> weights) {
  std::size_t short_bars = 0;
  for (const auto& bar : weights) {
    bool is_short = false;
    for (double w : bar) is_short = is_short || w < -kShortEpsilon;
    if (is_short) ++short_bars;
  }
  return static_cast<double>(short_bars) / static_cast<double>(weights.size());
}

double mean_net_to_gross(std::span<const std::vector<double>> weights) {
  double sum = -0.0;
  for (const auto& bar : weights) {
    Exposure e = exposure_of(bar);
    sum += e.gross > kGrossEpsilon ? e.net / e.gross : 0.0;
  }
  double mean = sum / static_cast<double>(weights.size());
  return std::fmin(std::fmax(mean, 0.0), 1.0);
}

double style_term(MandateStyle style, std::span<const std::vector<double>> weights) {
  if (weights.empty()) return 0.0;
  switch (style) {
    case MandateStyle::kLongOnly: return short_share(weights);
    case MandateStyle::kMarketNeutral:
    case MandateStyle::kPairsConvergence: return mean_net_to_gross(weights);
    case MandateStyle::kMomentum:
    case MandateStyle::kUnconstrained: return 0.0;
  }
  return 0.0;
}

double exposure_term(double cap, std::span<const std::vector<double>> weights) {
  double sum = -0.0;
  for (const auto& bar : weights) {
    double gross = exposure_of(bar).gross;
    if (gross > cap) {
      double x = (gross - cap) / std::fmax(cap, kCapFloor);
      sum += std::fmin(x * x, 1.0);
    }
  }
  return std::fmin(sum / static_cast<double>(weights.size()), 1.0);
}

double max_drawdown_of(std::span<const double> returns) {
  double equity = 1.0;
  double peak = 1.0;
  double worst = 0.0;
  for (double r : returns) {
    equity = (r + 1.0) * equity;
    peak = std::fmax(peak, equity);
    if (peak > kPeakEpsilon) worst = std::fmax(worst, (peak - equity) / peak);
  }
  return worst;
}

std::optional<MandateError> validate(const Mandate& m, std::span<const double> returns,
                                     std::span<const std::vector<double>> weights) {
  using Kind = MandateError::Kind;
  if (m.max_drawdown) {
    double cap = *m.max_drawdown;
    if (!(std::isfinite(cap) && cap > 0.0 && cap <= 1.0)) return MandateError{Kind::kMaxDrawdown, cap};
  }
  if (m.max_inventory) {
    double cap = *m.max_inventory;
    if (!(std::isfinite(cap) && cap > 0.0)) return MandateError{Kind::kMaxInventory, cap};
  }
  for (std::size_t i = 0; i < returns.size(); ++i) {
    if (!std::isfinite(returns[i])) return MandateError{Kind::kReturn, returns[i], i};
  }
  for (std::size_t t = 0; t < weights.size(); ++t) {
    for (std::size_t j = 0; j < weights[t].size(); ++j) {
      if (!std::isfinite(weights[t][j])) return MandateError{Kind::kWeight, weights[t][j], t, j};
    }
  }
  return std::nullopt;
}

void write_optional_number(support::JsonWriter& w, const std::optional<double>& v) {
  if (v) {
    w.number(*v);
  } else {
    w.null();
  }
}

const support::RecordFields<Mandate>& mandate_fields() {
  using support::JsonWriter;
  using support::KeyOrder;
  static const support::RecordFields<Mandate> fields({
      {"style",
       [](JsonWriter& w, const Mandate& m, KeyOrder) { w.string(style_label(m.style)); }},
      {"max_drawdown",
       [](JsonWriter& w, const Mandate& m, KeyOrder) { write_optional_number(w, m.max_drawdown); }},
      {"max_inventory",
       [](JsonWriter& w, const Mandate& m, KeyOrder) {
         write_optional_number(w, m.max_inventory);
       }},
      {"benchmark",
       [](JsonWriter& w, const Mandate& m, KeyOrder) {
         if (m.benchmark) {
           w.string(*m.benchmark);
         } else {
           w.null();
         }
       }},
      {"text", [](JsonWriter& w, const Mandate& m, KeyOrder) { w.string(m.text); }},
  });
  return fields;
}

constexpr std::array<support::json::FieldSpec, 5> kMandateFieldSpecs = {{
    {"style", true},
    {"max_drawdown", false},
    {"max_inventory", false},
    {"benchmark", false},
    {"text", false},
}};

support::Result<std::optional<double>, ReadError> read_optional_f64(const Value* v) {
  if (v == nullptr || v->kind == support::json::Kind::kNull) return std::optional<double>();
  auto x = support::json::read_f64(*v);
  if (!x.ok()) return support::err(x.error());
  return std::optional<double>(x.value());
}

}  // namespace

std::string_view style_label(MandateStyle style) {
  return kStyleLabels[static_cast<std::size_t>(style)];
}

std::string_view style_text(MandateStyle style) {
  return kStyleTexts[static_cast<std::size_t>(style)];
}

std::string MandateError::display() const {
  std::string x = support::display_number(value);
  switch (kind) {
    case Kind::kReturn:
      return "[INVALID_ARGUMENT] returns[" + std::to_string(index) + "] is " + x +
             "; every per-bar return must be finite";
    case Kind::kWeight:
      return "[INVALID_ARGUMENT] weights[" + std::to_string(index) + "][" +
             std::to_string(position) + "] is " + x + "; every target weight must be finite";
    case Kind::kMaxDrawdown:
      return "[INVALID_ARGUMENT] max_drawdown " + x + " is outside the finite range (0, 1]";
    case Kind::kMaxInventory:
      return "[INVALID_ARGUMENT] max_inventory " + x +
             " is not a finite positive gross-exposure ceiling";
  }
  return {};
}

Mandate sample_mandate(std::uint64_t seed, std::size_t n_symbols, bool allow_short) {
  static constexpr std::array<MandateStyle, 5> kAllStyles = {
      MandateStyle::kLongOnly, MandateStyle::kMarketNeutral, MandateStyle::kMomentum,
      MandateStyle::kUnconstrained, MandateStyle::kPairsConvergence};
  static constexpr std::array<MandateStyle, 3> kLongStyles = {
      MandateStyle::kLongOnly, MandateStyle::kMomentum, MandateStyle::kUnconstrained};

  support::SplitMix64 rng(seed ^ kSamplerSeedMask);
  Mandate m;
  // The draw order (drawdown, benchmark, exposure) is part of the contract
  // and differs from the order of the clauses in the text.
  double u = rng.next_f64();
  m.style = allow_short ? kAllStyles[pick(kAllStyles.size(), u)]
                        : kLongStyles[pick(kLongStyles.size(), u)];
  if (rng.next_f64() < 0.5) m.max_drawdown = kDrawdownCaps[pick(4, rng.next_f64())];
  if (rng.next_f64() < 0.3) {
    std::size_t universe = n_symbols > 0 ? n_symbols : 1;
    m.benchmark = synthetic_symbol(pick(universe, rng.next_f64()));
  }
  if (rng.next_f64() < 0.4) m.max_inventory = kExposureCaps[pick(4, rng.next_f64())];
  m.text = mandate_text(m);
  return m;
}

support::Result<double, MandateError> mandate_breach(const Mandate& mandate,
                                                     std::span<const double> returns,
                                                     std::span<const std::vector<double>> weights) {
  if (auto error = validate(mandate, returns, weights)) return support::err(*error);

  double penalty = style_term(mandate.style, weights);
  if (mandate.max_inventory && !weights.empty()) {
    penalty = std::fmax(penalty, exposure_term(*mandate.max_inventory, weights));
  }
  if (mandate.max_drawdown && !returns.empty()) {
    double cap = *mandate.max_drawdown;
    double drawdown = max_drawdown_of(returns);
    if (drawdown > cap) {
      penalty = std::fmax(penalty, std::fmin((drawdown - cap) / std::fmax(cap, kCapFloor), 1.0));
    }
  }
  return std::fmin(penalty, 1.0);
}

std::string mandate_json(const Mandate& mandate) {
  std::string out;
  support::JsonWriter w(out);
  mandate_fields().write(w, mandate, support::KeyOrder::kDeclared);
  return out;
}

support::Result<Mandate, ReadError> parse_mandate_json(std::string_view text) {
  auto root = support::json::parse(text);
  if (!root.ok()) return support::err(root.error());
  static const support::json::RecordSpec spec{"Mandate", kMandateFieldSpecs,
                                              support::json::UnknownKeys::kRefuse, false};
  auto slots = support::json::bind_record(root.value(), spec);
  if (!slots.ok()) return support::err(slots.error());
  const support::json::FieldSlots& f = slots.value();

  Mandate m;
  auto style = support::json::read_label(*f[0], kStyleLabels, false);
  if (!style.ok()) return support::err(style.error());
  m.style = static_cast<MandateStyle>(style.value());

  auto max_drawdown = read_optional_f64(f[1]);
  if (!max_drawdown.ok()) return support::err(max_drawdown.error());
  m.max_drawdown = max_drawdown.value();

  auto max_inventory = read_optional_f64(f[2]);
  if (!max_inventory.ok()) return support::err(max_inventory.error());
  m.max_inventory = max_inventory.value();

  if (f[3] != nullptr && f[3]->kind != support::json::Kind::kNull) {
    auto benchmark = support::json::read_string(*f[3]);
    if (!benchmark.ok()) return support::err(benchmark.error());
    m.benchmark = std::move(benchmark.value());
  }
  if (f[4] != nullptr) {
    auto mandate_text_value = support::json::read_string(*f[4]);
    if (!mandate_text_value.ok()) return support::err(mandate_text_value.error());
    m.text = std::move(mandate_text_value.value());
  }
  return m;
}

}  // namespace corvane::mandate
