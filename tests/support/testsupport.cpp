#include "testsupport.h"

#include "data/absdatabase.h"
#include "schema_sql.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTimer>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

void execOn(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open fixture " + path);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("fixture SQL failed: " + message + " in: " + sql);
}

// The URI of the test server's maintenance database, and the part after '?'.
std::string serverUri() {
    const char* uri = std::getenv("QUADRIVEL_TEST_PG_URI");
    if (!uri || !*uri)
        throw std::runtime_error("QUADRIVEL_TEST_ENGINE=postgresql needs QUADRIVEL_TEST_PG_URI "
                                 "(tests/support/with-postgresql.sh sets it)");
    return uri;
}

std::string serverParams() {
    const std::string uri = serverUri();
    const auto mark = uri.find('?');
    return mark == std::string::npos ? std::string() : uri.substr(mark + 1);
}

PGconn* connectServer(const std::string& uri) {
    PGconn* conn = PQconnectdb(uri.c_str());
    if (PQstatus(conn) != CONNECTION_OK) {
        const std::string message = PQerrorMessage(conn);
        PQfinish(conn);
        throw std::runtime_error("cannot reach the test server: " + message);
    }
    PQsetNoticeProcessor(
        conn, [](void*, const char*) {}, nullptr);
    return conn;
}

PGresult* execServer(PGconn* conn, const std::string& sql) {
    PGresult* result = PQexec(conn, sql.c_str());
    // A connection the server closed (RestartTestServer) is opened again.
    if (PQstatus(conn) == CONNECTION_BAD) {
        PQclear(result);
        PQreset(conn);
        result = PQexec(conn, sql.c_str());
    }
    const auto status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        const std::string message = PQresultErrorMessage(result);
        PQclear(result);
        throw std::runtime_error("fixture SQL failed: " + message + " in: " + sql);
    }
    return result;
}

// The rows of the last of the statements, each row's columns joined by '|'.
std::vector<std::string> serverRows(PGconn* conn, const std::string& sql) {
    std::vector<std::string> rows;
    PGresult* result = execServer(conn, sql);
    for (int r = 0; r < PQntuples(result); ++r) {
        std::string row;
        for (int i = 0; i < PQnfields(result); ++i) {
            if (i > 0)
                row += '|';
            row += PQgetisnull(result, r, i) ? "NULL" : PQgetvalue(result, r, i);
        }
        rows.push_back(row);
    }
    PQclear(result);
    return rows;
}

// The maintenance connection that creates and drops the fixtures' databases.
PGconn* maintenance() {
    static PGconn* conn = connectServer(serverUri());
    return conn;
}

} // namespace

bool FixtureFile::OnServer() {
    const char* engine = std::getenv("QUADRIVEL_TEST_ENGINE");
    return engine && std::string(engine) == "postgresql";
}

FixtureFile::FixtureFile(const std::string& sql, bool withSchema) {
    const std::string text = withSchema ? std::string(quadrivel::kSchemaSql) + "\n" + sql : sql;
    if (!OnServer()) {
        path = (dir.path() + QStringLiteral("/quadrivel.db")).toStdString();
        execOn(path, text);
        return;
    }
    static int count = 0;
    serverName = "fixture_" + std::to_string(getpid()) + "_" + std::to_string(++count);
    PQclear(execServer(maintenance(), "CREATE DATABASE " + serverName));
    path = "postgresql:///" + serverName + "?" + serverParams();
    server = connectServer(path);
    if (!text.empty())
        PQclear(execServer(server, text));
}

FixtureFile::~FixtureFile() {
    if (serverName.empty())
        return;
    PQfinish(server);
    PGresult* result =
        PQexec(maintenance(), ("DROP DATABASE IF EXISTS " + serverName + " WITH (FORCE)").c_str());
    PQclear(result);
}

std::string FixtureFile::UriAs(const std::string& user, const std::string& password) const {
    std::string uri = "postgresql://" + user;
    if (!password.empty())
        uri += ":" + password;
    // The test server's parameters, but for its user.
    std::string params;
    const std::string all = serverParams() + "&";
    for (std::size_t start = 0, end; (end = all.find('&', start)) != std::string::npos;
         start = end + 1) {
        const std::string param = all.substr(start, end - start);
        if (!param.empty() && param.rfind("user=", 0) != 0)
            params += (params.empty() ? "" : "&") + param;
    }
    return uri + "@/" + serverName + "?" + params;
}

void FixtureFile::Exec(const std::string& sql) const {
    if (server)
        PQclear(execServer(server, sql));
    else
        execOn(path, sql);
}

std::vector<std::string> FixtureFile::Rows(const std::string& sql) const {
    std::vector<std::string> rows;
    if (server)
        return serverRows(server, sql);
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open fixture " + path);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("fixture query failed: " + message);
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i > 0)
                row += '|';
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

void FixtureFile::MakeRoles() const {
    std::ifstream file(QUADRIVEL_SOURCE_DIR "/db/roles-postgresql.sql");
    if (!file)
        throw std::runtime_error("db/roles-postgresql.sql cannot be read");
    std::stringstream script;
    script << file.rdbuf();
    Exec(script.str() + ";DROP ROLE IF EXISTS lecteur_essai; DROP ROLE IF EXISTS admin_essai;"
                        "CREATE ROLE lecteur_essai LOGIN IN ROLE quadrivel_lecteur;"
                        "CREATE ROLE admin_essai LOGIN IN ROLE quadrivel_admin");
}

void FixtureFile::MapLogin(const std::string& login, const std::string& code) const {
    Exec("INSERT INTO acces_utilisateur (login, code) VALUES ('" + login + "', '" + code +
         "') ON CONFLICT (login) DO UPDATE SET code = EXCLUDED.code");
}

std::vector<std::string> FixtureFile::RowsAs(const std::string& login,
                                             const std::string& sql) const {
    PGconn* conn = connectServer(UriAs(login));
    try {
        auto rows = serverRows(conn, sql);
        PQfinish(conn);
        return rows;
    } catch (...) {
        PQfinish(conn);
        throw;
    }
}

std::vector<std::string> FixtureFile::WriteBegin(const std::vector<std::string>& tables) const {
    if (!server)
        return {"BEGIN IMMEDIATE"};
    std::string lock;
    for (const auto& table : tables)
        lock += (lock.empty() ? "LOCK TABLE " : ", ") + table;
    return {"BEGIN", lock + " IN SHARE ROW EXCLUSIVE MODE"};
}

void FixtureFile::RefuseWrites(const std::string& name, const std::string& operation,
                               const std::string& table, const std::string& message) const {
    if (!server) {
        Exec("CREATE TRIGGER " + name + " BEFORE " + operation + " ON " + table +
             " BEGIN SELECT RAISE(ABORT, '" + message + "'); END");
        return;
    }
    Exec("CREATE FUNCTION " + name + "() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE " +
         "EXCEPTION '" + message + "'; END $$; CREATE TRIGGER " + name + " BEFORE " + operation +
         " ON " + table + " FOR EACH ROW EXECUTE FUNCTION " + name + "()");
}

WriteLock::WriteLock(const FixtureFile& fixture) {
    if (FixtureFile::OnServer()) {
        server = connectServer(fixture.Path());
        PGresult* result = PQexec(server, "SET lock_timeout = '5s'; BEGIN; LOCK TABLE dim_niveau, "
                                          "niveau_agence IN EXCLUSIVE MODE");
        held = PQresultStatus(result) == PGRES_COMMAND_OK;
        PQclear(result);
        return;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open(fixture.Path().c_str(), &db) == SQLITE_OK)
        held = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite = db;
}

void WriteLock::Release() {
    if (server)
        PQclear(PQexec(server, "ROLLBACK"));
    else
        sqlite3_exec(static_cast<sqlite3*>(sqlite), "ROLLBACK", nullptr, nullptr, nullptr);
    held = false;
}

WriteLock::~WriteLock() {
    Release();
    if (server)
        PQfinish(server);
    else
        sqlite3_close(static_cast<sqlite3*>(sqlite));
}

MessageRecorder::MessageRecorder() {
    toolkit::SetMessageHook([this](toolkit::MessageKind kind, const QString& text) {
        messages.push_back({kind, text.toStdString()});
        if (kind != toolkit::MessageKind::Confirmation || answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    });
}

MessageRecorder::~MessageRecorder() {
    toolkit::SetMessageHook(nullptr);
}

std::vector<std::string> MessageRecorder::Texts(toolkit::MessageKind kind) const {
    std::vector<std::string> texts;
    for (const auto& message : messages)
        if (message.kind == kind)
            texts.push_back(message.text);
    return texts;
}

StatementRecorder::StatementRecorder(TABSDatabase* database)
    : database(database) {
    database->OnStatement = [this](const std::string& text) { statements.push_back(text); };
}

StatementRecorder::~StatementRecorder() {
    database->OnStatement = nullptr;
}

void CloseNextModal(const std::function<void(QWidget*)>& check) {
    // The modal window registers itself once shown, which may be after events
    // that its activation lets through, and activates after its show: poll
    // until it is there and activated.
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        // Its activation lets events through while it reads: wait for its end.
        if (auto* form = qobject_cast<TForm*>(modal); form && form->Activating())
            return;
        timer->stop();
        timer->deleteLater();
        if (check)
            check(modal);
        modal->close();
    });
    timer->start();
}

Run RunProgram(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    const bool ended = process.waitForFinished(60000);
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), QString::fromUtf8(process.readAllStandardError())};
}

QStringList PdfPageTexts(const QString& path) {
    const Run run = RunProgram(QStringLiteral("pdftotext"),
                               {QStringLiteral("-layout"), path, QStringLiteral("-")});
    if (run.status != 0)
        return {};
    // Every page ends with a form feed.
    QStringList pages = QString::fromUtf8(run.out).split(QLatin1Char('\f'));
    pages.removeLast();
    return pages;
}

PdfInk PdfPageInk(const QString& path, int page) {
    constexpr int dpi = 100;
    const QTemporaryDir folder;
    const QString prefix = folder.filePath(QStringLiteral("page"));
    const QString number = QString::number(page);
    const Run run = RunProgram(QStringLiteral("pdftoppm"),
                               {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"),
                                QStringLiteral("-f"), number, QStringLiteral("-l"), number,
                                QStringLiteral("-singlefile"), path, prefix});
    const QImage image(prefix + QStringLiteral(".pgm"));
    if (run.status != 0 || image.isNull())
        return {};
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qGray(image.pixel(x, y)) < 250) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    if (right < 0)
        return {};
    const double mm = 25.4 / dpi;
    return {left * mm,
            top * mm,
            (image.width() - 1 - right) * mm,
            (image.height() - 1 - bottom) * mm,
            image.width() * mm,
            image.height() * mm};
}

void Pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void SelectRow(QTreeView* list, int row) {
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool RowSelected(const QTreeView* list, int row) {
    return list->selectionModel()->isRowSelected(row, QModelIndex());
}

int RowCount(const QTreeView* list) {
    return list->model()->rowCount();
}

void ShowForm(QWidget& window) {
    window.show();
    QCoreApplication::processEvents();
}

void RestartTestServer() {
    const std::string uri = serverUri();
    const auto start = uri.find("host=") + 5;
    const std::string folder = uri.substr(start, uri.find('&', start) - start);
    // The newest installed server, as with-postgresql.sh chooses it.
    QStringList installed =
        QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(installed.begin(), installed.end(),
              [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    if (installed.isEmpty())
        throw std::runtime_error("no PostgreSQL server is installed");
    QStringList command{QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(installed.last())};
    command << QStringLiteral("-D") << QString::fromStdString(folder + "/data")
            << QStringLiteral("-l") << QString::fromStdString(folder + "/server.log")
            << QStringLiteral("-m") << QStringLiteral("fast") << QStringLiteral("-w")
            << QStringLiteral("restart");
    if (geteuid() == 0)
        command =
            QStringList{QStringLiteral("-u"), QStringLiteral("postgres"), QStringLiteral("--")} +
            command;
    const QString program = geteuid() == 0 ? QStringLiteral("runuser") : command.takeFirst();
    QProcess process;
    process.start(program, command);
    if (!process.waitForFinished(60000) || process.exitCode() != 0)
        throw std::runtime_error("the test server could not be restarted: " +
                                 process.readAllStandardError().toStdString());
}

RefusingSslServer::RefusingSslServer() {
    listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, 4) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("no loopback socket for the refusing server");
    port = ntohs(address.sin_port);
    answering = std::thread([this] {
        while (!stopping) {
            pollfd waiting{listener, POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0)
                continue;
            const int client = ::accept(listener, nullptr, nullptr);
            if (client < 0)
                continue;
            // The client's SSLRequest (length, then the code 80877103): 'N',
            // as a server without SSL answers.
            char request[8];
            if (::recv(client, request, sizeof request, MSG_WAITALL) == sizeof request)
                ::send(client, "N", 1, MSG_NOSIGNAL);
            char rest[256];
            while (::recv(client, rest, sizeof rest, 0) > 0) {
            }
            ::close(client);
        }
    });
}

RefusingSslServer::~RefusingSslServer() {
    stopping = true;
    answering.join();
    ::close(listener);
}
