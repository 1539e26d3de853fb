// Texts of the figures of the tracking table.
#pragma once

#include <string>

// Two decimals, the decimal separator of the user's locale, no thousands
// separator, a leading minus sign for negative values: 1234.5 -> "1234,50"
// under French, "1234.50" under C.
std::string FormatFixed(double value);

// A decimal integer with a leading minus sign when negative.
std::string IntToStr(int value);

// A count sum as a 32-bit integer: truncated toward zero (2.9 -> 2,
// -1.5 -> -1), saturated at the nearest bound beyond the range, 0 for NaN.
int TruncateCount(double sum);
