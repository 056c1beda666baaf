#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "sim/data.hpp"
#include "support/splitmix64.hpp"

namespace {

using talmoor_sim::data::Dataset;
using talmoor_sim::data::load_csv;

std::string load_error(const std::string& text) {
  auto result = load_csv(text);
  if (result.ok()) return "<loaded>";
  return result.error();
}

Dataset load_ok(const std::string& text) {
  auto result = load_csv(text);
  EXPECT_TRUE(result.ok()) << result.error();
  return result.ok() ? result.value() : Dataset{};
}

struct FailureCase {
  const char* name;
  std::string text;
  std::string message;
};

class CsvFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CsvFailureTest, ReportsTheFirstProblem) {
  EXPECT_EQ(load_error(GetParam().text), GetParam().message);
}

const std::string kOk = "2024-01-02,A,1\n2024-01-03,A,2\n";

INSTANTIATE_TEST_SUITE_P(
    Table, CsvFailureTest,
    ::testing::Values(
        FailureCase{"Empty", "", "empty CSV"},
        FailureCase{"DuplicateHeader", "date,symbol,close,date\n" + kOk,
                    "CSV header contains duplicate column names"},
        FailureCase{"DuplicateBeforeMissing", "x,x\n",
                    "CSV header contains duplicate column names"},
        FailureCase{"DuplicateAfterTrim", "date,symbol,close, close\n",
                    "CSV header contains duplicate column names"},
        FailureCase{"MissingDate", "symbol,close\n", "CSV header missing 'date'"},
        FailureCase{"MissingDateBeforeOthers", "volume\n", "CSV header missing 'date'"},
        FailureCase{"CapitalisedNames", "Date,Symbol,Close\n2024-01-02,A,1\n",
                    "CSV header missing 'date'"},
        FailureCase{"LeadingBlankLine", "\ndate,symbol,close\n" + kOk,
                    "CSV header missing 'date'"},
        FailureCase{"MissingSymbol", "close,date\n", "CSV header missing 'symbol'"},
        FailureCase{"MissingClose", "date,symbol,price\n", "CSV header missing 'close'"},
        FailureCase{"NoDateField", "symbol,close,date\nA,1\n", "CSV row 2: too few columns"},
        FailureCase{"NoSymbolField", "date,symbol,close\n2024-01-02\n",
                    "CSV row 2: too few columns"},
        FailureCase{"EmptySymbol", "date,symbol,close\n2024-01-02,,1\n",
                    "CSV row 2: date and symbol must be nonempty"},
        FailureCase{"EmptyDate", "date,symbol,close\n  ,A,1\n",
                    "CSV row 2: date and symbol must be nonempty"},
        FailureCase{"EmptyKeyBeforeMissingClose", "date,symbol,close\n,A\n",
                    "CSV row 2: date and symbol must be nonempty"},
        FailureCase{"NoCloseField", "date,symbol,close\n2024-01-02,A\n",
                    "CSV row 2: too few columns"},
        FailureCase{"NonNumericClose", "date,symbol,close\n2024-01-02,A,abc\n",
                    "CSV row 2: non-numeric close"},
        FailureCase{"EmptyClose", "date,symbol,close\n2024-01-02,A,\n",
                    "CSV row 2: non-numeric close"},
        FailureCase{"NaNClose", "date,symbol,close\n2024-01-02,A,NaN\n",
                    "CSV row 2: close must be finite"},
        FailureCase{"InfClose", "date,symbol,close\n2024-01-02,A,-Infinity\n",
                    "CSV row 2: close must be finite"},
        FailureCase{"OverflowingClose", "date,symbol,close\n2024-01-02,A,1e400\n",
                    "CSV row 2: close must be finite"},
        FailureCase{"CloseBeforeDividendColumns", "date,symbol,close,dividend\n2024-01-02,A,x\n",
                    "CSV row 2: non-numeric close"},
        FailureCase{"NoDividendField", "date,symbol,close,dividend\n2024-01-02,A,1\n",
                    "CSV row 2: too few columns"},
        FailureCase{"EmptyDividend", "date,symbol,close,dividend\n2024-01-02,A,1,\n",
                    "CSV row 2: non-numeric dividend"},
        FailureCase{"NonNumericDividend", "date,symbol,close,dividend\n2024-01-02,A,1,$1\n",
                    "CSV row 2: non-numeric dividend"},
        FailureCase{"NegativeDividend", "date,symbol,close,dividend\n2024-01-02,A,1,-0.5\n",
                    "CSV row 2: dividend must be finite and nonnegative"},
        FailureCase{"NaNDividend", "date,symbol,close,dividend\n2024-01-02,A,1,nan\n",
                    "CSV row 2: dividend must be finite and nonnegative"},
        FailureCase{"DuplicateKey", "date,symbol,close\n2024-01-02,A,1\n 2024-01-02 ,A,2\n",
                    "CSV row 3: duplicate (date, symbol) key (2024-01-02, A)"},
        FailureCase{"HeaderOnly", "date,symbol,close\n", "CSV has no data rows"},
        FailureCase{"OnlyBlankRows", "date,symbol,close\r\n\r\n   \n\t\n",
                    "CSV has no data rows"},
        FailureCase{"OneDate", "date,symbol,close\n2024-01-02,A,1\n",
                    "CSV has fewer than 2 dates common to all symbols"},
        FailureCase{"OneCommonDate",
                    "date,symbol,close\nd1,A,1\nd2,A,1\nd3,B,1\nd4,B,1\nd2,B,1\n",
                    "CSV has fewer than 2 dates common to all symbols"}),
    [](const ::testing::TestParamInfo<FailureCase>& c) { return c.param.name; });

TEST(CsvFailure, RowNumbersCountBlankLinesAndTheHeader) {
  EXPECT_EQ(load_error("date,symbol,close\nd1,A,1\n\nd2,A,x\n"), "CSV row 4: non-numeric close");
  EXPECT_EQ(load_error("date,symbol,close\r\nd1,A,1\r\n \r\nd2,A,x\r\n"),
            "CSV row 4: non-numeric close");
}

TEST(CsvFailure, TheEarliestRowFailsFirst) {
  // A repeated key before an unreadable row is the first problem...
  EXPECT_EQ(load_error("date,symbol,close\nd1,A,1\nd1,A,2\nd2,A,x\n"),
            "CSV row 3: duplicate (date, symbol) key (d1, A)");
  // ...and an unreadable row before a repeated key is.
  EXPECT_EQ(load_error("date,symbol,close\nd1,A,1\nd2,A,x\nd1,A,2\n"),
            "CSV row 3: non-numeric close");
  // Of several repeated keys, the one whose repeat comes first is reported.
  EXPECT_EQ(load_error("date,symbol,close\nd2,B,1\nd1,A,1\nd1,A,2\nd2,B,1\nd1,A,3\n"),
            "CSV row 4: duplicate (date, symbol) key (d1, A)");
}

struct NumberCase {
  const char* field;
  double value;
};

class CsvNumberTest : public ::testing::TestWithParam<NumberCase> {};

TEST_P(CsvNumberTest, ReadsDecimalFloats) {
  Dataset ds = load_ok(std::string("date,symbol,close\nd1,A,") + GetParam().field + "\nd2,A,1\n");
  ASSERT_EQ(ds.closes.count("A"), 1u);
  EXPECT_EQ(ds.closes.at("A")[0], GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Forms, CsvNumberTest,
    ::testing::Values(NumberCase{"101.25", 101.25}, NumberCase{"  7 ", 7.0},
                      NumberCase{"+3", 3.0}, NumberCase{"-2.5", -2.5}, NumberCase{"0", 0.0},
                      NumberCase{"5.", 5.0}, NumberCase{".5", 0.5}, NumberCase{"1e3", 1000.0},
                      NumberCase{"1.5E-2", 0.015}, NumberCase{"2e+2", 200.0},
                      NumberCase{"1e-400", 0.0}, NumberCase{"0.1", 0.1},
                      NumberCase{"\xC2\xA0" "4\xE3\x80\x80", 4.0}));

TEST(CsvNumber, OutOfRangeLiteralsReadAsInfinityOrZero) {
  auto close_of = [](const std::string& field) {
    return load_ok("date,symbol,close\nd1,A," + field + "\nd2,A,1\n").closes.at("A")[0];
  };
  auto error_of = [](const std::string& field) {
    return load_error("date,symbol,close\nd1,A," + field + "\nd2,A,1\n");
  };
  EXPECT_EQ(error_of("1" + std::string(400, '0')), "CSV row 2: close must be finite");
  EXPECT_EQ(error_of("-0.001e312"), "CSV row 2: close must be finite");
  EXPECT_EQ(error_of("0.5e99999999999999999999"), "CSV row 2: close must be finite");
  EXPECT_EQ(close_of("0." + std::string(400, '0') + "1"), 0.0);
  EXPECT_EQ(close_of("1000e-99999999999999999999"), 0.0);
  EXPECT_TRUE(std::signbit(close_of("-1e-400")));
  EXPECT_EQ(close_of("0e999999"), 0.0);
}

class CsvNonNumericTest : public ::testing::TestWithParam<const char*> {};

TEST_P(CsvNonNumericTest, RefusesOtherText) {
  EXPECT_EQ(load_error(std::string("date,symbol,close\nd1,A,") + GetParam() + "\nd2,A,1\n"),
            "CSV row 2: non-numeric close");
}

INSTANTIATE_TEST_SUITE_P(Forms, CsvNonNumericTest,
                         ::testing::Values("1e", "e5", ".", "+", "--1", "0x10", "1 000", "1_0",
                                           "\"1\"", "nan(1)", "infinit", "1.2.3", "1e5.0",
                                           "\xFF"));

const char* kSorted =
    "date,symbol,close\n"
    "2024-01-02,AAA,10\n"
    "2024-01-03,AAA,11\n"
    "2024-01-04,AAA,12\n"
    "2024-01-02,BBB,20\n"
    "2024-01-03,BBB,21\n"
    "2024-01-04,BBB,22\n";

TEST(CsvLoad, BuildsTheDataSet) {
  Dataset ds = load_ok(kSorted);
  EXPECT_EQ(to_json(ds),
            R"({"dates":["2024-01-02","2024-01-03","2024-01-04"],)"
            R"("closes":{"AAA":[10.0,11.0,12.0],"BBB":[20.0,21.0,22.0]},"dividends":{}})");
}

TEST(CsvLoad, RowOrderDoesNotMatter) {
  const char* shuffled =
      "date,symbol,close\n"
      "2024-01-04,BBB,22\n"
      "2024-01-03,AAA,11\n"
      "2024-01-04,AAA,12\n"
      "2024-01-02,BBB,20\n"
      "2024-01-03,BBB,21\n"
      "2024-01-02,AAA,10\n";
  EXPECT_EQ(to_json(load_ok(shuffled)), to_json(load_ok(kSorted)));
}

TEST(CsvLoad, CrlfLoadsLikeLf) {
  std::string crlf;
  for (const char* c = kSorted; *c; ++c) {
    if (*c == '\n') crlf += '\r';
    crlf += *c;
  }
  EXPECT_EQ(to_json(load_ok(crlf)), to_json(load_ok(kSorted)));
  std::string no_final_newline(kSorted);
  no_final_newline.pop_back();
  EXPECT_EQ(to_json(load_ok(no_final_newline)), to_json(load_ok(kSorted)));
}

TEST(CsvLoad, ExtraColumnsInAnyOrderAreIgnored) {
  const char* text =
      "volume , close,\"note\",symbol,date\n"
      "x,10,\"a\",AAA,2024-01-02\n"
      "y,11,b,AAA,2024-01-03\n";
  EXPECT_EQ(to_json(load_ok(text)),
            R"({"dates":["2024-01-02","2024-01-03"],"closes":{"AAA":[10.0,11.0]},"dividends":{}})");
}

TEST(CsvLoad, OnlyDatesSharedByAllSymbolsRemain) {
  const char* text =
      "date,symbol,close\n"
      "2024-01-02,A,1\n2024-01-03,A,2\n2024-01-04,A,3\n"
      "2024-01-02,B,4\n2024-01-04,B,6\n";
  EXPECT_EQ(to_json(load_ok(text)),
            R"({"dates":["2024-01-02","2024-01-04"],"closes":{"A":[1.0,3.0],"B":[4.0,6.0]},)"
            R"("dividends":{}})");
}

TEST(CsvLoad, DatesSortByteWiseAndSymbolsTooAndFieldsAreTrimmed) {
  const char* text =
      "date,symbol,close\n"
      " 10 ,b,1\n 9 ,b,2\n10,B,3\n9,B,4\n";
  EXPECT_EQ(to_json(load_ok(text)),
            R"({"dates":["10","9"],"closes":{"B":[3.0,4.0],"b":[1.0,2.0]},"dividends":{}})");
}

TEST(CsvLoad, ThousandsCommaShiftsLaterColumns) {
  // "1,000" splits into two fields: the close reads 1 and the symbol "000".
  Dataset ds = load_ok("date,close,symbol\nd1,1,000,A\nd2,2,000,A\n");
  EXPECT_EQ(ds.symbols(), std::vector<std::string>{"000"});
  EXPECT_EQ(ds.closes.at("000"), (std::vector<double>{1.0, 2.0}));
}

TEST(CsvLoad, ZeroAndNegativeClosesAreData) {
  Dataset ds = load_ok("date,symbol,close\nd1,A,0\nd2,A,-3\n");
  EXPECT_EQ(ds.closes.at("A"), (std::vector<double>{0.0, -3.0}));
}

TEST(CsvLoad, DividendsOnlyForPayingSymbols) {
  const char* all_zero =
      "date,symbol,close,dividend\nd1,A,1,0\nd2,A,2,-0.0\nd1,B,3,0.0\nd2,B,4,0\n";
  EXPECT_TRUE(load_ok(all_zero).dividends.empty());
  const char* one_payer =
      "date,symbol,close,dividend\nd1,A,1,0\nd2,A,2,0\nd1,B,3,0\nd2,B,4,0.5\nd3,B,5,9\n";
  Dataset ds = load_ok(one_payer);
  EXPECT_EQ(to_json(ds), R"({"dates":["d1","d2"],"closes":{"A":[1.0,2.0],"B":[3.0,4.0]},)"
                         R"("dividends":{"B":[0.0,0.5]}})");
}

TEST(CsvLoad, QuotesAreOrdinaryCharacters) {
  Dataset ds = load_ok("date,symbol,close\n\"d1\",\"A\",1\n\"d2\",\"A\",2\n");
  EXPECT_EQ(ds.symbols(), std::vector<std::string>{"\"A\""});
  EXPECT_EQ(ds.dates, (std::vector<std::string>{"\"d1\"", "\"d2\""}));
}

TEST(CsvRobustness, ArbitraryBytesNeverCrash) {
  support::SplitMix64 rng(2024);
  const std::string alphabet =
      "date,symbol,close,dividend\n\r \t0123456789.eE+-naifAB\"\xC2\xA0\xFF";
  for (int round = 0; round < 3000; ++round) {
    std::string text = round % 2 == 0 ? "date,symbol,close\n" : "";
    const std::size_t length = rng.next() % 200;
    for (std::size_t i = 0; i < length; ++i) {
      text += round % 3 == 0 ? static_cast<char>(rng.next() & 0xFF)
                             : alphabet[rng.next() % alphabet.size()];
    }
    auto result = load_csv(text);
    if (result.ok()) {
      const Dataset& ds = result.value();
      EXPECT_GE(ds.dates.size(), 2u);
      for (const auto& [symbol, series] : ds.closes) EXPECT_EQ(series.size(), ds.dates.size());
    } else {
      EXPECT_FALSE(result.error().empty());
    }
  }
}

TEST(CsvRobustness, HugeFieldAndManyRows) {
  std::string huge = "date,symbol,close\nd1,A," + std::string(10'000'000, '7') + "\n";
  EXPECT_EQ(load_error(huge), "CSV row 2: close must be finite");
  std::string wide = "date,symbol,close\nd1,A,1" + std::string(1'000'000, ',') + "\nd2,A,2\n";
  EXPECT_EQ(load_csv(wide).value().closes.at("A"), (std::vector<double>{1.0, 2.0}));

  std::string many = "date,symbol,close\n";
  for (int i = 0; i < 1'000'000; ++i) {
    many += 'd';
    many += std::to_string(i % 1000);
    many += ",S";
    many += std::to_string(i / 1000);
    many += ",1.5\n";
  }
  auto result = load_csv(many);
  ASSERT_TRUE(result.ok()) << result.error();
  EXPECT_EQ(result.value().dates.size(), 1000u);
  EXPECT_EQ(result.value().closes.size(), 1000u);
}

}  // namespace
