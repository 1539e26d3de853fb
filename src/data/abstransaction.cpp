// Transactions: the engine's statements that begin and end them, and the
// object that rolls one back unless it was committed.
#include "data/absdatabase.h"

#include <algorithm>

void TABSDatabase::StartTransaction(TransactionKind kind,
                                    const std::vector<std::string>& lockTables) {
    if (inTransaction)
        throw EDatabaseError("Une transaction est déjà en cours sur cette base de données.");
    tracedTransaction = kind == TransactionKind::Write;
    if (!OnServer()) {
        // SQLite locks the whole file: IMMEDIATE already excludes other writers.
        runControl(kind == TransactionKind::Write ? "BEGIN IMMEDIATE" : "BEGIN", true,
                   tracedTransaction);
        inTransaction = true;
        return;
    }
    if (kind == TransactionKind::Read) {
        runControl("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", true, false);
        inTransaction = true;
        return;
    }
    runControl("BEGIN", true);
    inTransaction = true;
    if (lockTables.empty())
        return;
    // SHARE ROW EXCLUSIVE conflicts with itself and with every write, not
    // with reads; the tables in one order, so that two such transactions
    // never wait for each other crosswise.
    std::vector<std::string> tables = lockTables;
    std::sort(tables.begin(), tables.end());
    std::string statement = "LOCK TABLE ";
    for (std::size_t i = 0; i < tables.size(); ++i)
        statement += (i > 0 ? ", " : "") + tables[i];
    try {
        runControl(statement + " IN SHARE ROW EXCLUSIVE MODE");
    } catch (...) {
        Rollback();
        throw;
    }
}

void TABSDatabase::Commit() {
    runControl("COMMIT", false, tracedTransaction);
    inTransaction = false;
}

void TABSDatabase::Rollback() {
    if (!inTransaction)
        return;
    inTransaction = false;
    if (!Connected())
        return;
    try {
        runControl("ROLLBACK", false, tracedTransaction);
    } catch (const EDatabaseError&) {
        // The engine has already ended the transaction (SQLite does so on some
        // errors): nothing is left to undo.
    }
}

TABSTransaction::TABSTransaction(TABSDatabase* database, TABSDatabase::TransactionKind kind,
                                 const std::vector<std::string>& lockTables)
    : database(database) {
    database->StartTransaction(kind, lockTables);
}

TABSTransaction::~TABSTransaction() {
    if (!done)
        database->Rollback();
}

void TABSTransaction::Commit() {
    database->Commit();
    done = true;
}
