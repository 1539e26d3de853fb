#include "charts/democharts.h"

void ShowNewClientsChart(QWidget*) {}
void ShowNewFilesChart(QWidget*) {}
void ShowQuoteLinesChart(QWidget*) {}
