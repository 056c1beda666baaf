#pragma once
// The two text forms of a 64-bit float: the JSON number form written into
// every output, and the plain decimal display form used inside messages.

#include <string>
#include <string_view>

namespace support {

// JSON form: shortest round-trip digits; plain notation when the decimal
// exponent of the first significant digit is in [-5, 15] (integral values keep
// ".0"), otherwise scientific ("1.5e-7", "1e+16"); NaN and infinities -> null.
void append_json_number(std::string& out, double value);
std::string json_number(double value);

// Display form: shortest round-trip digits, never an exponent, integral values
// without a fraction ("2", "-0", "0.0000001"), and "NaN", "inf", "-inf".
std::string display_number(double value);

// JSON string escaping: '"', '\\' and U+0000..U+001F only; everything else raw.
void append_json_string(std::string& out, std::string_view text);

// A caller's label embedded in a message: double-quoted with escapes.
std::string quote_label(std::string_view label);

}  // namespace support
