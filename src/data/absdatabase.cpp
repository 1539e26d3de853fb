#include "data/absdatabase.h"

#include "data/ansistring.h"
#include "data/engine_p.h"
#include "data/serveraddress.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSql, "quadrivel.sql", QtWarningMsg)

namespace {

// The engine's own message: SQLite's text, or PostgreSQL's without its
// "ERROR:" prefix and the SQLSTATE that Qt appends.
QString engineText(const QSqlError& error) {
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.driverText();
    const QString code = error.nativeErrorCode();
    if (!code.isEmpty() && text.endsWith(QStringLiteral("(%1)").arg(code)))
        text.chop(code.size() + 2);
    for (const char* prefix : {"ERROR:", "FATAL:", "ERREUR:", "ERREUR :", "FATAL :"})
        if (text.startsWith(QLatin1String(prefix)))
            text = text.mid(int(qstrlen(prefix)));
    // PL/pgSQL's call stack says nothing to a user.
    const int context = text.indexOf(QLatin1String("\nCONTEXT:"));
    if (context >= 0)
        text.truncate(context);
    // Nor does the statement's text with a caret under the faulty spot
    // ("LINE 1: ..." and the line of the caret).
    QStringList lines = text.split(QLatin1Char('\n'));
    static const QRegularExpression quoted(QStringLiteral("^LINE \\d+: "));
    static const QRegularExpression caret(QStringLiteral("^\\s*\\^\\s*$"));
    lines.removeIf([](const QString& line) {
        return quoted.match(line).hasMatch() || caret.match(line).hasMatch();
    });
    text = lines.join(QLatin1Char('\n'));
    text = text.trimmed();
    if (text.isEmpty())
        text = QStringLiteral("erreur inconnue du moteur de base de données");
    return text;
}

} // namespace

bool IsServerUri(const std::string& name) {
    return name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
}

std::string EngineErrorMessage(const QSqlError& error, bool standby) {
    const QString text = engineText(error);
    QString words = engine::FileWords(error, text);
    if (words.isEmpty())
        words = engine::ServerWords(error, text, standby);
    if (words.isEmpty())
        return ToAnsi(text);
    return ToAnsi(words + QStringLiteral("\nMessage du moteur : ") + text);
}

// --- TABSDatabase -----------------------------------------------------------

TABSDatabase::TABSDatabase(QObject* owner)
    : QObject(owner) {}

TABSDatabase::~TABSDatabase() {
    // Queries still owned by the component go first, then the connection.
    qDeleteAll(findChildren<TABSQuery*>(Qt::FindDirectChildrenOnly));
    Close();
}

bool TABSDatabase::Connected() const {
    return !connectionName.isEmpty() && connection.isOpen();
}

std::string TABSDatabase::DisplayName() const {
    return DisplayDatabaseName(DatabaseFileName);
}

std::string DisplayDatabaseName(const std::string& name) {
    if (!IsServerUri(name))
        return ToAnsi(QFile::decodeName(QByteArray::fromStdString(name)));
    return ServerDisplayName(name);
}

QSqlDatabase TABSDatabase::Connection() {
    if (Connected())
        return connection;

    const QString alias = FromAnsi(DatabaseName);
    if (DatabaseFileName.empty())
        throw EDatabaseError("Aucun fichier de base de données n'est indiqué.");
    if (!OnServer())
        checkFile();
    if (QSqlDatabase::contains(alias))
        throw EDatabaseError(ToAnsi(
            QStringLiteral("L'alias de base de données « %1 » est déjà utilisé.").arg(alias)));

    if (OnServer())
        openServer(alias);
    else
        openFile(alias);
    connection = QSqlDatabase::database(connectionName, false);
    return connection;
}

sqlite3* TABSDatabase::FileHandle() {
    Connection();
    return fileHandle;
}

void TABSDatabase::Close() {
    if (connectionName.isEmpty())
        return;
    connection.close();
    connection = QSqlDatabase();
    fileHandle = nullptr;
    login.clear();
    QSqlDatabase::removeDatabase(connectionName);
    connectionName.clear();
    inTransaction = false;
}

void TABSDatabase::trace(const std::string& statement) const {
    if (OnStatement)
        OnStatement(statement);
    qCDebug(lcSql).noquote() << FromAnsi(statement);
}

QSqlQuery TABSDatabase::Execute(const std::string& statement, bool forwardOnly, bool canRetry) {
    for (int attempt = 0;; ++attempt) {
        QSqlQuery query(Connection());
        query.setForwardOnly(forwardOnly);
        if (query.exec(FromAnsi(statement)))
            return query;
        const QSqlError error = query.lastError();
        if (error.nativeErrorCode() == QLatin1String("22003") &&
            engineText(error).contains(QLatin1String("value out of range: overflow"))) {
            // The server ended the transaction with the error: a read one
            // starts again, so that the statements after this one run.
            if (inTransaction && !tracedTransaction) {
                runControl("ROLLBACK", false, false);
                runControl("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", false, false);
            }
            throw EDatabaseOverflow(EngineErrorMessage(error));
        }
        if (!connectionLost(error))
            throw EDatabaseError(EngineErrorMessage(error, onStandby()));
        // The server ended the transaction in progress with the connection:
        // nothing of it was written. Only a statement that writes nothing
        // and belongs to no transaction runs again.
        const bool retry = canRetry && !inTransaction && attempt == 0;
        query = QSqlQuery();
        Close();
        if (!retry)
            throw EDatabaseError(
                EngineErrorMessage(error) +
                "\nLa connexion sera rétablie à la prochaine action ; rien de ce qui était en "
                "cours n'a été enregistré.");
    }
}

void TABSDatabase::Select(const std::string& statement, QStringList& columns,
                          std::vector<std::vector<QVariant>>& rows) {
    Connection();
    if (fileHandle) {
        selectFromFile(statement, columns, rows);
        return;
    }
    QSqlQuery query = Execute(statement, true, true);
    const QSqlRecord record = query.record();
    const int count = record.count();
    for (int i = 0; i < count; ++i)
        columns << record.fieldName(i);
    while (query.next()) {
        std::vector<QVariant> row;
        row.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            row.push_back(query.value(i));
        rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        throw EDatabaseError(EngineErrorMessage(query.lastError()));
}

void TABSDatabase::runControl(const std::string& statement, bool canRetry, bool traced) {
    Connection();
    if (traced)
        trace(statement);
    Execute(statement, true, canRetry);
}

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

// --- TABSTransaction --------------------------------------------------------

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

// --- TABSStrings ------------------------------------------------------------

std::string TABSStrings::Text() const {
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += '\n';
        text += lines[i];
    }
    return text;
}

// --- TABSQuery --------------------------------------------------------------

// The rows of an open SELECT, read at Open so that RecordCount is known.
struct TABSQuery::Result {
    QStringList columns;
    std::vector<std::vector<QVariant>> rows;
    std::size_t current = 0;
};

TABSQuery::TABSQuery(TABSDatabase* owner)
    : QObject(owner) {}

TABSQuery::~TABSQuery() = default;

TABSDatabase* TABSQuery::database() const {
    auto* db = qobject_cast<TABSDatabase*>(parent());
    if (!db)
        throw EDatabaseError("La requête n'a pas de base de données.");
    if (DatabaseName != db->DatabaseName)
        throw EDatabaseError("La base de données « " + DatabaseName + " » est inconnue.");
    return db;
}

std::string TABSQuery::prepareText() const {
    const std::string text = SQL.Text();
    TABSDatabase* db = database();
    db->Connection();
    db->trace(text);
    return text;
}

void TABSQuery::Open() {
    Close();
    TABSDatabase* db = database();
    auto fetched = std::make_unique<Result>();
    db->Select(prepareText(), fetched->columns, fetched->rows);
    result = std::move(fetched);
}

bool TABSQuery::Eof() const {
    return !result || result->current >= result->rows.size();
}

void TABSQuery::Next() {
    if (!Eof())
        ++result->current;
}

TABSField TABSQuery::FieldByName(const std::string& name) const {
    if (!result)
        throw EDatabaseError("La requête n'est pas ouverte.");
    const QString wanted = FromAnsi(name);
    for (int i = 0; i < result->columns.size(); ++i)
        if (result->columns[i].compare(wanted, Qt::CaseInsensitive) == 0)
            return TABSField(this, i);
    throw EDatabaseError("Champ introuvable : " + name);
}

int TABSQuery::RecordCount() const {
    return result ? static_cast<int>(result->rows.size()) : 0;
}

const QVariant& TABSQuery::valueAt(int index) const {
    if (Eof())
        throw EDatabaseError("La requête n'a pas de ligne courante.");
    return result->rows[result->current][static_cast<std::size_t>(index)];
}

void TABSQuery::Close() {
    result.reset();
}

void TABSQuery::ExecSQL() {
    Close();
    TABSDatabase* db = database();
    db->Execute(prepareText(), true, false);
}

// --- TABSField --------------------------------------------------------------

TABSField::TABSField(const TABSQuery* query, int index)
    : query(query)
    , index(index) {}

std::string TABSField::AsAnsiString() const {
    const QVariant& value = query->valueAt(index);
    return value.isNull() ? std::string() : ToAnsi(value.toString());
}

double TABSField::AsFloat() const {
    const QVariant& value = query->valueAt(index);
    if (value.isNull())
        return 0.0;
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok ? number : 0.0;
}

std::unique_ptr<TABSQuery> NewQuery(TABSDatabase* database, const std::string& statement) {
    if (!database)
        throw EDatabaseError("Aucune base de données n'est associée à cette fenêtre.");
    auto query = std::make_unique<TABSQuery>(database);
    query->DatabaseName = database->DatabaseName;
    query->SQL.Add(statement);
    return query;
}
