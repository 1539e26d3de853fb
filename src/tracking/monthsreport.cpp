#include "tracking/monthsreport.h"

#include "data/absdatabase.h"

#include <QDate>

#include <optional>

std::string MonthCode(int year, int month) {
    return QStringLiteral("%1-%2")
        .arg(year, 4, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'))
        .toStdString();
}

std::vector<TMonthTotals> ComputeMonthTotals(TABSDatabase* database,
                                             const TReportSelection& selection, int count) {
    std::optional<TABSTransaction> snapshot;
    if (database && !database->InTransaction())
        snapshot.emplace(database, TABSDatabase::TransactionKind::Read);
    // In the levels display the line Total sums the distinct agencies of the
    // listed levels by statements of its own: the levels (the same for every
    // month) are all it needs of the rows, not their six sums each.
    TReportRows levels;
    if (selection.mode == rmNiveaux) {
        const auto query = NewQuery(database, LevelsStatement(selection.admin, selection.userCode));
        query->Open();
        while (!query->Eof()) {
            levels.push_back({query->FieldByName("code").AsAnsiString(),
                              query->FieldByName("libelle").AsAnsiString(),
                              {}});
            query->Next();
        }
        query->Close();
    }
    const QDate last(selection.year, selection.month, 1);
    std::vector<TMonthTotals> months;
    for (int i = count - 1; i >= 0; --i) {
        const QDate month = last.addMonths(-i);
        TReportSelection monthSelection = selection;
        monthSelection.year = month.year();
        monthSelection.month = month.month();
        TMonthTotals figures;
        figures.year = month.year();
        figures.month = month.month();
        if (selection.mode == rmNiveaux) {
            // The line of the agencies of no level is not part of Total.
            monthSelection.admin = false;
            figures.totals = ComputeTotals(database, monthSelection, levels).total;
        } else {
            TReportTotals totals;
            ComputeReport(database, monthSelection, {}, &totals);
            figures.totals = totals.total;
        }
        figures.totals.code = MonthCode(figures.year, figures.month);
        figures.totals.label = figures.totals.code;
        months.push_back(figures);
    }
    if (snapshot)
        snapshot->Commit();
    return months;
}

std::vector<TReportRow> MonthRows(const std::vector<TMonthTotals>& months) {
    std::vector<TReportRow> rows;
    rows.reserve(months.size());
    for (const TMonthTotals& month : months)
        rows.push_back(month.totals);
    return rows;
}
