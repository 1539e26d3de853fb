// One refresh of the tracking table in each display mode, on a sample file of
// a million figures (painted, hidden, and its statements run straight through
// the sqlite3 C API), and the administrator's first display on a file without
// the summing indexes. Then, on a larger organisation (30 levels, 150
// agencies, 600 users) at one and five million figures, each display measured
// both ways, interleaved: the program's refresh, painted, then the same
// statements bare, in one read transaction as the program runs them. Last come
// the lines
//   ratio CASE PROGRAM_MS BARE_MS RATIO
// one per case measured both ways, from the medians of the two. A case ending
// in "-changing" alternates two suppliers, so that the figures shown change
// at every refresh and must be painted again: its bare side also draws the
// changed texts with QPainter::drawText into an image, and a second line,
// "CASE-statements-only", gives the ratio against its statements alone. Two
// more lines split the refresh: "CASE-report-only", the report computed again
// as the refresh computed it, against the bare statements; "CASE-window-only",
// the rest of the refresh (showing the rows, totals and context line, and
// painting them), against the bare side's drawing alone.
// The cases import-sqlite-1m and import-postgresql-1m load a million figure
// lines with quadrivel-import against the sqlite3 shell's .import and psql's
// \copy of the same rows (--benchmark_filter=Import).
//
//   build/bench/bench_tracking [--benchmark_filter=Larger ...]
//
// QUADRIVEL_BENCH_DIR names a folder where the sample files are kept between
// runs (made there when missing); by default a temporary folder is used.
// QUADRIVEL_BENCH_20M adds the larger organisation at twenty million figures,
// on both engines.
//
// The larger organisation is also measured on a PostgreSQL server, against
// the same statements through libpq, when QUADRIVEL_BENCH_PG_URI (or
// QUADRIVEL_TEST_PG_URI) names a database there whose role may create
// databases: the figures go into the databases quadrivel_bench_larger_1m and
// _5m beside it, made once with quadrivel-sample (about two minutes for five
// million figures). On a throwaway server, made anew each time:
//
//   tests/support/with-postgresql.sh build/bench/bench_tracking

#include "app/ficheprincipale.h"
#include "app/startup.h"
#include "data/absdatabase.h"
#include "data/schema.h"
#include "schema_sql.h"
#include "tracking/ficheevolution.h"
#include "tracking/fichequadrivel.h"
#include "tracking/report.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QSqlDriver>
#include <QStyle>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The first argument that makes this program start the main window as the
// program does, for the warm start.
constexpr const char* kStartChild = "--start-main-window";

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

// The URI of another database on the same server.
std::string databaseUri(const std::string& name) {
    const std::string base = serverUri();
    const auto authority = base.find("://") + 3;
    const auto path = base.find('/', authority);
    const auto query = base.find('?', authority);
    return base.substr(0, path == std::string::npos ? query : path) + "/" + name +
           (query == std::string::npos ? "" : base.substr(query));
}

// The URI of the million-row database on the server, made when missing.
std::string sampleDatabase(const std::string& name, const QStringList& options) {
    const std::string base = serverUri();
    const std::string uri = databaseUri(name);
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

// The tracking window of the administrator on a file (or of the user with
// that code), brought to a display mode by the picks a user would make.
struct Window {
    explicit Window(const std::string& path, int mode, const std::string& userCode = {}) {
        db.DatabaseFileName = path;
        window.SetDatabase(&db);
        window.SetAdmin(userCode.empty());
        window.SetUserCode(userCode);
        window.show();
        QCoreApplication::processEvents(); // the first activation, after the show
        if (mode >= TFicheQuadrivel::dmAgences)
            pick(window.cblNiveau, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateurs)
            pick(window.cblAgence, 1);
        if (mode >= TFicheQuadrivel::dmUtilisateur)
            pick(window.cblUtilisateur, 1);
        if (window.GetDisplayMode() != mode || window.lvData->model()->rowCount() == 0)
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

// Median milliseconds per refresh of each case, the program's and the bare
// statements', for the ratio lines printed at the end.
struct Timing {
    double program = 0;
    double bare = 0;
};
std::map<std::string, Timing>& timings() {
    static std::map<std::string, Timing> all;
    return all;
}

// Keeps a case's two medians for its ratio line and shows them, with their
// ratio, as the case's counters.
void recordTiming(benchmark::State& state, const std::string& name, double program, double bare,
                  const char* programCounter = "program_ms", const char* bareCounter = "bare_ms") {
    timings()[name] = {program, bare};
    state.counters[programCounter] = program;
    state.counters[bareCounter] = bare;
    state.counters["ratio"] = bare > 0 ? program / bare : 0;
}

// The program's refresh alone, painted or not, showing the same figures again.
void programRefresh(benchmark::State& state, const std::string& path, bool painted = true) {
    Window w(path, static_cast<int>(state.range(0)));
    if (!painted)
        w.window.hide();
    for (auto _ : state)
        w.refresh();
    state.SetLabel(std::string(modeName(static_cast<int>(state.range(0)))) + ", " +
                   std::to_string(w.window.lvData->model()->rowCount()) + " rows");
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
    const std::vector<std::string>& next() { return of(changing ? ++refreshes % 2 : 0); }
    // Those of the refresh with every supplier (0) or with the first one (1).
    const std::vector<std::string>& of(int supplier) const {
        return lists[static_cast<std::size_t>(supplier)];
    }
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
struct BareFile {
    explicit BareFile(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + path);
    }
    // A connection of its own, with SQLite's default settings, as any other
    // program opening the file has.
    BareFile(const std::string& path, TABSDatabase&)
        : BareFile(path) {}
    ~BareFile() { sqlite3_close(db); }
    BareFile(const BareFile&) = delete;
    BareFile& operator=(const BareFile&) = delete;
    void run(const std::vector<std::string>& statements) {
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        for (const std::string& sql : statements) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                for (int i = 0; i < sqlite3_column_count(stmt); ++i)
                    benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
            }
            sqlite3_finalize(stmt);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3* db = nullptr;
};

// The same statements through libpq, every value read as text, on the
// program's own connection: the same server process serves both sides, so
// that where the system places each process weighs on neither (two server
// processes, measured, differed by up to half from one run to the next).
struct BareServer {
    BareServer(const std::string&, TABSDatabase& program) {
        const QVariant handle = program.Connection().driver()->handle();
        conn = *static_cast<PGconn* const*>(handle.data());
        if (PQstatus(conn) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn));
    }
    void run(const std::vector<std::string>& statements) {
        PQclear(PQexec(conn, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY"));
        for (const std::string& sql : statements) {
            PGresult* result = PQexec(conn, sql.c_str());
            for (int r = 0; r < PQntuples(result); ++r)
                for (int i = 0; i < PQnfields(result); ++i)
                    benchmark::DoNotOptimize(PQgetvalue(result, r, i));
            PQclear(result);
        }
        PQclear(PQexec(conn, "COMMIT"));
    }
    PGconn* conn;
};

void bareStatements(benchmark::State& state, const std::string& path) {
    RefreshStatements statements(path, static_cast<int>(state.range(0)), false);
    BareFile bare(path);
    for (auto _ : state)
        bare.run(statements.next());
    state.SetLabel(statements.Label());
}

// What a refresh whose figures change must draw at least, drawn without the
// program: the texts of the cells that changed, of the totals line's cells
// that changed and of the context line, each on its background, with
// QPainter::drawText into an image of the list's size, in the list's font,
// alignments and colours. The texts are read from the window after a refresh
// with each supplier (0: every supplier, 1: the first one); paint(s) draws
// what changes when the window goes from the other supplier's figures to s's.
struct ChangedPixels {
    struct Cell {
        QRect rect;
        Qt::Alignment alignment;
        std::array<QString, 2> texts;
        bool alternate = false;
    };

    explicit ChangedPixels(Window& w) {
        QTreeView* list = w.window.lvData;
        QTreeView* totals = w.window.lvTotal;
        QLabel* context = w.window.lblContexte;
        image = QImage(list->size(), QImage::Format_RGB32);
        listFont = list->font();
        totalsFont = totals->font();
        contextFont = context->font();
        contextAlignment = context->alignment();
        listPalette = list->palette();
        contextPalette = context->palette();
        image.fill(listPalette.color(QPalette::Base));
        const int margin =
            list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list) + 1;
        // The totals line sits at the bottom of the image, the context line at
        // its top: each as large as it is in the window.
        const QRect totalsArea(0, image.height() - totals->height(), totals->width(),
                               totals->height());
        contextRect = QRect(QPoint(0, 0), context->size());
        for (const int supplier : {1, 0}) {
            w.refresh(supplier);
            contextTexts[static_cast<std::size_t>(supplier)] = context->text();
            readCells(list, list->viewport()->rect(), margin, supplier, listCells);
            readCells(totals, totalsArea, margin, supplier, totalsCells);
        }
        if (contextTexts[0] == contextTexts[1])
            throw std::runtime_error("the context line does not change with the supplier");
    }

    // The cells of the rows of a list within its visible area, placed in the
    // image at area's corner.
    static void readCells(QTreeView* list, const QRect& area, int margin, int supplier,
                          std::vector<Cell>& cells) {
        const QHeaderView* header = list->header();
        const QAbstractItemModel* model = list->model();
        std::size_t n = 0;
        for (int r = 0; r < model->rowCount(); ++r) {
            const QRect row = list->visualRect(model->index(r, 0));
            if (!row.intersects(list->viewport()->rect()))
                continue;
            for (int c = 0; c < model->columnCount(); ++c, ++n) {
                const QModelIndex item = model->index(r, c);
                if (cells.size() <= n) {
                    Cell cell;
                    cell.rect = QRect(area.left() + header->sectionViewportPosition(c) + margin,
                                      area.top() + row.top(), header->sectionSize(c) - 2 * margin,
                                      row.height());
                    cell.alignment = item.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
                    cell.alternate = list->alternatingRowColors() && r % 2 == 1;
                    cells.push_back(cell);
                }
                cells[n].texts[static_cast<std::size_t>(supplier)] = item.data().toString();
            }
        }
    }

    void paint(int supplier) {
        const auto s = static_cast<std::size_t>(supplier);
        const auto other = static_cast<std::size_t>(1 - supplier);
        QPainter painter(&image);
        painter.setPen(listPalette.color(QPalette::Text));
        painter.setFont(listFont);
        for (const Cell& cell : listCells)
            drawCell(painter, cell, s, other);
        painter.setFont(totalsFont);
        for (const Cell& cell : totalsCells)
            drawCell(painter, cell, s, other);
        painter.setFont(contextFont);
        painter.setPen(contextPalette.color(QPalette::WindowText));
        painter.fillRect(contextRect, contextPalette.color(QPalette::Window));
        painter.drawText(contextRect, static_cast<int>(contextAlignment) | Qt::TextSingleLine,
                         contextTexts[s]);
    }

    void drawCell(QPainter& painter, const Cell& cell, std::size_t s, std::size_t other) {
        if (cell.texts[s] == cell.texts[other])
            return;
        painter.fillRect(cell.rect, listPalette.color(cell.alternate ? QPalette::AlternateBase
                                                                     : QPalette::Base));
        painter.drawText(cell.rect, static_cast<int>(cell.alignment) | Qt::TextSingleLine,
                         cell.texts[s]);
    }

    QImage image;
    QFont listFont;
    QFont totalsFont;
    QFont contextFont;
    Qt::Alignment contextAlignment;
    QPalette listPalette;
    QPalette contextPalette;
    QRect contextRect;
    std::array<QString, 2> contextTexts;
    std::vector<Cell> listCells;
    std::vector<Cell> totalsCells;
};

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// One case measured both ways, interleaved: each iteration times the
// program's refresh, painted, then the same statements run bare. The ratio is
// taken between the two medians, so that the load of this shared machine,
// which changes from one second to the next, weighs on both alike.
// range(0): the display mode; range(1): 1 when the figures change at every
// refresh (two suppliers alternated). Then the bare side also draws the
// changed texts (ChangedPixels), timed apart from its statements: the case's
// ratio is taken against both together, and "-statements-only" against the
// statements alone.
template <typename Bare>
void programAgainstBare(benchmark::State& state, const std::string& database,
                        const std::string& name) {
    const int mode = static_cast<int>(state.range(0));
    const bool changing = state.range(1) != 0;
    RefreshStatements statements(database, mode, changing);
    Window w(database, mode);
    std::unique_ptr<ChangedPixels> pixels;
    if (changing)
        pixels = std::make_unique<ChangedPixels>(w);
    Bare bare(database, w.db);
    std::vector<double> program;
    std::vector<double> bareTimes;
    std::vector<double> floorTimes;
    // Changing cases: the report alone, computed again as the refresh did,
    // and what the refresh spent beside it (showing and painting), against
    // the floor's drawing alone.
    std::vector<double> reportTimes;
    std::vector<double> windowTimes;
    std::vector<double> drawingTimes;
    int refreshes = 0;
    using Clock = std::chrono::steady_clock;
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    for (auto _ : state) {
        const int supplier = changing ? ++refreshes % 2 : 0;
        const auto start = Clock::now();
        w.refresh(supplier);
        const auto middle = Clock::now();
        bare.run(statements.of(supplier));
        const auto ran = Clock::now();
        if (pixels)
            pixels->paint(supplier);
        const auto end = Clock::now();
        program.push_back(ms(middle - start));
        bareTimes.push_back(ms(ran - middle));
        floorTimes.push_back(ms(end - middle));
        if (changing) {
            TReportTotals totals;
            benchmark::DoNotOptimize(ComputeReport(&w.db, w.window.Selection(), {}, &totals));
            const double report = ms(Clock::now() - end);
            reportTimes.push_back(report);
            windowTimes.push_back(ms(middle - start) - report);
            drawingTimes.push_back(ms(end - ran));
        }
    }
    const std::string caseName = name + "-" + modeName(mode) + (changing ? "-changing" : "");
    const double programMs = median(program);
    recordTiming(state, caseName, programMs, median(floorTimes));
    if (changing) {
        timings()[caseName + "-statements-only"] = {programMs, median(bareTimes)};
        timings()[caseName + "-report-only"] = {median(reportTimes), median(bareTimes)};
        timings()[caseName + "-window-only"] = {median(windowTimes), median(drawingTimes)};
    }
    state.SetLabel(statements.Label() + ", " +
                   std::to_string(w.window.lvData->model()->rowCount()) + " rows");
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

// Twenty million figures, measured only when QUADRIVEL_BENCH_20M is set: the
// file (3.7 GB) took ten minutes to make, the server's database (4.7 GB) eight,
// both made at the same time on a two-core machine.
const std::string& largerTwentyMillion() {
    static const std::string path =
        sampleFile("larger-20m.db", QStringList{"--rows", "20000000"} + kLargerOrganisation);
    return path;
}

void BM_Larger1M(benchmark::State& state) {
    programAgainstBare<BareFile>(state, largerMillion(), "sqlite-1m");
}
void BM_Larger5M(benchmark::State& state) {
    programAgainstBare<BareFile>(state, largerFiveMillion(), "sqlite-5m");
}

const std::string& serverLargerMillion() {
    static const std::string uri = sampleDatabase(
        "quadrivel_bench_larger_1m", QStringList{"--rows", "1000000"} + kLargerOrganisation);
    return uri;
}
const std::string& serverLargerFiveMillion() {
    static const std::string uri = sampleDatabase(
        "quadrivel_bench_larger_5m", QStringList{"--rows", "5000000"} + kLargerOrganisation);
    return uri;
}

const std::string& serverLargerTwentyMillion() {
    static const std::string uri = sampleDatabase(
        "quadrivel_bench_larger_20m", QStringList{"--rows", "20000000"} + kLargerOrganisation);
    return uri;
}

void BM_Larger20M(benchmark::State& state) {
    programAgainstBare<BareFile>(state, largerTwentyMillion(), "sqlite-20m");
}
void BM_ServerLarger20M(benchmark::State& state) {
    programAgainstBare<BareServer>(state, serverLargerTwentyMillion(), "postgresql-20m");
}

// The reader of the policies' case: a login in quadrivel_lecteur, made once
// on the server, without a password.
constexpr const char* kBenchReader = "quadrivel_bench_lecteur";

// Runs db/roles-postgresql.sql on the database, then maps the reader's login
// to the code of the first level; returns that code.
std::string mapReader(const std::string& uri) {
    std::ifstream file(QUADRIVEL_SOURCE_DIR "/db/roles-postgresql.sql");
    std::stringstream roles;
    roles << file.rdbuf();
    PGconn* conn = PQconnectdb(uri.c_str());
    const auto exec = [conn](const std::string& sql) {
        PGresult* result = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(result);
        std::string value = PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "";
        const std::string error = PQresultErrorMessage(result);
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error("the reader's set-up failed: " + error);
        return value;
    };
    if (!file || PQstatus(conn) != CONNECTION_OK)
        throw std::runtime_error("db/roles-postgresql.sql or the server cannot be reached");
    exec(roles.str());
    exec(std::string("DO $$ BEGIN IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '") +
         kBenchReader + "') THEN CREATE ROLE " + kBenchReader +
         " LOGIN IN ROLE quadrivel_lecteur; END IF; END $$");
    const std::string code = exec("SELECT code FROM dim_niveau ORDER BY libelle LIMIT 1");
    exec(std::string("INSERT INTO acces_utilisateur (login, code) VALUES ('") + kBenchReader +
         "', '" + code + "') ON CONFLICT (login) DO UPDATE SET code = EXCLUDED.code");
    PQfinish(conn);
    return code;
}

// The texts of a window's rows.
std::vector<QStringList> shownTexts(const QTreeView* list) {
    std::vector<QStringList> rows;
    const QAbstractItemModel* model = list->model();
    for (int i = 0; i < model->rowCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(i, c).data().toString();
        rows.push_back(cells);
    }
    return rows;
}

// The levels display of a reader, through the row-level security policies,
// against the same display (its code: the same level and figures) as the
// tables' owner, interleaved, each going first every other time. Both run in
// the same window on the same connection, which becomes the reader's login
// (SET SESSION AUTHORIZATION, so the owner of the benchmark's server must be
// a superuser) and the owner's again in turn: one server process serves both,
// as for the bare statements. The ratio line gives the reader's median, the
// owner's and their ratio.
void BM_ServerReaderLevels1M(benchmark::State& state) {
    const std::string uri = serverLargerMillion();
    const std::string code = mapReader(uri);
    Window w(uri, TFicheQuadrivel::dmNiveaux, code);
    PGconn* conn = *static_cast<PGconn* const*>(w.db.Connection().driver()->handle().data());
    const auto becomeReader = [conn](bool reader) {
        const std::string sql = reader ? std::string("SET SESSION AUTHORIZATION ") + kBenchReader
                                       : std::string("RESET SESSION AUTHORIZATION");
        PGresult* result = PQexec(conn, sql.c_str());
        const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        if (!done)
            throw std::runtime_error("cannot become the reader: " +
                                     std::string(PQerrorMessage(conn)));
    };
    const auto ownerRows = shownTexts(w.window.lvData);
    becomeReader(true);
    w.refresh();
    if (shownTexts(w.window.lvData) != ownerRows)
        throw std::runtime_error("the reader and the owner are shown different figures");
    std::vector<double> readerTimes;
    std::vector<double> ownerTimes;
    using Clock = std::chrono::steady_clock;
    bool reader = true;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; ++turn) {
            const auto start = Clock::now();
            w.refresh();
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            (reader ? readerTimes : ownerTimes).push_back(ms);
            if (turn == 0) {
                reader = !reader;
                becomeReader(reader);
            }
        }
    }
    becomeReader(false);
    recordTiming(state, "postgresql-1m-levels-reader-vs-owner", median(readerTimes),
                 median(ownerTimes), "reader_ms", "owner_ms");
}

void BM_ServerLarger1M(benchmark::State& state) {
    programAgainstBare<BareServer>(state, serverLargerMillion(), "postgresql-1m");
}
void BM_ServerLarger5M(benchmark::State& state) {
    programAgainstBare<BareServer>(state, serverLargerFiveMillion(), "postgresql-5m");
}

// A million figure lines loaded into a database made from db/schema.sql (its
// indexes included) whose labels are there: quadrivel-import, checking every
// line, against the sqlite3 shell's .import and psql's \copy of the same rows
// (decimal points, commas) into the same schema. Each load is a whole process,
// timed from its start to its end; each iteration starts both from the same
// database made anew, one after the other, and the ratio is taken between
// the two medians.
struct ImportSource {
    std::string csv;
    std::string labels; // the label and link rows, as INSERT statements
};

const ImportSource& importSource() {
    static const ImportSource source = [] {
        ImportSource made;
        const std::string sample = largerMillion();
        made.csv = (benchFolder() + "/figures-1m.csv").toStdString();
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(sample.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + sample);
        const auto rows = [&](const std::string& sql, const std::function<void(sqlite3_stmt*)>& f) {
            sqlite3_stmt* stmt = nullptr;
            sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
            while (sqlite3_step(stmt) == SQLITE_ROW)
                f(stmt);
            sqlite3_finalize(stmt);
        };
        const auto text = [](sqlite3_stmt* stmt, int i) {
            return std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, i)));
        };
        for (const char* table :
             {"dim_utilisateur", "dim_agence", "dim_fournisseur", "dim_niveau", "niveau_agence"})
            rows(std::string("SELECT * FROM ") + table, [&](sqlite3_stmt* stmt) {
                made.labels += std::string("INSERT INTO ") + table + " VALUES (" +
                               QuotedStr(text(stmt, 0)) + ", " + QuotedStr(text(stmt, 1)) + ");\n";
            });
        if (!QFile::exists(QString::fromStdString(made.csv))) {
            std::FILE* out = std::fopen(made.csv.c_str(), "w");
            if (!out)
                throw std::runtime_error("cannot write " + made.csv);
            std::fputs("code_account,period_year,period_month,dim_agence,dim_utilisateur,"
                       "dim_fournisseur,dim_dossier,valeur\n",
                       out);
            rows("SELECT * FROM data", [&](sqlite3_stmt* stmt) {
                for (int i = 0; i < 8; ++i)
                    std::fprintf(out, i < 7 ? "%s," : "%s\n", sqlite3_column_text(stmt, i));
            });
            std::fclose(out);
        }
        sqlite3_close(db);
        return made;
    }();
    return source;
}

double timedRun(const QString& program, const QStringList& arguments) {
    QElapsedTimer timer;
    timer.start();
    if (QProcess::execute(program, arguments) != 0)
        throw std::runtime_error(program.toStdString() + " failed");
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void BM_ImportFile(benchmark::State& state) {
    const ImportSource& source = importSource();
    const QString empty = benchFolder() + "/import-empty.db";
    const QString target = benchFolder() + "/import-target.db";
    if (!QFile::exists(empty)) {
        sqlite3* db = nullptr;
        sqlite3_open(empty.toStdString().c_str(), &db);
        const std::string sql = std::string(quadrivel::kSchemaSql) + source.labels;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
        sqlite3_close(db);
    }
    const auto fresh = [&] {
        QFile::remove(target);
        QFile::remove(target + "-journal");
        if (!QFile::copy(empty, target))
            throw std::runtime_error("cannot copy the empty database");
    };
    const auto loaded = [&] {
        sqlite3* db = nullptr;
        sqlite3_open(target.toStdString().c_str(), &db);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT COUNT(*) FROM data", -1, &stmt, nullptr);
        sqlite3_step(stmt);
        const long long count = sqlite3_column_int64(stmt, 0);
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        if (count != 1000000)
            throw std::runtime_error("the load left " + std::to_string(count) + " rows");
    };
    std::vector<double> program;
    std::vector<double> shell;
    for (auto _ : state) {
        fresh();
        shell.push_back(
            timedRun("sqlite3", {target, QStringLiteral(".import --csv --skip 1 \"%1\" data")
                                             .arg(QString::fromStdString(source.csv))}));
        loaded();
        fresh();
        program.push_back(
            timedRun(QStringLiteral(QUADRIVEL_IMPORT_TOOL),
                     {target, "--figures", QString::fromStdString(source.csv), "--quiet"}));
        loaded();
    }
    recordTiming(state, "import-sqlite-1m", median(program), median(shell), "program_ms",
                 "shell_ms");
}

void BM_ImportServer(benchmark::State& state) {
    const ImportSource& source = importSource();
    const std::string name = "quadrivel_bench_import";
    const std::string uri = databaseUri(name);
    const auto exec = [](PGconn* conn, const std::string& sql) {
        PGresult* result = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(result);
        const std::string message = PQresultErrorMessage(result);
        const std::string value =
            status == PGRES_TUPLES_OK && PQntuples(result) > 0 ? PQgetvalue(result, 0, 0) : "";
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(message);
        return value;
    };
    const auto connect = [](const std::string& to) {
        PGconn* conn = PQconnectdb(to.c_str());
        if (PQstatus(conn) != CONNECTION_OK)
            throw std::runtime_error(std::string("cannot reach the server: ") +
                                     PQerrorMessage(conn));
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
        return conn;
    };
    PGconn* maintenance = connect(serverUri());
    const auto fresh = [&] {
        exec(maintenance, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
        exec(maintenance, "CREATE DATABASE " + name);
        PGconn* conn = connect(uri);
        exec(conn, std::string(quadrivel::kSchemaSql) + source.labels);
        PQfinish(conn);
    };
    const auto loaded = [&] {
        PGconn* conn = connect(uri);
        const std::string count = exec(conn, "SELECT COUNT(*) FROM data");
        PQfinish(conn);
        if (count != "1000000")
            throw std::runtime_error("the load left " + count + " rows");
    };
    std::vector<double> program;
    std::vector<double> psql;
    for (auto _ : state) {
        fresh();
        psql.push_back(
            timedRun("psql", {QString::fromStdString(uri), "-q", "-c",
                              QStringLiteral("\\copy data FROM '%1' WITH (FORMAT csv, HEADER)")
                                  .arg(QString::fromStdString(source.csv))}));
        loaded();
        fresh();
        program.push_back(timedRun(QStringLiteral(QUADRIVEL_IMPORT_TOOL),
                                   {QString::fromStdString(uri), "--figures",
                                    QString::fromStdString(source.csv), "--quiet"}));
        loaded();
    }
    exec(maintenance, "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    PQfinish(maintenance);
    recordTiming(state, "import-postgresql-1m", median(program), median(psql), "program_ms",
                 "psql_ms");
}

// A warm start: the program started again on the sample file, its files
// already in the system's cache, up to its main window shown and painted.
// Each start is a new process (this program, in the part of main() that does
// what the program's main() does); the first one warms the cache and is not
// counted.
double& warmStartMs() {
    static double ms = 0;
    return ms;
}

void BM_WarmStart(benchmark::State& state) {
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList arguments = {QString::fromLatin1(kStartChild),
                                   QString::fromStdString(largerMillion())};
    QProcess::execute(self, arguments);
    std::vector<double> starts;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        if (QProcess::execute(self, arguments) != 0)
            throw std::runtime_error("the start of the main window failed");
        starts.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    warmStartMs() = median(starts);
    state.counters["median_ms"] = warmStartMs();
}

// The chart of 13 months opened from the administrator's tracking table (the
// levels), up to its window shown and painted: 25 months of the table's
// statements and totals, then the chart drawn. Each opening is a new window.
double& evolutionOpenMs(int organisation) {
    static std::array<double, 2> ms{};
    return ms[std::size_t(organisation)];
}

void BM_EvolutionOpen(benchmark::State& state) {
    const int organisation = int(state.range(0));
    Window w(organisation == 0 ? millionRows() : largerMillion(), TFicheQuadrivel::dmNiveaux);
    std::vector<double> openings;
    int statements = 0;
    w.db.OnStatement = [&](const std::string&) { ++statements; };
    for (auto _ : state) {
        statements = 0;
        QElapsedTimer timer;
        timer.start();
        w.window.btnEvolution->click();
        TFicheEvolution* chart = w.window.EvolutionWindow();
        QCoreApplication::processEvents();
        chart->repaint();
        openings.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        state.PauseTiming();
        chart->close();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    w.db.OnStatement = nullptr;
    evolutionOpenMs(organisation) = median(openings);
    state.counters["median_ms"] = evolutionOpenMs(organisation);
    state.SetLabel(std::to_string(statements) + " statements");
}

BENCHMARK(BM_EvolutionOpen)->DenseRange(0, 1)->Iterations(10)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefresh)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshUnpainted)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareStatements)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ProgramRefreshWithoutIndexes)->Arg(0)->Unit(benchmark::kMillisecond);
// The cases measured both ways run for --benchmark_min_time on the clock, not
// in this process's CPU time: a refresh on a server spends most of its time
// waiting for it, and counted in CPU time the levels' case at twenty million
// figures would run for hours.
BENCHMARK(BM_Larger1M)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Larger5M)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WarmStart)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportFile)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

// The program's start, as its main() does it, up to the main window shown,
// activated and painted: then the process ends.
int startMainWindow(char* program, const char* database) {
    int qtArgc = 1;
    char* qtArgv[] = {program, nullptr};
    QApplication app(qtArgc, qtArgv);
    PrepareApplication(app);
    bool shown = false;
    RunQuadrivel({database, "KOVAR"}, [&](TFichePrincipale& mainWindow) {
        mainWindow.show();
        do
            QCoreApplication::processEvents();
        while (mainWindow.Activating());
        shown = mainWindow.isVisible();
    });
    return shown ? 0 : 1;
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 3 && std::strcmp(argv[1], kStartChild) == 0)
        return startMainWindow(argv[0], argv[2]);
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (!serverUri().empty()) {
        benchmark::RegisterBenchmark("BM_ServerLarger1M", BM_ServerLarger1M)
            ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ServerReaderLevels1M", BM_ServerReaderLevels1M)
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ServerLarger5M", BM_ServerLarger5M)
            ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark("BM_ImportServer", BM_ImportServer)
            ->Iterations(3)
            ->Unit(benchmark::kMillisecond);
    }
    if (std::getenv("QUADRIVEL_BENCH_20M")) {
        benchmark::RegisterBenchmark("BM_Larger20M", BM_Larger20M)
            ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
            ->UseRealTime()
            ->Unit(benchmark::kMillisecond);
        if (!serverUri().empty())
            benchmark::RegisterBenchmark("BM_ServerLarger20M", BM_ServerLarger20M)
                ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Last, the warm start and one line per case measured both ways in this
    // run: ratio CASE PROGRAM_MS BARE_MS RATIO
    if (warmStartMs() > 0)
        std::printf("start main-window %.2f\n", warmStartMs());
    for (int organisation : {0, 1})
        if (evolutionOpenMs(organisation) > 0)
            std::printf("open evolution-%s %.2f\n", organisation == 0 ? "sqlite-1m" : "larger-1m",
                        evolutionOpenMs(organisation));
    for (const auto& [name, timing] : timings()) {
        if (timing.program > 0 && timing.bare > 0)
            std::printf("ratio %s %.2f %.2f %.2f\n", name.c_str(), timing.program, timing.bare,
                        timing.program / timing.bare);
    }
    return 0;
}
