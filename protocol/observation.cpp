#include "protocol/observation.hpp"

#include <string_view>

namespace talmoor_protocol {

using support::JsonWriter;
using support::KeyOrder;
using support::RecordFields;

namespace {

void write_fundamentals(JsonWriter& w, const std::map<std::string, double>& fundamentals) {
  // std::map iterates in ascending byte order, which both paths require.
  w.begin_object();
  for (const auto& [name, value] : fundamentals) {
    w.key(name);
    w.number(value);
  }
  w.end_object();
}

const RecordFields<SymbolSnapshot>& snapshot_fields() {
  static const RecordFields<SymbolSnapshot> fields({
      {"symbol", [](JsonWriter& w, const SymbolSnapshot& s, KeyOrder) { w.string(s.symbol); }},
      {"close_history",
       [](JsonWriter& w, const SymbolSnapshot& s, KeyOrder) {
         support::detail::write_value(w, s.close_history);
       }},
      {"fundamentals",
       [](JsonWriter& w, const SymbolSnapshot& s, KeyOrder) {
         write_fundamentals(w, s.fundamentals);
       }},
      {"news",
       [](JsonWriter& w, const SymbolSnapshot& s, KeyOrder) {
         support::detail::write_value(w, s.news);
       }},
  });
  return fields;
}

const RecordFields<PositionState>& position_fields() {
  static const RecordFields<PositionState> fields({
      {"symbol", [](JsonWriter& w, const PositionState& p, KeyOrder) { w.string(p.symbol); }},
      {"shares", [](JsonWriter& w, const PositionState& p, KeyOrder) { w.number(p.shares); }},
      {"avg_price",
       [](JsonWriter& w, const PositionState& p, KeyOrder) { w.number(p.avg_price); }},
  });
  return fields;
}

const RecordFields<MarketObservation>& observation_fields() {
  static const RecordFields<MarketObservation> fields({
      {"date", [](JsonWriter& w, const MarketObservation& o, KeyOrder) { w.string(o.date); }},
      {"cash", [](JsonWriter& w, const MarketObservation& o, KeyOrder) { w.number(o.cash); }},
      {"symbols",
       [](JsonWriter& w, const MarketObservation& o, KeyOrder order) {
         w.begin_array();
         for (const SymbolSnapshot& s : o.symbols) write_symbol_snapshot(w, s, order);
         w.end_array();
       }},
      {"portfolio",
       [](JsonWriter& w, const MarketObservation& o, KeyOrder order) {
         w.begin_array();
         for (const PositionState& p : o.portfolio) write_position_state(w, p, order);
         w.end_array();
       }},
  });
  return fields;
}

// The tag is always written as "kind"; in declaration order it comes first.
template <class V>
constexpr std::string_view mandate_kind();
template <>
constexpr std::string_view mandate_kind<AbsoluteReturn>() { return "absolute_return"; }
template <>
constexpr std::string_view mandate_kind<RelativeTo>() { return "relative_to"; }
template <>
constexpr std::string_view mandate_kind<DrawdownCapped>() { return "drawdown_capped"; }
template <>
constexpr std::string_view mandate_kind<OutperformBuyAndHold>() {
  return "outperform_buy_and_hold";
}

template <class V>
void write_kind(JsonWriter& w, const V&, KeyOrder) {
  w.string(mandate_kind<V>());
}

template <class V>
const RecordFields<V>& mandate_fields();

template <>
const RecordFields<AbsoluteReturn>& mandate_fields() {
  static const RecordFields<AbsoluteReturn> fields({{"kind", write_kind<AbsoluteReturn>}});
  return fields;
}
template <>
const RecordFields<RelativeTo>& mandate_fields() {
  static const RecordFields<RelativeTo> fields({
      {"kind", write_kind<RelativeTo>},
      {"benchmark_id",
       [](JsonWriter& w, const RelativeTo& m, KeyOrder) { w.string(m.benchmark_id); }},
  });
  return fields;
}
template <>
const RecordFields<DrawdownCapped>& mandate_fields() {
  static const RecordFields<DrawdownCapped> fields({
      {"kind", write_kind<DrawdownCapped>},
      {"max_per_run_drawdown",
       [](JsonWriter& w, const DrawdownCapped& m, KeyOrder) {
         w.number(m.max_per_run_drawdown);
       }},
  });
  return fields;
}
template <>
const RecordFields<OutperformBuyAndHold>& mandate_fields() {
  static const RecordFields<OutperformBuyAndHold> fields(
      {{"kind", write_kind<OutperformBuyAndHold>}});
  return fields;
}

}  // namespace

void write_symbol_snapshot(JsonWriter& w, const SymbolSnapshot& s, KeyOrder order) {
  snapshot_fields().write(w, s, order);
}

void write_position_state(JsonWriter& w, const PositionState& p, KeyOrder order) {
  position_fields().write(w, p, order);
}

void write_observation(JsonWriter& w, const MarketObservation& obs, KeyOrder order) {
  observation_fields().write(w, obs, order);
}

std::string observation_json(const MarketObservation& obs, KeyOrder order) {
  std::string out;
  JsonWriter w(out);
  write_observation(w, obs, order);
  return out;
}

void write_declared_mandate(JsonWriter& w, const DeclaredMandate& mandate, KeyOrder order) {
  std::visit(
      [&](const auto& m) {
        using V = std::decay_t<decltype(m)>;
        mandate_fields<V>().write(w, m, order);
      },
      mandate);
}

std::string declared_mandate_json(const DeclaredMandate& mandate, KeyOrder order) {
  std::string out;
  JsonWriter w(out);
  write_declared_mandate(w, mandate, order);
  return out;
}

}  // namespace talmoor_protocol
