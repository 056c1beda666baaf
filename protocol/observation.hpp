#pragma once
// What an agent sees at a decision point, and the declared mandate record.
// These records are only written, never read back. Each record's fields are
// described once and written either in declaration order (direct text) or
// with keys in ascending byte order at every depth (inside a dynamic value).

#include <map>
#include <string>
#include <variant>
#include <vector>

#include "support/json_record.hpp"
#include "support/json_writer.hpp"

namespace talmoor_protocol {

struct SymbolSnapshot {
  std::string symbol;
  std::vector<double> close_history;  // oldest first, up to the current bar
  // std::map keeps the keys in ascending byte order, as they are written.
  std::map<std::string, double> fundamentals;
  std::vector<std::string> news;

  friend bool operator==(const SymbolSnapshot&, const SymbolSnapshot&) = default;
};

struct PositionState {
  std::string symbol;
  double shares = 0.0;  // negative for a short
  double avg_price = 0.0;

  friend bool operator==(const PositionState&, const PositionState&) = default;
};

struct MarketObservation {
  std::string date;
  double cash = 0.0;
  std::vector<SymbolSnapshot> symbols;     // data-set symbol order
  std::vector<PositionState> portfolio;    // same order, flat positions included

  friend bool operator==(const MarketObservation&, const MarketObservation&) = default;
};

// Declared trading objective: a tagged union, variant order fixed.
struct AbsoluteReturn {
  friend bool operator==(const AbsoluteReturn&, const AbsoluteReturn&) = default;
};
struct RelativeTo {
  std::string benchmark_id;
  friend bool operator==(const RelativeTo&, const RelativeTo&) = default;
};
struct DrawdownCapped {
  double max_per_run_drawdown = 0.0;
  friend bool operator==(const DrawdownCapped&, const DrawdownCapped&) = default;
};
struct OutperformBuyAndHold {
  friend bool operator==(const OutperformBuyAndHold&, const OutperformBuyAndHold&) = default;
};
using DeclaredMandate =
    std::variant<AbsoluteReturn, RelativeTo, DrawdownCapped, OutperformBuyAndHold>;

void write_symbol_snapshot(support::JsonWriter& w, const SymbolSnapshot& s,
                           support::KeyOrder order);
void write_position_state(support::JsonWriter& w, const PositionState& p,
                          support::KeyOrder order);
void write_observation(support::JsonWriter& w, const MarketObservation& obs,
                       support::KeyOrder order);

// The observation as compact JSON text (declaration order by default).
std::string observation_json(const MarketObservation& obs,
                             support::KeyOrder order = support::KeyOrder::kDeclared);

// "kind" first, then the variant's field where it has one (declaration
// order); kSorted writes the keys in ascending byte order instead.
void write_declared_mandate(support::JsonWriter& w, const DeclaredMandate& mandate,
                            support::KeyOrder order = support::KeyOrder::kDeclared);
std::string declared_mandate_json(const DeclaredMandate& mandate,
                                  support::KeyOrder order = support::KeyOrder::kDeclared);

}  // namespace talmoor_protocol
