#include "charts/democharts.h"

#include "charts/fichebarchart2series.h"
#include "charts/fichebarchartstack.h"

#include <chrono>
#include <memory>

const std::array<const char*, 12> DemoMonths = {"2015-07", "2015-08", "2015-09", "2015-10",
                                                "2015-11", "2015-12", "2016-01", "2016-02",
                                                "2016-03", "2016-04", "2016-05", "2016-06"};

namespace {

std::optional<unsigned>& fixedSeed() {
    static std::optional<unsigned> seed;
    return seed;
}

std::mt19937 seededGenerator() {
    if (fixedSeed())
        return std::mt19937(*fixedSeed());
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return std::mt19937(
        static_cast<unsigned>(std::chrono::duration_cast<std::chrono::seconds>(now).count()));
}

// A whole number drawn uniformly from 0 to n - 1; 0 when n is 0.
int draw(std::mt19937& generator, int n) {
    if (n <= 0)
        return 0;
    return std::uniform_int_distribution<int>(0, n - 1)(generator);
}

// A gain per month for series 0, then a loss per month for series 1, each
// month with a fresh draw.
void fillGainsAndLosses(TFicheBarChartStack& chart, std::mt19937& generator, int gains,
                        int losses) {
    for (const char* month : DemoMonths)
        chart.AddValue(0, month, draw(generator, gains));
    for (const char* month : DemoMonths)
        chart.AddValue(1, month, -draw(generator, losses));
}

template <typename Chart> void showChart(QWidget* owner, void (*fill)(Chart&, std::mt19937&)) {
    const auto chart = std::make_unique<Chart>(owner);
    std::mt19937 generator = seededGenerator();
    fill(*chart, generator);
    chart->ShowModal();
}

} // namespace

void SetDemoSeed(std::optional<unsigned> seed) {
    fixedSeed() = seed;
}

void FillNewClientsChart(TFicheBarChartStack& chart, std::mt19937& generator) {
    chart.SetTitle("Nouveaux clients vs Clients supprimés");
    chart.SetSeriesTitle(0, "Nouveaux clients");
    chart.SetSeriesTitle(1, "Clients supprimés");
    fillGainsAndLosses(chart, generator, 1000, 200);
}

void FillNewFilesChart(TFicheBarChartStack& chart, std::mt19937& generator) {
    chart.SetTitle("Nouveaux dossiers vs Dossiers supprimés");
    chart.SetSeriesTitle(0, "Nouveaux dossiers");
    chart.SetSeriesTitle(1, "Dossiers supprimés");
    fillGainsAndLosses(chart, generator, 100, 20);
}

void FillQuoteLinesChart(TFicheBarChart2Series& chart, std::mt19937& generator) {
    chart.SetTitle("Nb lignes Devis vs Nb lignes Commandes");
    chart.SetSeriesTitle(0, "Nb lignes devis");
    chart.SetSeriesTitle(1, "Nb Lignes commandes");
    for (const char* month : DemoMonths) {
        const int quoteLines = draw(generator, 100);
        const int orderLines = draw(generator, quoteLines);
        chart.AddValue(0, month, quoteLines);
        chart.AddValue(1, month, orderLines);
    }
}

void ShowNewClientsChart(QWidget* owner) {
    showChart<TFicheBarChartStack>(owner, FillNewClientsChart);
}

void ShowNewFilesChart(QWidget* owner) {
    showChart<TFicheBarChartStack>(owner, FillNewFilesChart);
}

void ShowQuoteLinesChart(QWidget* owner) {
    showChart<TFicheBarChart2Series>(owner, FillQuoteLinesChart);
}
