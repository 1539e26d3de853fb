#include "tracking/reportexport.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "tracking/numberformat.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QStorageInfo>
#include <QTextLayout>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <numeric>
#include <utility>

const std::vector<std::string>& ReportColumnTitles() {
    static const std::vector<std::string> titles = {
        "Niveau",  "Montant HT",    "TVA",      "Montant TTC",  "Marge €",
        "Marge %", "Nb Relance(s)", "Nb Devis", "Nb Commandes", "Transformation %",
    };
    return titles;
}

namespace {

std::string valueText(int figure, double value) {
    switch (FigureKind(figure)) {
    case TFigureKind::Rate:
        return FormatRate(value);
    case TFigureKind::Count:
        return FormatCount(value);
    default:
        return FormatFixed(value);
    }
}

std::string figureText(const TReportRow& row, int figure) {
    return valueText(figure, row.figures[static_cast<std::size_t>(figure)]);
}

// A text a spreadsheet would read as a formula (beginning with '=', '+', '-',
// '@', tab or carriage return) is prefixed with "'", so that it stays text.
QString formulaGuarded(QString text) {
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (!text.isEmpty() && formulaStarts.contains(text.front()))
        text.prepend(QLatin1Char('\''));
    return text;
}

// A label as a clipboard cell: guarded, on one line.
QString labelCell(const std::string& label) {
    return OneLine(formulaGuarded(QString::fromStdString(label)));
}

QString csvField(QString text, bool isText) {
    if (isText)
        text = formulaGuarded(std::move(text));
    if (text.contains(QLatin1Char(';')) || text.contains(QLatin1Char('"')) ||
        text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))) {
        text.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        text = QLatin1Char('"') + text + QLatin1Char('"');
    }
    return text;
}

QString allOr(const std::string& label, const char* all) {
    return label.empty() ? QString::fromUtf8(all) : QString::fromStdString(label);
}

// The user code as typed, and on a server the login beside it, after sep.
QString userAndLogin(const TReportContext& context, const QString& sep) {
    QString user = context.admin
                       ? QString::fromUtf8(kAdminCode) + QStringLiteral(" (administrateur)")
                       : QString::fromStdString(context.userCode);
    if (!context.login.empty())
        user += sep + QStringLiteral("Connexion : ") + QString::fromStdString(context.login);
    return user;
}

} // namespace

std::vector<std::string> ReportRowTexts(const TReportRow& row) {
    std::vector<std::string> texts{row.label};
    for (int i = 0; i < kReportFigureCount; ++i)
        texts.push_back(figureText(row, i));
    return texts;
}

std::string ReportCellText(const TReportRow& row, int column) {
    return column == 0 ? row.label : figureText(row, column - 1);
}

std::string ReportCellText(const TReportRows& rows, std::size_t row, int column) {
    return column == 0 ? std::string(rows.Label(row))
                       : valueText(column - 1, rows.Figure(row, column - 1));
}

QString ReportClipboardText(const std::vector<TReportRow>& rows, bool withTitles) {
    QString text;
    auto addLine = [&text](const std::vector<std::string>& cells) {
        QStringList line;
        for (const std::string& cell : cells)
            line << (line.isEmpty() ? labelCell(cell) : QString::fromStdString(cell));
        text += line.join(QLatin1Char('\t')) + QLatin1Char('\n');
    };
    if (withTitles)
        addLine(ReportColumnTitles());
    for (const TReportRow& row : rows)
        addLine(ReportRowTexts(row));
    return text;
}

QString ReportClipboardHtml(const std::vector<TReportRow>& rows, bool withTitles) {
    QString html = QStringLiteral("<html><head><meta charset=\"utf-8\"></head><body><table>");
    if (withTitles) {
        html += QStringLiteral("<tr>");
        for (const std::string& title : ReportColumnTitles())
            html +=
                QStringLiteral("<th>%1</th>").arg(QString::fromStdString(title).toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    for (const TReportRow& row : rows) {
        const std::vector<std::string> cells = ReportRowTexts(row);
        html += QStringLiteral("<tr><td>%1</td>").arg(labelCell(cells[0]).toHtmlEscaped());
        for (std::size_t i = 1; i < cells.size(); ++i)
            html += QStringLiteral("<td align=\"right\">%1</td>")
                        .arg(QString::fromStdString(cells[i]).toHtmlEscaped());
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table></body></html>");
    return html;
}

QByteArray ReportCsv(const std::vector<TReportRow>& rows, const std::string& firstTitle) {
    static const QLocale french(QLocale::French, QLocale::France);
    QString csv;
    QStringList titles;
    for (const std::string& title : ReportColumnTitles())
        titles << csvField(QString::fromStdString(titles.isEmpty() ? firstTitle : title), true);
    csv += titles.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    for (const TReportRow& row : rows) {
        QStringList fields{csvField(QString::fromStdString(row.label), true)};
        for (int i = 0; i < kReportFigureCount; ++i) {
            const double value = row.figures[static_cast<std::size_t>(i)];
            const std::string text = FigureKind(i) == TFigureKind::Count
                                         ? FormatCount(value)
                                         : FormatFixed(value, french);
            fields << csvField(QString::fromStdString(text), false);
        }
        csv += fields.join(QLatin1Char(';')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + csv.toUtf8();
}

QString FrenchMonth(int year, int month) {
    const QLocale french(QLocale::French, QLocale::France);
    return french.standaloneMonthName(month, QLocale::LongFormat).toLower() + QLatin1Char(' ') +
           QString::number(year);
}

QString ReportContextLine(const TReportContext& context) {
    const QString user = userAndLogin(context, QStringLiteral(" — "));
    return QStringLiteral("%1 — %2 : %3 — Agence : %4 — Utilisateur : %5 — Fournisseur : %6 — "
                          "Base : %7 — Code utilisateur : %8")
        .arg(FrenchMonth(context.year, context.month), QString::fromStdString(context.levelCaption),
             allOr(context.level, "tous"), allOr(context.agency, "toutes"),
             allOr(context.user, "tous"), allOr(context.supplier, "tous"),
             QString::fromStdString(DisplayDatabaseName(context.database)), user);
}

QString ReportFileName(const TReportContext& context) {
    QString name = QStringLiteral("suivi-%1-%2")
                       .arg(context.year, 4, 10, QLatin1Char('0'))
                       .arg(context.month, 2, 10, QLatin1Char('0'));
    for (const std::string* label :
         {&context.level, &context.agency, &context.user, &context.supplier}) {
        QString slug;
        // Letters lose their accents; every other run of characters becomes
        // one hyphen.
        for (const QChar c :
             QString::fromStdString(*label).normalized(QString::NormalizationForm_D)) {
            if (c.isMark())
                continue;
            if (c.isLetterOrNumber() && c.unicode() < 128)
                slug += c.toLower();
            else if (!slug.isEmpty() && !slug.endsWith(QLatin1Char('-')))
                slug += QLatin1Char('-');
        }
        while (slug.endsWith(QLatin1Char('-')))
            slug.chop(1);
        if (!slug.isEmpty())
            name += QLatin1Char('-') + slug;
    }
    // Every file system takes 255 bytes: the name (ASCII only) is cut so that
    // with an extension of up to five characters it stays within 200.
    constexpr qsizetype longestStem = 195;
    if (name.size() > longestStem) {
        name.truncate(longestStem);
        while (name.endsWith(QLatin1Char('-')))
            name.chop(1);
    }
    return name + QStringLiteral(".csv");
}

namespace {

// Why a file could not be written, in French: what can be seen of the path
// first, then the system's reason, then the room left on the disk.
QString frenchWriteError(const QString& path, qint64 size, const QString& systemText) {
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    if (file.isDir())
        return QStringLiteral("c'est un dossier");
    if (!folder.exists())
        return QStringLiteral("le dossier « %1 » n'existe pas")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    if (!folder.isDir())
        return QStringLiteral("« %1 » n'est pas un dossier")
            .arg(QDir::toNativeSeparators(folder.filePath()));
    static const std::pair<int, const char*> reasons[] = {
        {EACCES, "accès refusé"},
        {EPERM, "accès refusé"},
        {EROFS, "système de fichiers en lecture seule"},
        {ENOSPC, "disque plein"},
        {EDQUOT, "quota de disque dépassé"},
        {ENAMETOOLONG, "nom de fichier trop long"},
        {EIO, "erreur d'entrée-sortie du disque"},
        {ENOENT, "dossier ou fichier absent"},
        {ENOTDIR, "un élément du chemin n'est pas un dossier"},
    };
    for (const auto& [code, words] : reasons)
        if (systemText.contains(QString::fromLocal8Bit(std::strerror(code)), Qt::CaseInsensitive))
            return QString::fromUtf8(words);
    const QStorageInfo storage(folder.filePath());
    if (storage.isValid() && storage.bytesAvailable() >= 0 && storage.bytesAvailable() < size)
        return QStringLiteral("disque plein");
    if (systemText.isEmpty() || systemText.contains(QLatin1String("Unknown error")))
        return QStringLiteral("erreur inconnue du système");
    return QStringLiteral("erreur du système (%1)").arg(systemText);
}

} // namespace

bool WriteWholeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QSaveFile file(path);
    bool written = file.open(QIODevice::WriteOnly);
    // A short write gives no reason ("Unknown error"): writing the rest
    // gives the system's.
    for (qint64 done = 0; written && done < bytes.size();) {
        const qint64 step = file.write(bytes.constData() + done, bytes.size() - done);
        written = step > 0;
        done += std::max<qint64>(step, 0);
    }
    // Flushed first: measured with Qt 6.4, commit() reports success after
    // its own flush failed on a full disk, leaving an empty file.
    if (written && file.flush() && file.commit())
        return true;
    if (error)
        *error = frenchWriteError(path, bytes.size(), file.errorString());
    file.cancelWriting();
    return false;
}

void SetA4Landscape(QPagedPaintDevice* device) {
    device->setPageSize(QPageSize(QPageSize::A4));
    device->setPageOrientation(QPageLayout::Landscape);
    // At least 10 mm on every side, more where a printer cannot print so
    // near the edge. Qt places the page's origin on a whole point (measured:
    // margins of 10 mm print at 9.88 mm), hence the half millimetre more.
    QPageLayout page = device->pageLayout();
    page.setUnits(QPageLayout::Millimeter);
    const QMarginsF least = page.minimumMargins();
    constexpr qreal margin = 10.5;
    device->setPageMargins(QMarginsF(std::max(margin, least.left()), std::max(margin, least.top()),
                                     std::max(margin, least.right()),
                                     std::max(margin, least.bottom())),
                           QPageLayout::Millimeter);
}

namespace {

// Lays out a paragraph in the width, wrapped between words (or anywhere in a
// word longer than the width); draws it at top when a painter is given.
// Returns its height.
int paragraph(QPainter* painter, QPaintDevice* device, const QFont& font, const QString& text,
              int left, int top, int width) {
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    if (painter)
        layout.draw(painter, QPointF(left, top));
    return int(std::ceil(height));
}

// Where the printed report's pieces go on the pages.
struct TPrintLayout {
    QRect area; // the page's printable rectangle, from (0, 0)
    QFont body, title;
    // The table's fonts: rows, totals lines and column titles.
    QFont cells, totals, titles;
    int line = 0; // height of a table row
    int pad = 0;  // room on each side of a cell's text
    int gap = 0;  // space under the heading's lines
    int headingHeight = 0;
    int footerHeight = 0;
    std::vector<int> left; // column edges
    struct TPage {
        std::size_t first = 0; // rows [first, end) of the report
        std::size_t end = 0;
        bool totals = false;
    };
    std::vector<TPage> pages;
};

QString filtersLine(const TReportContext& context) {
    return QStringLiteral("%1 : %2    Agence : %3    Utilisateur : %4    Fournisseur : %5")
        .arg(QString::fromStdString(context.levelCaption), allOr(context.level, "tous"),
             allOr(context.agency, "toutes"), allOr(context.user, "tous"),
             allOr(context.supplier, "tous"));
}

QString sourceLine(const TReportContext& context) {
    return QStringLiteral("Base : %1    Code utilisateur : %2")
        .arg(QString::fromStdString(DisplayDatabaseName(context.database)),
             userAndLogin(context, QStringLiteral("    ")));
}

QString reportTitle(const TReportContext& context) {
    return QStringLiteral("Tableau de suivi — %1").arg(FrenchMonth(context.year, context.month));
}

// Each column's width for its widest text (column title, row, totals line)
// in the table's fonts of the given size, padding included.
std::vector<int> naturalWidths(TPrintLayout& layout, QPaintDevice* device, qreal pointSize,
                               const std::vector<std::vector<QString>>& rowTexts,
                               const std::vector<std::vector<QString>>& totalTexts) {
    layout.cells = layout.body;
    layout.cells.setPointSizeF(pointSize);
    layout.totals = layout.cells;
    layout.totals.setBold(true);
    layout.titles = layout.totals;
    layout.titles.setPointSizeF(pointSize * 8.5 / 9);
    const QFontMetricsF cells(layout.cells, device), totals(layout.totals, device),
        titles(layout.titles, device);
    layout.line = int(std::ceil(cells.height() * 3 / 2));
    layout.pad = layout.line / 4;
    std::vector<qreal> widest(ReportColumnTitles().size(), 0);
    auto measure = [&widest](const QFontMetricsF& metrics, const std::vector<QString>& texts) {
        for (std::size_t i = 0; i < texts.size() && i < widest.size(); ++i)
            widest[i] = std::max(widest[i], metrics.horizontalAdvance(texts[i]));
    };
    std::vector<QString> titleTexts;
    for (const std::string& text : ReportColumnTitles())
        titleTexts.push_back(QString::fromStdString(text));
    measure(titles, titleTexts);
    for (const std::vector<QString>& texts : rowTexts)
        measure(cells, texts);
    for (const std::vector<QString>& texts : totalTexts)
        measure(totals, texts);
    std::vector<int> widths;
    for (qreal width : widest)
        widths.push_back(int(std::ceil(width)) + 2 * layout.pad + 1);
    return widths;
}

std::vector<QString> cellTexts(const TReportRow& row) {
    std::vector<QString> texts;
    for (const std::string& text : ReportRowTexts(row))
        texts.push_back(FromAnsiOneLine(text));
    return texts;
}

// The table's columns take the width of their widest text. When they do not
// fit the page, the table's font gets smaller, down to a size still easy to
// read; past that the label column alone gives way (its labels are cut with
// "…"), never a figure: if the figures alone still do not fit, the font gets
// smaller again. Then the rows are shared between the pages, so that the
// number of pages is known before the first is drawn.
TPrintLayout LayOut(QPrinter* printer, const std::vector<TReportRow>& rows,
                    const std::vector<TReportRow>& totalLines, const TReportContext& context) {
    TPrintLayout layout;
    const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
    layout.area = QRect(0, 0, page.width(), page.height());
    layout.body = QFont(QStringLiteral("Sans Serif"));
    layout.body.setPointSizeF(9);
    layout.title = layout.body;
    layout.title.setPointSizeF(16);
    layout.title.setBold(true);

    std::vector<std::vector<QString>> rowTexts, totalTexts;
    for (const TReportRow& row : rows)
        rowTexts.push_back(cellTexts(row));
    for (const TReportRow& row : totalLines)
        totalTexts.push_back(cellTexts(row));

    const int width = layout.area.width();
    constexpr qreal readable = 7; // points
    std::vector<int> widths;
    for (qreal size = 9;; size -= size > readable ? 0.5 : 0.25) {
        widths = naturalWidths(layout, printer, size, rowTexts, totalTexts);
        const int all = std::accumulate(widths.begin(), widths.end(), 0);
        if (all <= width)
            break;
        if (size > readable)
            continue;
        // The label column keeps at least room for its title and the
        // totals lines' labels.
        const int least = naturalWidths(layout, printer, size, {}, totalTexts)[0];
        const int figures = all - widths[0];
        if (figures + least <= width || size <= 1) {
            widths[0] = std::max(width - figures, 0);
            break;
        }
    }
    // Room to spare goes to every column alike.
    const int spare = width - std::accumulate(widths.begin(), widths.end(), 0);
    layout.left = {layout.area.left()};
    for (std::size_t i = 0; i < widths.size(); ++i)
        layout.left.push_back(layout.left.back() + widths[i] +
                              (spare > 0 ? spare / int(widths.size()) : 0));

    const QFontMetrics body(layout.body, printer);
    layout.footerHeight = body.height() * 3 / 2;
    layout.gap = body.height() * 3 / 8;
    layout.headingHeight = QFontMetrics(layout.title, printer).height() + layout.gap;
    for (const QString& text : {filtersLine(context), sourceLine(context)})
        layout.headingHeight +=
            paragraph(nullptr, printer, layout.body, text, 0, 0, width) + layout.gap;

    // Rows, then the totals lines (on a page of their own when the last
    // rows leave no room for them); an empty report's message takes the
    // place of one row.
    const std::size_t count = std::max<std::size_t>(rows.size(), 1);
    const int bottom = layout.area.bottom() - layout.footerHeight - layout.gap;
    for (std::size_t next = 0; layout.pages.empty() || !layout.pages.back().totals;) {
        const int top = layout.area.top() + (layout.pages.empty() ? layout.headingHeight : 0);
        const std::size_t room = std::max(1, (bottom - top - layout.line) / layout.line);
        TPrintLayout::TPage page{next, std::min(count, next + room), false};
        next = page.end;
        page.totals = next == count && room - (page.end - page.first) >= totalLines.size();
        layout.pages.push_back(page);
        if (next == count && !page.totals)
            layout.pages.push_back({count, count, true});
    }
    return layout;
}

} // namespace

bool PrintReport(QPrinter* printer, const std::vector<TReportRow>& rows,
                 const TReportTotals& totals, const TReportContext& context) {
    const std::vector<TReportRow> totalLines = totals.Lines();
    const TPrintLayout layout = LayOut(printer, rows, totalLines, context);
    const QRect& area = layout.area;
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    painter.setPen(Qt::black);
    const int line = layout.line;

    const QString printed =
        QStringLiteral("Imprimé le %1")
            .arg(QLocale(QLocale::French, QLocale::France)
                     .toString(QDateTime::currentDateTime(), QStringLiteral("dd/MM/yyyy à HH:mm")));
    auto footer = [&](std::size_t pageIndex) {
        painter.setFont(layout.body);
        const QRect band(area.left(), area.bottom() - layout.footerHeight, area.width(),
                         layout.footerHeight);
        painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, printed);
        painter.drawText(
            band, Qt::AlignRight | Qt::AlignVCenter,
            QStringLiteral("Page %1 / %2").arg(pageIndex + 1).arg(layout.pages.size()));
    };
    auto drawRow = [&](int y, const std::vector<QString>& cells, const QFont& font, bool shaded) {
        painter.setFont(font);
        if (shaded)
            painter.fillRect(QRect(area.left(), y, area.width(), line), QColor(230, 230, 230));
        const QFontMetrics metrics(font, printer);
        for (std::size_t i = 0; i < cells.size() && i + 1 < layout.left.size(); ++i) {
            const QRect cell(layout.left[i] + layout.pad, y,
                             layout.left[i + 1] - layout.left[i] - 2 * layout.pad, line);
            // Only a label can be wider than its column.
            const QString text =
                i == 0 ? metrics.elidedText(cells[i], Qt::ElideRight, cell.width()) : cells[i];
            painter.drawText(cell, (i == 0 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter,
                             text);
        }
    };
    std::vector<QString> titleTexts;
    for (const std::string& text : ReportColumnTitles())
        titleTexts.push_back(QString::fromStdString(text));
    auto drawTitles = [&](int y) {
        drawRow(y, titleTexts, layout.titles, true);
        painter.drawLine(area.left(), y + line, area.right(), y + line);
        return y + line;
    };

    for (std::size_t p = 0; p < layout.pages.size(); ++p) {
        const TPrintLayout::TPage& page = layout.pages[p];
        if (p > 0)
            printer->newPage();
        int y = area.top();
        if (p == 0) {
            // Heading of the first page.
            painter.setFont(layout.title);
            const int titleHeight = QFontMetrics(layout.title, printer).height();
            painter.drawText(QRect(area.left(), y, area.width(), titleHeight), Qt::AlignLeft,
                             reportTitle(context));
            y += titleHeight + layout.gap;
            for (const QString& text : {filtersLine(context), sourceLine(context)})
                y += paragraph(&painter, printer, layout.body, text, area.left(), y, area.width()) +
                     layout.gap;
        }
        y = drawTitles(y);
        for (std::size_t i = page.first; i < page.end; ++i, y += line) {
            if (i < rows.size()) {
                drawRow(y, cellTexts(rows[i]), layout.cells, i % 2 == 1);
                continue;
            }
            painter.setFont(layout.cells);
            painter.drawText(QRect(area.left() + layout.pad, y, area.width(), line),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             QStringLiteral("Aucune donnée pour cette sélection"));
        }
        if (page.totals) {
            painter.drawLine(area.left(), y, area.right(), y);
            for (const TReportRow& totalLine : totalLines) {
                drawRow(y, cellTexts(totalLine), layout.totals, false);
                y += line;
            }
        }
        footer(p);
    }
    return painter.end();
}
