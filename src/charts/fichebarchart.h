// A window that shows one bar chart of exactly two series fed point by point:
// the common part of the side-by-side and the stacked chart windows.
#pragma once

#include "ui/toolkit.h"

#include <QColor>
#include <QString>

#include <array>
#include <string>

class QChartView;
class QAbstractBarSeries;
class QBarCategoryAxis;
class QBarSet;
class QValueAxis;

class TFicheBarChart : public TForm {
    Q_OBJECT
public:
    // How the two series are drawn, their colours (series 0, series 1) and the
    // factor that widens the value axis around the values added.
    struct Design {
        const char* formName;
        bool stacked;
        QColor color0;
        QColor color1;
        double axisFactor;
    };

    ~TFicheBarChart() override;

    // Window caption and chart title.
    void SetTitle(const std::string& title);
    // Title of series index (0 or 1), shown in the legend; other indexes are
    // ignored.
    void SetSeriesTitle(int index, const std::string& title);
    // Appends one bar to series index (0 or 1), labelled on the horizontal
    // axis, then sets the value axis to MinValue and MaxValue times the axis
    // factor. An index of 2 or more adds nothing but still sets the axis.
    void AddValue(int index, const std::string& label, double value);

    int SeriesCount() const { return static_cast<int>(series.size()); }
    // Series by index: 0 is Series1, 1 is Series2.
    QBarSet* GetSeries(int index) const;
    QAbstractBarSeries* BarSeries() const { return barSeries; }
    QValueAxis* LeftAxis() const { return leftAxis; }
    QBarCategoryAxis* BottomAxis() const { return bottomAxis; }
    double GetMinValue() const { return MinValue; }
    double GetMaxValue() const { return MaxValue; }
    double AxisFactor() const { return design.axisFactor; }
    // The text shown under the bars at a horizontal position.
    QString CategoryLabel(int position) const;

    QChartView* Chart1;
    QBarSet* Series1;
    QBarSet* Series2;

protected:
    TFicheBarChart(QWidget* owner, const Design& design);
    void resizeEvent(QResizeEvent* event) override;

private:
    QString uniqueCategory(const QString& label) const;
    void applyAxisLimits();

    const Design design;
    QAbstractBarSeries* barSeries;
    QValueAxis* leftAxis;
    QBarCategoryAxis* bottomAxis;
    std::array<QBarSet*, 2> series;
    double MinValue = 0;
    double MaxValue = 0;
};
