// Bar chart window with two series drawn side by side.
#pragma once

#include "charts/fichebarchart.h"

class TFicheBarChart2Series : public TFicheBarChart {
    Q_OBJECT
public:
    explicit TFicheBarChart2Series(QWidget* owner);
};
