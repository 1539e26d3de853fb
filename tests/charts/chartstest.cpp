// Bar chart windows and the demonstration charts, read back from the Qt Charts
// objects they hold.
#include "app/ficheprincipale.h"
#include "charts/democharts.h"
#include "charts/fichebarchart2series.h"
#include "charts/fichebarchartstack.h"
#include "testsupport.h"

#include <QAbstractBarSeries>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QLegendMarker>
#include <QPointer>
#include <QTimer>
#include <QValueAxis>

#include <QtTest>

#include <memory>
#include <vector>

namespace {

std::unique_ptr<TFicheBarChart> makeChart(bool stacked) {
    if (stacked)
        return std::make_unique<TFicheBarChartStack>(nullptr);
    return std::make_unique<TFicheBarChart2Series>(nullptr);
}

std::vector<double> values(const QBarSet* set) {
    std::vector<double> result;
    for (int i = 0; i < set->count(); ++i)
        result.push_back(set->at(i));
    return result;
}

// What a filled chart shows: caption, chart title, legend, labels, values.
QStringList texts(const TFicheBarChart& chart) {
    QStringList result{chart.windowTitle(), chart.Chart1->chart()->title()};
    for (QLegendMarker* marker : chart.Chart1->chart()->legend()->markers())
        result << marker->label();
    for (int i = 0; i < chart.BottomAxis()->count(); ++i)
        result << chart.CategoryLabel(i);
    return result;
}

QStringList demoTexts(const char* title, const char* series0, const char* series1) {
    QStringList result{title, title, series0, series1};
    for (const char* month : DemoMonths)
        result << month;
    return result;
}

} // namespace

class ChartsTest : public QObject {
    Q_OBJECT
private slots:
    void designOfBothWindows_data();
    void designOfBothWindows();
    void axisLimitsFollowValues_data();
    void axisLimitsFollowValues();
    void indexTwoOnlyReappliesLimits();
    void barsKeepOrderAndRepeatedLabels();
    void demoChartsStayWithinBounds();
    void demoDrawsInTheirOrder();
    void showRunsModallyAndDestroys_data();
    void showRunsModallyAndDestroys();
    void grabDemoCharts();
};

void ChartsTest::designOfBothWindows_data() {
    QTest::addColumn<bool>("stacked");
    QTest::addColumn<QColor>("color0");
    QTest::addColumn<QColor>("color1");
    QTest::newRow("side by side") << false << QColor(0, 0, 255) << QColor(0, 128, 0);
    QTest::newRow("stacked") << true << QColor(0, 128, 0) << QColor(255, 0, 0);
}

void ChartsTest::designOfBothWindows() {
    QFETCH(bool, stacked);
    QFETCH(QColor, color0);
    QFETCH(QColor, color1);
    auto chart = makeChart(stacked);
    QCOMPARE(chart->size(), QSize(984, 442));
    QCOMPARE(chart->Chart1->geometry(), QRect(8, 8, 968, 426));
    ShowForm(*chart);
    chart->resize(1084, 542);
    QCOMPARE(chart->Chart1->geometry(), QRect(8, 8, 1068, 526));

    QCOMPARE(chart->BarSeries()->type(),
             stacked ? QAbstractSeries::SeriesTypeStackedBar : QAbstractSeries::SeriesTypeBar);
    QCOMPARE(chart->BarSeries()->barSets(), (QList<QBarSet*>{chart->Series1, chart->Series2}));
    QCOMPARE(chart->GetSeries(0), chart->Series1);
    QCOMPARE(chart->Series1->color(), color0);
    QCOMPARE(chart->Series2->color(), color1);
    QVERIFY(chart->BarSeries()->isLabelsVisible());
    QCOMPARE(chart->BarSeries()->labelsFormat(), QString("@value"));
    QCOMPARE(chart->Chart1->chart()->axes(Qt::Vertical), QList<QAbstractAxis*>{chart->LeftAxis()});
    QCOMPARE(chart->Chart1->chart()->legend()->alignment(), Qt::AlignBottom);

    chart->SetTitle("Évolution été");
    chart->SetSeriesTitle(0, "Reçus");
    chart->SetSeriesTitle(1, "Émis");
    chart->SetSeriesTitle(2, "ignoré");
    QCOMPARE(texts(*chart), (QStringList{"Évolution été", "Évolution été", "Reçus", "Émis"}));
}

void ChartsTest::axisLimitsFollowValues_data() {
    // Step i adds added[i] to series i % 2; the axis limits expected after
    // each step follow, and the tick interval: 1, 2 or 5 times a power of ten
    // cutting the span into about eight.
    QTest::addColumn<bool>("stacked");
    QTest::addColumn<QList<double>>("added");
    QTest::addColumn<QList<double>>("minimums");
    QTest::addColumn<QList<double>>("maximums");
    QTest::addColumn<QList<double>>("ticks");
    QTest::newRow("side by side 500 then -150")
        << false << QList<double>{500, -150} << QList<double>{0, -195} << QList<double>{650, 650}
        << QList<double>{100, 200};
    QTest::newRow("stacked -150") << true << QList<double>{-150} << QList<double>{-180}
                                  << QList<double>{0} << QList<double>{50};
    QTest::newRow("side by side positives")
        << false << QList<double>{100, 300, 200} << QList<double>{0, 0, 0}
        << QList<double>{130, 390, 390} << QList<double>{20, 50, 50};
    QTest::newRow("stacked positives")
        << true << QList<double>{40, 10, 50} << QList<double>{0, 0, 0} << QList<double>{48, 48, 60}
        << QList<double>{10, 10, 10};
    QTest::newRow("equal to current limits")
        << true << QList<double>{-10, 20, -10, 20, 0} << QList<double>{-12, -12, -12, -12, -12}
        << QList<double>{0, 24, 24, 24, 24} << QList<double>{2, 5, 5, 5, 5};
}

void ChartsTest::axisLimitsFollowValues() {
    QFETCH(bool, stacked);
    QFETCH(QList<double>, added);
    QFETCH(QList<double>, minimums);
    QFETCH(QList<double>, maximums);
    QFETCH(QList<double>, ticks);
    auto chart = makeChart(stacked);
    for (int step = 0; step < added.size(); ++step) {
        chart->AddValue(step % 2, "m", added[step]);
        QCOMPARE(chart->LeftAxis()->min(), minimums[step]);
        QCOMPARE(chart->LeftAxis()->max(), maximums[step]);
        QCOMPARE(chart->LeftAxis()->tickType(), QValueAxis::TicksDynamic);
        QCOMPARE(chart->LeftAxis()->tickAnchor(), 0.0);
        QCOMPARE(chart->LeftAxis()->tickInterval(), ticks[step]);
    }
}

void ChartsTest::indexTwoOnlyReappliesLimits() {
    TFicheBarChartStack chart(nullptr);
    chart.AddValue(0, "a", 50);
    chart.AddValue(1, "a", -5);
    chart.LeftAxis()->setRange(-1000, 1000);
    chart.AddValue(2, "b", 9999);
    chart.AddValue(2, "c", -9999);
    QCOMPARE(values(chart.Series1), std::vector<double>{50});
    QCOMPARE(values(chart.Series2), std::vector<double>{-5});
    QCOMPARE(chart.BottomAxis()->count(), 1);
    QCOMPARE(chart.GetMinValue(), -5.0);
    QCOMPARE(chart.GetMaxValue(), 50.0);
    QCOMPARE(chart.LeftAxis()->min(), -6.0);
    QCOMPARE(chart.LeftAxis()->max(), 60.0);
}

void ChartsTest::barsKeepOrderAndRepeatedLabels() {
    TFicheBarChart2Series chart(nullptr);
    for (auto [label, value] : {std::pair{"A", 3}, {"A", 1}, {"B", 2}, {"A", 4}})
        chart.AddValue(0, label, value);
    chart.AddValue(1, "A", 7);
    QCOMPARE(values(chart.Series1), (std::vector<double>{3, 1, 2, 4}));
    QCOMPARE(values(chart.Series2), std::vector<double>{7});
    QCOMPARE(texts(chart).mid(4), (QStringList{"A", "A", "B", "A"}));

    // Series 1 running ahead of series 0 opens the positions.
    TFicheBarChartStack stack(nullptr);
    stack.AddValue(1, "x", -1);
    stack.AddValue(1, "y", -2);
    stack.AddValue(0, "z", 5);
    QCOMPARE(texts(stack).mid(4), (QStringList{"x", "y"}));
    QCOMPARE(values(stack.Series1), std::vector<double>{5});
}

void ChartsTest::demoChartsStayWithinBounds() {
    const QStringList clientTexts =
        demoTexts("Nouveaux clients vs Clients supprimés", "Nouveaux clients", "Clients supprimés");
    const QStringList fileTexts = demoTexts("Nouveaux dossiers vs Dossiers supprimés",
                                            "Nouveaux dossiers", "Dossiers supprimés");
    const QStringList quoteTexts = demoTexts("Nb lignes Devis vs Nb lignes Commandes",
                                             "Nb lignes devis", "Nb Lignes commandes");
    for (unsigned seed = 0; seed < 300; ++seed) {
        TFicheBarChartStack clients(nullptr), files(nullptr);
        TFicheBarChart2Series quotes(nullptr);
        std::mt19937 generator(seed);
        FillNewClientsChart(clients, generator);
        FillNewFilesChart(files, generator);
        FillQuoteLinesChart(quotes, generator);
        QCOMPARE(texts(clients), clientTexts);
        QCOMPARE(texts(files), fileTexts);
        QCOMPARE(texts(quotes), quoteTexts);
        for (auto [chart, gainMax, lossMin] :
             {std::tuple{&clients, 999, -199}, {&files, 99, -19}}) {
            for (double gain : values(chart->Series1))
                QVERIFY(gain >= 0 && gain <= gainMax);
            for (double loss : values(chart->Series2)) // a loss of 0 is 0, never -0
                QVERIFY(loss >= lossMin && (loss < 0 || !std::signbit(loss)));
        }
        const std::vector<double> quoteLines = values(quotes.Series1);
        const std::vector<double> orderLines = values(quotes.Series2);
        QCOMPARE(orderLines.size(), 12u);
        for (int i = 0; i < 12; ++i) {
            QVERIFY(quoteLines[i] >= 0 && quoteLines[i] <= 99);
            QVERIFY(orderLines[i] >= 0 && (orderLines[i] < quoteLines[i] || quoteLines[i] == 0));
        }
        QCOMPARE(quotes.LeftAxis()->min(), 0.0);
        QCOMPARE(quotes.LeftAxis()->max(),
                 *std::max_element(quoteLines.begin(), quoteLines.end()) * 1.3);
    }
}

void ChartsTest::demoDrawsInTheirOrder() {
    // Stacked charts: the twelve gains, then the twelve losses; quote lines:
    // month by month, q then r(q).
    std::mt19937 expected(2024), generator(2024);
    auto r = [&](int n) { return n ? std::uniform_int_distribution<int>(0, n - 1)(expected) : 0; };
    std::vector<double> gains, losses, quoteLines, orderLines;
    for (int i = 0; i < 12; ++i)
        gains.push_back(r(1000));
    for (int i = 0; i < 12; ++i)
        losses.push_back(-r(200));
    for (int i = 0; i < 12; ++i) {
        quoteLines.push_back(r(100));
        orderLines.push_back(r(static_cast<int>(quoteLines.back())));
    }
    TFicheBarChartStack clients(nullptr);
    TFicheBarChart2Series quotes(nullptr);
    FillNewClientsChart(clients, generator);
    FillQuoteLinesChart(quotes, generator);
    QCOMPARE(values(clients.Series1), gains);
    QCOMPARE(values(clients.Series2), losses);
    QCOMPARE(values(quotes.Series1), quoteLines);
    QCOMPARE(values(quotes.Series2), orderLines);
}

void ChartsTest::showRunsModallyAndDestroys_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("title");
    QTest::newRow("Button1") << "Button1"
                             << "Nouveaux clients vs Clients supprimés";
    QTest::newRow("Button3") << "Button3"
                             << "Nouveaux dossiers vs Dossiers supprimés";
    QTest::newRow("Button4") << "Button4"
                             << "Nb lignes Devis vs Nb lignes Commandes";
}

// Through the main window's hidden button and a real exec(); the same seed
// gives the same values twice.
void ChartsTest::showRunsModallyAndDestroys() {
    QFETCH(QString, button);
    QFETCH(QString, title);
    TFichePrincipale owner(nullptr);
    std::vector<std::vector<double>> shown;
    for (int run = 0; run < 2; ++run) {
        SetDemoSeed(77);
        QPointer<TFicheBarChart> window;
        CloseNextModal([&](QWidget* modal) {
            window = qobject_cast<TFicheBarChart*>(modal);
            if (window && window->parentWidget() == &owner && window->windowTitle() == title) {
                shown.push_back(values(window->Series1));
                shown.push_back(values(window->Series2));
            }
        });
        owner.findChild<QPushButton*>(button)->click();
        SetDemoSeed(std::nullopt);
        QVERIFY(!window); // destroyed once closed
    }
    QCOMPARE(shown.size(), 4u);
    QCOMPARE(shown[0].size(), 12u);
    QCOMPARE(shown[0], shown[2]);
    QCOMPARE(shown[1], shown[3]);
}

// Opt-in: QUADRIVEL_CHART_SHOTS=folder saves a picture of each demonstration
// chart and of a chart with repeated labels.
void ChartsTest::grabDemoCharts() {
    const QString folder = qEnvironmentVariable("QUADRIVEL_CHART_SHOTS");
    if (folder.isEmpty())
        QSKIP("set QUADRIVEL_CHART_SHOTS to a folder to save the pictures");
    std::mt19937 generator(5);
    TFicheBarChartStack clients(nullptr), files(nullptr);
    TFicheBarChart2Series quotes(nullptr), repeated(nullptr);
    FillNewClientsChart(clients, generator);
    FillNewFilesChart(files, generator);
    FillQuoteLinesChart(quotes, generator);
    repeated.SetTitle("Libellés répétés");
    for (const char* label : {"A", "A", "B", "A"})
        repeated.AddValue(0, label, 10);
    int n = 0;
    for (TFicheBarChart* chart :
         std::vector<TFicheBarChart*>{&clients, &files, &quotes, &repeated}) {
        ShowForm(*chart);
        QVERIFY(QTest::qWaitForWindowExposed(chart));
        QVERIFY(chart->grab().save(QString("%1/quadrivel-chart-%2.png").arg(folder).arg(++n)));
    }
}

QTEST_MAIN(ChartsTest)
#include "chartstest.moc"
