// A report as an Excel workbook (.xlsx), written by libxlsxwriter: figures as
// numeric cells with number formats, labels as text cells.
#pragma once

#include "tracking/monthsreport.h"
#include "tracking/reportexport.h"

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// What a workbook holds: a title, the report's rows under the column titles
// (firstTitle, then the nine figure titles) and the totals lines last.
struct TXlsxReport {
    QString title;                     // "Tableau de suivi — novembre 2026"
    std::string firstTitle = "Niveau"; // the label column's title
    std::vector<TReportRow> rows;      // in the order shown
    std::vector<TReportRow> totals;    // written last, in bold
    TReportContext context;            // title rows and properties
    QString sheetName = QStringLiteral("Suivi");
};

// The workbook's bytes. Row 1: the title; row 2: the context line (month,
// filters, database, user code); row 3: when and by which login it was
// written; row 5: the column titles, bold and frozen with the label column.
// Every figure is the number the table shows: amounts rounded to the cent,
// formatted with two decimals and thousands grouped; counts whole; rates
// rounded to two decimals as percentage cells (22.93 is the cell 0.2293,
// shown 22,93 % by a French spreadsheet); a figure that could not be computed is the text
// n.c. Labels are always text cells, whatever they begin with. The title, the
// context and the login are also in the workbook's properties. An empty
// result with the reason in error when the workbook could not be made.
QByteArray ReportXlsx(const TXlsxReport& report, QString* error);

// The workbook of a tracking table: its rows under "Tableau de suivi — month",
// then its totals lines.
TXlsxReport TableWorkbook(const std::vector<TReportRow>& rows,
                          const std::vector<TReportRow>& totals, const TReportContext& context);
// The workbook of the totals lines of consecutive months, one line per month
// labelled YYYY-MM, oldest first.
TXlsxReport MonthsWorkbook(const std::vector<TMonthTotals>& months, const TReportContext& context);

// The login of whoever runs the program, as the workbook records it.
QString CurrentLogin();
