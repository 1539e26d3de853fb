// The engine layer: one database component per program, found by its alias,
// and one query object per statement, over Qt SQL and SQLite.
#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QVariant>

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

// The database component. The file named by DatabaseFileName opens on the
// first statement and stays open while the component lives. The file is
// opened read-write, never created, and shared with other programs: a lock
// they hold is waited for (BusyTimeout) before the statement fails.
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
    // The open connection; opens the file first when needed.
    QSqlDatabase Connection();
    void Close();

    // What a transaction is for. A write transaction takes the engine's write
    // lock at its start (SQLite: BEGIN IMMEDIATE), so that what it reads
    // cannot change before it writes; LockTables names the tables whose
    // writers it must exclude on an engine that locks per table. A read
    // transaction reads every statement from one snapshot and never writes;
    // it changes nothing, so its own statements stay out of the trace.
    enum class TransactionKind { Read, Write };
    void StartTransaction(TransactionKind kind = TransactionKind::Write,
                          const std::vector<std::string>& lockTables = {});
    void Commit();
    void Rollback();
    bool InTransaction() const { return inTransaction; }

private:
    void runControl(const std::string& statement, bool traced = true);

    QString connectionName;
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
    const QVariant& valueAt(int index) const;

    struct Result;
    std::unique_ptr<Result> result;
};

// A new query on the database with the statement as its one line, bound to the
// database's alias; the caller owns it.
std::unique_ptr<TABSQuery> NewQuery(TABSDatabase* database, const std::string& statement);
