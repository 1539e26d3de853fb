// The tracking report over time: the totals line of one selection for each of
// several consecutive months, computed without any widget.
#pragma once

#include "tracking/report.h"

#include <string>
#include <vector>

class TABSDatabase;

// The months a report over time covers: at most the 13 months the tracking
// window offers, twice over for the same months a year earlier.
inline constexpr int kEvolutionMonths = 13;

struct TMonthTotals {
    int year = 0;
    int month = 0;
    TReportRow totals; // labelled with the month, "2026-11"
};

// "2026-11".
std::string MonthCode(int year, int month);

// For each of the count months ending at the selection's month, oldest first:
// the line "Total" the tracking table shows under the selection's report for
// that month, each figure counted once (the administrator's "Agences sans
// niveau" is not part of it). In the levels display it comes from the
// table's own totals statements over the levels listed once; in the other
// displays from the table's statements for the month, rows then totals.
// Every month is read in one read transaction, the caller's when one is
// open. A month without figures has zeros.
std::vector<TMonthTotals> ComputeMonthTotals(TABSDatabase* database,
                                             const TReportSelection& selection, int count);

// The months' totals as report rows, labelled with their months.
std::vector<TReportRow> MonthRows(const std::vector<TMonthTotals>& months);
