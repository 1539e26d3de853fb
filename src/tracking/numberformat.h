// Texts of the figures of the tracking table.
#pragma once

#include <string>

class QLocale;

// Two decimals, the decimal separator of the user's locale, no thousands
// separator, a leading minus sign for negative values: 1234.5 -> "1234,50"
// under French, "1234.50" under C.
// A value too large for a double (infinite, or not a number after an
// overflow) shows the mark kNotComputable instead.
std::string FormatFixed(double value);
// The same with the decimal separator of the given locale.
std::string FormatFixed(double value, const QLocale& locale);

// A percentage: FormatFixed followed by "%", or the mark alone when the rate
// could not be computed.
std::string FormatRate(double value);

inline constexpr const char* kNotComputable = "n.c.";

// A decimal integer with a leading minus sign when negative.
std::string IntToStr(int value);
// A count held in a double (a sum of counts may pass the 32-bit range): its
// whole part, written as IntToStr writes an integer.
std::string FormatCount(double value);

// A count sum as a 32-bit integer: truncated toward zero (2.9 -> 2,
// -1.5 -> -1), saturated at the nearest bound beyond the range, 0 for NaN.
int TruncateCount(double sum);
