// The string and number operations the procedures are written against.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/Host.h"
#include "shell/Vb.h"

namespace ovlu {
namespace {

int ErrorOf(void (*f)()) {
  try {
    f();
  } catch (const VbError& e) {
    return e.number;
  }
  return 0;
}

TEST(TextTest, PositionsCountFromOneAndBadArgumentsAreErrors) {
  EXPECT_EQ(InStr(1, "a<b>c", "<"), 2u);
  EXPECT_EQ(InStr(3, "a<b>c", "<"), 0u);
  EXPECT_EQ(InStr(2, "a<b>c<", "<"), 2u);  // at the start position itself
  EXPECT_EQ(InStr(9, "abc", "c"), 0u);     // beyond the end
  EXPECT_EQ(InStr(1, "<S-x", "<s-"), 0u);  // exact character codes
  EXPECT_EQ(Mid("abcdef", 3), "cdef");
  EXPECT_EQ(Mid("abc", 4), "");
  EXPECT_EQ(Mid("abc", 99), "");
  EXPECT_EQ(MidLen("abcdef", 2, 3), "bcd");
  EXPECT_EQ(MidLen("abc", 2, 99), "bc");
  EXPECT_EQ(MidLen("abc", 2, 0), "");
  EXPECT_EQ(Left("abc", 5), "abc");
  EXPECT_EQ(Right("abc", 2), "bc");
  EXPECT_EQ(Right("ab", 3), "ab");

  EXPECT_EQ(ErrorOf([] { InStr(0, "abc", "a"); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { Mid("abc", 0); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { MidLen("abc", 1, -1); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { Left("abc", -1); }), errInvalidCall);
  EXPECT_EQ(ErrorOf([] { Right("abc", -1); }), errInvalidCall);
}

TEST(TextTest, LowerCaseCoversTheAnsiLetters) {
  EXPECT_EQ(LCase("Setup.EXE"), "setup.exe");
  // À É Ö Þ -> à é ö þ; Š Œ Ž Ÿ -> š œ ž ÿ; × and ß stay.
  EXPECT_EQ(LCase("\xC0\xC9\xD6\xDE"), "\xE0\xE9\xF6\xFE");
  EXPECT_EQ(LCase("\x8A\x8C\x8E\x9F"), "\x9A\x9C\x9E\xFF");
  EXPECT_EQ(LCase("\xD7\xDF"), "\xD7\xDF");
}

TEST(TextTest, AnsiAndUtf8RoundTripEveryByte) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(all)), all);
  EXPECT_EQ(AnsiToUtf8("disponibilit\xE0 \x80"), "disponibilit\xC3\xA0 \xE2\x82\xAC");
  EXPECT_EQ(Utf8ToAnsi("\xE4\xB8\xAD"), "?");  // outside Windows-1252
}

TEST(TextTest, TwoDecimalsHalvesToEvenWithTheUsersSeparator) {
  struct Case {
    double value;
    const char* separator;
    const char* text;
  } cases[] = {
      {1234567 / 1e6, ".", "1.23"}, {1234567 / 1e6, ",", "1,23"}, {0.125, ".", "0.12"},
      {0.375, ",", "0,38"},         {0.625, ".", "0.62"},         {0.875, ".", "0.88"},
      {1.5, ",", "1,5"},            {2.0, ",", "2"},              {0.0, ".", "0"},
      {0.004, ".", "0"},            {0.5, ".", "0.5"},            {2147.483647, ".", "2147.48"},
      {1.999, ".", "2"},            {0.1, ".", "0.1"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Round2Text(c.value, c.separator), c.text) << c.value << " with " << c.separator;
}

TEST(TextTest, WholeNumbersHalvesToEvenOrAwayFromZero) {
  struct Case {
    double value;
    const char* even;  // RoundEvenText
    const char* hash;  // FormatHash, the "#" format
  } cases[] = {
      {2.5, "2", "3"},     {3.5, "4", "4"},         {12.5, "12", "13"},      {99.5, "100", "100"},
      {0.4, "0", ""},      {0.5, "0", "1"},         {-2.5, "-2", "-3"},      {976.5625, "977", "977"},
      {52.4288, "52", "52"}, {0.0, "0", ""},        {2147483648.0, "2147483648", "2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RoundEvenText(c.value), c.even) << c.value;
    EXPECT_EQ(FormatHash(static_cast<float>(c.value)), c.hash) << c.value;
  }
}

TEST(TextTest, ConversionsToLongStopAtThirtyTwoBits) {
  struct Case {
    double value;
    std::int32_t result;
    int error;
  } cases[] = {
      {2.5, 2, 0},
      {3.5, 4, 0},
      {-2.5, -2, 0},
      {464.5625, 465, 0},
      {2147483647.4, 2147483647, 0},
      {2147483647.5, 0, errOverflow},  // even neighbour is 2^31
      {-2147483648.5, std::numeric_limits<std::int32_t>::min(), 0},
      {-2147483649.0, 0, errOverflow},
      {std::nan(""), 0, errOverflow},
  };
  for (const Case& c : cases) {
    int error = 0;
    std::int32_t r = 0;
    try {
      r = CLng(c.value);
    } catch (const VbError& e) {
      error = e.number;
    }
    EXPECT_EQ(error, c.error) << c.value;
    if (!c.error) {
      EXPECT_EQ(r, c.result) << c.value;
    }
  }

  struct Header {
    const char* text;
    std::int32_t result;
    int error;
  } headers[] = {
      {"1234567", 1234567, 0},   {" 42 ", 42, 0},          {"+7", 7, 0},
      {"2147483647", 2147483647, 0}, {"-2147483648", std::numeric_limits<std::int32_t>::min(), 0},
      {"2147483648", 0, errOverflow}, {"99999999999999999999", 0, errOverflow},
      {"", 0, errTypeMismatch},  {"abc", 0, errTypeMismatch}, {"12a", 0, errTypeMismatch},
      {"-", 0, errTypeMismatch},
  };
  for (const Header& h : headers) {
    int error = 0;
    std::int32_t r = 0;
    try {
      r = TextToLong(h.text);
    } catch (const VbError& e) {
      error = e.number;
    }
    EXPECT_EQ(error, h.error) << '"' << h.text << '"';
    if (!h.error) {
      EXPECT_EQ(r, h.result) << h.text;
    }
  }
}

}  // namespace
}  // namespace ovlu
