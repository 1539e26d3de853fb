// The database component whatever the engine: its connection, opened by the
// engine its name calls for (sqliteengine.cpp, postgresqlengine.cpp), the
// statement trace, the running of statements and the French messages for
// the engines' errors.
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

void TABSDatabase::Select(const std::string& statement, QStringList& columns, Rows& rows) {
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
    while (query.next())
        for (int i = 0; i < count; ++i)
            rows.AddValue(query.value(i));
    if (query.lastError().isValid())
        throw EDatabaseError(EngineErrorMessage(query.lastError()));
}

void TABSDatabase::runControl(const std::string& statement, bool canRetry, bool traced) {
    Connection();
    if (traced)
        trace(statement);
    Execute(statement, true, canRetry);
}
