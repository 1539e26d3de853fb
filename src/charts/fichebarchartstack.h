// Bar chart window with two series stacked in one bar per position.
#pragma once

#include "charts/fichebarchart.h"

class TFicheBarChartStack : public TFicheBarChart {
    Q_OBJECT
public:
    explicit TFicheBarChartStack(QWidget* owner);
};
