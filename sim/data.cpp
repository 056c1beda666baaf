#include "sim/data.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <string>

#include "support/splitmix64.hpp"

namespace talmoor_sim::data {
namespace {

constexpr std::uint64_t kSyntheticStreamKey = 0x123456789ABCDEF0ULL;

// `value` in decimal, zero-padded to at least `width` digits.
std::string zero_padded(std::size_t value, std::size_t width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

std::vector<double> synthetic_series(support::SplitMix64& rng, std::size_t k,
                                     std::size_t n_symbols, std::size_t n_days, double vol_scale,
                                     double jump_probability, double jump_size) {
  const double mu =
      (static_cast<double>(k) / static_cast<double>(n_symbols)) * 0.0004 + 0.0002;
  double p = 100.0;
  double m = 0.0;
  std::vector<double> closes;
  closes.reserve(n_days);
  for (std::size_t i = 0; i < n_days; ++i) {
    const double u = rng.next_f64();
    const double e = ((u - 0.5) * 0.02) * vol_scale;
    m = e * 0.1 + m * 0.9;
    double r = e * 0.5 + (mu + m);
    // Without jumps the stream advances by exactly one draw per bar.
    if (jump_probability > 0.0) {
      const double v = rng.next_f64();
      if (jump_probability > v) {
        const double w = rng.next_f64();
        r += (w - 0.5) * 2.0 * jump_size;
      }
    }
    const double factor = std::fmax(r + 1.0, 1e-9);
    p = p * factor;
    closes.push_back(p);
  }
  return closes;
}

// A shape no address space can hold is the out-of-memory condition it is
// (MemoryError in Python), reported before anything is allocated rather than
// as a length error or after exhausting memory one symbol at a time.
void check_holdable(std::size_t n_symbols, std::size_t n_days) {
  constexpr std::size_t kPerSymbol = 128;  // a map node and its vector, generously
  constexpr std::size_t kLimit = PTRDIFF_MAX;
  std::size_t cells = 0;
  std::size_t cell_bytes = 0;
  std::size_t symbol_bytes = 0;
  std::size_t date_bytes = 0;
  std::size_t total = 0;
  if (__builtin_mul_overflow(n_symbols, n_days, &cells) ||
      __builtin_mul_overflow(cells, sizeof(double), &cell_bytes) ||
      __builtin_mul_overflow(n_symbols, kPerSymbol, &symbol_bytes) ||
      __builtin_mul_overflow(n_days, sizeof(std::string), &date_bytes) ||
      __builtin_add_overflow(cell_bytes, symbol_bytes, &total) ||
      __builtin_add_overflow(total, date_bytes, &total) || total > kLimit) {
    throw std::bad_alloc();
  }
}

void write_series_map(support::JsonWriter& w, const SeriesMap& map) {
  w.begin_object();
  for (const auto& [symbol, series] : map) w.member(symbol, series);
  w.end_object();
}

}  // namespace

Dataset Dataset::synthetic(std::size_t n_symbols, std::size_t n_days, std::uint64_t seed) {
  return synthetic_parameterized(n_symbols, n_days, seed, 1.0, 0.0, 0.0);
}

Dataset Dataset::synthetic_parameterized(std::size_t n_symbols, std::size_t n_days,
                                         std::uint64_t seed, double vol_scale,
                                         double jump_probability, double jump_size) {
  check_holdable(n_symbols, n_days);
  Dataset ds;
  ds.dates.reserve(n_days);
  for (std::size_t i = 0; i < n_days; ++i) ds.dates.push_back("2025-" + zero_padded(i + 1, 3));
  // One stream for the whole data set: each instrument continues where the
  // previous one stopped, so instruments are generated in index order.
  support::SplitMix64 rng(seed ^ kSyntheticStreamKey);
  for (std::size_t k = 0; k < n_symbols; ++k) {
    ds.closes.emplace("SYM" + zero_padded(k, 2),
                      synthetic_series(rng, k, n_symbols, n_days, vol_scale, jump_probability,
                                       jump_size));
  }
  return ds;
}

support::Result<Dataset, std::string> Dataset::from_csv(std::string_view text) {
  return load_csv(text);
}

std::vector<std::string> Dataset::symbols() const {
  std::vector<std::string> out;
  out.reserve(closes.size());
  for (const auto& entry : closes) out.push_back(entry.first);
  return out;
}

std::vector<double> Dataset::history(const std::string& symbol, std::size_t t,
                                     std::size_t lookback) const {
  auto it = closes.find(symbol);
  if (it == closes.end() || it->second.empty() || lookback == 0) return {};
  const std::vector<double>& series = it->second;
  const std::size_t end = std::min(t, series.size() - 1) + 1;
  const std::size_t count = std::min(end, lookback);
  return std::vector<double>(series.begin() + static_cast<std::ptrdiff_t>(end - count),
                             series.begin() + static_cast<std::ptrdiff_t>(end));
}

std::optional<double> Dataset::close_at(const std::string& symbol, std::size_t t) const {
  auto it = closes.find(symbol);
  if (it == closes.end() || t >= it->second.size()) return std::nullopt;
  return it->second[t];
}

void write_json(support::JsonWriter& w, const Dataset& dataset) {
  w.begin_object();
  w.member("dates", dataset.dates);
  w.key("closes");
  write_series_map(w, dataset.closes);
  w.key("dividends");
  write_series_map(w, dataset.dividends);
  w.end_object();
}

std::string to_json(const Dataset& dataset) {
  std::string out;
  std::size_t values = 0;
  for (const auto& entry : dataset.closes) values += entry.second.size();
  // Only a hint: a data set that exists has a JSON text of about this size.
  const double estimate = 64.0 + static_cast<double>(dataset.dates.size()) * 12.0 +
                          static_cast<double>(values) * 20.0;
  if (estimate < static_cast<double>(out.max_size())) {
    out.reserve(static_cast<std::size_t>(estimate));
  }
  support::JsonWriter w(out);
  write_json(w, dataset);
  return out;
}

}  // namespace talmoor_sim::data
