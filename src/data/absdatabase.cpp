#include "data/absdatabase.h"

#include "data/ansistring.h"
#include "data/engine_p.h"
#include "data/serveraddress.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QVariant>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>

Q_LOGGING_CATEGORY(lcSql, "quadrivel.sql", QtWarningMsg)

namespace {

// How long a connection to a server may take, in seconds, unless the URI
// says otherwise.
constexpr int kConnectTimeoutSeconds = 10;

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

// The French words for an error, or an empty text when it is none of the
// common cases. standby: the server is a standby, which refuses every write.
QString frenchWords(const QSqlError& error, const QString& text, bool standby) {
    const QString code = error.nativeErrorCode();
    const auto has = [&](const char* words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    // PostgreSQL's SQLSTATE codes, or libpq's words when connecting.
    if (code == QLatin1String("53100"))
        return engine::DiskFullWords();
    if (code == QLatin1String("55P03"))
        return QStringLiteral("Les tables sont verrouillées par un autre programme : "
                              "l'attente a expiré.");
    if (code == QLatin1String("42P01"))
        return engine::MissingTableWords();
    if (code == QLatin1String("25006"))
        return standby || has("during recovery")
                   ? QStringLiteral("Écriture refusée : le serveur est une réplique en lecture "
                                    "seule, qui ne reçoit que les modifications de son serveur "
                                    "principal. Rien n'a été modifié.")
                   : QStringLiteral("Écriture refusée : le serveur n'accepte que des lectures. "
                                    "Rien n'a été modifié.");
    if (code == QLatin1String("42703"))
        return engine::MissingColumnWords();
    if (code == QLatin1String("42501"))
        return QStringLiteral("Le serveur refuse cette opération : ce compte n'en a pas le "
                              "droit. Rien n'a été modifié.");
    if (code.startsWith(QLatin1String("08")) || code.startsWith(QLatin1String("57P")) ||
        has("server closed the connection") || has("no connection to the server") ||
        has("terminating connection"))
        return QStringLiteral("La connexion au serveur a été perdue.");
    // libpq's refusals of the URI itself, and a server that answered but
    // refuses the encryption asked for: neither is unreachable.
    if (error.type() == QSqlError::ConnectionError &&
        (has("invalid connection option") || has("invalid sslmode value") ||
         has("for connection option") || has("invalid URI") || has("missing \"=\"")))
        return QStringLiteral("L'adresse du serveur contient un paramètre inconnu ou une valeur "
                              "refusée : voyez les paramètres de connexion de libpq.");
    if (error.type() == QSqlError::ConnectionError && has("does not support SSL"))
        return QStringLiteral("Le serveur refuse la connexion chiffrée (SSL) que l'adresse "
                              "demande.");
    if (code == QLatin1String("28P01") || code == QLatin1String("28000") ||
        (error.type() == QSqlError::ConnectionError &&
         (has("authentication failed") || has("password") || has("authentification"))))
        return QStringLiteral("Le serveur a refusé l'identification : utilisateur ou mot de "
                              "passe incorrect.");
    if (code == QLatin1String("3D000") || (error.type() == QSqlError::ConnectionError &&
                                           (has("does not exist") || has("n'existe pas"))))
        return QStringLiteral("La base de données demandée n'existe pas sur ce serveur.");
    if (error.type() == QSqlError::ConnectionError &&
        (has("could not connect") || has("connection refused") || has("no such file") ||
         has("could not translate host") || has("timeout expired") || has("failed:") ||
         has("is the server running")))
        return QStringLiteral("Le serveur de base de données est injoignable.");
    return QString();
}

PGconn* serverHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the type after libpq's struct, "pg_conn*".
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.data());
}

} // namespace

bool IsServerUri(const std::string& name) {
    return name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
}

std::string EngineErrorMessage(const QSqlError& error, bool standby) {
    const QString text = engineText(error);
    QString words = engine::FileWords(error, text);
    if (words.isEmpty())
        words = frenchWords(error, text, standby);
    if (words.isEmpty())
        return ToAnsi(text);
    return ToAnsi(words + QStringLiteral("\nMessage du moteur : ") + text);
}

std::string ServerErrorMessage(PGconn* connection, const PGresult* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* text = result ? PQresultErrorMessage(result) : PQerrorMessage(connection);
    return EngineErrorMessage(QSqlError(QStringLiteral("Unable to execute statement"),
                                        QString::fromUtf8(text), QSqlError::StatementError,
                                        QString::fromLatin1(state ? state : "")));
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

PGconn* TABSDatabase::ServerHandle() {
    return serverHandle(Connection());
}

void TABSDatabase::openServer(const QString& alias) {
    const TServerAddress address =
        ReadServerAddress(DatabaseFileName, kConnectTimeoutSeconds, BusyTimeout);
    const QString shown = FromAnsi(DisplayName());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), alias);
    connectionName = alias;
    db.setDatabaseName(address.dbname);
    db.setHostName(address.host);
    db.setPort(address.port);
    db.setUserName(address.user);
    db.setPassword(address.password);
    db.setConnectOptions(address.options);

    QString refusal;
    if (db.open()) {
        // Text values are spliced between quotes with doubled quotes, which
        // is safe only while backslashes are ordinary characters.
        PGconn* conn = serverHandle(db);
        const char* conforming =
            conn ? PQparameterStatus(conn, "standard_conforming_strings") : nullptr;
        login = conn && PQuser(conn) ? PQuser(conn) : "";
        if (!conforming || qstrcmp(conforming, "on") != 0)
            refusal = QStringLiteral("Le serveur a le réglage standard_conforming_strings à "
                                     "« off » : Quadrivel refuse de s'en servir, car les "
                                     "textes des requêtes n'y seraient pas lus tels quels. "
                                     "Demandez à l'administrateur du serveur de le remettre "
                                     "à « on ».");
    } else {
        refusal =
            WithoutPasswordPieces(DatabaseFileName, FromAnsi(EngineErrorMessage(db.lastError())));
    }
    if (refusal.isEmpty())
        return;
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName);
    connectionName.clear();
    login.clear();
    throw EDatabaseError(ToAnsi(
        QStringLiteral("Impossible d'ouvrir la base de données « %1 » : %2").arg(shown, refusal)));
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

bool TABSDatabase::onStandby() const {
    // The server reports it (PostgreSQL 14 and later), and again when promoted.
    const PGconn* conn = serverHandle(connection);
    const char* standby = conn ? PQparameterStatus(conn, "in_hot_standby") : nullptr;
    return standby && qstrcmp(standby, "on") == 0;
}

bool TABSDatabase::connectionLost(const QSqlError& error) const {
    if (connectionName.isEmpty())
        return false;
    PGconn* conn = serverHandle(connection);
    if (!conn)
        return false;
    // The server's last words (administrator's shutdown, crash) come before
    // libpq notices the closed socket.
    const QString code = error.nativeErrorCode();
    return PQstatus(conn) == CONNECTION_BAD || code.startsWith(QLatin1String("57P")) ||
           code.startsWith(QLatin1String("08"));
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
