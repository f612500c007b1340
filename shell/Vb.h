// String and number operations with the semantics the agent's procedures are
// written against: 1-based positions, errors on invalid arguments.
#pragma once

#include <cstdint>
#include <string>

namespace ovlu {

// Position (1-based) of the first occurrence of what at or after start, 0
// when there is none. Exact comparison of character codes.
std::size_t InStr(std::size_t start, const std::string& text, const std::string& what);
// Characters from start (1-based) on, at most length of them. A start below 1
// or a negative length is a run-time error (5).
std::string Mid(const std::string& text, long long start, long long length = -1);
std::string MidLen(const std::string& text, long long start, long long length);
std::string Left(const std::string& text, long long length);
std::string Right(const std::string& text, long long length);
// Lower case of the ANSI letters (Windows-1252).
std::string LCase(const std::string& text);

// Windows-1252 <-> UTF-8.
std::string AnsiToUtf8(const std::string& ansi);
// Characters outside Windows-1252 become "?".
std::string Utf8ToAnsi(const std::string& utf8);

// A number rounded to 2 decimals (halves to even), written with the given
// decimal separator, without trailing zeros and without a separator when whole.
std::string Round2Text(double value, const std::string& decimalSeparator);
// Whole number with halves to even, as text (digits only).
std::string RoundEvenText(double value);
// The numeric format "#": whole number, halves away from zero; "" for 0.
std::string FormatHash(float value);
// Conversion to a 32-bit integer with halves to even; throws VbError(6) when
// it does not fit.
std::int32_t CLng(double value);
// Text to a 32-bit integer as the agent converts a header value: an empty
// text, a non-number or a value beyond 32 bits throws VbError.
std::int32_t TextToLong(const std::string& text);

}  // namespace ovlu
