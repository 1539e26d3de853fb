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

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

const std::vector<std::string>& ReportColumnTitles() {
    static const std::vector<std::string> titles = {
        "Niveau",  "Montant HT",    "TVA",      "Montant TTC",  "Marge €",
        "Marge %", "Nb Relance(s)", "Nb Devis", "Nb Commandes", "Transformation %",
    };
    return titles;
}

namespace {

std::string figureText(const TReportRow& row, int figure) {
    const double value = row.figures[static_cast<std::size_t>(figure)];
    switch (FigureKind(figure)) {
    case TFigureKind::Rate:
        return FormatRate(value);
    case TFigureKind::Count:
        return FormatCount(value);
    default:
        return FormatFixed(value);
    }
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
}

bool PrintReport(QPrinter* printer, const std::vector<TReportRow>& rows,
                 const TReportTotals& totals, const TReportContext& context) {
    QPainter painter;
    if (!painter.begin(printer))
        return false;
    painter.setPen(Qt::black);
    const QRect page = printer->pageLayout().paintRectPixels(printer->resolution());
    const QRect area(0, 0, page.width(), page.height());

    QFont body(QStringLiteral("Sans Serif"));
    body.setPointSizeF(9);
    QFont bold = body;
    bold.setBold(true);
    QFont titles = bold;
    titles.setPointSizeF(8.5);
    QFont title = body;
    title.setPointSizeF(16);
    title.setBold(true);

    painter.setFont(body);
    const int line = QFontMetrics(body, printer).height() * 3 / 2;
    const int pad = line / 4;

    // Column widths in proportions that fit the titles on an A4 page.
    static const int proportions[] = {210, 100, 90, 100, 95, 75, 110, 85, 115, 125};
    int proportionTotal = 0;
    for (int proportion : proportions)
        proportionTotal += proportion;
    std::vector<int> left{area.left()};
    for (int proportion : proportions)
        left.push_back(left.back() + area.width() * proportion / proportionTotal);

    const QString printed =
        QStringLiteral("Imprimé le %1")
            .arg(QLocale(QLocale::French, QLocale::France)
                     .toString(QDateTime::currentDateTime(), QStringLiteral("dd/MM/yyyy à HH:mm")));
    int pageNumber = 1;
    auto footer = [&] {
        painter.setFont(body);
        const QRect band(area.left(), area.bottom() - line, area.width(), line);
        painter.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, printed);
        painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Page %1").arg(pageNumber));
    };
    auto drawRow = [&](int y, const std::vector<std::string>& cells, const QFont& font,
                       bool shaded) {
        painter.setFont(font);
        if (shaded)
            painter.fillRect(QRect(area.left(), y, area.width(), line), QColor(230, 230, 230));
        for (std::size_t i = 0; i < cells.size() && i + 1 < left.size(); ++i) {
            const QRect cell(left[i] + pad, y, left[i + 1] - left[i] - 2 * pad, line);
            const Qt::Alignment align = i == 0 ? Qt::AlignLeft : Qt::AlignRight;
            painter.drawText(
                cell, align | Qt::AlignVCenter,
                QFontMetrics(font, printer)
                    .elidedText(FromAnsiOneLine(cells[i]), Qt::ElideRight, cell.width()));
        }
    };
    auto drawTitles = [&](int y) {
        drawRow(y, ReportColumnTitles(), titles, true);
        painter.drawLine(area.left(), y + line, area.right(), y + line);
        return y + line;
    };

    // Heading of the first page.
    int y = area.top();
    painter.setFont(title);
    const int titleHeight = QFontMetrics(title, printer).height();
    painter.drawText(
        QRect(area.left(), y, area.width(), titleHeight), Qt::AlignLeft,
        QStringLiteral("Tableau de suivi — %1").arg(FrenchMonth(context.year, context.month)));
    y += titleHeight + pad;
    painter.setFont(body);
    const QString filters =
        QStringLiteral("%1 : %2    Agence : %3    Utilisateur : %4    Fournisseur : %5")
            .arg(QString::fromStdString(context.levelCaption), allOr(context.level, "tous"),
                 allOr(context.agency, "toutes"), allOr(context.user, "tous"),
                 allOr(context.supplier, "tous"));
    painter.drawText(QRect(area.left(), y, area.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     filters);
    y += line;
    const QString user = userAndLogin(context, QStringLiteral("    "));
    painter.drawText(QRect(area.left(), y, area.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Base : %1    Code utilisateur : %2")
                         .arg(QString::fromStdString(DisplayDatabaseName(context.database)), user));
    y += line + pad;
    y = drawTitles(y);

    const int bottom = area.bottom() - line - pad; // above the footer
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (y + line > bottom) {
            footer();
            printer->newPage();
            ++pageNumber;
            y = drawTitles(area.top());
        }
        drawRow(y, ReportRowTexts(rows[i]), body, i % 2 == 1);
        y += line;
    }
    if (rows.empty()) {
        painter.drawText(QRect(area.left(), y, area.width(), line),
                         Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Aucune donnée pour cette sélection"));
        y += line;
    }
    const std::vector<TReportRow> totalLines = totals.Lines();
    const int totalsHeight = line * int(totalLines.size());
    if (y + totalsHeight > bottom) {
        footer();
        printer->newPage();
        ++pageNumber;
        y = drawTitles(area.top());
    }
    painter.drawLine(area.left(), y, area.right(), y);
    for (const TReportRow& totalLine : totalLines) {
        drawRow(y, ReportRowTexts(totalLine), bold, false);
        y += line;
    }
    footer();
    return painter.end();
}
