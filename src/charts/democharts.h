// Demonstration charts of the main window's hidden buttons (to be completed).
#pragma once

class QWidget;

void ShowNewClientsChart(QWidget* owner);
void ShowNewFilesChart(QWidget* owner);
void ShowQuoteLinesChart(QWidget* owner);
