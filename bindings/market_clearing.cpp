// PyMarketClearing: one multi-agent market with its impact settings. Orders
// arrive as JSON text, cleared bars leave as JSON text; every check runs
// before the market is touched, so a refused call leaves it as it was.

#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "bindings/args.hpp"
#include "bindings/errors.hpp"
#include "bindings/registry.hpp"
#include "evaluation/env_config.hpp"
#include "evaluation/market.hpp"
#include "evaluation/market_orders.hpp"
#include "evaluation/scenario_gen.hpp"
#include "sim/data.hpp"
#include "support/float_text.hpp"

namespace bindings {
namespace {

namespace mk = corvane::market;
namespace sg = corvane::scenario_gen;

constexpr const char* kConstructorSignature =
    "PyMarketClearing(n_symbols=4, n_days=120, seed=0, n_agents=2, capital=1.0, "
    "kyle_lambda=0.1, eta=0.05, volume_scale=1.0, vol_scale=0.0, distribution_mode=\"calm\", "
    "richness=\"standard\", lambda_radius=None, eta_radius=None, uncertainty_correlation=0.0, "
    "impact_exponent=1.0)";
constexpr const char* kInitSignature =
    "__init__(self, n_symbols=4, n_days=120, seed=0, n_agents=2, capital=1.0, "
    "kyle_lambda=0.1, eta=0.05, volume_scale=1.0, vol_scale=0.0, distribution_mode=\"calm\", "
    "richness=\"standard\", lambda_radius=None, eta_radius=None, uncertainty_correlation=0.0, "
    "impact_exponent=1.0)";
constexpr const char* kClassDoc =
    "A shared market in which several agents trade the same instruments bar by bar: their "
    "combined order flow moves the price all of them see (linear or concave permanent impact, "
    "volatility-scaled temporary impact, optional robust impact over an uncertainty ellipse).";

struct PyMarketClearing {
  std::optional<mk::UncertaintySet> uncertainty;
  mk::MarketClearing market;
  mk::ImpactParams params;
  std::uint64_t seed = 0;
  double impact_exponent = 1.0;
};

// Both radii absent: no set (the correlation is then ignored). Otherwise a
// missing radius counts as 0.0.
std::optional<mk::UncertaintySet> uncertainty_or_raise(std::optional<double> lambda_radius,
                                                       std::optional<double> eta_radius,
                                                       double correlation) {
  if (!lambda_radius && !eta_radius) return std::nullopt;
  mk::UncertaintySet set{lambda_radius.value_or(0.0), eta_radius.value_or(0.0), correlation};
  auto bad_radius = [](double r) { return !std::isfinite(r) || r < 0.0; };
  if (bad_radius(set.lambda_radius) || bad_radius(set.eta_radius)) {
    raise_engine_err(kInvalidArgument, "uncertainty radii must be finite and non-negative");
  }
  if (!(std::fabs(set.correlation) <= 1.0)) {
    raise_engine_err(kInvalidArgument, "uncertainty_correlation must lie in [-1, 1]");
  }
  return set;
}

void check_impact_exponent_or_raise(double x) {
  if (!std::isfinite(x) || !(x > 0.0)) {
    raise_engine_err(kInvalidArgument,
                     "impact_exponent must be a positive finite number (1.0 = linear)");
  }
}

// The plain synthetic data set for calm, the scenario generator otherwise.
talmoor_sim::data::Dataset build_dataset(std::size_t n_symbols, std::size_t n_days,
                                         std::uint64_t seed, sg::DistributionMode mode) {
  sg::ScenarioSpec spec;
  spec.n_symbols = n_symbols;
  spec.n_days = n_days;
  spec.distribution_mode = mode;
  return corvane::env_config::build_dataset(spec, seed);
}

PyMarketClearing construct(const py::args& args, const py::kwargs& kwargs) {
  CallArgs a("PyMarketClearing",
             {{"n_symbols", false},
              {"n_days", false},
              {"seed", false},
              {"n_agents", false},
              {"capital", false},
              {"kyle_lambda", false},
              {"eta", false},
              {"volume_scale", false},
              {"vol_scale", false},
              {"distribution_mode", false},
              {"richness", false},
              {"lambda_radius", false},
              {"eta_radius", false},
              {"uncertainty_correlation", false},
              {"impact_exponent", false}},
             args, kwargs);
  auto or_u = [&](std::size_t i, std::size_t d) {
    return a.given(i) ? to_unsigned<std::size_t>(a[i], a.name(i)) : d;
  };
  auto or_f = [&](std::size_t i, double d) { return f64_or(a, i, d); };
  auto or_s = [&](std::size_t i, const char* d) { return str_or(a, i, d); };
  auto or_none = [&](std::size_t i) { return opt_f64(a, i); };
  const std::size_t n_symbols = or_u(0, 4);
  const std::size_t n_days = or_u(1, 120);
  const std::uint64_t seed = a.given(2) ? to_u64(a[2], "seed") : 0;
  const std::size_t n_agents = or_u(3, 2);
  const double capital = or_f(4, 1.0);
  const mk::ImpactParams params{or_f(5, 0.1), or_f(6, 0.05), or_f(7, 1.0), or_f(8, 0.0)};
  const std::string mode_label = or_s(9, "calm");
  const std::string richness_label = or_s(10, "standard");
  const std::optional<double> lambda_radius = or_none(11);
  const std::optional<double> eta_radius = or_none(12);
  const double correlation = or_f(13, 0.0);
  const double impact_exponent = or_f(14, 1.0);

  if (n_agents == 0) raise_engine_err(kInvalidArgument, "n_agents must be >= 1");
  auto mode = sg::parse_distribution_mode(mode_label);
  if (!mode.ok()) raise_engine_err(kInvalidArgument, mode.error());
  std::optional<mk::RichnessLevel> level = mk::richness_from_label(richness_label);
  if (!level) {
    raise_engine_err(kInvalidArgument, "unknown richness " + support::quote_label(richness_label) +
                                           " (expected data_poor | standard | data_rich)");
  }

  PyMarketClearing out;
  // A market over no symbol or fewer than two bars is an internal fault of
  // the market itself (the panic exception), not a coded error.
  out.market = mk::MarketClearing::from_dataset_with_richness(
      build_dataset(n_symbols, n_days, seed, mode.value()), n_agents, mk::richness_of(*level),
      capital);
  out.uncertainty = uncertainty_or_raise(lambda_radius, eta_radius, correlation);
  check_impact_exponent_or_raise(impact_exponent);
  out.params = params;
  out.seed = seed;
  out.impact_exponent = impact_exponent;
  return out;
}

py::str step_market(PyMarketClearing& self, py::args args, py::kwargs kwargs) {
  CallArgs a("step_market", {{"orders_json", true}}, args, kwargs);
  std::string text = to_str(a[0], "orders_json");
  auto orders = mk::read_order_vectors(text, self.market.n_agents(), self.market.n_symbols());
  if (!orders.ok()) raise_engine_err(orders.error().code, orders.error().message);
  mk::ClearResult result = self.market.step_concave(orders.value(), self.params,
                                                    self.uncertainty, self.impact_exponent);
  return py::str(mk::clear_result_json(result, self.market.cursor));
}

py::str reset_market(PyMarketClearing& self, py::args args, py::kwargs kwargs) {
  CallArgs a("reset_market", {}, args, kwargs);
  self.market.reset();
  return py::str(mk::reset_json(self.market));
}

void set_uncertainty(PyMarketClearing& self, py::args args, py::kwargs kwargs) {
  CallArgs a("set_uncertainty",
             {{"lambda_radius", false}, {"eta_radius", false}, {"correlation", false}}, args,
             kwargs);
  std::optional<double> lambda_radius = opt_f64(a, 0);
  std::optional<double> eta_radius = opt_f64(a, 1);
  double correlation = f64_or(a, 2, 0.0);
  self.uncertainty = uncertainty_or_raise(lambda_radius, eta_radius, correlation);
}

void set_impact_exponent(PyMarketClearing& self, py::args args,
                         py::kwargs kwargs) {
  CallArgs a("set_impact_exponent", {{"impact_exponent", true}}, args, kwargs);
  double x = to_f64(a[0], "impact_exponent");
  check_impact_exponent_or_raise(x);
  self.impact_exponent = x;
}

}  // namespace

void register_market_clearing(py::module_& m) {
  py::class_<PyMarketClearing> cls(m, "PyMarketClearing",
                                   doc_with_signature(kConstructorSignature, kClassDoc).c_str());
  cls.def(py::init([](py::args args, py::kwargs kwargs) { return construct(args, kwargs); }),
          doc_with_signature(kInitSignature, "Builds the data set, the market and its impact "
                                             "settings; the market starts in its reset state.")
              .c_str());
  cls.def("step_market", &step_market,
          doc_with_signature("step_market(self, orders_json)",
                             "Clears the bar at the cursor for one target-weight vector per "
                             "agent (a JSON array of arrays) and returns the cleared bar as "
                             "JSON.")
              .c_str());
  cls.def("reset_market", &reset_market,
          doc_with_signature("reset_market(self)",
                             "Returns the market to its reset state and returns the initial "
                             "observations with the market's metadata as JSON.")
              .c_str());
  cls.def("set_uncertainty", &set_uncertainty,
          doc_with_signature(
              "set_uncertainty(self, lambda_radius=None, eta_radius=None, correlation=0.0)",
              "Installs the elliptic uncertainty set of the impact coefficients for later "
              "steps; both radii None removes it.")
              .c_str());
  cls.def("set_impact_exponent", &set_impact_exponent,
          doc_with_signature("set_impact_exponent(self, impact_exponent)",
                             "Replaces the impact exponent for later steps (1.0 is linear).")
              .c_str());
  cls.def_property_readonly(
      "done", [](const PyMarketClearing& self) { return self.market.done(); },
      "True once the cursor has reached the last bar.");
  cls.def_property_readonly(
      "symbols",
      [](const PyMarketClearing& self) {
        py::list out;
        for (const std::string& s : self.market.symbols) out.append(py::str(s));
        return out;
      },
      "The symbols in symbol order.");
  cls.def_property_readonly(
      "num_agents", [](const PyMarketClearing& self) { return self.market.n_agents(); },
      "The number of agents.");
  cls.def_property_readonly(
      "scenario_seed", [](const PyMarketClearing& self) { return self.seed; },
      "The seed the data set was generated from.");
  cls.def_property_readonly(
      "impact_exponent", [](const PyMarketClearing& self) { return self.impact_exponent; },
      "The impact exponent of later steps (1.0 is linear).");
  cls.def_property_readonly(
      "richness",
      [](const PyMarketClearing& self) {
        return py::str(mk::richness_json(self.market.richness));
      },
      "The disclosure level as JSON: fundamentals, lookback, news.");
  cls.def_property_readonly(
      "uncertainty",
      [](const PyMarketClearing& self) -> py::object {
        if (!self.uncertainty) return py::none();
        return py::str(mk::uncertainty_json(*self.uncertainty));
      },
      "The active uncertainty set as JSON, or None.");
}

}  // namespace bindings
