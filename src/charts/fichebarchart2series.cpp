#include "charts/fichebarchart2series.h"

TFicheBarChart2Series::TFicheBarChart2Series(QWidget* owner)
    : TFicheBarChart(owner,
                     {"FicheBarChart2Series", false, QColor(0, 0, 255), QColor(0, 128, 0), 1.3}) {}
