// The tracking report over months, on figures worked out by hand: the totals
// of 13 months across a year's turn with empty months, the chart window and
// its year-earlier series, the command line's --months, and the .xlsx files
// read back by an independent reader (openpyxl).

#include "data/absdatabase.h"
#include "testsupport.h"
#include "tracking/ficheevolution.h"
#include "tracking/fichequadrivel.h"
#include "tracking/monthsreport.h"
#include "tracking/xlsxexport.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChartView>
#include <QClipboard>
#include <QFileDialog>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QProcess>
#include <QValueAxis>
#include <QtTest>

#include <cmath>
#include <limits>

namespace {

using Figures = std::array<double, kReportFigureCount>;

// Levels Nord (A1), Ouest (A1 too) and Sud (A2); A3 belongs to no level, and
// "=SUM(A1)" is a level without agency. A totals line counts A1 once. Months are counted back from
// the last month L:
//   L     A2 100 HT, 20 TVA, 10 margin, 1 quote, 1 order; A1 (supplier F3)
//         0.4 HT and 0.1 margin
//   L-1   A2 (F2) 2000.5 HT, 400.1 TVA, 100 margin, 5 quotes, 2 orders;
//         A1 (F1) 500 HT, 50 margin
//   L-2   A1 1000 HT, 200 TVA, 250 margin, 3 reminders, 4 quotes, 1 order
//   L-3   nothing;  L-4: 9999 HT of A3 only, outside every level
//   L-12  A1 300 HT, 30 margin, 2 quotes, 2 orders
//   L-24  A1 70 HT;  L-25: A1 5555 HT, before every month shown
std::string figuresSql(const QDate& last) {
    QString sql = R"SQL(
INSERT INTO dim_utilisateur VALUES ('U1', 'Alice'), ('U2', 'Bruno');
INSERT INTO dim_niveau VALUES ('N1', 'Nord'), ('N2', 'Sud'), ('N3', '=SUM(A1)'),
  ('N4', 'Ouest');
INSERT INTO dim_agence VALUES ('A1', 'Lille'), ('A2', 'Marseille'), ('A3', 'Nulle part');
INSERT INTO niveau_agence VALUES ('N1', 'A1'), ('N2', 'A2'), ('N4', 'A1');
INSERT INTO dim_fournisseur VALUES ('F1', 'Acier'), ('F2', 'Bois'), ('F3', 'Cuivre');
INSERT INTO data VALUES
  ('MONTANT_DEVIS_VENTE_HT', M0, 'A2', 'U2', 'F2', 'D1', 100),
  ('MONTANT_DEVIS_TVA',      M0, 'A2', 'U2', 'F2', 'D1', 20),
  ('MARGE_DEVIS_VENTE_HT',   M0, 'A2', 'U2', 'F2', 'D1', 10),
  ('NB_DOSSIERS_TRAITES',    M0, 'A2', 'U2', 'F2', 'D1', 1),
  ('NB_COMMANDES_TRAITES',   M0, 'A2', 'U2', 'F2', 'D1', 1),
  ('MONTANT_DEVIS_VENTE_HT', M0, 'A1', 'U1', 'F3', 'D2', 0.4),
  ('MARGE_DEVIS_VENTE_HT',   M0, 'A1', 'U1', 'F3', 'D2', 0.1),
  ('MONTANT_DEVIS_VENTE_HT', M1, 'A2', 'U2', 'F2', 'D3', 2000.5),
  ('MONTANT_DEVIS_TVA',      M1, 'A2', 'U2', 'F2', 'D3', 400.1),
  ('MARGE_DEVIS_VENTE_HT',   M1, 'A2', 'U2', 'F2', 'D3', 100),
  ('NB_DOSSIERS_TRAITES',    M1, 'A2', 'U2', 'F2', 'D3', 5),
  ('NB_COMMANDES_TRAITES',   M1, 'A2', 'U2', 'F2', 'D3', 2),
  ('MONTANT_DEVIS_VENTE_HT', M1, 'A1', 'U1', 'F1', 'D4', 500),
  ('MARGE_DEVIS_VENTE_HT',   M1, 'A1', 'U1', 'F1', 'D4', 50),
  ('MONTANT_DEVIS_VENTE_HT', M2, 'A1', 'U1', 'F1', 'D5', 1000),
  ('MONTANT_DEVIS_TVA',      M2, 'A1', 'U1', 'F1', 'D5', 200),
  ('MARGE_DEVIS_VENTE_HT',   M2, 'A1', 'U1', 'F1', 'D5', 250),
  ('NB_RELANCES',            M2, 'A1', 'U1', 'F1', 'D5', 3),
  ('NB_DOSSIERS_TRAITES',    M2, 'A1', 'U1', 'F1', 'D5', 4),
  ('NB_COMMANDES_TRAITES',   M2, 'A1', 'U1', 'F1', 'D5', 1),
  ('MONTANT_DEVIS_VENTE_HT', M4, 'A3', 'U1', 'F1', 'D6', 9999),
  ('MONTANT_DEVIS_VENTE_HT', M12, 'A1', 'U1', 'F1', 'D7', 300),
  ('MARGE_DEVIS_VENTE_HT',   M12, 'A1', 'U1', 'F1', 'D7', 30),
  ('NB_DOSSIERS_TRAITES',    M12, 'A1', 'U1', 'F1', 'D7', 2),
  ('NB_COMMANDES_TRAITES',   M12, 'A1', 'U1', 'F1', 'D7', 2),
  ('MONTANT_DEVIS_VENTE_HT', M24, 'A1', 'U1', 'F1', 'D8', 70),
  ('MONTANT_DEVIS_VENTE_HT', M25, 'A1', 'U1', 'F1', 'D9', 5555);
)SQL";
    for (int back : {25, 24, 12, 4, 2, 1, 0}) {
        const QDate month = last.addMonths(-back);
        sql.replace(QString("M%1,").arg(back),
                    QString("%1, %2,").arg(month.year()).arg(month.month()));
    }
    return sql.toStdString();
}

// The totals of the 13 months ending at L, oldest first, by hand.
std::vector<Figures> expectedMonths() {
    std::vector<Figures> months(13, Figures{});
    months[0] = {300, 0, 300, 30, 10, 0, 2, 2, 100};                            // L-12
    months[10] = {1000, 200, 1200, 250, 25, 3, 4, 1, 25};                       // L-2
    months[11] = {2500.5, 400.1, 2900.6, 150, 150 / 2500.5 * 100, 0, 5, 2, 40}; // L-1
    months[12] = {100.4, 20, 120.4, 10.1, 10.1 / 100.4 * 100, 0, 1, 1, 100};    // L
    return months;
}

bool sameFigures(const Figures& actual, const Figures& expected) {
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (std::fabs(actual[i] - expected[i]) > 1e-9 * std::max(1.0, std::fabs(expected[i])))
            return false;
    return true;
}

QString describe(const Figures& figures) {
    QStringList texts;
    for (double value : figures)
        texts << QString::number(value, 'g', 17);
    return texts.join(' ');
}

const QDate kLast(2027, 2, 1);

TReportSelection adminSelection(const QDate& last) {
    TReportSelection selection;
    selection.admin = true;
    selection.year = last.year();
    selection.month = last.month();
    return selection;
}

// The texts a chart draws: its axes' labels, title and legend.
// Every kind of blank (a French thousands separator is a narrow no-break
// space) reads as a plain space.
QStringList drawnTexts(QChartView* view) {
    QStringList texts;
    for (QGraphicsItem* item : view->scene()->items()) {
        QString text;
        if (auto* rich = dynamic_cast<QGraphicsTextItem*>(item))
            text = rich->toPlainText();
        else if (auto* simple = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            text = simple->text();
        for (QChar& c : text)
            if (c.isSpace())
                c = ' ';
        texts << text;
    }
    return texts;
}

Run runReport(const QStringList& args) {
    return RunProgram(QStringLiteral(QUADRIVEL_REPORT_PROGRAM), args);
}

// A workbook as Debian's openpyxl reads it: every cell written (value, type,
// number format, bold), the frozen cell, column widths and properties.
QJsonObject readWorkbook(const QString& path) {
    static const char* const script = R"PY(
import json, sys, openpyxl
book = openpyxl.load_workbook(sys.argv[1])
sheet = book.active
cells = []
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is not None:
            cells.append({"ref": cell.coordinate, "value": cell.value, "type": cell.data_type,
                          "format": cell.number_format, "bold": bool(cell.font.b)})
widths = {key: dim.width for key, dim in sheet.column_dimensions.items()}
print(json.dumps({"sheet": sheet.title, "freeze": sheet.freeze_panes, "cells": cells,
                  "widths": widths, "title": book.properties.title,
                  "subject": book.properties.subject, "creator": book.properties.creator}))
)PY";
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), {"-c", script, path});
    if (!python.waitForFinished(60000) || python.exitCode() != 0)
        qWarning() << python.readAllStandardError();
    return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
}

// The cells of a workbook by reference ("B6").
QMap<QString, QJsonObject> cellsOf(const QJsonObject& workbook) {
    QMap<QString, QJsonObject> cells;
    for (const QJsonValue cell : workbook["cells"].toArray())
        cells[cell["ref"].toString()] = cell.toObject();
    return cells;
}

// One line of figures of a workbook (row number as the sheet counts them),
// rates back in percent.
Figures figuresAt(const QMap<QString, QJsonObject>& cells, int row) {
    Figures figures{};
    for (int i = 0; i < kReportFigureCount; ++i) {
        const QJsonObject cell = cells.value(QString("%1%2").arg(QChar('B' + i)).arg(row));
        double value = cell["value"].toDouble(std::numeric_limits<double>::quiet_NaN());
        if (FigureKind(i) == TFigureKind::Rate)
            value *= 100;
        figures[std::size_t(i)] = value;
    }
    return figures;
}

// The figures as a spreadsheet cell holds them: to the cent.
Figures toTheCent(Figures figures) {
    for (double& value : figures)
        value = std::round(value * 100) / 100;
    return figures;
}

// The administrator's tracking window in February 2027 on the figures above.
struct Session {
    Session()
        : file((toolkit::SetToday(QDate(2027, 2, 10)), figuresSql(kLast))) {
        db.DatabaseFileName = file.Path();
        window.SetDatabase(&db);
        window.SetAdmin(true);
        window.SetUserCode("KOVAR");
        ShowForm(window);
    }
    FixtureFile file;
    TABSDatabase db;
    TFicheQuadrivel window{nullptr};
};

} // namespace

class TestEvolution : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { toolkit::SetToday(QDate()); }
    void thirteenMonthsAcrossTheYearsTurn();
    void chartSeriesAxesAndYearBefore();
    void chartFollowsTheTableAndSaves();
    void commandLineMonths();
    void workbookReadBack();
    void saveDialogGivesTheChosenExtension();
};

void TestEvolution::thirteenMonthsAcrossTheYearsTurn() {
    FixtureFile file(figuresSql(kLast));
    TABSDatabase db;
    db.DatabaseFileName = file.Path();

    const auto months = ComputeMonthTotals(&db, adminSelection(kLast), 13);
    QCOMPARE(months.size(), std::size_t(13));
    const std::vector<Figures> expected = expectedMonths();
    for (std::size_t i = 0; i < months.size(); ++i) {
        const QDate month = kLast.addMonths(int(i) - 12);
        QCOMPARE(months[i].year, month.year());
        QCOMPARE(months[i].month, month.month());
        QCOMPARE(months[i].totals.label, month.toString("yyyy-MM").toStdString());
        QVERIFY2(sameFigures(months[i].totals.figures, expected[i]),
                 qPrintable(QString("%1: %2").arg(i).arg(describe(months[i].totals.figures))));
    }
    QCOMPARE(months[10].totals.label, std::string("2026-12"));
    QCOMPARE(months[11].totals.label, std::string("2027-01"));

    // Every statement is one the table runs for its month, all of them inside
    // one read transaction: in the levels display the level list once, then
    // the totals' own sums (not the rows' sums); in the other displays the
    // table's statements month by month, exactly.
    auto statementsOf = [&db](const std::function<void()>& work, int* outside = nullptr) {
        std::vector<std::string> texts;
        db.OnStatement = [&](const std::string& text) {
            texts.push_back(text);
            if (outside)
                *outside += db.InTransaction() ? 0 : 1;
        };
        work();
        db.OnStatement = nullptr;
        return texts;
    };
    auto tableRuns = [&](TReportSelection selection, int count) {
        return statementsOf([&] {
            for (int back = count - 1; back >= 0; --back) {
                const QDate month = kLast.addMonths(-back);
                selection.year = month.year();
                selection.month = month.month();
                TReportTotals totals;
                ComputeReport(&db, selection, {}, &totals);
            }
        });
    };
    int outside = 0;
    const auto levelRuns =
        statementsOf([&] { ComputeMonthTotals(&db, adminSelection(kLast), 13); }, &outside);
    QCOMPARE(outside, 0);
    const auto table = tableRuns(adminSelection(kLast), 13);
    QCOMPARE(std::count(levelRuns.begin(), levelRuns.end(), LevelsStatement(true, "")), 1);
    QCOMPARE(levelRuns.size(), std::size_t(1 + 13 * 6));
    for (const std::string& text : levelRuns)
        QVERIFY2(std::find(table.begin(), table.end(), text) != table.end(), text.c_str());
    QCOMPARE(db.InTransaction(), false);

    // One supplier, one level: the months of its agencies alone.
    TReportSelection lille = adminSelection(kLast);
    lille.mode = rmAgences;
    lille.level = "N1";
    lille.supplier = "F1";
    std::vector<TMonthTotals> lilleMonths;
    const auto agencyRuns = statementsOf([&] { lilleMonths = ComputeMonthTotals(&db, lille, 3); });
    QCOMPARE(agencyRuns, tableRuns(lille, 3));
    QVERIFY(sameFigures(lilleMonths[0].totals.figures, expected[10]));
    QVERIFY(sameFigures(lilleMonths[1].totals.figures, {500, 0, 500, 50, 10, 0, 0, 0, 0}));
    QVERIFY(sameFigures(lilleMonths[2].totals.figures, Figures{}));
}

void TestEvolution::chartSeriesAxesAndYearBefore() {
    FixtureFile file(figuresSql(kLast));
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    TFicheEvolution chart(nullptr);
    chart.SetDatabase(&db);
    TReportContext context;
    context.year = kLast.year();
    context.month = kLast.month();
    context.database = file.Path();
    context.userCode = "KOVAR";
    context.admin = true;
    chart.ShowSelection(adminSelection(kLast), context);
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));

    // Thirteen French month labels across the year's turn.
    const QStringList categories = chart.axMois->categories();
    QCOMPARE(categories.size(), 13);
    QCOMPARE(categories.first(), QString("févr. 2026"));
    QCOMPARE(categories[10], QString("déc. 2026"));
    QCOMPARE(categories[11], QString("janv. 2027"));
    QCOMPARE(categories.last(), QString("févr. 2027"));

    // The bars and the line hold the months' totals; N-1 is the same month a
    // year earlier: L-12 is this year's first bar and last year's last.
    const std::vector<Figures> expected = expectedMonths();
    for (int i = 0; i < 13; ++i) {
        QCOMPARE(chart.setMontantHT->at(i), expected[std::size_t(i)][rfMontantHT]);
        QCOMPARE(chart.setMarge->at(i), expected[std::size_t(i)][rfMarge]);
        QCOMPARE(chart.lnTransformation->at(i),
                 QPointF(i, expected[std::size_t(i)][rfTransformation]));
    }
    QCOMPARE(chart.setMontantHTN1->count(), 13);
    QCOMPARE(chart.setMontantHTN1->at(0), 70.0);   // L-24
    QCOMPARE(chart.setMontantHTN1->at(1), 0.0);    // L-23: before L-25's 5555 never shows
    QCOMPARE(chart.setMontantHTN1->at(12), 300.0); // L-12
    QCOMPARE(chart.setMargeN1->at(12), 30.0);
    QCOMPARE(chart.lnTransformationN1->at(12), QPointF(12, 100));
    QCOMPARE(chart.MonthsBefore()[0].totals.label, std::string("2025-02"));
    QCOMPARE(chart.lnTransformation->attachedAxes().contains(chart.axTaux), true);
    QCOMPARE(chart.BarSeries->attachedAxes().contains(chart.axMontants), true);
    QCOMPARE(chart.setMontantHTN1->label(), QString("Montant HT N-1"));
    QCOMPARE(chart.lnTransformationN1->name(), QString("Transformation % N-1"));
    QVERIFY(chart.setMontantHTN1->color().lightness() > chart.setMontantHT->color().lightness());

    // French numbers on the axes: thousands grouped by a space, percentages.
    QStringList texts = drawnTexts(chart.Chart1);
    QVERIFY2(texts.contains("1 000") && texts.contains("3 000"), qPrintable(texts.join(" | ")));
    QVERIFY2(texts.contains("100 %") && texts.contains("0 %"), qPrintable(texts.join(" | ")));
    QCOMPARE(chart.lblContexte->text(), ReportContextLine(context));

    // The tooltip: the month's exact figures beside a year earlier's.
    const QStringList tooltip = chart.MonthTooltip(11).split('\n');
    QCOMPARE(tooltip[0], QString("janvier 2027 (N-1 : janvier 2026)"));
    const QChar group = QLocale(QLocale::French).groupSeparator().front();
    QVERIFY(group.isSpace());
    QCOMPARE(tooltip[1], QString("Montant HT : 2") + group + "500,50 € (N-1 : 0,00 €)");
    QCOMPARE(tooltip[5], QString("Marge % : 6,00 % (N-1 : 0,00 %)"));
    QCOMPARE(tooltip[9], QString("Transformation % : 40,00 % (N-1 : 0,00 %)"));
    QVERIFY(chart.MonthTooltip(13).isEmpty());

    // Small amounts: the axis shows a decimal comma.
    TReportSelection copper = adminSelection(kLast);
    copper.supplier = "F3";
    chart.ShowSelection(copper, context);
    QTest::qWait(50);
    texts = drawnTexts(chart.Chart1);
    QVERIFY2(texts.contains("0,2") && texts.contains("0,4"), qPrintable(texts.join(" | ")));
}

void TestEvolution::chartFollowsTheTableAndSaves() {
    Session session;
    TFicheQuadrivel& window = session.window;
    const FixtureFile& file = session.file;

    QCOMPARE(window.btnEvolution->text(), QString("Évolution…"));
    QTest::mouseClick(window.btnEvolution, Qt::LeftButton);
    TFicheEvolution* chart = window.EvolutionWindow();
    QVERIFY(chart);
    QVERIFY(chart->isVisible());
    QCOMPARE(chart->windowTitle(), QString("Évolution — Tableau de suivi"));
    QCOMPARE(chart->lblContexte->text(), window.lblContexte->text());
    QCOMPARE(chart->setMontantHT->at(11), 2500.5);

    // Another supplier, another month in the table: the chart follows.
    Pick(window.cblFournisseur, 1); // Acier
    QCOMPARE(chart->setMontantHT->at(11), 500.0);
    QCOMPARE(chart->setMontantHT->at(12), 0.0);
    Pick(window.cblPeriode, 1); // 2027-01
    QCOMPARE(chart->axMois->categories().last(), QString("janv. 2027"));
    QCOMPARE(chart->setMontantHT->at(12), 500.0);
    QCOMPARE(chart->lblContexte->text(), window.lblContexte->text());

    // Copy: the chart with its subtitle as an image.
    QGuiApplication::clipboard()->clear();
    QTest::mouseClick(chart->btnCopierImage, Qt::LeftButton);
    const QImage copied = QGuiApplication::clipboard()->image();
    QCOMPARE(copied.width(), chart->Chart1->width());
    QVERIFY(copied.height() > chart->Chart1->height());

    // Save: PNG or PDF after the name; a refused file says so, the table's
    // choices stay.
    QString proposed;
    QString path = file.Folder() + "/chart.png";
    chart->AskFileName = [&](const QString& name) {
        proposed = name;
        return path;
    };
    QTest::mouseClick(chart->btnEnregistrer, Qt::LeftButton);
    QCOMPARE(QFileInfo(proposed).fileName(), QString("evolution-2027-01-acier.png"));
    QImage saved(path);
    QCOMPARE(saved.size(), copied.size());
    path = file.Folder() + "/chart.pdf";
    QTest::mouseClick(chart->btnEnregistrer, Qt::LeftButton);
    QFile pdf(path);
    QVERIFY(pdf.open(QIODevice::ReadOnly) && pdf.read(5) == "%PDF-");
    // A4 landscape, the chart 10 mm or more from every edge.
    const PdfInk ink = PdfPageInk(path, 1);
    QVERIFY2(std::abs(ink.width - 297) < 1 && std::abs(ink.height - 210) < 1 &&
                 std::min({ink.left, ink.top, ink.right, ink.bottom}) >= 10 - 0.254,
             qPrintable(QString("%1 x %2 mm, ink %3 %4 %5 %6 mm from the edges")
                            .arg(ink.width)
                            .arg(ink.height)
                            .arg(ink.left)
                            .arg(ink.top)
                            .arg(ink.right)
                            .arg(ink.bottom)));
    MessageRecorder messages;
    path = file.Folder() + "/absent/chart.png";
    QTest::mouseClick(chart->btnEnregistrer, Qt::LeftButton);
    const auto errors = messages.Texts(toolkit::MessageKind::Error);
    QCOMPARE(errors.size(), std::size_t(1));
    QVERIFY2(QString::fromStdString(errors[0]).startsWith("Le fichier « " + path + " »"),
             errors[0].c_str());
    QVERIFY(!QFile::exists(path));
    QCOMPARE(window.cblFournisseur->currentIndex(), 1);

    // Closed, it is gone; the table goes on alone.
    chart->close();
    QTRY_VERIFY(!window.EvolutionWindow());
    Pick(window.cblFournisseur, 0);
    QCOMPARE(RowCount(window.lvData), 4);
}

void TestEvolution::commandLineMonths() {
    const QDate today = QDate::currentDate();
    const QDate last(today.year(), today.month(), 1);
    FixtureFile file(figuresSql(last));
    const QString path = QString::fromStdString(file.Path());

    const Run run = runReport({path, "KOVAR", "--months", "13"});
    QCOMPARE(run.status, 0);
    QVERIFY(run.out.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(run.out.mid(3)).split("\r\n");
    QCOMPARE(lines.size(), 15); // titles, 13 months, the last line break
    QCOMPARE(lines[0], QString("Mois;Montant HT;TVA;Montant TTC;Marge €;Marge %;Nb Relance(s);"
                               "Nb Devis;Nb Commandes;Transformation %"));
    auto month = [&](int back) { return last.addMonths(-back).toString("yyyy-MM"); };
    QCOMPARE(lines[1], month(12) + ";300,00;0,00;300,00;30,00;10,00;0;2;2;100,00");
    QCOMPARE(lines[2], month(11) + ";0,00;0,00;0,00;0,00;0,00;0;0;0;0,00");
    QCOMPARE(lines[9], month(4) + ";0,00;0,00;0,00;0,00;0,00;0;0;0;0,00");
    QCOMPARE(lines[11], month(2) + ";1000,00;200,00;1200,00;250,00;25,00;3;4;1;25,00");
    QCOMPARE(lines[12], month(1) + ";2500,50;400,10;2900,60;150,00;6,00;0;5;2;40,00");
    QCOMPARE(lines[13], month(0) + ";100,40;20,00;120,40;10,10;10,06;0;1;1;100,00");

    // --month sets the last month; the filters apply as in the window.
    const Run earlier = runReport(
        {path, "KOVAR", "--months", "3", "--month", month(1), "--level", "N1", "--supplier", "F1"});
    QCOMPARE(earlier.status, 0);
    QCOMPARE(QString::fromUtf8(earlier.out.mid(3)).split("\r\n").mid(1, 3),
             (QStringList{month(3) + ";0,00;0,00;0,00;0,00;0,00;0;0;0;0,00",
                          month(2) + ";1000,00;200,00;1200,00;250,00;25,00;3;4;1;25,00",
                          month(1) + ";500,00;0,00;500,00;50,00;10,00;0;0;0;0,00"}));

    for (const char* wrong : {"0", "14", "x", "-1"}) {
        const Run refused = runReport({path, "KOVAR", "--months", wrong});
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains("--months attend un nombre de mois de 1 à 13"),
                 qPrintable(refused.err));
    }
    const Run format = runReport({path, "KOVAR", "--format", "ods"});
    QCOMPARE(format.status, 2);
    QVERIFY(format.err.contains("--format attend csv ou xlsx"));

    // The workbook of the months: a number per figure, the months as text.
    const QString output = file.Folder() + "/mois.xlsx";
    QCOMPARE(runReport({path, "KOVAR", "--months", "13", "--output", output}).status, 0);
    const QJsonObject book = readWorkbook(output);
    QCOMPARE(book["sheet"].toString(), QString("Évolution"));
    const auto cells = cellsOf(book);
    QCOMPARE(cells["A5"]["value"].toString(), QString("Mois"));
    const std::vector<Figures> expected = expectedMonths();
    for (int i = 0; i < 13; ++i) {
        const QJsonObject label = cells.value(QString("A%1").arg(6 + i));
        QCOMPARE(label["value"].toString(), month(12 - i));
        QCOMPARE(label["type"].toString(), QString("s"));
        QVERIFY2(sameFigures(figuresAt(cells, 6 + i), toTheCent(expected[std::size_t(i)])),
                 qPrintable(describe(figuresAt(cells, 6 + i))));
    }
    QVERIFY(!cells.contains("A19"));
    // --format forces the format whatever the name.
    const Run forced = runReport({path, "KOVAR", "--months", "2", "--format", "xlsx"});
    QCOMPARE(forced.status, 0);
    QVERIFY(forced.out.startsWith("PK"));
}

void TestEvolution::workbookReadBack() {
    Session session;
    TFicheQuadrivel& window = session.window;
    const FixtureFile& file = session.file;
    Pick(window.cblPeriode, 1); // 2027-01

    const QString path = file.Folder() + "/suivi.xlsx";
    window.AskFileName = [&](const QString&) { return path; };
    QTest::mouseClick(window.btnExporter, Qt::LeftButton);
    const QJsonObject book = readWorkbook(path);
    const auto cells = cellsOf(book);

    // Title rows, bold titles frozen with the label column.
    QCOMPARE(cells["A1"]["value"].toString(), QString("Tableau de suivi — janvier 2027"));
    QVERIFY(cells["A1"]["bold"].toBool());
    QCOMPARE(cells["A2"]["value"].toString(), window.lblContexte->text());
    QVERIFY(cells["A3"]["value"].toString().startsWith("Écrit le "));
    QCOMPARE(book["freeze"].toString(), QString("B6"));
    QCOMPARE(book["title"].toString(), QString("Tableau de suivi — janvier 2027"));
    QCOMPARE(book["subject"].toString(), window.lblContexte->text());
    QCOMPARE(book["creator"].toString(), CurrentLogin());
    QCOMPARE(cells["A5"]["value"].toString(), QString("Niveau"));
    QCOMPARE(cells["J5"]["value"].toString(), QString("Transformation %"));
    QVERIFY(cells["A5"]["bold"].toBool() && cells["J5"]["bold"].toBool());

    // The rows in the table's order; a label beginning with "=" is text.
    QCOMPARE(cells["A6"]["value"].toString(), QString("=SUM(A1)"));
    QCOMPARE(cells["A6"]["type"].toString(), QString("s"));
    QCOMPARE(cells["A7"]["value"].toString(), QString("Nord"));
    QCOMPARE(cells["A8"]["value"].toString(), QString("Ouest"));
    QCOMPARE(cells["A9"]["value"].toString(), QString("Sud"));
    QVERIFY(sameFigures(figuresAt(cells, 6), Figures{}));
    QVERIFY(sameFigures(figuresAt(cells, 7), {500, 0, 500, 50, 10, 0, 0, 0, 0}));
    QVERIFY(sameFigures(figuresAt(cells, 8), figuresAt(cells, 7)));
    QVERIFY(sameFigures(figuresAt(cells, 9), {2000.5, 400.1, 2400.6, 100, 5, 0, 5, 2, 40}));
    for (const char* ref : {"B9", "F9", "H9", "J9"})
        QCOMPARE(cells[ref]["type"].toString(), QString("n"));
    QCOMPARE(cells["B9"]["format"].toString(), QString("#,##0.00"));
    QCOMPARE(cells["F9"]["format"].toString(), QString("0.00%"));
    QCOMPARE(cells["F9"]["value"].toDouble(), 0.05);
    QCOMPARE(cells["H9"]["format"].toString(), QString("#,##0"));

    // The totals lines last, in bold: Lille counted once, then the agency of
    // no level, which has no figure this month.
    QCOMPARE(cells["A10"]["value"].toString(), QString("Total"));
    QVERIFY(cells["A10"]["bold"].toBool() && cells["B10"]["bold"].toBool());
    QVERIFY(sameFigures(figuresAt(cells, 10), toTheCent(expectedMonths()[11])));
    QVERIFY(!cells.contains("A11"));
    // Columns wide enough for their widest text ("2 900,60").
    for (const char* column : {"A", "B", "D", "J"})
        QVERIFY2(book["widths"][column].toDouble() >= 10, column);

    // A figure that could not be computed is the text n.c.; a refused file
    // is said.
    TXlsxReport report;
    report.rows = {{"N1", "+33 Nord", {}}};
    report.rows[0].figures[rfTauxMarge] = std::numeric_limits<double>::quiet_NaN();
    QString error;
    const QByteArray bytes = ReportXlsx(report, &error);
    QVERIFY2(!bytes.isEmpty(), qPrintable(error));
    QFile direct(file.Folder() + "/nc.xlsx");
    QVERIFY(direct.open(QIODevice::WriteOnly) && direct.write(bytes) == bytes.size());
    direct.close();
    const auto nc = cellsOf(readWorkbook(direct.fileName()));
    QCOMPARE(nc["A6"]["value"].toString(), QString("+33 Nord"));
    QCOMPARE(nc["F6"]["value"].toString(), QString("n.c."));
    QCOMPARE(nc["F6"]["type"].toString(), QString("s"));
    MessageRecorder messages;
    const QString refused = file.Folder() + "/absent/suivi.xlsx";
    window.AskFileName = [&](const QString&) { return refused; };
    QTest::mouseClick(window.btnExporter, Qt::LeftButton);
    QCOMPARE(messages.Texts(toolkit::MessageKind::Information).size(), std::size_t(1));
    QVERIFY(!QFile::exists(refused));
}

void TestEvolution::saveDialogGivesTheChosenExtension() {
    QTemporaryDir dir;
    const QStringList types = {"Fichiers CSV (*.csv)", "Classeur Excel (*.xlsx)"};
    struct Case {
        const char* typed;
        int type;
        const char* saved;
    };
    const Case cases[] = {
        {"suivi.csv", 1, "suivi.xlsx"}, // the proposed name, Excel chosen
        {"suivi", 1, "suivi.xlsx"},      {"suivi", 0, "suivi.csv"},
        {"suivi.xlsx", 1, "suivi.xlsx"}, {"suivi.2026", 0, "suivi.2026.csv"},
    };
    for (const Case& c : cases) {
        CloseNextModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFileDialog*>(modal);
            QVERIFY(dialog);
            // The type is chosen first (the dialog then gives the proposed
            // name the type's extension), then the name typed over it, as a
            // user does.
            dialog->selectNameFilter(types[c.type]);
            QCoreApplication::processEvents();
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name);
            name->setText(c.typed);
            QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        });
        const QString path = toolkit::AskSaveFileName(nullptr, "Exporter le tableau",
                                                      dir.filePath("suivi.csv"), types);
        QCOMPARE(QFileInfo(path).fileName(), QString(c.saved));
    }
    CloseNextModal();
    QVERIFY(toolkit::AskSaveFileName(nullptr, "Exporter", dir.filePath("x.csv"), types).isEmpty());
}

QTEST_MAIN(TestEvolution)
#include "test_evolution.moc"
