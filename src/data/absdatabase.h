// The engine layer: one database component per program, found by its alias,
// and one query object per statement, over Qt SQL with SQLite (a file) or
// PostgreSQL (a shared server).
#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

class QSqlError;
struct sqlite3;
struct sqlite3_stmt;
struct pg_conn;
struct pg_result;

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Every failure of the engine: the file cannot be opened, a table or column is
// missing, a statement is rejected. what() carries the engine's message.
class EDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A number beyond the range of the engine's floating-point type, such as a
// sum that overflows (SQLite gives infinity instead). A read transaction on a
// server goes on after it, from a new snapshot.
class EDatabaseOverflow : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Whether a database name is a PostgreSQL connection URI (postgresql:// or
// postgres://) rather than the path of an SQLite file.
bool IsServerUri(const std::string& name);

// A database name as it may be shown (messages, context line, print): a
// server URI without any part of a password (the password parameter goes, and
// the whole user-info of a URI that does not parse); a file's path as the
// system encodes file names, in UTF-8.
std::string DisplayDatabaseName(const std::string& name);

// The French words for an engine's error, followed by the engine's own
// message: a missing file, a file that is no database, a lock held past the
// wait, a read-only file, a server that cannot be reached, a refused login, a
// missing database or table, a refused right, a lost connection, a write on a
// server that only reads (a standby, when standby is true or the server says
// so). Any other error reads as the engine's message alone.
std::string EngineErrorMessage(const QSqlError& error, bool standby = false);
// The same for a statement run straight through the engine's C API: SQLite's
// result code on a file's handle, or libpq's failed result (or the
// connection's own error when result is null).
std::string FileErrorMessage(sqlite3* handle, int code);
std::string ServerErrorMessage(pg_conn* connection, const pg_result* result);

// The database component. DatabaseFileName names an SQLite file or, as a
// postgresql:// URI, a database on a PostgreSQL server; it opens on the first
// statement and stays open while the component lives. A file is opened
// read-write, never created, and shared with other programs: a lock they hold
// is waited for (BusyTimeout) before the statement fails. On a server, the
// same wait applies to table locks, and a connection lost between two
// statements is opened again by the next one.
class TABSDatabase : public QObject {
    Q_OBJECT
public:
    explicit TABSDatabase(QObject* owner = nullptr);
    ~TABSDatabase() override;

    // Alias by which queries find the database.
    std::string DatabaseName = "quadrivel";
    std::string DatabaseFileName;
    // Other programs may use the file at the same time.
    bool MultiUser = true;
    bool Exclusive = false;
    // How long a statement waits for another program's lock, in milliseconds.
    int BusyTimeout = 5000;

    // Called with every statement text, exactly as run, before it runs.
    std::function<void(const std::string&)> OnStatement;

    bool Connected() const;
    bool OnServer() const { return IsServerUri(DatabaseFileName); }
    // DatabaseFileName without any password, for messages.
    std::string DisplayName() const;
    // On a server, the login role of the open connection, whose rights decide
    // what the statements read; empty for a file or before the connection.
    const std::string& Login() const { return login; }
    // The open connection; opens the file first when needed.
    QSqlDatabase Connection();
    // The engine's own handle of the open connection, for work the engine
    // layer does not do (bulk loads): SQLite's on a file, libpq's on a
    // server, null on the other engine. Opens the connection first.
    sqlite3* FileHandle();
    pg_conn* ServerHandle();
    void Close();

    // What a transaction is for. A write transaction takes the engine's write
    // lock at its start (SQLite: BEGIN IMMEDIATE; PostgreSQL: BEGIN, then
    // LOCK TABLE on lockTables, a mode that excludes every other writer of
    // those tables and every other such transaction), so that what it reads
    // cannot change before it writes. A read transaction reads every statement
    // from one snapshot and never writes (PostgreSQL: REPEATABLE READ, READ
    // ONLY); it changes nothing, so its own statements stay out of the trace.
    enum class TransactionKind { Read, Write };
    void StartTransaction(TransactionKind kind = TransactionKind::Write,
                          const std::vector<std::string>& lockTables = {});
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction; }

    // Runs a statement already traced and returns it executed. A read outside
    // a transaction whose server connection was lost runs once more on a new
    // connection; any other statement that meets a lost connection fails with
    // the connection closed, to be opened again by the next statement.
    QSqlQuery Execute(const std::string& statement, bool forwardOnly, bool canRetry);

    // The rows of a SELECT as read: numbers as they are, texts in UTF-8 one
    // after the other in one block, any other value as Qt gives it. A list
    // of a million rows takes a few tens of bytes a row.
    class Rows {
    public:
        void AddNull();
        void AddInteger(qlonglong value);
        void AddReal(double value);
        void AddText(const char* utf8, std::size_t size);
        // A value from Qt's driver.
        void AddValue(const QVariant& value);
        std::size_t CellCount() const { return cells.size(); }
        // Empties the rows, keeping the room they took for the next ones.
        void Clear();
        QVariant Value(std::size_t cell) const;

    private:
        enum class Kind : unsigned char { Null, Integer, Real, Text, Other };
        struct Cell {
            Kind kind = Kind::Null;
            std::uint32_t size = 0;
            union {
                qlonglong integer;
                double real;
                std::size_t offset;
            };
        };
        std::vector<Cell> cells;
        std::string texts;
        std::vector<QVariant> others;
    };

private:
    friend class TABSQuery;
    void runControl(const std::string& statement, bool canRetry = false, bool traced = true);
    // Runs a SELECT already traced and reads every row of it.
    void Select(const std::string& statement, QStringList& columns, Rows& rows);
    void selectFromFile(const std::string& statement, QStringList& columns, Rows& rows);
    // A SELECT prepared on the file, its columns named; then its rows one at
    // a time: false once there is none left.
    using FileStatement = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;
    FileStatement prepareOnFile(const std::string& statement, QStringList& columns);
    bool stepOnFile(sqlite3_stmt* statement, Rows& rows);
    void trace(const std::string& statement) const;
    // Throws, in French, when DatabaseFileName names no file or a folder.
    void checkFile() const;
    void openFile(const QString& alias);
    void openServer(const QString& alias);
    bool connectionLost(const QSqlError& error) const;
    // Whether the open server connection reaches a standby (a read replica).
    bool onStandby() const;

    QString connectionName;
    // The open connection, kept so that a statement does not look it up by
    // name (a lock and a search each time); SQLite's own handle for reads.
    QSqlDatabase connection;
    sqlite3* fileHandle = nullptr;
    std::string login;
    bool inTransaction = false;
    bool tracedTransaction = true;
};

// A write made of several statements: committed by Commit(), rolled back when
// the object goes out of scope without it.
class TABSTransaction {
public:
    explicit TABSTransaction(
        TABSDatabase* database,
        TABSDatabase::TransactionKind kind = TABSDatabase::TransactionKind::Write,
        const std::vector<std::string>& lockTables = {});
    ~TABSTransaction();
    TABSTransaction(const TABSTransaction&) = delete;
    TABSTransaction& operator=(const TABSTransaction&) = delete;
    void Commit();

private:
    TABSDatabase* database;
    bool done = false;
};

class TABSQuery;

// One column of the current row.
class TABSField {
public:
    TABSField(const TABSQuery* query, int index);
    std::string AsAnsiString() const;
    double AsFloat() const; // NULL reads as 0

private:
    const TABSQuery* query;
    int index;
};

// The statement text of a query, a list of lines.
class TABSStrings {
public:
    void Add(const std::string& line) { lines.push_back(line); }
    void Clear() { lines.clear(); }
    std::string Text() const;

private:
    std::vector<std::string> lines;
};

// One statement. Owned by its database component: a query the program does not
// destroy is destroyed with the component.
class TABSQuery : public QObject {
    Q_OBJECT
public:
    explicit TABSQuery(TABSDatabase* owner);
    ~TABSQuery() override;

    std::string DatabaseName;
    TABSStrings SQL;

    // Runs a SELECT and stands on its first row (or at Eof).
    void Open();
    // The same, for a list read once from first to last. On a file, each
    // row is read when Next comes to it, while other statements run: a list
    // of a million rows is never held whole, and RecordCount is not known
    // (0). A statement that fails midway throws from Next. On a server it
    // is Open.
    void OpenForward();
    bool Eof() const;
    void Next();
    TABSField FieldByName(const std::string& name) const;
    int RecordCount() const;
    void Close();
    // Runs an INSERT or a DELETE.
    void ExecSQL();

private:
    friend class TABSField;
    TABSDatabase* database() const;
    std::string prepareText() const;
    QVariant valueAt(int index) const;

    struct Result;
    std::unique_ptr<Result> result;
};

// A new query on the database with the statement as its one line, bound to the
// database's alias; the caller owns it.
std::unique_ptr<TABSQuery> NewQuery(TABSDatabase* database, const std::string& statement);
