// Shared pieces of the test programs: fixture database files, recorded
// messages with chosen answers, recorded statements.
#pragma once

#include "ui/toolkit.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTreeView>

#include <atomic>
#include <deque>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class QComboBox;
class QWidget;
class TABSDatabase;

struct pg_conn;

// A database made from the schema and then from the given SQL text
// (statements separated by ';'). The engine is the run's: an SQLite file in a
// temporary folder, or, when QUADRIVEL_TEST_ENGINE is "postgresql", a new
// database on the server named by QUADRIVEL_TEST_PG_URI, dropped at the end.
class FixtureFile {
public:
    explicit FixtureFile(const std::string& sql = std::string(), bool withSchema = true);
    ~FixtureFile();
    FixtureFile(const FixtureFile&) = delete;
    FixtureFile& operator=(const FixtureFile&) = delete;

    static bool OnServer();
    // The file's path, or the database's URI.
    std::string Path() const { return path; }
    // The server database's URI for another role, with its password.
    std::string UriAs(const std::string& user, const std::string& password = {}) const;
    // Runs statements outside the program's engine layer (sqlite3 C API or
    // libpq), on a connection of their own.
    void Exec(const std::string& sql) const;
    // The rows of a SELECT, each row's columns joined by '|', rows in order.
    std::vector<std::string> Rows(const std::string& sql) const;
    QString Folder() const { return dir.path(); }

    // Runs db/roles-postgresql.sql, then makes a login role in each group:
    // lecteur_essai (reader) and admin_essai (administrator), neither mapped
    // to a user code.
    void MakeRoles() const;
    // Maps a login to the user code it stands for, as the owner does.
    void MapLogin(const std::string& login, const std::string& code) const;
    // The rows of the last of the statements, run on a connection of their
    // own as that login (server only); std::runtime_error with the server's
    // message when one fails.
    std::vector<std::string> RowsAs(const std::string& login, const std::string& sql) const;

    // The control statements that start a write transaction locking tables.
    std::vector<std::string> WriteBegin(const std::vector<std::string>& tables) const;
    // A trigger that refuses every `operation` (INSERT, DELETE) on table with
    // message as the engine's error.
    void RefuseWrites(const std::string& name, const std::string& operation,
                      const std::string& table, const std::string& message) const;

private:
    QTemporaryDir dir;
    std::string path;
    std::string serverName;
    pg_conn* server = nullptr;
};

// Another program holding the write lock of the fixture's admin tables
// (dim_niveau, niveau_agence; on SQLite the whole file) until Release() or
// its end.
class WriteLock {
public:
    explicit WriteLock(const FixtureFile& fixture);
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;
    bool Held() const { return held; }
    void Release();

private:
    void* sqlite = nullptr;
    pg_conn* server = nullptr;
    bool held = false;
};

// Replaces the message boxes while it lives: records every message and answers
// confirmations from a queue (No when the queue is empty).
class MessageRecorder {
public:
    struct Message {
        toolkit::MessageKind kind;
        std::string text;
    };
    MessageRecorder();
    ~MessageRecorder();
    void AnswerNext(bool yes) { answers.push_back(yes); }
    std::vector<Message> messages;
    std::vector<std::string> Texts(toolkit::MessageKind kind) const;
    void Clear() { messages.clear(); }

private:
    std::deque<bool> answers;
};

// Shows a window and lets its first activation run, as it does once the
// window is on screen.
void ShowForm(QWidget& window);

// A user's pick of an entry of a drop-down list: the entry is chosen and the
// list's change handler runs.
void Pick(QComboBox* list, int index);

// A user's click on a list's row, adding it to the rows chosen; and whether
// a row is chosen.
void SelectRow(QTreeView* list, int row);
bool RowSelected(const QTreeView* list, int row);
int RowCount(const QTreeView* list);

// Waits, from the event loop, for the next modal window of the program to be
// up and done with its first activation (not under the busy cursor), runs
// check on it, then closes it. Use before the click that opens it.
void CloseNextModal(const std::function<void(QWidget*)>& check = {});

// What a program run to its end left: its exit status (-1 when it crashed or
// did not end within a minute), standard output and standard error.
struct Run {
    int status;
    QByteArray out;
    QString err;
};
Run RunProgram(const QString& program, const QStringList& arguments);

// A PDF file as poppler's tools read it: the text of each page (pdftotext
// -layout), empty when the file cannot be read.
QStringList PdfPageTexts(const QString& path);
// How far the ink of a PDF page (first is 1) stays from each edge of the
// sheet, in millimetres, read from poppler's rendering at 100 dots per inch
// (one dot is 0.254 mm), with the sheet's size in millimetres. All -1 when
// the page cannot be rendered or holds no ink.
struct PdfInk {
    double left = -1, top = -1, right = -1, bottom = -1;
    double width = -1, height = -1;
};
PdfInk PdfPageInk(const QString& path, int page);

// Records every statement a database component runs.
class StatementRecorder {
public:
    explicit StatementRecorder(TABSDatabase* database);
    ~StatementRecorder();
    std::vector<std::string> statements;
    void Clear() { statements.clear(); }

private:
    TABSDatabase* database;
};

// Restarts the test server of QUADRIVEL_TEST_PG_URI (fast shutdown, then a
// start): every connection to it is closed by the server.
void RestartTestServer();

// A TCP server on the loopback interface that answers a libpq client as a
// PostgreSQL server without SSL does, refusing its SSLRequest.
class RefusingSslServer {
public:
    RefusingSslServer();
    ~RefusingSslServer();
    RefusingSslServer(const RefusingSslServer&) = delete;
    RefusingSslServer& operator=(const RefusingSslServer&) = delete;
    int port = 0;

private:
    int listener = -1;
    std::atomic<bool> stopping = false;
    std::thread answering;
};
