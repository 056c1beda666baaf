#pragma once
// The data set every environment runs over: a calendar of bar dates and one
// close series per instrument, with optional dividends. Built by the
// deterministic synthetic generator or by the long-format CSV loader, and
// immutable afterwards.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/json_writer.hpp"
#include "support/result.hpp"

namespace talmoor_sim::data {

// std::less<std::string> compares bytes as unsigned char, so iteration is in
// ascending byte order of the symbol names: the symbol order of a data set.
using SeriesMap = std::map<std::string, std::vector<double>>;

struct Dataset {
  std::vector<std::string> dates;
  SeriesMap closes;
  // Cash dividend per share at each bar; a symbol without an entry pays none.
  SeriesMap dividends;

  // Same as synthetic_parameterized(n_symbols, n_days, seed, 1.0, 0.0, 0.0).
  static Dataset synthetic(std::size_t n_symbols, std::size_t n_days, std::uint64_t seed);
  static Dataset synthetic_parameterized(std::size_t n_symbols, std::size_t n_days,
                                         std::uint64_t seed, double vol_scale,
                                         double jump_probability, double jump_size);

  // The long-format CSV loader (see load_csv).
  [[nodiscard]] static support::Result<Dataset, std::string> from_csv(std::string_view text);

  // The symbols in the data set's symbol order (ascending byte order).
  std::vector<std::string> symbols() const;

  // At most `lookback` closes of `symbol` ending at bar t (clamped to the last
  // bar), oldest first; empty for an unknown symbol, an empty series or a
  // lookback of 0.
  std::vector<double> history(const std::string& symbol, std::size_t t,
                              std::size_t lookback) const;

  // The close of `symbol` at bar t; none for an unknown symbol or t past the end.
  std::optional<double> close_at(const std::string& symbol, std::size_t t) const;
};

// Builds a data set from CSV text "date,symbol,close[,dividend]" (any column
// order, extra columns ignored). On failure the error is one plain message,
// raised by the bindings under DATA_UNAVAILABLE unchanged:
//   "empty CSV"
//   "CSV header contains duplicate column names"
//   "CSV header missing 'date'" / "'symbol'" / "'close'"
//   "CSV row R: too few columns"
//   "CSV row R: date and symbol must be nonempty"
//   "CSV row R: non-numeric close" / "CSV row R: close must be finite"
//   "CSV row R: non-numeric dividend"
//   "CSV row R: dividend must be finite and nonnegative"
//   "CSV row R: duplicate (date, symbol) key (DATE, SYMBOL)"
//   "CSV has no data rows"
//   "CSV has fewer than 2 dates common to all symbols"
[[nodiscard]] support::Result<Dataset, std::string> load_csv(std::string_view text);

// The JSON form {"dates":[...],"closes":{...},"dividends":{...}}, compact, keys
// in declaration order, both maps in ascending key order ("dividends" is {}
// when empty). Non-finite numbers are written as null.
void write_json(support::JsonWriter& w, const Dataset& dataset);
std::string to_json(const Dataset& dataset);

}  // namespace talmoor_sim::data
