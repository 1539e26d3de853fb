// One refresh of the tracking table in each display mode, on a sample file of
// a million figures, against the same statements run straight through the
// sqlite3 C API; and the administrator's first display on a file without the
// summing indexes.
//
//   build/bench/bench_tracking [--benchmark_repetitions=5 ...]
//
// QUADRIVEL_BENCH_DIR names a folder where the sample files are kept between
// runs (made there when missing); by default a temporary folder is used.

#include "data/absdatabase.h"
#include "tracking/fichequadrivel.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

QString benchFolder() {
    static QTemporaryDir temporary;
    const char* folder = std::getenv("QUADRIVEL_BENCH_DIR");
    return folder ? QString::fromLocal8Bit(folder) : temporary.path();
}

std::string sampleFile(const QString& name, const QStringList& options) {
    const QString path = benchFolder() + "/" + name;
    if (!QFile::exists(path)) {
        QDir().mkpath(benchFolder());
        const int code =
            QProcess::execute(QStringLiteral(QUADRIVEL_SAMPLE_TOOL), QStringList{path} + options);
        if (code != 0)
            throw std::runtime_error("quadrivel-sample failed");
    }
    return path.toStdString();
}

// A user's pick of an entry.
void pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

// The tracking window of the administrator on a file, brought to a display
// mode by the picks a user would make.
struct Window {
    explicit Window(const std::string& path, int mode) {
        db.DatabaseFileName = path;
        window.SetDatabase(&db);
        window.SetAdmin(true);
        window.show();
        // The window activates (fills its lists) once the show has gone through.
        QCoreApplication::processEvents();
        if (mode >= TFicheQuadrivel::dmAgences)
            pick(window.cblNiveau, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateurs)
            pick(window.cblAgence, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateur)
            pick(window.cblUtilisateur, 1);
        if (window.GetDisplayMode() != mode || window.lvData->topLevelItemCount() == 0)
            throw std::runtime_error("the sample file gives no row in this mode");
    }
    // Picking "<Tous>" among the suppliers recomputes the report and nothing else.
    void refresh() { pick(window.cblFournisseur, 0); }
    std::vector<std::string> statementsOfOneRefresh() {
        std::vector<std::string> statements;
        db.OnStatement = [&](const std::string& text) { statements.push_back(text); };
        refresh();
        db.OnStatement = nullptr;
        return statements;
    }
    TABSDatabase db;
    TFicheQuadrivel window{nullptr};
};

const char* modeName(int mode) {
    static const char* names[] = {"levels", "agencies", "users", "user"};
    return names[mode];
}

void programRefresh(benchmark::State& state, const std::string& path, bool painted = true) {
    Window w(path, static_cast<int>(state.range(0)));
    if (!painted)
        w.window.hide();
    for (auto _ : state)
        w.refresh();
    state.SetLabel(std::string(modeName(static_cast<int>(state.range(0)))) + ", " +
                   std::to_string(w.window.lvData->topLevelItemCount()) + " rows");
}

// The same statements, each prepared, stepped and finalised as the program
// does, without anything of the program around them.
void bareStatements(benchmark::State& state, const std::string& path) {
    std::vector<std::string> statements;
    {
        Window w(path, static_cast<int>(state.range(0)));
        statements = w.statementsOfOneRefresh();
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + path);
    for (auto _ : state) {
        for (const std::string& sql : statements) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                    benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
            }
            sqlite3_finalize(stmt);
        }
    }
    sqlite3_close(db);
    state.SetLabel(std::string(modeName(static_cast<int>(state.range(0)))) + ", " +
                   std::to_string(statements.size()) + " statements");
}

const std::string& millionRows() {
    static const std::string path = sampleFile("sample-1m.db", {"--rows", "1000000"});
    return path;
}

const std::string& noIndexes() {
    static const std::string path =
        sampleFile("sample-100k-noindex.db", {"--rows", "100000", "--no-indexes"});
    return path;
}

void BM_ProgramRefresh(benchmark::State& state) {
    programRefresh(state, millionRows());
}
// The same without painting the report: the window is hidden.
void BM_ProgramRefreshUnpainted(benchmark::State& state) {
    programRefresh(state, millionRows(), false);
}
void BM_BareStatements(benchmark::State& state) {
    bareStatements(state, millionRows());
}
void BM_ProgramRefreshWithoutIndexes(benchmark::State& state) {
    programRefresh(state, noIndexes());
}

BENCHMARK(BM_ProgramRefresh)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshUnpainted)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareStatements)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshWithoutIndexes)->Arg(0)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
