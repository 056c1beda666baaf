#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>

#include "support/float_text.hpp"
#include "support/fnv1a.hpp"
#include "support/json_fields.hpp"
#include "support/json_reader.hpp"
#include "support/json_writer.hpp"
#include "support/splitmix64.hpp"

namespace {

using support::display_number;
using support::json_number;

struct NumberCase {
  double value;
  const char* json;
};
// Readable case names in test listings (instead of the struct's raw bytes).
void PrintTo(const NumberCase& c, std::ostream* os) { *os << c.json; }

class JsonNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(JsonNumberTest, WritesOverviewForm) {
  EXPECT_EQ(json_number(GetParam().value), GetParam().json);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, JsonNumberTest,
    ::testing::Values(NumberCase{252.0, "252.0"}, NumberCase{1000000.0, "1000000.0"},
                      NumberCase{0.00001, "0.00001"}, NumberCase{0.0, "0.0"},
                      NumberCase{-0.0, "-0.0"}, NumberCase{1e16, "1e+16"},
                      NumberCase{1.5e-7, "1.5e-7"}, NumberCase{1e-6, "1e-6"},
                      NumberCase{1e15, "1000000000000000.0"},
                      NumberCase{9.999999999999998e15, "9999999999999998.0"},
                      NumberCase{0.000012345, "0.000012345"}, NumberCase{-2.5, "-2.5"},
                      NumberCase{0.1, "0.1"}, NumberCase{123.456, "123.456"},
                      NumberCase{1.7976931348623157e308, "1.7976931348623157e+308"},
                      NumberCase{5e-324, "5e-324"}, NumberCase{-1.25e20, "-1.25e+20"},
                      NumberCase{std::nan(""), "null"},
                      NumberCase{std::numeric_limits<double>::infinity(), "null"},
                      NumberCase{-std::numeric_limits<double>::infinity(), "null"}));

struct DisplayCase {
  double value;
  const char* text;
};
void PrintTo(const DisplayCase& c, std::ostream* os) { *os << c.text; }

class DisplayNumberTest : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayNumberTest, WritesPlainDecimal) {
  EXPECT_EQ(display_number(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, DisplayNumberTest,
    ::testing::Values(DisplayCase{2.0, "2"}, DisplayCase{-1.0, "-1"}, DisplayCase{-0.0, "-0"},
                      DisplayCase{0.0, "0"}, DisplayCase{1e-7, "0.0000001"},
                      DisplayCase{0.5, "0.5"}, DisplayCase{1e16, "10000000000000000"},
                      DisplayCase{1.5e20, "150000000000000000000"},
                      DisplayCase{std::nan(""), "NaN"},
                      DisplayCase{std::numeric_limits<double>::infinity(), "inf"},
                      DisplayCase{-std::numeric_limits<double>::infinity(), "-inf"}));

TEST(JsonNumberRoundTrip, RandomBitPatternsReadBackToTheSameBits) {
  support::SplitMix64 rng(42);
  for (int i = 0; i < 1000000; ++i) {
    double v = std::bit_cast<double>(rng.next());
    if (!std::isfinite(v)) continue;
    std::string text = json_number(v);
    double back = 0.0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), back);
    ASSERT_EQ(r.ec, std::errc()) << text;
    ASSERT_EQ(r.ptr, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << text;
    // The display form must read back too, and never carry an exponent.
    std::string shown = display_number(v);
    ASSERT_EQ(shown.find('e'), std::string::npos);
    r = std::from_chars(shown.data(), shown.data() + shown.size(), back);
    ASSERT_EQ(std::bit_cast<std::uint64_t>(back), std::bit_cast<std::uint64_t>(v)) << shown;
  }
}

TEST(JsonString, EscapesOnlyQuotesBackslashesAndControls) {
  std::string out;
  support::append_json_string(out, std::string("a\"b\\c\n\t\x01\x1f/\xc3\xa9", 12));
  EXPECT_EQ(out, "\"a\\\"b\\\\c\\n\\t\\u0001\\u001f/\xc3\xa9\"");
  EXPECT_EQ(support::quote_label("x\"y"), "\"x\\\"y\"");
}

TEST(JsonWriter, PlacesSeparators) {
  std::string out;
  support::JsonWriter w(out);
  w.begin_object();
  w.member("a", 1.0);
  w.key("b");
  w.begin_array();
  w.integer(-3);
  w.null();
  w.begin_object();
  w.end_object();
  w.end_array();
  w.member("c", std::string("x"));
  w.end_object();
  EXPECT_EQ(out, "{\"a\":1.0,\"b\":[-3,null,{}],\"c\":\"x\"}");
}

TEST(SplitMix64, PublishedFirstOutputForSeedZero) {
  support::SplitMix64 rng(0);
  EXPECT_EQ(rng.next(), 0xE220A8397B1DCDAFULL);
  EXPECT_EQ(rng.next(), 0x6E789E6AA1B965F4ULL);
}

TEST(Fnv1a, PublishedVectors) {
  EXPECT_EQ(support::fnv1a64(""), 0xCBF29CE484222325ULL);
  EXPECT_EQ(support::fnv1a64("a"), 0xAF63DC4C8601EC8CULL);
  EXPECT_EQ(support::fnv1a64("foobar"), 0x85944171F73967E8ULL);
  EXPECT_EQ(support::fnv1a64("bar", support::fnv1a64("foo")), support::fnv1a64("foobar"));
}

namespace json = support::json;

struct ReadErrorCase {
  std::string text;
  const char* display;
};
void PrintTo(const ReadErrorCase& c, std::ostream* os) { *os << c.display; }

class JsonReadErrorTest : public ::testing::TestWithParam<ReadErrorCase> {};

TEST_P(JsonReadErrorTest, ReportsMessageAndPosition) {
  auto r = json::parse(GetParam().text);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display(), GetParam().display);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, JsonReadErrorTest,
    ::testing::Values(
        ReadErrorCase{"", "EOF while parsing a value at line 1 column 1"},
        ReadErrorCase{"{} x", "trailing characters at line 1 column 4"},
        ReadErrorCase{"[1,]", "trailing comma at line 1 column 4"},
        ReadErrorCase{"{\n  \"a\" 1}", "expected `:` at line 2 column 7"},
        ReadErrorCase{"[01]", "invalid number at line 1 column 3"},
        ReadErrorCase{"1e999", "number out of range at line 1 column 1"},
        ReadErrorCase{"\"\\x\"", "invalid escape at line 1 column 3"},
        ReadErrorCase{"\"a\nb\"",
                      "control character (\\u0000-\\u001F) found while parsing a string at line 1 "
                      "column 3"},
        ReadErrorCase{std::string("\"\xff\""), "invalid unicode code point at line 1 column 2"},
        ReadErrorCase{std::string("\"\xed\xa0\x80\""),
                      "invalid unicode code point at line 1 column 2"},
        ReadErrorCase{"\"\\udc00\"", "unexpected trailing surrogate in hex escape at line 1 column 8"},
        ReadErrorCase{"\"\\ud800x\"", "unexpected end of hex escape at line 1 column 8"},
        ReadErrorCase{"tru", "EOF while parsing a value at line 1 column 4"},
        ReadErrorCase{"{1:2}", "key must be a string at line 1 column 2"}));

TEST(JsonReader, DepthLimitIs128) {
  std::string ok(128, '[');
  ok += std::string(128, ']');
  EXPECT_TRUE(json::parse(ok).ok());
  std::string deep(129, '[');
  deep += std::string(129, ']');
  auto r = json::parse(deep);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.error().display(), "recursion limit exceeded at line 1 column 129");
  auto million = json::parse(std::string(1000000, '['));
  ASSERT_FALSE(million.ok());
  EXPECT_EQ(million.error().message, "recursion limit exceeded");
}

TEST(JsonReader, KeepsNumberLiteralKinds) {
  auto r = json::parse(" [1, -2, 2.0, 1e2, 18446744073709551615, 18446744073709551616] \n");
  ASSERT_TRUE(r.ok());
  const auto& items = r.value().items;
  EXPECT_EQ(items[0].kind, json::Kind::kInteger);
  EXPECT_EQ(items[0].uint_value, 1u);
  EXPECT_TRUE(items[1].negative);
  EXPECT_EQ(items[1].int_value, -2);
  EXPECT_EQ(items[2].kind, json::Kind::kFloat);
  EXPECT_EQ(items[3].kind, json::Kind::kFloat);
  EXPECT_EQ(items[3].number, 100.0);
  EXPECT_EQ(items[4].uint_value, 18446744073709551615ULL);
  EXPECT_EQ(items[5].kind, json::Kind::kFloat);
}

TEST(JsonReader, UnescapesStringsAndSurrogatePairs) {
  auto r = json::parse("\"a\\u00e9\\ud83d\\ude00\\n\"");
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(r.value().text, "a\xc3\xa9\xf0\x9f\x98\x80\n");
}

constexpr json::FieldSpec kPairFields[] = {{"left", true}, {"right", false}};
constexpr json::RecordSpec kPair{"Pair", kPairFields};

struct BindCase {
  const char* text;
  const char* display;  // nullptr: binds
};
void PrintTo(const BindCase& c, std::ostream* os) { *os << c.text; }

class BindRecordTest : public ::testing::TestWithParam<BindCase> {};

TEST_P(BindRecordTest, AppliesFieldRules) {
  auto v = json::parse(GetParam().text);
  ASSERT_TRUE(v.ok());
  auto slots = json::bind_record(v.value(), kPair);
  if (GetParam().display == nullptr) {
    EXPECT_TRUE(slots.ok()) << slots.error().display();
  } else {
    ASSERT_FALSE(slots.ok());
    EXPECT_EQ(slots.error().display(), GetParam().display);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BindRecordTest,
    ::testing::Values(
        BindCase{"{\"left\":1}", nullptr}, BindCase{"[1]", nullptr}, BindCase{"[1,2]", nullptr},
        BindCase{"{\"left\":1,\"x\":2}",
                 "unknown field `x`, expected `left` or `right` at line 1 column 11"},
        BindCase{"{\"left\":1,\"left\":2}", "duplicate field `left` at line 1 column 11"},
        BindCase{"{\"right\":1}", "missing field `left` at line 1 column 11"},
        BindCase{"[]", "invalid length 0, expected struct Pair with 2 elements at line 1 column 2"},
        BindCase{"[1,2,3]",
                 "invalid length 3, expected struct Pair with 2 elements at line 1 column 6"},
        BindCase{"\"s\"", "invalid type: string \"s\", expected struct Pair at line 1 column 1"}));

TEST(JsonFields, ScalarKindRules) {
  auto v = json::parse("[1.5, -1, \"x\", 7]");
  ASSERT_TRUE(v.ok());
  const auto& it = v.value().items;
  EXPECT_EQ(json::read_u64(it[0]).error().message,
            "invalid type: floating point `1.5`, expected u64");
  EXPECT_EQ(json::read_u64(it[1]).error().message, "invalid value: integer `-1`, expected u64");
  EXPECT_EQ(json::read_f64(it[2]).error().message, "invalid type: string \"x\", expected f64");
  EXPECT_EQ(json::read_f64(it[3]).value(), 7.0);
  constexpr std::string_view kLabels[] = {"buy", "sell", "hold", "close"};
  auto label = json::parse("\"Buy\"");
  EXPECT_EQ(json::read_label(label.value(), kLabels).error().message,
            "unknown variant `Buy`, expected one of `buy`, `sell`, `hold`, `close`");
  auto object_form = json::parse("{\"hold\":null}");
  EXPECT_EQ(json::read_label(object_form.value(), kLabels).value(), 2u);
}

}  // namespace

namespace {

// Found by fuzzing: the exponent of a written number was read from an
// unterminated buffer, so the same value could be written differently.
TEST(JsonNumberRegression, ExponentsComeFromTheDigitsOnly) {
  for (int round = 0; round < 3; ++round) {
    char dirt[128];
    std::memset(dirt, '7', sizeof dirt);  // leave non-terminated junk on the stack
    (void)dirt[round];
    EXPECT_EQ(json_number(3.5e-1), "0.35");
    EXPECT_EQ(json_number(5e-7), "5e-7");
    EXPECT_EQ(json_number(1.0), "1.0");
    EXPECT_EQ(json_number(1.25e-300), "1.25e-300");
  }
}

}  // namespace
