#include "support/float_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <system_error>

namespace support {
namespace {

// Shortest round-trip decimal digits of a finite, non-zero |value| and the
// decimal exponent of the first digit.
struct Digits {
  char digits[32];
  int count = 0;
  int exponent = 0;
};

Digits shortest_digits(double magnitude) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf - 1, magnitude, std::chars_format::scientific);
  *res.ptr = '\0';  // to_chars does not terminate; atoi below must stop at the exponent's end
  Digits d;
  const char* p = buf;
  for (; p < res.ptr && *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  d.exponent = std::atoi(p + 1);  // to_chars writes a sign and at least two digits
  while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
  return d;
}

// Plain decimal notation of the digits; `point_zero` appends ".0" to integers.
void append_plain(std::string& out, const Digits& d, bool point_zero) {
  if (d.exponent < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exponent - 1), '0');
    out.append(d.digits, d.count);
    return;
  }
  int int_len = d.exponent + 1;
  if (d.count <= int_len) {
    out.append(d.digits, d.count);
    out.append(static_cast<std::size_t>(int_len - d.count), '0');
    if (point_zero) out += ".0";
  } else {
    out.append(d.digits, int_len);
    out += '.';
    out.append(d.digits + int_len, d.count - int_len);
  }
}

}  // namespace

void append_json_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out += '-';
  if (value == 0.0) {
    out += "0.0";
    return;
  }
  Digits d = shortest_digits(std::fabs(value));
  if (d.exponent >= -5 && d.exponent <= 15) {
    append_plain(out, d, true);
    return;
  }
  out += d.digits[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.digits + 1, d.count - 1);
  }
  out += 'e';
  out += d.exponent < 0 ? '-' : '+';
  out += std::to_string(std::abs(d.exponent));
}

std::string json_number(double value) {
  std::string out;
  append_json_number(out, value);
  return out;
}

std::string display_number(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  std::string out;
  if (std::signbit(value)) out += '-';
  if (value == 0.0) {
    out += '0';
    return out;
  }
  append_plain(out, shortest_digits(std::fabs(value)), false);
  return out;
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;  // start of the pending run of bytes that need no escape
  for (std::size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
  }
  out.append(text.data() + run, text.size() - run);
  out += '"';
}

std::string quote_label(std::string_view label) {
  std::string out;
  append_json_string(out, label);
  return out;
}

}  // namespace support
