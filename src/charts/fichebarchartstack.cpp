#include "charts/fichebarchartstack.h"

TFicheBarChartStack::TFicheBarChartStack(QWidget* owner)
    : TFicheBarChart(owner,
                     {"FicheBarChartStack", true, QColor(0, 128, 0), QColor(255, 0, 0), 1.2}) {}
