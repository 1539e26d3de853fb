// One refresh of the tracking table in each display mode, on a sample file of
// a million figures, against the same statements run straight through the
// sqlite3 C API; the same on a larger organisation (30 levels, 150 agencies,
// 600 users) at one and five million figures; and the administrator's first
// display on a file without the summing indexes. The bare statements run in one
// read transaction, as the program runs a refresh. Last come the lines
//   ratio CASE PROGRAM_MS BARE_MS RATIO
// for every case measured both ways in the run (the program's refresh painted);
// a case ending in "-changing" alternates two suppliers, so that the figures
// shown change at every refresh.
//
//   build/bench/bench_tracking [--benchmark_repetitions=5 ...]
//
// QUADRIVEL_BENCH_DIR names a folder where the sample files are kept between
// runs (made there when missing); by default a temporary folder is used.
//
// The same refresh and bare statements (through libpq) also run on a
// PostgreSQL server when QUADRIVEL_BENCH_PG_URI (or QUADRIVEL_TEST_PG_URI)
// names a database there whose role may create databases: the figures go into
// a database quadrivel_bench_1m beside it, made once with quadrivel-sample.
// On a throwaway server:
//
//   tests/support/with-postgresql.sh build/bench/bench_tracking

#include "data/absdatabase.h"
#include "tracking/fichequadrivel.h"

#include <QApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
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

// The server's URI given to the benchmark, or the empty text.
std::string serverUri() {
    for (const char* name : {"QUADRIVEL_BENCH_PG_URI", "QUADRIVEL_TEST_PG_URI"})
        if (const char* uri = std::getenv(name); uri && *uri)
            return uri;
    return {};
}

// The URI of the million-row database on the server, made when missing.
std::string sampleDatabase(const std::string& name, const QStringList& options) {
    const std::string base = serverUri();
    const auto authority = base.find("://") + 3;
    const auto path = base.find('/', authority);
    const auto query = base.find('?', authority);
    const std::string uri = base.substr(0, path == std::string::npos ? query : path) + "/" + name +
                            (query == std::string::npos ? "" : base.substr(query));
    PGconn* conn = PQconnectdb(base.c_str());
    if (PQstatus(conn) != CONNECTION_OK)
        throw std::runtime_error(std::string("cannot reach the server: ") + PQerrorMessage(conn));
    PGresult* found =
        PQexec(conn, ("SELECT 1 FROM pg_database WHERE datname = '" + name + "'").c_str());
    const bool exists = PQntuples(found) == 1;
    PQclear(found);
    if (!exists) {
        PQclear(PQexec(conn, ("CREATE DATABASE " + name).c_str()));
        const int code = QProcess::execute(QStringLiteral(QUADRIVEL_SAMPLE_TOOL),
                                           QStringList{QString::fromStdString(uri)} + options);
        if (code != 0)
            throw std::runtime_error("quadrivel-sample failed on the server");
    }
    PQfinish(conn);
    return uri;
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
        QCoreApplication::processEvents(); // the first activation, after the show
        if (mode >= TFicheQuadrivel::dmAgences)
            pick(window.cblNiveau, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateurs)
            pick(window.cblAgence, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateur)
            pick(window.cblUtilisateur, 1);
        if (window.GetDisplayMode() != mode || window.lvData->topLevelItemCount() == 0)
            throw std::runtime_error("the sample file gives no row in this mode");
    }
    // Picking a supplier recomputes the report and nothing else: "<Tous>"
    // gives the same figures again, the first supplier others.
    void refresh(int supplier = 0) { pick(window.cblFournisseur, supplier); }
    std::vector<std::string> statementsOfOneRefresh(int supplier = 0) {
        std::vector<std::string> statements;
        db.OnStatement = [&](const std::string& text) { statements.push_back(text); };
        refresh(supplier);
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

// Milliseconds per refresh of each case, the program's and the bare
// statements', for the ratio lines printed at the end.
struct Timing {
    double program = 0;
    double bare = 0;
};
std::map<std::string, Timing>& timings() {
    static std::map<std::string, Timing> all;
    return all;
}

// Runs the benchmark loop and keeps the mean time of one iteration.
template <typename Body>
void timed(benchmark::State& state, const std::string& name, bool changing, double Timing::*slot,
           Body body) {
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        body();
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    if (state.iterations() > 0 && !name.empty())
        timings()[name + "-" + modeName(static_cast<int>(state.range(0))) +
                  (changing ? "-changing" : "")].*
            slot = elapsed.count() / static_cast<double>(state.iterations());
}

// changing: each refresh alternates between every supplier and the first one,
// so that the figures shown change every time.
void programRefresh(benchmark::State& state, const std::string& path, bool painted = true,
                    const std::string& name = {}, bool changing = false) {
    Window w(path, static_cast<int>(state.range(0)));
    if (!painted)
        w.window.hide();
    int refreshes = 0;
    timed(state, name, changing, &Timing::program,
          [&] { w.refresh(changing ? ++refreshes % 2 : 0); });
    state.SetLabel(std::string(modeName(static_cast<int>(state.range(0)))) + ", " +
                   std::to_string(w.window.lvData->topLevelItemCount()) + " rows");
}

// The statements of a refresh with every supplier and with the first one, as
// the window runs them; next() gives those of the following refresh, the same
// ones each time unless changing.
struct RefreshStatements {
    RefreshStatements(const std::string& database, int mode, bool changing)
        : mode(mode)
        , changing(changing) {
        Window w(database, mode);
        lists[1] = w.statementsOfOneRefresh(1);
        lists[0] = w.statementsOfOneRefresh(0);
    }
    const std::vector<std::string>& next() { return lists[changing ? ++refreshes % 2 : 0]; }
    std::string Label() const {
        return std::string(modeName(mode)) + ", " + std::to_string(lists[0].size()) + " statements";
    }

    int mode;
    bool changing;
    int refreshes = 0;
    std::array<std::vector<std::string>, 2> lists;
};

// The same statements, each prepared, stepped and finalised as the program
// does, in one read transaction as the program runs them, without anything of
// the program around them.
void bareStatements(benchmark::State& state, const std::string& path, const std::string& name = {},
                    bool changing = false) {
    RefreshStatements statements(path, static_cast<int>(state.range(0)), changing);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw std::runtime_error("cannot open " + path);
    timed(state, name, changing, &Timing::bare, [&] {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (const std::string& sql : statements.next()) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                    benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    });
    sqlite3_close(db);
    state.SetLabel(statements.Label());
}

// The same statements through libpq, every value read as text.
void bareServerStatements(benchmark::State& state, const std::string& uri,
                          const std::string& name = {}, bool changing = false) {
    RefreshStatements statements(uri, static_cast<int>(state.range(0)), changing);
    PGconn* conn = PQconnectdb(uri.c_str());
    if (PQstatus(conn) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(conn));
    timed(state, name, changing, &Timing::bare, [&] {
        PQclear(PQexec(conn, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        for (const std::string& sql : statements.next()) {
            PGresult* result = PQexec(conn, sql.c_str());
            for (int r = 0; r < PQntuples(result); ++r)
                for (int i = 0; i < PQnfields(result); ++i)
                    benchmark::DoNotOptimize(PQgetvalue(result, r, i));
            PQclear(result);
        }
        PQclear(PQexec(conn, "COMMIT"));
    });
    PQfinish(conn);
    state.SetLabel(statements.Label());
}

const std::string& serverMillionRows() {
    static const std::string uri = sampleDatabase("quadrivel_bench_1m", {"--rows", "1000000"});
    return uri;
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

// A larger organisation: 30 levels, 150 agencies, 600 users.
const QStringList kLargerOrganisation = {"--levels", "30", "--agencies", "150", "--users", "600"};

const std::string& largerMillion() {
    static const std::string path =
        sampleFile("larger-1m.db", QStringList{"--rows", "1000000"} + kLargerOrganisation);
    return path;
}
const std::string& largerFiveMillion() {
    static const std::string path =
        sampleFile("larger-5m.db", QStringList{"--rows", "5000000"} + kLargerOrganisation);
    return path;
}

void BM_LargerProgram1M(benchmark::State& state) {
    programRefresh(state, largerMillion(), true, "sqlite-1m", state.range(1) != 0);
}
void BM_LargerBare1M(benchmark::State& state) {
    bareStatements(state, largerMillion(), "sqlite-1m", state.range(1) != 0);
}
void BM_LargerProgram5M(benchmark::State& state) {
    programRefresh(state, largerFiveMillion(), true, "sqlite-5m", state.range(1) != 0);
}
void BM_LargerBare5M(benchmark::State& state) {
    bareStatements(state, largerFiveMillion(), "sqlite-5m", state.range(1) != 0);
}

void BM_ServerProgramRefresh(benchmark::State& state) {
    programRefresh(state, serverMillionRows(), true, "postgresql-1m", state.range(1) != 0);
}
void BM_ServerBareStatements(benchmark::State& state) {
    bareServerStatements(state, serverMillionRows(), "postgresql-1m", state.range(1) != 0);
}

BENCHMARK(BM_ProgramRefresh)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshUnpainted)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareStatements)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshWithoutIndexes)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargerProgram1M)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargerBare1M)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargerProgram5M)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LargerBare5M)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!serverUri().empty()) {
        benchmark::RegisterBenchmark("BM_ServerProgramRefresh", BM_ServerProgramRefresh)
            ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ServerBareStatements", BM_ServerBareStatements)
            ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Last, one line per case measured both ways in this run:
    // ratio CASE PROGRAM_MS BARE_MS RATIO
    for (const auto& [name, timing] : timings()) {
        if (timing.program > 0 && timing.bare > 0)
            std::printf("ratio %s %.2f %.2f %.2f\n", name.c_str(), timing.program, timing.bare,
                        timing.program / timing.bare);
    }
    return 0;
}
