// Ways a tracking report leaves the window: the texts of the list, the
// clipboard (tab-separated text and an HTML table), the CSV file for French
// spreadsheets and the printed page. Each formats the same rows.
#pragma once

#include "tracking/report.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

class QPagedPaintDevice;
class QPainter;
class QPrinter;

// The ten column titles of the report, label first.
const std::vector<std::string>& ReportColumnTitles();

// A row's texts as the list shows them: the label, then amounts with two
// decimals and the user's decimal separator, rates followed by "%" (or the
// mark n.c.), counts as integers.
std::vector<std::string> ReportRowTexts(const TReportRow& row);
// One of those texts: column 0 is the label, 1 to 9 the figures.
std::string ReportCellText(const TReportRow& row, int column);
// The same for a row of compact rows, its texts made for that cell alone.
std::string ReportCellText(const TReportRows& rows, std::size_t row, int column);

// Tab-separated lines of the rows' texts, each ending with a line break; the
// column titles first when withTitles. Tabs and line breaks inside a label
// become blanks, so that every row stays one line of cells; a label that a
// spreadsheet would read as a formula gets a leading "'", as in the CSV.
QString ReportClipboardText(const std::vector<TReportRow>& rows, bool withTitles);
// The same rows as an HTML table, numbers right-aligned, labels guarded the
// same way and escaped.
QString ReportClipboardHtml(const std::vector<TReportRow>& rows, bool withTitles);

// The CSV file for French spreadsheets: UTF-8 with a byte-order mark, ';'
// between fields, a header line of the column titles, lines ending with CR LF;
// numbers with a decimal comma and no thousands separator, rates as numbers
// (their unit is in the title). A field holding ';', '"' or a line break is
// quoted, with its quotes doubled; a text beginning with '=', '+', '-', '@',
// tab or carriage return is prefixed with "'" so that no spreadsheet reads it
// as a formula. firstTitle heads the label column.
QByteArray ReportCsv(const std::vector<TReportRow>& rows, const std::string& firstTitle = "Niveau");

// What the figures are for: the month, the labels of the chosen level,
// agency, user and supplier (empty for all), where they come from and who
// asked.
struct TReportContext {
    int year = 0;
    int month = 0;
    std::string levelCaption = "Chef de secteur";
    std::string level;
    std::string agency;
    std::string user;
    std::string supplier;
    std::string database; // file path or server address
    std::string userCode;
    bool admin = false;
    // On a server, the login whose rights the figures follow; empty for a
    // file.
    std::string login;
};

// "novembre 2026".
QString FrenchMonth(int year, int month);
// One line in French: month, filters, database, user code and, on a server,
// the login.
QString ReportContextLine(const TReportContext& context);
// The proposed CSV file name: "suivi-2026-11" followed by the chosen labels
// in lower case without accents ("suivi-2026-11-secteur-nord.csv"), cut to
// 199 bytes at most.
QString ReportFileName(const TReportContext& context);

// Writes the bytes to the file whole or not at all; false with the reason in
// error, in French, when the file could not be written.
bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error);

// Sets the page every printed report and PDF uses: A4 landscape, margins of
// at least 10 mm (more where the printer needs them).
void SetA4Landscape(QPagedPaintDevice* device);

// Paints the report on the printer's pages: title, month, filters, database
// and user code, the table with its titles repeated on every page, the totals
// lines, and at the foot of each page the date printed and "Page 1 / 2". Each
// column is as wide as its widest text; a table wider than the page is
// printed in a smaller font, and only labels are ever cut, never a figure.
// The caller sets the page (SetA4Landscape). False when the printer (or the
// PDF file) could not be opened.
bool PrintReport(QPrinter* printer, const std::vector<TReportRow>& rows,
                 const TReportTotals& totals, const TReportContext& context);
