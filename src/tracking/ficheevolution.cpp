#include "tracking/ficheevolution.h"

#include "tracking/numberformat.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QClipboard>
#include <QCursor>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

const QLocale& french() {
    static const QLocale locale(QLocale::French, QLocale::France);
    return locale;
}

// "déc. 2025".
QString shortMonth(int year, int month) {
    return french().standaloneMonthName(month, QLocale::ShortFormat) + QLatin1Char(' ') +
           QString::number(year);
}

// A figure as a French reader writes it: thousands grouped, decimal comma.
QString frenchFigure(int figure, double value) {
    if (!std::isfinite(value))
        return QString::fromLatin1(kNotComputable);
    switch (FigureKind(figure)) {
    case TFigureKind::Count:
        return french().toString(std::trunc(value), 'f', 0);
    case TFigureKind::Rate:
        return french().toString(value, 'f', 2) + QStringLiteral(" %");
    default:
        return french().toString(value, 'f', 2) + QStringLiteral(" €");
    }
}

double figure(const TMonthTotals& month, TReportFigure which) {
    const double value = month.totals.figures[which];
    return std::isfinite(value) ? value : 0.0;
}

// Sets a value axis to round bounds around the values (0 always inside), its
// labels in French with as many decimals as its step needs; 0 to 100 when
// every value is 0.
void fitAxis(QValueAxis* axis, double low, double high, const QString& unit) {
    low = std::min(low, 0.0);
    high = std::max(high, 0.0);
    if (high - low < 1e-9)
        high = low + 100;
    axis->setRange(low, high);
    axis->applyNiceNumbers();
    const double step = (axis->max() - axis->min()) / std::max(1, axis->tickCount() - 1);
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    axis->setLabelFormat(QStringLiteral("%.%1f%2").arg(decimals).arg(unit));
}

constexpr int kShown = kEvolutionMonths;

// The lighter shade of a colour for the same months a year earlier: mixed
// half-way with white, so that it keeps its hue.
QColor paler(const QColor& color) {
    auto mix = [](int channel) { return channel + (255 - channel) * 11 / 20; };
    return QColor(mix(color.red()), mix(color.green()), mix(color.blue()));
}

} // namespace

TFicheEvolution::TFicheEvolution(QWidget* owner)
    : QWidget(owner, Qt::Window) {
    setObjectName("FicheEvolution");
    setWindowTitle(QStringLiteral("Évolution — Tableau de suivi"));
    resize(1240, 680);

    lblContexte = new QLabel(this);
    lblContexte->setObjectName("lblContexte");
    lblContexte->setTextFormat(Qt::PlainText);
    lblContexte->setWordWrap(true);

    auto* chart = new QChart;
    chart->setLocalizeNumbers(true);
    chart->setLocale(french());
    QFont titleFont = chart->titleFont();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    titleFont.setBold(true);
    chart->setTitleFont(titleFont);
    chart->legend()->setAlignment(Qt::AlignBottom);

    auto makeSet = [](const char* name, const char* caption) {
        auto* set = new QBarSet(QString::fromUtf8(caption));
        set->setObjectName(QString::fromLatin1(name));
        return set;
    };
    // A year earlier beside each month, in the lighter shade of its colour.
    setMontantHTN1 = makeSet("setMontantHTN1", "Montant HT N-1");
    setMontantHT = makeSet("setMontantHT", "Montant HT");
    setMargeN1 = makeSet("setMargeN1", "Marge € N-1");
    setMarge = makeSet("setMarge", "Marge €");
    BarSeries = new QBarSeries;
    BarSeries->append({setMontantHTN1, setMontantHT, setMargeN1, setMarge});
    BarSeries->setBarWidth(0.8);
    chart->addSeries(BarSeries);

    lnTransformation = new QLineSeries;
    lnTransformation->setName(QStringLiteral("Transformation %"));
    lnTransformationN1 = new QLineSeries;
    lnTransformationN1->setName(QStringLiteral("Transformation % N-1"));
    chart->addSeries(lnTransformationN1);
    chart->addSeries(lnTransformation);

    axMois = new QBarCategoryAxis;
    axMontants = new QValueAxis;
    axMontants->setTitleText(QStringLiteral("Montant HT, Marge € (€)"));
    axTaux = new QValueAxis;
    axTaux->setTitleText(QStringLiteral("Transformation (%)"));
    // Thirteen months side by side: "févr. 2026" fits under its bars.
    QFont monthFont = axMois->labelsFont();
    monthFont.setPointSizeF(monthFont.pointSizeF() * 0.9);
    axMois->setLabelsFont(monthFont);
    chart->addAxis(axMois, Qt::AlignBottom);
    chart->addAxis(axMontants, Qt::AlignLeft);
    chart->addAxis(axTaux, Qt::AlignRight);
    BarSeries->attachAxis(axMois);
    BarSeries->attachAxis(axMontants);
    for (QLineSeries* line : {lnTransformation, lnTransformationN1}) {
        line->attachAxis(axMois);
        line->attachAxis(axTaux);
        line->setPointsVisible(true);
    }

    // The theme colours the series as they join the chart: ours come after.
    const QColor amount(31, 119, 180), margin(51, 160, 44), rate(230, 110, 0);
    setMontantHT->setColor(amount);
    setMontantHTN1->setColor(paler(amount));
    setMarge->setColor(margin);
    setMargeN1->setColor(paler(margin));
    for (QBarSet* set : {setMontantHT, setMontantHTN1, setMarge, setMargeN1})
        set->setBorderColor(set->color());
    QPen ratePen(rate, 3);
    lnTransformation->setPen(ratePen);
    QPen before(paler(rate), 2, Qt::DashLine);
    lnTransformationN1->setPen(before);

    Chart1 = new QChartView(chart, this);
    Chart1->setObjectName("Chart1");
    Chart1->setRenderHint(QPainter::Antialiasing);

    connect(BarSeries, &QBarSeries::hovered, this,
            [this](bool status, int index, QBarSet*) { ShowTooltip(index, status); });
    for (QLineSeries* line : {lnTransformation, lnTransformationN1})
        connect(line, &QLineSeries::hovered, this, [this](const QPointF& point, bool state) {
            ShowTooltip(int(std::lround(point.x())), state);
        });

    btnCopierImage = new QPushButton(QStringLiteral("Copier l'image"), this);
    btnCopierImage->setObjectName("btnCopierImage");
    btnEnregistrer = new QPushButton(QStringLiteral("Enregistrer…"), this);
    btnEnregistrer->setObjectName("btnEnregistrer");
    for (QPushButton* button : {btnCopierImage, btnEnregistrer})
        button->setAutoDefault(false);
    toolkit::OnClick(btnCopierImage, this, &TFicheEvolution::btnCopierImageClick);
    toolkit::OnClick(btnEnregistrer, this, &TFicheEvolution::btnEnregistrerClick);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnCopierImage);
    buttons->addWidget(btnEnregistrer);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblContexte);
    layout->addWidget(Chart1, 1);
    layout->addLayout(buttons);

    AskFileName = [this](const QString& proposed) {
        return toolkit::AskSaveFileName(
            this, QStringLiteral("Enregistrer le graphique"), proposed,
            {QStringLiteral("Image PNG (*.png)"), QStringLiteral("Document PDF (*.pdf)")});
    };
}

TFicheEvolution::~TFicheEvolution() = default;

void TFicheEvolution::ShowSelection(const TReportSelection& selection,
                                    const TReportContext& context) {
    AllMonths = ComputeMonthTotals(Database, selection, 2 * kShown - 1);
    Context = context;
    ShowMonths();
}

std::vector<TMonthTotals> TFicheEvolution::Months() const {
    if (AllMonths.size() < std::size_t(kShown))
        return {};
    return {AllMonths.end() - kShown, AllMonths.end()};
}

std::vector<TMonthTotals> TFicheEvolution::MonthsBefore() const {
    if (AllMonths.size() < std::size_t(kShown))
        return {};
    return {AllMonths.begin(), AllMonths.begin() + kShown};
}

void TFicheEvolution::ShowMonths() {
    const std::vector<TMonthTotals> months = Months();
    const std::vector<TMonthTotals> before = MonthsBefore();

    QStringList categories;
    for (const TMonthTotals& month : months)
        categories << shortMonth(month.year, month.month);
    axMois->setCategories(categories);

    double lowAmount = 0, highAmount = 0, lowRate = 0, highRate = 0;
    auto fill = [&](QBarSet* set, const std::vector<TMonthTotals>& source, TReportFigure which) {
        QList<qreal> values;
        for (const TMonthTotals& month : source) {
            values << figure(month, which);
            lowAmount = std::min(lowAmount, values.back());
            highAmount = std::max(highAmount, values.back());
        }
        set->remove(0, set->count());
        set->append(values);
    };
    fill(setMontantHT, months, rfMontantHT);
    fill(setMontantHTN1, before, rfMontantHT);
    fill(setMarge, months, rfMarge);
    fill(setMargeN1, before, rfMarge);
    auto line = [&](QLineSeries* series, const std::vector<TMonthTotals>& source) {
        QList<QPointF> points;
        for (std::size_t i = 0; i < source.size(); ++i) {
            points << QPointF(double(i), figure(source[i], rfTransformation));
            lowRate = std::min(lowRate, points.back().y());
            highRate = std::max(highRate, points.back().y());
        }
        series->replace(points);
    };
    line(lnTransformation, months);
    line(lnTransformationN1, before);
    fitAxis(axMontants, lowAmount, highAmount, QString());
    fitAxis(axTaux, lowRate, highRate, QStringLiteral(" %"));

    if (!months.empty())
        Chart1->chart()->setTitle(
            QStringLiteral("Évolution sur 13 mois, de %1 à %2, et les mêmes mois un an plus tôt")
                .arg(FrenchMonth(months.front().year, months.front().month),
                     FrenchMonth(months.back().year, months.back().month)));
    lblContexte->setText(ReportContextLine(Context));
}

QString TFicheEvolution::MonthTooltip(int index) const {
    const std::vector<TMonthTotals> months = Months();
    const std::vector<TMonthTotals> before = MonthsBefore();
    if (index < 0 || index >= int(months.size()))
        return {};
    const TMonthTotals& month = months[std::size_t(index)];
    const TMonthTotals& earlier = before[std::size_t(index)];
    QStringList lines{
        QStringLiteral("%1 (N-1 : %2)")
            .arg(FrenchMonth(month.year, month.month), FrenchMonth(earlier.year, earlier.month))};
    const std::vector<std::string>& titles = ReportColumnTitles();
    for (int i = 0; i < kReportFigureCount; ++i)
        lines << QStringLiteral("%1 : %2 (N-1 : %3)")
                     .arg(QString::fromStdString(titles[std::size_t(i + 1)]),
                          frenchFigure(i, month.totals.figures[std::size_t(i)]),
                          frenchFigure(i, earlier.totals.figures[std::size_t(i)]));
    return lines.join(QLatin1Char('\n'));
}

void TFicheEvolution::ShowTooltip(int index, bool hovering) {
    if (hovering)
        QToolTip::showText(QCursor::pos(), MonthTooltip(index), Chart1);
    else
        QToolTip::hideText();
}

void TFicheEvolution::PaintChart(QPainter* painter, const QRect& area) const {
    painter->fillRect(area, Qt::white);
    painter->setPen(Qt::black);
    QFont font = lblContexte->font();
    painter->setFont(font);
    const QRect subtitle = painter->boundingRect(
        area.adjusted(8, 8, -8, 0), Qt::AlignLeft | Qt::TextWordWrap, lblContexte->text());
    painter->drawText(subtitle, Qt::AlignLeft | Qt::TextWordWrap, lblContexte->text());
    const QRect chart(area.left(), subtitle.bottom() + 8, area.width(),
                      area.bottom() - subtitle.bottom() - 8);
    Chart1->render(painter, chart);
}

QImage TFicheEvolution::ChartImage() const {
    const QFontMetrics metrics(lblContexte->font());
    const QRect text = metrics.boundingRect(QRect(0, 0, Chart1->width() - 16, 10000),
                                            Qt::AlignLeft | Qt::TextWordWrap, lblContexte->text());
    QImage image(Chart1->width(), Chart1->height() + text.height() + 16,
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    PaintChart(&painter, image.rect());
    painter.end();
    return image;
}

void TFicheEvolution::btnCopierImageClick() {
    QApplication::clipboard()->setImage(ChartImage());
}

bool TFicheEvolution::SaveChart(const QString& path) {
    QString error;
    if (path.endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive)) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        {
            QPdfWriter pdf(&buffer);
            SetA4Landscape(&pdf);
            pdf.setResolution(150);
            pdf.setTitle(Chart1->chart()->title());
            pdf.setCreator(QStringLiteral("Quadrivel"));
            QPainter painter(&pdf);
            PaintChart(&painter, QRect(0, 0, pdf.width(), pdf.height()));
        }
        if (WriteWholeFile(path, buffer.data(), &error))
            return true;
    } else {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        ChartImage().save(&buffer, "PNG");
        if (WriteWholeFile(path, buffer.data(), &error))
            return true;
    }
    // An error box: the tracking window is not activated again behind it, so
    // its choices stay as they are.
    toolkit::ShowError(
        QStringLiteral("Le fichier « %1 » n'a pas pu être écrit (dossier absent, accès refusé "
                       "ou disque plein) : %2")
            .arg(QDir::toNativeSeparators(path), error));
    return false;
}

void TFicheEvolution::btnEnregistrerClick() {
    QString name = ReportFileName(Context);
    name.replace(0, int(qstrlen("suivi")), QStringLiteral("evolution"));
    name.chop(int(qstrlen(".csv")));
    const QString proposed = QDir::home().filePath(name + QStringLiteral(".png"));
    const QString path = AskFileName ? AskFileName(proposed) : QString();
    if (!path.isEmpty())
        SaveChart(path);
}
