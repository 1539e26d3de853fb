#include "charts/fichebarchart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QFont>
#include <QResizeEvent>
#include <QStackedBarSeries>
#include <QValueAxis>

#include <cmath>

namespace {

// QBarCategoryAxis keeps one category per distinct text and drops a repeated
// one, which would merge two bars added under the same label. A repeated label
// is therefore stored with zero-width spaces appended, as many as needed to
// make it distinct: the axis keeps every position and the text drawn is the
// caller's label.
const QChar InvisibleMark(0x200B);

constexpr int Margin = 8;

// A step of 1, 2 or 5 times a power of ten that cuts the span into about
// eight intervals, so the axis labels fall on round values.
double roundStep(double span) {
    const double raw = span / 8;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double fraction = raw / power;
    if (fraction <= 1)
        return power;
    if (fraction <= 2)
        return 2 * power;
    if (fraction <= 5)
        return 5 * power;
    return 10 * power;
}

} // namespace

TFicheBarChart::TFicheBarChart(QWidget* owner, const Design& design)
    : TForm(owner)
    , design(design) {
    setObjectName(design.formName);
    setWindowTitle(design.formName);
    QFont tahoma("Tahoma");
    tahoma.setPixelSize(11);
    setFont(tahoma);
    SetClientSize(984, 442);

    auto* chart = new QChart;
    chart->setTitle("TChart");
    QFont titleFont = chart->titleFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.4);
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignBottom);

    if (design.stacked)
        barSeries = new QStackedBarSeries;
    else
        barSeries = new QBarSeries;
    Series1 = new QBarSet("Series1");
    Series2 = new QBarSet("Series2");
    Series1->setObjectName("Series1");
    Series2->setObjectName("Series2");
    series = {Series1, Series2};
    barSeries->append(Series1);
    barSeries->append(Series2);
    barSeries->setBarWidth(0.7);
    // Every bar shows its value.
    barSeries->setLabelsVisible(true);
    barSeries->setLabelsFormat("@value");
    barSeries->setLabelsPosition(design.stacked ? QAbstractBarSeries::LabelsCenter
                                                : QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(barSeries);

    bottomAxis = new QBarCategoryAxis;
    leftAxis = new QValueAxis;
    leftAxis->setLabelFormat("%g");
    chart->addAxis(bottomAxis, Qt::AlignBottom);
    chart->addAxis(leftAxis, Qt::AlignLeft);
    barSeries->attachAxis(bottomAxis);
    barSeries->attachAxis(leftAxis);

    // The chart's theme colours the sets when the series joins the chart: the
    // window's own colours come after.
    Series1->setColor(design.color0);
    Series2->setColor(design.color1);
    for (QBarSet* set : series)
        set->setLabelColor(Qt::black);

    Chart1 = new QChartView(chart, this);
    Chart1->setObjectName("Chart1");
    Chart1->setRenderHint(QPainter::Antialiasing);
    Chart1->setGeometry(Margin, Margin, 968, 426);
}

TFicheBarChart::~TFicheBarChart() = default;

void TFicheBarChart::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    // The chart keeps its margin to the four sides of the window.
    Chart1->setGeometry(rect().adjusted(Margin, Margin, -Margin, -Margin));
}

void TFicheBarChart::SetTitle(const std::string& title) {
    setWindowTitle(QString::fromStdString(title));
    Chart1->chart()->setTitle(QString::fromStdString(title));
}

void TFicheBarChart::SetSeriesTitle(int index, const std::string& title) {
    if (index < SeriesCount())
        series[index]->setLabel(QString::fromStdString(title));
}

QBarSet* TFicheBarChart::GetSeries(int index) const {
    return index >= 0 && index < SeriesCount() ? series[index] : nullptr;
}

void TFicheBarChart::AddValue(int index, const std::string& label, double value) {
    if (index < SeriesCount()) {
        if (value < MinValue)
            MinValue = value;
        if (value > MaxValue)
            MaxValue = value;
        QBarSet* set = series[index];
        // Each series fills the positions from the left, independently of the
        // other; the label of a position is the one given by the first series
        // that reaches it.
        if (set->count() >= bottomAxis->count())
            bottomAxis->append(uniqueCategory(QString::fromStdString(label)));
        set->append(value);
    }
    applyAxisLimits();
}

QString TFicheBarChart::uniqueCategory(const QString& label) const {
    const QStringList categories = bottomAxis->categories();
    QString category = label;
    while (categories.contains(category))
        category += InvisibleMark;
    return category;
}

QString TFicheBarChart::CategoryLabel(int position) const {
    QString text = bottomAxis->at(position);
    while (text.endsWith(InvisibleMark))
        text.chop(1);
    return text;
}

void TFicheBarChart::applyAxisLimits() {
    const double minimum = MinValue * design.axisFactor;
    const double maximum = MaxValue * design.axisFactor;
    leftAxis->setRange(minimum, maximum);
    if (maximum > minimum) {
        leftAxis->setTickType(QValueAxis::TicksDynamic);
        leftAxis->setTickAnchor(0);
        leftAxis->setTickInterval(roundStep(maximum - minimum));
    }
}
