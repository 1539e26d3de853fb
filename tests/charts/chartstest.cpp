// Bar chart windows and the demonstration charts, read back from the Qt Charts
// objects they hold.
#include "app/ficheprincipale.h"
#include "charts/democharts.h"
#include "charts/fichebarchart2series.h"
#include "charts/fichebarchartstack.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QLegend>
#include <QLegendMarker>
#include <QPointer>
#include <QStackedBarSeries>
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

// What a test reads of a filled chart.
struct Content {
    QString caption, title, title0, title1;
    QStringList labels;
    std::vector<double> series0, series1;
    double axisMin = 0, axisMax = 0;
};

Content contentOf(const TFicheBarChart& chart) {
    Content c;
    c.caption = chart.windowTitle();
    c.title = chart.Chart1->chart()->title();
    c.title0 = chart.Series1->label();
    c.title1 = chart.Series2->label();
    for (int i = 0; i < chart.BottomAxis()->count(); ++i)
        c.labels << chart.CategoryLabel(i);
    c.series0 = values(chart.Series1);
    c.series1 = values(chart.Series2);
    c.axisMin = chart.LeftAxis()->min();
    c.axisMax = chart.LeftAxis()->max();
    return c;
}

QStringList months() {
    QStringList result;
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
    void titles();
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
    QCOMPARE(chart->objectName(),
             stacked ? QString("FicheBarChartStack") : QString("FicheBarChart2Series"));
    QCOMPARE(chart->size(), QSize(984, 442));
    QCOMPARE(chart->Chart1->geometry(), QRect(8, 8, 968, 426));
    chart->show();
    chart->resize(1084, 542);
    QCOMPARE(chart->Chart1->geometry(), QRect(8, 8, 1068, 526));

    QCOMPARE(chart->SeriesCount(), 2);
    QCOMPARE(chart->GetSeries(0), chart->Series1);
    QCOMPARE(chart->GetSeries(1), chart->Series2);
    QCOMPARE(chart->Series1->color(), color0);
    QCOMPARE(chart->Series2->color(), color1);
    QCOMPARE(chart->BarSeries()->type(),
             stacked ? QAbstractSeries::SeriesTypeStackedBar : QAbstractSeries::SeriesTypeBar);
    QCOMPARE(chart->BarSeries()->barSets(), (QList<QBarSet*>{chart->Series1, chart->Series2}));
    QVERIFY(chart->BarSeries()->isLabelsVisible());
    QCOMPARE(chart->BarSeries()->labelsFormat(), QString("@value"));
    QCOMPARE(chart->BarSeries()->attachedAxes().size(), 2);
    QVERIFY(chart->BarSeries()->attachedAxes().contains(chart->LeftAxis()));
    QCOMPARE(chart->Chart1->chart()->axes(Qt::Vertical), QList<QAbstractAxis*>{chart->LeftAxis()});
    QVERIFY(chart->Chart1->chart()->legend()->isVisible());
    QCOMPARE(chart->Chart1->chart()->legend()->alignment(), Qt::AlignBottom);
    QCOMPARE(chart->GetMinValue(), 0.0);
    QCOMPARE(chart->GetMaxValue(), 0.0);
}

void ChartsTest::titles() {
    TFicheBarChart2Series chart(nullptr);
    chart.SetTitle("Évolution été");
    chart.SetSeriesTitle(0, "Reçus");
    chart.SetSeriesTitle(1, "Émis");
    chart.SetSeriesTitle(2, "ignoré");
    QCOMPARE(chart.windowTitle(), QString("Évolution été"));
    QCOMPARE(chart.Chart1->chart()->title(), QString("Évolution été"));
    QStringList legend;
    for (QLegendMarker* marker : chart.Chart1->chart()->legend()->markers())
        legend << marker->label();
    QCOMPARE(legend, (QStringList{"Reçus", "Émis"}));
}

void ChartsTest::axisLimitsFollowValues_data() {
    // Each step adds one value to series (step % 2) and gives the expected
    // axis limits afterwards.
    QTest::addColumn<bool>("stacked");
    QTest::addColumn<QList<double>>("added");
    QTest::addColumn<QList<double>>("minimums");
    QTest::addColumn<QList<double>>("maximums");
    QTest::newRow("side by side 500 then -150")
        << false << QList<double>{500, -150} << QList<double>{0, -195} << QList<double>{650, 650};
    QTest::newRow("stacked -150") << true << QList<double>{-150} << QList<double>{-180}
                                  << QList<double>{0};
    QTest::newRow("side by side positives only")
        << false << QList<double>{100, 300, 200} << QList<double>{0, 0, 0}
        << QList<double>{130, 390, 390};
    QTest::newRow("stacked positives only")
        << true << QList<double>{40, 10, 50} << QList<double>{0, 0, 0} << QList<double>{48, 48, 60};
    QTest::newRow("equal to current limits")
        << true << QList<double>{-10, 20, -10, 20, 0} << QList<double>{-12, -12, -12, -12, -12}
        << QList<double>{0, 24, 24, 24, 24};
}

void ChartsTest::axisLimitsFollowValues() {
    QFETCH(bool, stacked);
    QFETCH(QList<double>, added);
    QFETCH(QList<double>, minimums);
    QFETCH(QList<double>, maximums);
    auto chart = makeChart(stacked);
    for (int step = 0; step < added.size(); ++step) {
        chart->AddValue(step % 2, "m", added[step]);
        QCOMPARE(chart->LeftAxis()->min(), minimums[step]);
        QCOMPARE(chart->LeftAxis()->max(), maximums[step]);
        QCOMPARE(chart->GetMinValue() * chart->AxisFactor(), minimums[step]);
        QCOMPARE(chart->GetMaxValue() * chart->AxisFactor(), maximums[step]);
    }
}

void ChartsTest::indexTwoOnlyReappliesLimits() {
    TFicheBarChartStack chart(nullptr);
    chart.AddValue(0, "a", 50);
    chart.AddValue(1, "a", -5);
    chart.LeftAxis()->setRange(-1000, 1000);
    chart.AddValue(2, "b", 9999);
    chart.AddValue(2, "c", -9999);
    QCOMPARE(chart.Series1->count(), 1);
    QCOMPARE(chart.Series2->count(), 1);
    QCOMPARE(chart.BottomAxis()->count(), 1);
    QCOMPARE(chart.GetMaxValue(), 50.0);
    QCOMPARE(chart.GetMinValue(), -5.0);
    QCOMPARE(chart.LeftAxis()->min(), -6.0);
    QCOMPARE(chart.LeftAxis()->max(), 60.0);
}

void ChartsTest::barsKeepOrderAndRepeatedLabels() {
    TFicheBarChart2Series chart(nullptr);
    chart.AddValue(0, "A", 3);
    chart.AddValue(0, "A", 1);
    chart.AddValue(0, "B", 2);
    chart.AddValue(0, "A", 4);
    chart.AddValue(1, "A", 7);
    QCOMPARE(values(chart.Series1), (std::vector<double>{3, 1, 2, 4}));
    QCOMPARE(values(chart.Series2), std::vector<double>{7});
    QCOMPARE(contentOf(chart).labels, (QStringList{"A", "A", "B", "A"}));
    // The axis holds one distinct category per bar.
    const QStringList categories = chart.BottomAxis()->categories();
    QCOMPARE(QSet<QString>(categories.begin(), categories.end()).size(), 4);

    // Series 1 running ahead of series 0 opens new positions.
    TFicheBarChartStack stack(nullptr);
    stack.AddValue(1, "x", -1);
    stack.AddValue(1, "y", -2);
    stack.AddValue(0, "x", 5);
    QCOMPARE(contentOf(stack).labels, (QStringList{"x", "y"}));
    QCOMPARE(values(stack.Series1), std::vector<double>{5});
}

void ChartsTest::demoChartsStayWithinBounds() {
    for (unsigned seed = 0; seed < 300; ++seed) {
        TFicheBarChartStack clients(nullptr), files(nullptr);
        TFicheBarChart2Series quotes(nullptr);
        std::mt19937 generator(seed);
        FillNewClientsChart(clients, generator);
        FillNewFilesChart(files, generator);
        FillQuoteLinesChart(quotes, generator);
        const struct {
            const TFicheBarChart& chart;
            double gainMax, lossMin;
        } stacks[] = {{clients, 999, -199}, {files, 99, -19}};
        for (const auto& s : stacks) {
            const Content c = contentOf(s.chart);
            QCOMPARE(c.labels, months());
            QCOMPARE(c.series0.size(), 12u);
            QCOMPARE(c.series1.size(), 12u);
            for (int i = 0; i < 12; ++i) {
                QVERIFY(c.series0[i] >= 0 && c.series0[i] <= s.gainMax);
                QVERIFY(c.series1[i] <= 0 && c.series1[i] >= s.lossMin);
                // A loss of 0 is 0, never -0 (which a mark would show as "-0").
                QVERIFY(c.series1[i] < 0 || !std::signbit(c.series1[i]));
            }
        }
        const Content q = contentOf(quotes);
        QCOMPARE(q.labels, months());
        QCOMPARE(q.series0.size(), 12u);
        QCOMPARE(q.series1.size(), 12u);
        for (int i = 0; i < 12; ++i) {
            QVERIFY(q.series0[i] >= 0 && q.series0[i] <= 99);
            QVERIFY(q.series1[i] >= 0 && q.series1[i] <= q.series0[i]);
            QVERIFY(q.series1[i] < q.series0[i] || q.series0[i] == 0);
        }
        QCOMPARE(q.axisMin, 0.0);
        QCOMPARE(q.axisMax, *std::max_element(q.series0.begin(), q.series0.end()) * 1.3);
    }
}

void ChartsTest::demoDrawsInTheirOrder() {
    // Stacked charts: twelve gains first, then twelve losses; quote lines:
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
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("title0");
    QTest::addColumn<QString>("title1");
    QTest::newRow("Button1") << 1 << "Nouveaux clients vs Clients supprimés"
                             << "Nouveaux clients"
                             << "Clients supprimés";
    QTest::newRow("Button3") << 3 << "Nouveaux dossiers vs Dossiers supprimés"
                             << "Nouveaux dossiers"
                             << "Dossiers supprimés";
    QTest::newRow("Button4") << 4 << "Nb lignes Devis vs Nb lignes Commandes"
                             << "Nb lignes devis"
                             << "Nb Lignes commandes";
}

void ChartsTest::showRunsModallyAndDestroys() {
    QFETCH(int, which);
    QFETCH(QString, title);
    QFETCH(QString, title0);
    QFETCH(QString, title1);
    TFichePrincipale owner(nullptr);
    QPushButton* button = owner.findChild<QPushButton*>(QString("Button%1").arg(which));
    QVERIFY(button);

    // The same seed, shown twice, gives the same values.
    std::vector<Content> shown;
    for (int run = 0; run < 2; ++run) {
        SetDemoSeed(77);
        QPointer<TFicheBarChart> window;
        QTimer::singleShot(0, [&] {
            window = qobject_cast<TFicheBarChart*>(QApplication::activeModalWidget());
            if (window) {
                QCOMPARE(window->parentWidget(), &owner);
                shown.push_back(contentOf(*window));
            }
            if (QApplication::activeModalWidget())
                QApplication::activeModalWidget()->close();
        });
        button->click();
        SetDemoSeed(std::nullopt);
        QVERIFY(!window); // destroyed once closed
    }
    QCOMPARE(shown.size(), 2u);
    const Content& c = shown[0];
    QCOMPARE(c.caption, title);
    QCOMPARE(c.title, title);
    QCOMPARE(c.title0, title0);
    QCOMPARE(c.title1, title1);
    QCOMPARE(c.labels, months());
    QCOMPARE(c.series0, shown[1].series0);
    QCOMPARE(c.series1, shown[1].series1);
    QCOMPARE(c.axisMin, shown[1].axisMin);

    // The values are those of the fill from a generator with that seed.
    std::mt19937 generator(77);
    std::unique_ptr<TFicheBarChart> expected;
    if (which == 4) {
        auto chart = std::make_unique<TFicheBarChart2Series>(nullptr);
        FillQuoteLinesChart(*chart, generator);
        expected = std::move(chart);
    } else {
        auto chart = std::make_unique<TFicheBarChartStack>(nullptr);
        (which == 1 ? FillNewClientsChart : FillNewFilesChart)(*chart, generator);
        expected = std::move(chart);
    }
    QCOMPARE(c.series0, values(expected->Series1));
    QCOMPARE(c.series1, values(expected->Series2));
}

// Opt-in: QUADRIVEL_CHART_SHOTS=folder saves a picture of each demonstration
// chart and of a chart with repeated labels, to look at.
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
    const std::vector<TFicheBarChart*> charts{&clients, &files, &quotes, &repeated};
    for (TFicheBarChart* chart : charts) {
        chart->show();
        QVERIFY(QTest::qWaitForWindowExposed(chart));
        const QString path = QString("%1/quadrivel-chart-%2.png").arg(folder).arg(++n);
        QVERIFY(chart->grab().save(path));
    }
}

QTEST_MAIN(ChartsTest)
#include "chartstest.moc"
