#include "tracking/xlsxexport.h"

#include "data/absdatabase.h"
#include "tracking/numberformat.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <pwd.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr lxw_row_t kTitleRow = 0;
constexpr lxw_row_t kContextRow = 1;
constexpr lxw_row_t kWrittenRow = 2;
constexpr lxw_row_t kColumnTitlesRow = 4;
constexpr lxw_row_t kFirstDataRow = kColumnTitlesRow + 1;

// Spreadsheet number formats: the application shows them with the reader's
// own separators ("1 234,50" in French).
const char* numberFormat(int figure) {
    switch (FigureKind(figure)) {
    case TFigureKind::Rate:
        return "0.00%";
    case TFigureKind::Count:
        return "#,##0";
    default:
        return "#,##0.00";
    }
}

// The text a French reader sees in a figure's cell, to size its column.
QString shownText(int figure, double value) {
    static const QLocale french(QLocale::French, QLocale::France);
    if (!std::isfinite(value))
        return QString::fromLatin1(kNotComputable);
    switch (FigureKind(figure)) {
    case TFigureKind::Rate:
        return french.toString(value, 'f', 2) + QStringLiteral(" %");
    case TFigureKind::Count:
        return french.toString(std::trunc(value), 'f', 0);
    default:
        return french.toString(value, 'f', 2);
    }
}

// Formats of one kind of line (plain or bold): the label's, each figure's,
// and the text n.c. standing for a figure.
struct LineFormats {
    lxw_format* label;
    std::array<lxw_format*, kReportFigureCount> figures;
    lxw_format* notComputable;
};

LineFormats makeLineFormats(lxw_workbook* workbook, bool bold) {
    LineFormats formats{};
    auto make = [&] {
        lxw_format* format = workbook_add_format(workbook);
        if (bold)
            format_set_bold(format);
        return format;
    };
    formats.label = make();
    for (int i = 0; i < kReportFigureCount; ++i) {
        formats.figures[static_cast<std::size_t>(i)] = make();
        format_set_num_format(formats.figures[static_cast<std::size_t>(i)], numberFormat(i));
    }
    formats.notComputable = make();
    format_set_align(formats.notComputable, LXW_ALIGN_RIGHT);
    return formats;
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

} // namespace

TXlsxReport TableWorkbook(const std::vector<TReportRow>& rows,
                          const std::vector<TReportRow>& totals, const TReportContext& context) {
    TXlsxReport report;
    report.title =
        QStringLiteral("Tableau de suivi — %1").arg(FrenchMonth(context.year, context.month));
    report.rows = rows;
    report.totals = totals;
    report.context = context;
    return report;
}

TXlsxReport MonthsWorkbook(const std::vector<TMonthTotals>& months, const TReportContext& context) {
    TXlsxReport report;
    report.firstTitle = "Mois";
    report.sheetName = QStringLiteral("Évolution");
    report.rows = MonthRows(months);
    report.context = context;
    if (!months.empty())
        report.title = QStringLiteral("Tableau de suivi — %1 mois, de %2 à %3")
                           .arg(months.size())
                           .arg(FrenchMonth(months.front().year, months.front().month),
                                FrenchMonth(months.back().year, months.back().month));
    return report;
}

QString CurrentLogin() {
    QString login = qEnvironmentVariable("USER");
    if (login.isEmpty())
        login = qEnvironmentVariable("LOGNAME");
    if (login.isEmpty())
        if (const passwd* account = getpwuid(getuid()))
            login = QString::fromLocal8Bit(account->pw_name);
    return login;
}

QByteArray ReportXlsx(const TXlsxReport& report, QString* error) {
    // libxlsxwriter writes to a file; the bytes are read back from a folder
    // of our own, so that the caller writes the real file whole or not at all.
    QTemporaryDir folder;
    if (!folder.isValid()) {
        if (error)
            *error = folder.errorString();
        return {};
    }
    const std::string path = utf8(folder.filePath(QStringLiteral("classeur.xlsx")));
    const std::string tmpdir = utf8(folder.path());
    lxw_workbook_options options{};
    options.tmpdir = const_cast<char*>(tmpdir.c_str());
    lxw_workbook* workbook = workbook_new_opt(path.c_str(), &options);
    if (!workbook) {
        if (error)
            *error = QStringLiteral("le classeur n'a pas pu être créé");
        return {};
    }

    const std::string title = utf8(report.title);
    const std::string contextLine = utf8(ReportContextLine(report.context));
    const QString login = CurrentLogin();
    const std::string author = utf8(login);
    const QDateTime now = QDateTime::currentDateTime();
    const std::string written =
        utf8(QStringLiteral("Écrit le %1%2")
                 .arg(QLocale(QLocale::French, QLocale::France)
                          .toString(now, QStringLiteral("dd/MM/yyyy à HH:mm")),
                      login.isEmpty() ? QString() : QStringLiteral(" par ") + login));

    lxw_doc_properties properties{};
    properties.title = const_cast<char*>(title.c_str());
    properties.subject = const_cast<char*>(contextLine.c_str());
    properties.comments = const_cast<char*>(contextLine.c_str());
    properties.author = const_cast<char*>(author.c_str());
    properties.company = const_cast<char*>("Quadrivel");
    lxw_error status = workbook_set_properties(workbook, &properties);
    const std::string database = DisplayDatabaseName(report.context.database);
    if (status == LXW_NO_ERROR)
        status = workbook_set_custom_property_string(workbook, "Base", database.c_str());
    if (status == LXW_NO_ERROR)
        status = workbook_set_custom_property_string(workbook, "Code utilisateur",
                                                     report.context.userCode.c_str());

    const std::string sheetName = utf8(report.sheetName);
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, sheetName.c_str());
    lxw_format* titleFormat = workbook_add_format(workbook);
    format_set_bold(titleFormat);
    format_set_font_size(titleFormat, 14);
    lxw_format* columnTitleFormat = workbook_add_format(workbook);
    format_set_bold(columnTitleFormat);
    format_set_bottom(columnTitleFormat, LXW_BORDER_THIN);
    format_set_text_wrap(columnTitleFormat);
    lxw_format* figureTitleFormat = workbook_add_format(workbook);
    format_set_bold(figureTitleFormat);
    format_set_bottom(figureTitleFormat, LXW_BORDER_THIN);
    format_set_align(figureTitleFormat, LXW_ALIGN_RIGHT);
    const LineFormats plain = makeLineFormats(workbook, false);
    const LineFormats bold = makeLineFormats(workbook, true);

    // Column widths in characters, from the widest text each column shows.
    std::array<qsizetype, kReportFigureCount + 1> widths{};
    auto widen = [&](std::size_t column, const QString& text) {
        widths[column] = std::max(widths[column], text.size());
    };

    auto check = [&status](lxw_error result) {
        if (status == LXW_NO_ERROR)
            status = result;
    };
    if (sheet) {
        check(worksheet_write_string(sheet, kTitleRow, 0, title.c_str(), titleFormat));
        check(worksheet_write_string(sheet, kContextRow, 0, contextLine.c_str(), nullptr));
        check(worksheet_write_string(sheet, kWrittenRow, 0, written.c_str(), nullptr));

        std::vector<std::string> titles = ReportColumnTitles();
        titles[0] = report.firstTitle;
        for (std::size_t i = 0; i < titles.size(); ++i) {
            check(worksheet_write_string(sheet, kColumnTitlesRow, static_cast<lxw_col_t>(i),
                                         titles[i].c_str(),
                                         i == 0 ? columnTitleFormat : figureTitleFormat));
            widen(i, QString::fromStdString(titles[i]));
        }

        lxw_row_t row = kFirstDataRow;
        auto writeLine = [&](const TReportRow& line, const LineFormats& formats) {
            // A text cell: never read as a formula, whatever it begins with.
            check(worksheet_write_string(sheet, row, 0, line.label.c_str(), formats.label));
            widen(0, QString::fromStdString(line.label));
            for (int i = 0; i < kReportFigureCount; ++i) {
                const auto column = static_cast<lxw_col_t>(i + 1);
                double value = line.figures[static_cast<std::size_t>(i)];
                widen(column, shownText(i, value));
                if (!std::isfinite(value)) {
                    check(worksheet_write_string(sheet, row, column, kNotComputable,
                                                 formats.notComputable));
                    continue;
                }
                // The figure the table shows: amounts and rates to the cent
                // (a rate of 22.93 % is the cell 0.2293), counts whole.
                if (FigureKind(i) == TFigureKind::Count)
                    value = std::trunc(value);
                else
                    value = std::round(value * 100.0) / 100.0;
                if (FigureKind(i) == TFigureKind::Rate)
                    value /= 100.0;
                check(worksheet_write_number(sheet, row, column, value,
                                             formats.figures[static_cast<std::size_t>(i)]));
            }
            ++row;
        };
        for (const TReportRow& line : report.rows)
            writeLine(line, plain);
        for (const TReportRow& line : report.totals)
            writeLine(line, bold);

        for (std::size_t i = 0; i < widths.size(); ++i) {
            // Room for the text, the bold of the totals and a margin; a
            // very long label is cut on screen rather than widening the sheet.
            const double width = std::clamp(double(widths[i]) * 1.15 + 2, 8.0, 60.0);
            check(worksheet_set_column(sheet, static_cast<lxw_col_t>(i), static_cast<lxw_col_t>(i),
                                       width, nullptr));
        }
        worksheet_freeze_panes(sheet, kFirstDataRow, 1);
    } else {
        check(LXW_ERROR_MEMORY_MALLOC_FAILED);
    }

    const lxw_error closed = workbook_close(workbook);
    check(closed);
    if (status != LXW_NO_ERROR) {
        if (error)
            *error = QStringLiteral("le classeur n'a pas pu être écrit : %1")
                         .arg(QString::fromUtf8(lxw_strerror(status)));
        return {};
    }
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return {};
    }
    return file.readAll();
}
