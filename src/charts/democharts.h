// Demonstration charts of the main window's hidden buttons: made-up monthly
// figures of three sales indicators over July 2015 to June 2016.
#pragma once

#include <array>
#include <optional>
#include <random>

class QWidget;
class TFicheBarChart2Series;
class TFicheBarChartStack;

// The twelve month labels, "2015-07" to "2016-06".
extern const std::array<const char*, 12> DemoMonths;

// Creates the chart, fills it from a generator seeded with the current time in
// seconds (or with the seed set by SetDemoSeed), shows it modally and destroys
// it once closed.
void ShowNewClientsChart(QWidget* owner);
void ShowNewFilesChart(QWidget* owner);
void ShowQuoteLinesChart(QWidget* owner);

// Fixes the seed of the demonstration charts (tests); std::nullopt returns to
// the clock.
void SetDemoSeed(std::optional<unsigned> seed);

// Titles and values of each chart, every draw taken from the generator.
// New customers (0..999) against deleted customers (-199..0), stacked.
void FillNewClientsChart(TFicheBarChartStack& chart, std::mt19937& generator);
// New files (0..99) against deleted files (-19..0), stacked.
void FillNewFilesChart(TFicheBarChartStack& chart, std::mt19937& generator);
// Quote lines q (0..99) beside order lines (0..q-1, 0 when q is 0).
void FillQuoteLinesChart(TFicheBarChart2Series& chart, std::mt19937& generator);
