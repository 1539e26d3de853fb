// The tracking report: for one month and one selection of level, agency, user
// and supplier, one row per level, agency or user with its nine figures as
// numbers. Computed from the database without any widget; the window, the
// clipboard, the CSV file, the printed page and the command-line report only
// format these rows.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class TABSDatabase;

// The user code that opens the program in administrator mode: every level is
// shown.
inline constexpr const char* kAdminCode = "KOVAR";

// What a row stands for.
enum TReportMode { rmNiveaux = 0, rmAgences = 1, rmUtilisateurs = 2, rmUtilisateur = 3 };

// The mode for a selection: a level alone lists its agencies, a level and an
// agency the agency's users of the month, all three the chosen user; any
// other combination lists the levels.
TReportMode ReportModeFor(bool levelChosen, bool agencyChosen, bool userChosen);

// Figures of a row, in column order.
enum TReportFigure {
    rfMontantHT,
    rfTVA,
    rfMontantTTC,
    rfMarge,
    rfTauxMarge,
    rfRelances,
    rfDevis,
    rfCommandes,
    rfTransformation,
    kReportFigureCount
};

enum class TFigureKind { Amount, Rate, Count };
TFigureKind FigureKind(int figure);

struct TReportRow {
    std::string code;
    std::string label;
    // Amounts and rates as computed; counts truncated toward zero as 32-bit
    // integers, held exactly.
    std::array<double, kReportFigureCount> figures{};
};

// What the report is asked for. Codes are those of the chosen entries; an
// empty supplier code means every supplier.
struct TReportSelection {
    TReportMode mode = rmNiveaux;
    bool admin = false;
    std::string userCode;
    std::string level;
    std::string agency;
    std::string user;
    std::string supplier;
    int year = 0;
    int month = 0;
};

// The statements that list the rows of each mode; the filter lists of the
// tracking window are filled by the same texts.
std::string LevelsStatement(bool admin, const std::string& userCode);
std::string AgenciesStatement(const std::string& level);
std::string UsersStatement(const std::string& agency, int year, int month);
std::string UserStatement(const std::string& agency, const std::string& user);
std::string SuppliersStatement();
// A row when the month holds a figure of one of the six indicators.
std::string MonthHasFiguresStatement(int year, int month);
// A row when the code is that of a user or of a level's head.
std::string KnownUserStatement(const std::string& code);

// What the totals of a report show under its rows: the "Total" line and, for
// the administrator's levels, the line "Agences sans niveau" with the figures
// of the agencies attached to none of them, kept only when one of its figures
// is not zero. Lines() gives them in that order, labelled.
struct TReportTotals {
    TReportRow total;
    bool hasUnattached = false;
    TReportRow unattached;
    std::vector<TReportRow> Lines() const;
};

// Runs the row list statement of the selection's mode and six sums per row,
// in the statements' order, and returns the rows in French order of their
// labels (rows whose labels compare equal keep the statements' order), the
// same on every engine whatever order its statements give. onRow, when given,
// receives each row as soon as it is complete, in the statements' order:
// when a statement fails part-way, the rows already handed over are those
// before the failure (the exception goes on to the caller). totals, when
// given, receives ComputeTotals of the rows, read in the same transaction as
// the rows.
std::vector<TReportRow> ComputeReport(TABSDatabase* database, const TReportSelection& selection,
                                      const std::function<void(const TReportRow&)>& onRow = {},
                                      TReportTotals* totals = nullptr);

// The totals of the rows of the selection's report (same month, same
// supplier), each figure counted once. In the levels display, an agency may
// belong to several of the rows' levels: there, one summing statement per
// indicator covers the distinct agencies of the rows' levels, and for the
// administrator one more per indicator covers the agencies of none of them.
// In the other displays the rows cannot overlap and their figures are added
// (a code met twice counted once). Rates come from the summed figures. Reads
// in the caller's transaction, or in a read transaction of its own.
TReportTotals ComputeTotals(TABSDatabase* database, const TReportSelection& selection,
                            const std::vector<TReportRow>& rows);

// Amounts and counts summed over the rows; the margin rate and the
// conversion rate computed from those sums (0 when the amount or the number
// of quotes is 0).
TReportRow ReportTotals(const std::vector<TReportRow>& rows);

// The row order for a column: labels in French order (accents and case as a
// French reader compares them), figures as numbers, a rate that could not be
// computed after every number. Rows that compare equal keep the statements'
// order. column 0 is the label, 1 to 9 the figures.
std::vector<TReportRow> SortedReport(std::vector<TReportRow> rows, int column, bool ascending);
// The same order as the rows' positions, the rows left where they are.
std::vector<std::size_t> SortedOrder(const std::vector<TReportRow>& rows, int column,
                                     bool ascending);
