#include "support/json_reader.hpp"

#include <charconv>
#include <cmath>
#include <system_error>

#include "support/float_text.hpp"

namespace support::json {

std::string ReadError::display() const {
  return message + " at line " + std::to_string(position.line) + " column " +
         std::to_string(position.column);
}

const Value* Value::find(std::string_view key) const {
  for (const Member& m : members) {
    if (m.key == key) return &m.value;
  }
  return nullptr;
}

std::string describe(const Value& v) {
  switch (v.kind) {
    case Kind::kNull: return "null";
    case Kind::kBool: return v.boolean ? "boolean `true`" : "boolean `false`";
    case Kind::kInteger:
      return "integer `" + (v.negative ? std::to_string(v.int_value) : std::to_string(v.uint_value)) +
             "`";
    case Kind::kFloat: return "floating point `" + json_number(v.number) + "`";
    case Kind::kString: return "string " + quote_label(v.text);
    case Kind::kArray: return "sequence";
    case Kind::kObject: return "map";
  }
  return "value";
}

namespace {

bool is_ws(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  Result<Value, ReadError> run() {
    skip_ws();
    Value v;
    if (!parse_value(v, 0)) return err(std::move(error_));
    skip_ws();
    if (i_ < s_.size()) {
      fail_here("trailing characters");
      return err(std::move(error_));
    }
    return v;
  }

 private:
  // Position of the byte at index i_ (1-based line and column).
  Position here() const { return Position{line_, static_cast<std::uint32_t>(i_ - line_start_ + 1)}; }

  bool fail_at(Position p, std::string message) {
    error_ = ReadError{std::move(message), p};
    return false;
  }
  bool fail_here(std::string message) { return fail_at(here(), std::move(message)); }

  void advance() {
    if (s_[i_] == '\n') {
      ++line_;
      line_start_ = i_ + 1;
    }
    ++i_;
  }
  void skip_ws() {
    while (i_ < s_.size() && is_ws(s_[i_])) advance();
  }
  bool at_end() const { return i_ >= s_.size(); }

  bool parse_value(Value& v, int depth) {
    if (at_end()) return fail_here("EOF while parsing a value");
    v.position = here();
    char c = s_[i_];
    bool ok;
    switch (c) {
      case '{': ok = parse_object(v, depth + 1); break;
      case '[': ok = parse_array(v, depth + 1); break;
      case '"':
        v.kind = Kind::kString;
        ok = parse_string(v.text);
        break;
      case 't': ok = parse_literal("true", v, Kind::kBool, true); break;
      case 'f': ok = parse_literal("false", v, Kind::kBool, false); break;
      case 'n': ok = parse_literal("null", v, Kind::kNull, false); break;
      default:
        if (c == '-' || (c >= '0' && c <= '9')) {
          ok = parse_number(v);
        } else {
          ok = fail_here("expected value");
        }
    }
    if (ok) v.end = here();
    return ok;
  }

  bool parse_literal(std::string_view word, Value& v, Kind kind, bool b) {
    for (char w : word) {
      if (at_end()) return fail_here("EOF while parsing a value");
      if (s_[i_] != w) return fail_here("expected ident");
      advance();
    }
    v.kind = kind;
    v.boolean = b;
    return true;
  }

  bool parse_number(Value& v) {
    std::size_t start = i_;
    Position start_pos = here();
    bool negative = false;
    if (s_[i_] == '-') {
      negative = true;
      advance();
    }
    if (at_end()) return fail_here("EOF while parsing a value");
    if (s_[i_] == '0') {
      advance();
      if (!at_end() && s_[i_] >= '0' && s_[i_] <= '9') return fail_here("invalid number");
    } else if (s_[i_] >= '1' && s_[i_] <= '9') {
      while (!at_end() && s_[i_] >= '0' && s_[i_] <= '9') advance();
    } else {
      return fail_here("invalid number");
    }
    bool integral = true;
    if (!at_end() && s_[i_] == '.') {
      integral = false;
      advance();
      if (at_end()) return fail_here("EOF while parsing a value");
      if (!(s_[i_] >= '0' && s_[i_] <= '9')) return fail_here("invalid number");
      while (!at_end() && s_[i_] >= '0' && s_[i_] <= '9') advance();
    }
    if (!at_end() && (s_[i_] == 'e' || s_[i_] == 'E')) {
      integral = false;
      advance();
      if (!at_end() && (s_[i_] == '+' || s_[i_] == '-')) advance();
      if (at_end()) return fail_here("EOF while parsing a value");
      if (!(s_[i_] >= '0' && s_[i_] <= '9')) return fail_here("invalid number");
      while (!at_end() && s_[i_] >= '0' && s_[i_] <= '9') advance();
    }
    const char* first = s_.data() + start;
    const char* last = s_.data() + i_;
    if (integral) {
      if (negative) {
        std::int64_t x;
        auto r = std::from_chars(first, last, x);
        if (r.ec == std::errc() && r.ptr == last) {
          v.kind = Kind::kInteger;
          v.negative = true;
          v.int_value = x;
          v.number = static_cast<double>(x);
          return true;
        }
      } else {
        std::uint64_t x;
        auto r = std::from_chars(first, last, x);
        if (r.ec == std::errc() && r.ptr == last) {
          v.kind = Kind::kInteger;
          v.uint_value = x;
          v.number = static_cast<double>(x);
          return true;
        }
      }
      // Too wide for 64 bits: read it as a float, as the literal's value.
    }
    double d = 0.0;
    auto r = std::from_chars(first, last, d);
    if (r.ec == std::errc::result_out_of_range) {
      // Underflow reads as zero of the literal's sign; overflow is refused.
      bool huge = false;
      for (const char* p = first; p < last && *p != 'e' && *p != 'E'; ++p) {
        if (*p >= '1' && *p <= '9') huge = true;
      }
      const char* e = first;
      while (e < last && *e != 'e' && *e != 'E') ++e;
      if (e < last && e + 1 < last && e[1] == '-') huge = false;
      if (huge) return fail_at(start_pos, "number out of range");
      d = negative ? -0.0 : 0.0;
    } else if (r.ec != std::errc() || r.ptr != last || !std::isfinite(d)) {
      return fail_at(start_pos, "number out of range");
    }
    v.kind = Kind::kFloat;
    v.number = d;
    return true;
  }

  static int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }

  bool read_hex4(std::uint32_t& out) {
    out = 0;
    for (int k = 0; k < 4; ++k) {
      if (at_end()) return fail_here("EOF while parsing a string");
      int h = hex_digit(s_[i_]);
      if (h < 0) return fail_here("invalid escape");
      out = out * 16 + static_cast<std::uint32_t>(h);
      advance();
    }
    return true;
  }

  static void append_utf8(std::string& out, std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  // Length of the valid UTF-8 sequence starting at i_, or 0.
  std::size_t utf8_length() const {
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(s_[i_ + k]); };
    auto cont = [&](std::size_t k) { return i_ + k < s_.size() && (b(k) & 0xC0) == 0x80; };
    unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
      if (!cont(1) || !cont(2)) return 0;
      if (c == 0xE0 && b(1) < 0xA0) return 0;  // overlong
      if (c == 0xED && b(1) >= 0xA0) return 0;  // surrogate
      return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
      if (!cont(1) || !cont(2) || !cont(3)) return 0;
      if (c == 0xF0 && b(1) < 0x90) return 0;
      if (c == 0xF4 && b(1) >= 0x90) return 0;
      return 4;
    }
    return 0;
  }

  bool parse_string(std::string& out) {
    advance();  // opening quote
    while (true) {
      if (at_end()) return fail_here("EOF while parsing a string");
      char c = s_[i_];
      if (c == '"') {
        advance();
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) {
        return fail_here("control character (\\u0000-\\u001F) found while parsing a string");
      }
      if (c == '\\') {
        advance();
        if (at_end()) return fail_here("EOF while parsing a string");
        char e = s_[i_];
        switch (e) {
          case '"': out += '"'; break;
          case '\\': out += '\\'; break;
          case '/': out += '/'; break;
          case 'b': out += '\b'; break;
          case 'f': out += '\f'; break;
          case 'n': out += '\n'; break;
          case 'r': out += '\r'; break;
          case 't': out += '\t'; break;
          case 'u': {
            advance();
            std::uint32_t cp;
            if (!read_hex4(cp)) return false;
            if (cp >= 0xDC00 && cp <= 0xDFFF) {
              return fail_here("unexpected trailing surrogate in hex escape");
            }
            if (cp >= 0xD800 && cp <= 0xDBFF) {
              if (at_end() || s_[i_] != '\\' || i_ + 1 >= s_.size() || s_[i_ + 1] != 'u') {
                return fail_here("unexpected end of hex escape");
              }
              advance();
              advance();
              std::uint32_t low;
              if (!read_hex4(low)) return false;
              if (low < 0xDC00 || low > 0xDFFF) return fail_here("lone leading surrogate in hex escape");
              cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            }
            append_utf8(out, cp);
            continue;
          }
          default: return fail_here("invalid escape");
        }
        advance();
        continue;
      }
      std::size_t n = utf8_length();
      if (n == 0) return fail_here("invalid unicode code point");
      out.append(s_.data() + i_, n);
      i_ += n;  // multi-byte sequences never hold a line feed
    }
  }

  bool parse_array(Value& v, int depth) {
    if (depth > kMaxDepth) return fail_here("recursion limit exceeded");
    v.kind = Kind::kArray;
    advance();
    skip_ws();
    if (!at_end() && s_[i_] == ']') {
      advance();
      return true;
    }
    while (true) {
      v.items.emplace_back();
      if (!parse_value(v.items.back(), depth)) return false;
      skip_ws();
      if (at_end()) return fail_here("EOF while parsing a list");
      if (s_[i_] == ',') {
        advance();
        skip_ws();
        if (!at_end() && s_[i_] == ']') return fail_here("trailing comma");
        continue;
      }
      if (s_[i_] == ']') {
        advance();
        return true;
      }
      return fail_here("expected `,` or `]`");
    }
  }

  bool parse_object(Value& v, int depth) {
    if (depth > kMaxDepth) return fail_here("recursion limit exceeded");
    v.kind = Kind::kObject;
    advance();
    skip_ws();
    if (!at_end() && s_[i_] == '}') {
      advance();
      return true;
    }
    while (true) {
      if (at_end()) return fail_here("EOF while parsing an object");
      if (s_[i_] != '"') return fail_here("key must be a string");
      Member m;
      m.key_position = here();
      if (!parse_string(m.key)) return false;
      skip_ws();
      if (at_end()) return fail_here("EOF while parsing an object");
      if (s_[i_] != ':') return fail_here("expected `:`");
      advance();
      skip_ws();
      if (!parse_value(m.value, depth)) return false;
      v.members.push_back(std::move(m));
      skip_ws();
      if (at_end()) return fail_here("EOF while parsing an object");
      if (s_[i_] == ',') {
        advance();
        skip_ws();
        if (!at_end() && s_[i_] == '}') return fail_here("trailing comma");
        continue;
      }
      if (s_[i_] == '}') {
        advance();
        return true;
      }
      return fail_here("expected `,` or `}`");
    }
  }

  std::string_view s_;
  std::size_t i_ = 0;
  std::size_t line_start_ = 0;
  std::uint32_t line_ = 1;
  ReadError error_;
};

}  // namespace

Result<Value, ReadError> parse(std::string_view text) { return Parser(text).run(); }

}  // namespace support::json
