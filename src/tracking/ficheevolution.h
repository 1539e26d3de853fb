// The window "Évolution": the tracking table's totals over the 13 months
// ending at its chosen month, beside the same months a year earlier, as a
// chart. Opened from the tracking window, it stays open beside it and follows
// its selection.
#pragma once

#include "tracking/monthsreport.h"
#include "tracking/reportexport.h"

#include <QImage>
#include <QWidget>

#include <functional>
#include <vector>

class QBarCategoryAxis;
class QBarSeries;
class QBarSet;
class QChartView;
class QLabel;
class QLineSeries;
class QPainter;
class QPushButton;
class QValueAxis;

class TABSDatabase;

class TFicheEvolution : public QWidget {
    Q_OBJECT
public:
    explicit TFicheEvolution(QWidget* owner);
    ~TFicheEvolution() override;

    void SetDatabase(TABSDatabase* database) { Database = database; }

    // Reads the totals of the selection for its 13 months and the 13 months a
    // year earlier (25 months, one read transaction) and shows them; the
    // context line becomes the chart's subtitle.
    void ShowSelection(const TReportSelection& selection, const TReportContext& context);

    // The 13 months shown, oldest first, and the same months a year earlier.
    std::vector<TMonthTotals> Months() const;
    std::vector<TMonthTotals> MonthsBefore() const;

    // The month's figures and those of the same month a year earlier, as the
    // tooltip over its bars or points shows them.
    QString MonthTooltip(int index) const;

    // The chart with its subtitle, as copied and saved.
    QImage ChartImage() const;
    // Writes the chart into a PNG file, or a PDF file (A4 landscape) when the
    // name ends with .pdf; a refused write is shown in a message. False when
    // nothing was written.
    bool SaveChart(const QString& path);

    void btnCopierImageClick();
    void btnEnregistrerClick();

    // Where "Enregistrer…" writes: asked with a file dialog, proposing a
    // name; an empty answer cancels. Tests replace it.
    std::function<QString(const QString& proposed)> AskFileName;

    QLabel* lblContexte;
    QChartView* Chart1;
    QBarSeries* BarSeries;
    QBarSet* setMontantHT;
    QBarSet* setMontantHTN1;
    QBarSet* setMarge;
    QBarSet* setMargeN1;
    QLineSeries* lnTransformation;
    QLineSeries* lnTransformationN1;
    QBarCategoryAxis* axMois;
    QValueAxis* axMontants;
    QValueAxis* axTaux;
    QPushButton* btnCopierImage;
    QPushButton* btnEnregistrer;

private:
    void ShowMonths();
    void PaintChart(QPainter* painter, const QRect& area) const;
    void ShowTooltip(int index, bool hovering);

    TABSDatabase* Database = nullptr; // borrowed from the main window
    // 25 months, oldest first: the 13 months a year earlier are the first
    // 13, the 13 months shown the last 13 (the month a year before the
    // chosen one is in both).
    std::vector<TMonthTotals> AllMonths;
    TReportContext Context;
};
