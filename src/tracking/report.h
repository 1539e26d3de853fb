// The tracking report: for one month and one selection of level, agency, user
// and supplier, one row per level, agency or user with its nine figures as
// numbers. Computed from the database without any widget; the window, the
// clipboard, the CSV file, the printed page and the command-line report only
// format these rows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
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

// Computes the figures that follow from the others: the amount with VAT, the
// margin rate and the conversion rate (0 when the amount or the number of
// quotes is 0).
void DeriveFigures(std::array<double, kReportFigureCount>& figures);

// The rows of a report as a list keeps a million of them: codes and labels
// one after the other in one block of UTF-8 text, three amounts and three
// counts a row, the derived figures computed again when asked for (about 50
// bytes a row plus its texts, where a TReportRow takes 140 and its own label).
// A row read is a TReportRow made on the spot.
class TReportRows {
public:
    std::size_t size() const { return entries.size(); }
    bool empty() const { return entries.empty(); }
    // Keeps a row's code, label, amounts and counts (whole numbers, as the
    // report computes them).
    void push_back(const TReportRow& row);
    TReportRow operator[](std::size_t row) const;
    std::string_view Code(std::size_t row) const;
    std::string_view Label(std::size_t row) const;
    double Figure(std::size_t row, int figure) const;
    // Puts the rows in that order: position i takes the row at order[i].
    void Reorder(std::vector<std::size_t> order);
    // Every row as a TReportRow, in the order of the positions given, or in
    // the list's own order when none are.
    std::vector<TReportRow> Rows(const std::vector<std::size_t>* order = nullptr) const;

    class const_iterator {
    public:
        const_iterator(const TReportRows* rows, std::size_t row)
            : rows(rows)
            , row(row) {}
        TReportRow operator*() const { return (*rows)[row]; }
        const_iterator& operator++() {
            ++row;
            return *this;
        }
        bool operator!=(const const_iterator& other) const { return row != other.row; }

    private:
        const TReportRows* rows;
        std::size_t row;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

private:
    struct Entry {
        double ht = 0.0;
        double tva = 0.0;
        double margin = 0.0;
        std::int32_t reminders = 0;
        std::int32_t quotes = 0;
        std::int32_t orders = 0;
        std::uint32_t text = 0; // the code, then the label
        std::uint32_t codeSize = 0;
        std::uint32_t labelSize = 0;
    };
    static std::array<double, kReportFigureCount> figuresOf(const Entry& entry);
    std::vector<Entry> entries;
    std::string texts;
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
TReportRows ComputeReport(TABSDatabase* database, const TReportSelection& selection,
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
                            const TReportRows& rows);

// Amounts and counts summed over the rows; the margin rate and the
// conversion rate computed from those sums (0 when the amount or the number
// of quotes is 0).
TReportRow ReportTotals(const std::vector<TReportRow>& rows);

// The row order for a column: labels in French order (accents and case as a
// French reader compares them), figures as numbers, a rate that could not be
// computed after every number. Rows that compare equal keep the statements'
// order. column 0 is the label, 1 to 9 the figures. The rows are left where
// they are: their positions are sorted.
std::vector<std::size_t> SortedOrder(const TReportRows& rows, int column, bool ascending);
