// The string and number operations the procedures are written against.
#include <gtest/gtest.h>

#include <limits>

#include "platform/Host.h"
#include "shell/Vb.h"
#include "tests/ErrorOf.h"

namespace ovlu {
namespace {

TEST(TextTest, PositionsCountFromOneAndBadArgumentsAreErrors) {
  EXPECT_EQ(InStr(9, "abc", "c"), 0u);     // beyond the end
  EXPECT_EQ(InStr(1, "<S-x", "<s-"), 0u);  // exact character codes
  EXPECT_EQ(Mid("abc", 4), "");
  EXPECT_EQ(MidLen("abc", 2, 99), "bc");

  EXPECT_EQ(ErrorOf([] { InStr(0, "abc", "a"); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { Mid("abc", 0); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { MidLen("abc", 1, -1); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { Left("abc", -1); }), errInvalidCall);
}

TEST(TextTest, AnsiLettersAndUtf8) {
  // À É Þ Š Ÿ lower; × and ß stay.
  EXPECT_EQ(LCase("Setup.EXE \xC0\xC9\xDE\x8A\x9F\xD7\xDF"),
            "setup.exe \xE0\xE9\xFE\x9A\xFF\xD7\xDF");
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");  // outside Windows-1252
}

TEST(TextTest, TwoDecimalsHalvesToEvenWithTheUsersSeparator) {
  struct Case {
    double value;
    const char* separator;
    const char* text;
  } cases[] = {
      {0.125, ".", "0.12"},
      {0.375, ",", "0,38"},
      {0.625, ".", "0.62"},
      // Decimal halves of megabytes that doubles cannot hold exactly.
      {1225000 / 1e6, ",", "1,22"},
      {1245000 / 1e6, ".", "1.24"},
      {1235000 / 1e6, ".", "1.24"},
      {35000 / 1e6, ".", "0.04"},
      {2147483000 / 1e6, ".", "2147.48"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Round2Text(c.value, c.separator), c.text) << c.value << " with " << c.separator;
}

// Content-Length as the transfer reads it. The conversion of a double to a
// Long is held by the remaining-time rows of the progress test.
TEST(TextTest, HeaderNumbersStopAtThirtyTwoBits) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  struct Header {
    const char* text;
    std::int32_t result;
    int error;
  } headers[] = {
      {" 42 ", 42, 0},           {"+7", 7, 0},
      {"-2147483648", kMin, 0},  {"2147483648", 0, errOverflow},
      {"", 0, errTypeMismatch},  {"12a", 0, errTypeMismatch},
      {"-", 0, errTypeMismatch},
  };
  for (const Header& h : headers) {
    std::int32_t r = 0;
    EXPECT_EQ(ErrorOf([&] { r = TextToLong(h.text); }), h.error) << '"' << h.text << '"';
    EXPECT_EQ(r, h.result) << h.text;
  }
}

}  // namespace
}  // namespace ovlu
