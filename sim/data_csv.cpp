// The long-format CSV loader. Rows are kept as views into the text and sorted
// once, so memory stays a small multiple of the text whatever its shape.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "sim/data.hpp"

namespace talmoor_sim::data {
namespace {

bool is_ascii_space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Length of the Unicode white-space character (beyond ASCII) that starts at
// `s`, or 0: U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029, U+202F,
// U+205F, U+3000.
std::size_t leading_unicode_space(std::string_view s) {
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (s.size() >= 2 && b(0) == 0xC2 && (b(1) == 0x85 || b(1) == 0xA0)) return 2;
  if (s.size() < 3) return 0;
  if (b(0) == 0xE1 && b(1) == 0x9A && b(2) == 0x80) return 3;
  if (b(0) == 0xE2 && b(1) == 0x80 &&
      ((b(2) >= 0x80 && b(2) <= 0x8A) || b(2) == 0xA8 || b(2) == 0xA9 || b(2) == 0xAF)) {
    return 3;
  }
  if (b(0) == 0xE2 && b(1) == 0x81 && b(2) == 0x9F) return 3;
  if (b(0) == 0xE3 && b(1) == 0x80 && b(2) == 0x80) return 3;
  return 0;
}

// The same set, ending at the end of `s`. Lead bytes are never continuation
// bytes, so a match cannot start inside another character.
std::size_t trailing_unicode_space(std::string_view s) {
  if (s.size() >= 2 && leading_unicode_space(s.substr(s.size() - 2)) == 2) return 2;
  if (s.size() >= 3 && leading_unicode_space(s.substr(s.size() - 3)) == 3) return 3;
  return 0;
}

std::string_view trim(std::string_view s) {
  while (!s.empty()) {
    if (is_ascii_space(static_cast<unsigned char>(s.front()))) {
      s.remove_prefix(1);
    } else if (std::size_t n = leading_unicode_space(s); n > 0) {
      s.remove_prefix(n);
    } else {
      break;
    }
  }
  while (!s.empty()) {
    if (is_ascii_space(static_cast<unsigned char>(s.back()))) {
      s.remove_suffix(1);
    } else if (std::size_t n = trailing_unicode_space(s); n > 0) {
      s.remove_suffix(n);
    } else {
      break;
    }
  }
  return s;
}

// Walks the text line by line: split at '\n', a '\r' right before it dropped.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : text_(text) {}

  bool next(std::string_view& line) {
    if (pos_ >= text_.size()) return false;
    const std::size_t nl = text_.find('\n', pos_);
    if (nl == std::string_view::npos) {
      line = text_.substr(pos_);
      pos_ = text_.size();
    } else {
      line = text_.substr(pos_, nl - pos_);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      pos_ = nl + 1;
    }
    ++number_;
    return true;
  }
  std::size_t number() const { return number_; }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

bool equals_ignoring_case(std::string_view s, std::string_view lower) {
  if (s.size() != lower.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lower[i]) return false;
  }
  return true;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// For an unsigned literal out of double's range: whether it is too large
// (rather than too small). The decimal exponent of its first significant digit
// decides; the written exponent only needs its sign and rough size, so it
// saturates.
bool overflows(std::string_view s, std::size_t int_end, std::size_t mantissa_end) {
  long long first_digit = 0;
  const std::size_t int_start = s.find_first_not_of('0');
  if (int_start < int_end) {
    first_digit = static_cast<long long>(int_end - int_start) - 1;
  } else {
    long long zeros = 0;
    for (std::size_t k = int_end + 1; k < mantissa_end && s[k] == '0'; ++k) ++zeros;
    first_digit = -zeros - 1;
  }
  long long exponent = 0;
  bool exponent_negative = false;
  std::size_t k = mantissa_end + 1;  // past the 'e', when there is one
  if (k < s.size() && (s[k] == '+' || s[k] == '-')) exponent_negative = s[k++] == '-';
  for (; k < s.size(); ++k) exponent = std::min(exponent * 10 + (s[k] - '0'), 1000000000LL);
  return first_digit + (exponent_negative ? -exponent : exponent) > 0;
}

// A decimal float: optional sign, then digits with an optional fraction (or
// a fraction alone) and an optional exponent, or inf / infinity / nan in any
// letter case. Out-of-range literals read as infinity or zero.
std::optional<double> parse_number(std::string_view s) {
  bool negative = false;
  if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (equals_ignoring_case(s, "inf") || equals_ignoring_case(s, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_ignoring_case(s, "nan")) return std::numeric_limits<double>::quiet_NaN();

  auto skip_digits = [&](std::size_t i) {
    while (i < s.size() && is_digit(s[i])) ++i;
    return i;
  };
  const std::size_t int_end = skip_digits(0);
  std::size_t mantissa_end = int_end;
  if (mantissa_end < s.size() && s[mantissa_end] == '.') mantissa_end = skip_digits(int_end + 1);
  const bool has_fraction_digits = mantissa_end > int_end + 1;
  if (int_end == 0 && !has_fraction_digits) return std::nullopt;
  std::size_t end = mantissa_end;
  if (end < s.size() && (s[end] == 'e' || s[end] == 'E')) {
    std::size_t digits_start = end + 1;
    if (digits_start < s.size() && (s[digits_start] == '+' || s[digits_start] == '-')) {
      ++digits_start;
    }
    end = skip_digits(digits_start);
    if (end == digits_start) return std::nullopt;
  }
  if (end != s.size()) return std::nullopt;

  double value = 0.0;
  auto res = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    value = overflows(s, int_end, mantissa_end) ? std::numeric_limits<double>::infinity() : 0.0;
  } else if (res.ec != std::errc() || res.ptr != s.data() + s.size()) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

// The fields of a row at the column positions the loader needs, trimmed.
struct RowFields {
  static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
  std::size_t positions[4];  // date, symbol, close, dividend (kNone when absent)
  std::optional<std::string_view> values[4];

  void read(std::string_view line) {
    std::size_t last_needed = 0;
    for (std::size_t p : positions) {
      if (p != kNone) last_needed = std::max(last_needed, p);
    }
    for (auto& v : values) v.reset();
    std::size_t index = 0;
    std::size_t start = 0;
    while (index <= last_needed) {
      const std::size_t comma = line.find(',', start);
      const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
      for (std::size_t f = 0; f < 4; ++f) {
        if (positions[f] == index) values[f] = trim(line.substr(start, end - start));
      }
      if (comma == std::string_view::npos) break;
      start = comma + 1;
      ++index;
    }
  }
};

enum Column : std::size_t { kDate = 0, kSymbol = 1, kClose = 2, kDividend = 3 };

struct Observation {
  std::string_view date;
  std::string_view symbol;
  double close;
  double dividend;
  std::size_t row;
};

std::string row_message(std::size_t row, std::string_view what) {
  return "CSV row " + std::to_string(row) + ": " + std::string(what);
}

struct Header {
  std::size_t positions[4];
};

support::Result<Header, std::string> read_header(std::string_view line) {
  std::vector<std::string_view> names;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = line.find(',', start);
    const std::size_t end = comma == std::string_view::npos ? line.size() : comma;
    names.push_back(trim(line.substr(start, end - start)));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  std::vector<std::string_view> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    return support::err(std::string("CSV header contains duplicate column names"));
  }
  auto position_of = [&](std::string_view name) {
    auto it = std::find(names.begin(), names.end(), name);
    return it == names.end() ? RowFields::kNone : static_cast<std::size_t>(it - names.begin());
  };
  Header h{{position_of("date"), position_of("symbol"), position_of("close"),
            position_of("dividend")}};
  if (h.positions[kDate] == RowFields::kNone) {
    return support::err(std::string("CSV header missing 'date'"));
  }
  if (h.positions[kSymbol] == RowFields::kNone) {
    return support::err(std::string("CSV header missing 'symbol'"));
  }
  if (h.positions[kClose] == RowFields::kNone) {
    return support::err(std::string("CSV header missing 'close'"));
  }
  return h;
}

// Reads one data row; the checks run in the loader's documented order.
support::Result<Observation, std::string> read_row(RowFields& fields, std::string_view line,
                                                   std::size_t row, bool has_dividend) {
  fields.read(line);
  const auto& v = fields.values;
  if (!v[kDate] || !v[kSymbol]) return support::err(row_message(row, "too few columns"));
  if (v[kSymbol]->empty() || v[kDate]->empty()) {
    return support::err(row_message(row, "date and symbol must be nonempty"));
  }
  if (!v[kClose]) return support::err(row_message(row, "too few columns"));
  const std::optional<double> close = parse_number(*v[kClose]);
  if (!close) return support::err(row_message(row, "non-numeric close"));
  if (!std::isfinite(*close)) return support::err(row_message(row, "close must be finite"));
  double dividend = 0.0;
  if (has_dividend) {
    if (!v[kDividend]) return support::err(row_message(row, "too few columns"));
    const std::optional<double> d = parse_number(*v[kDividend]);
    if (!d) return support::err(row_message(row, "non-numeric dividend"));
    if (!std::isfinite(*d) || *d < 0.0) {
      return support::err(row_message(row, "dividend must be finite and nonnegative"));
    }
    dividend = *d;
  }
  return Observation{*v[kDate], *v[kSymbol], *close, dividend, row};
}

bool by_symbol_then_date(const Observation& a, const Observation& b) {
  if (a.symbol != b.symbol) return a.symbol < b.symbol;
  return a.date < b.date;
}

bool same_key(const Observation& a, const Observation& b) {
  return a.symbol == b.symbol && a.date == b.date;
}

// The earliest row that repeats a (date, symbol) pair read before it.
const Observation* first_duplicate(const std::vector<Observation>& sorted) {
  const Observation* found = nullptr;
  for (std::size_t i = 1; i < sorted.size(); ++i) {
    // Stable sorting keeps row order within a key: the second of a run is the
    // first repeat of that key.
    if (same_key(sorted[i - 1], sorted[i]) && (i < 2 || !same_key(sorted[i - 2], sorted[i]))) {
      if (found == nullptr || sorted[i].row < found->row) found = &sorted[i];
    }
  }
  return found;
}

std::vector<std::string_view> common_dates(const std::vector<Observation>& sorted) {
  std::vector<std::string_view> common;
  std::vector<std::string_view> dates;
  std::vector<std::string_view> merged;
  bool first_symbol = true;
  for (std::size_t i = 0; i < sorted.size();) {
    dates.clear();
    std::size_t j = i;
    for (; j < sorted.size() && sorted[j].symbol == sorted[i].symbol; ++j) {
      dates.push_back(sorted[j].date);
    }
    if (first_symbol) {
      common = dates;
      first_symbol = false;
    } else {
      merged.clear();
      std::set_intersection(common.begin(), common.end(), dates.begin(), dates.end(),
                            std::back_inserter(merged));
      common.swap(merged);
    }
    i = j;
  }
  return common;
}

std::size_t count_nonblank_lines(std::string_view text) {
  LineReader lines(text);
  std::string_view line;
  std::size_t count = 0;
  while (lines.next(line)) {
    if (!trim(line).empty()) ++count;
  }
  return count;
}

}  // namespace

support::Result<Dataset, std::string> load_csv(std::string_view text) {
  LineReader lines(text);
  std::string_view line;
  if (!lines.next(line)) return support::err(std::string("empty CSV"));
  auto header = read_header(line);
  if (!header.ok()) return support::err(header.error());
  const bool has_dividend = header.value().positions[kDividend] != RowFields::kNone;

  RowFields fields;
  std::copy(std::begin(header.value().positions), std::end(header.value().positions),
            std::begin(fields.positions));
  std::vector<Observation> rows;
  rows.reserve(count_nonblank_lines(text));
  std::optional<std::string> row_error;
  while (lines.next(line)) {
    if (trim(line).empty()) continue;
    auto obs = read_row(fields, line, lines.number(), has_dividend);
    if (!obs.ok()) {
      row_error = obs.error();
      break;
    }
    rows.push_back(obs.value());
  }

  // Every row before the first unreadable one has been read, so a repeated
  // key among them is the earlier failure.
  std::stable_sort(rows.begin(), rows.end(), by_symbol_then_date);
  if (const Observation* dup = first_duplicate(rows)) {
    return support::err(row_message(dup->row, "duplicate (date, symbol) key (" +
                                                  std::string(dup->date) + ", " +
                                                  std::string(dup->symbol) + ")"));
  }
  if (row_error) return support::err(std::move(*row_error));
  if (rows.empty()) return support::err(std::string("CSV has no data rows"));

  const std::vector<std::string_view> dates = common_dates(rows);
  if (dates.size() < 2) {
    return support::err(std::string("CSV has fewer than 2 dates common to all symbols"));
  }

  Dataset ds;
  ds.dates.assign(dates.begin(), dates.end());
  for (std::size_t i = 0; i < rows.size();) {
    std::vector<double> closes;
    std::vector<double> dividends;
    closes.reserve(dates.size());
    if (has_dividend) dividends.reserve(dates.size());
    bool pays = false;
    std::size_t d = 0;
    std::size_t j = i;
    for (; j < rows.size() && rows[j].symbol == rows[i].symbol; ++j) {
      if (d < dates.size() && rows[j].date == dates[d]) {
        closes.push_back(rows[j].close);
        if (has_dividend) {
          dividends.push_back(rows[j].dividend);
          pays = pays || rows[j].dividend != 0.0;
        }
        ++d;
      }
    }
    const std::string symbol(rows[i].symbol);
    if (pays) ds.dividends.emplace(symbol, std::move(dividends));
    ds.closes.emplace(symbol, std::move(closes));
    i = j;
  }
  return ds;
}

}  // namespace talmoor_sim::data
