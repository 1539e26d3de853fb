#include "data/absdatabase.h"

#include "data/ansistring.h"

#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QVariant>

Q_LOGGING_CATEGORY(lcSql, "quadrivel.sql", QtWarningMsg)

namespace {

std::string engineMessage(const QSqlError& error) {
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.text();
    if (text.isEmpty())
        text = QStringLiteral("erreur inconnue du moteur de base de données");
    return ToAnsi(text);
}

} // namespace

// --- TABSDatabase -----------------------------------------------------------

TABSDatabase::TABSDatabase(QObject* owner)
    : QObject(owner) {}

TABSDatabase::~TABSDatabase() {
    // Queries still owned by the component go first, then the connection.
    qDeleteAll(findChildren<TABSQuery*>(Qt::FindDirectChildrenOnly));
    Close();
}

bool TABSDatabase::Connected() const {
    return !connectionName.isEmpty() && QSqlDatabase::database(connectionName, false).isOpen();
}

QSqlDatabase TABSDatabase::Connection() {
    if (Connected())
        return QSqlDatabase::database(connectionName, false);

    const QString path = FromAnsi(DatabaseFileName);
    if (path.isEmpty())
        throw EDatabaseError("Aucun fichier de base de données n'est indiqué.");
    const QFileInfo info(path);
    if (!info.exists())
        throw EDatabaseError(ToAnsi(QStringLiteral("Le fichier de base de données « %1 » "
                                                   "n'existe pas.")
                                        .arg(path)));
    if (info.isDir())
        throw EDatabaseError(ToAnsi(
            QStringLiteral("« %1 » est un dossier, pas un fichier de base de données.").arg(path)));

    const QString alias = FromAnsi(DatabaseName);
    if (QSqlDatabase::contains(alias))
        throw EDatabaseError(ToAnsi(
            QStringLiteral("L'alias de base de données « %1 » est déjà utilisé.").arg(alias)));

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), alias);
    connectionName = alias;
    // A URI, so that the file is opened read-write and never created; the path
    // is percent-encoded so that '#' or '?' in a file name stay in it. An
    // absolute path goes after an empty authority ("file:///..."), so that a
    // path beginning with "//" is not read as a host name.
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(path, "/"));
    const QString uri = (path.startsWith(QLatin1Char('/')) ? QStringLiteral("file://%1?mode=rw")
                                                           : QStringLiteral("file:%1?mode=rw"))
                            .arg(encoded);
    db.setDatabaseName(uri);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeout));
    if (!db.open()) {
        const std::string message = engineMessage(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        connectionName.clear();
        throw EDatabaseError(ToAnsi(QStringLiteral("Impossible d'ouvrir la base de données "
                                                   "« %1 » : ")
                                        .arg(path)) +
                             message);
    }
    return db;
}

void TABSDatabase::Close() {
    if (connectionName.isEmpty())
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(connectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    connectionName.clear();
    inTransaction = false;
}

void TABSDatabase::runControl(const std::string& statement, bool traced) {
    QSqlDatabase db = Connection();
    if (traced) {
        if (OnStatement)
            OnStatement(statement);
        qCDebug(lcSql).noquote() << FromAnsi(statement);
    }
    QSqlQuery query(db);
    if (!query.exec(FromAnsi(statement)))
        throw EDatabaseError(engineMessage(query.lastError()));
}

void TABSDatabase::StartTransaction(TransactionKind kind,
                                    const std::vector<std::string>& lockTables) {
    if (inTransaction)
        throw EDatabaseError("Une transaction est déjà en cours sur cette base de données.");
    (void)lockTables; // SQLite locks the whole file: IMMEDIATE already excludes other writers
    const bool write = kind == TransactionKind::Write;
    runControl(write ? "BEGIN IMMEDIATE" : "BEGIN", write);
    inTransaction = true;
    tracedTransaction = write;
}

void TABSDatabase::Commit() {
    runControl("COMMIT", tracedTransaction);
    inTransaction = false;
}

void TABSDatabase::Rollback() {
    if (!inTransaction)
        return;
    inTransaction = false;
    if (!Connected())
        return;
    try {
        runControl("ROLLBACK", tracedTransaction);
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
    if (db->OnStatement)
        db->OnStatement(text);
    qCDebug(lcSql).noquote() << FromAnsi(text);
    return text;
}

void TABSQuery::Open() {
    Close();
    TABSDatabase* db = database();
    const std::string text = prepareText();
    QSqlQuery query(db->Connection());
    query.setForwardOnly(true);
    if (!query.exec(FromAnsi(text)))
        throw EDatabaseError(engineMessage(query.lastError()));

    auto fetched = std::make_unique<Result>();
    const QSqlRecord record = query.record();
    const int count = record.count();
    for (int i = 0; i < count; ++i)
        fetched->columns << record.fieldName(i);
    while (query.next()) {
        std::vector<QVariant> row;
        row.reserve(count);
        for (int i = 0; i < count; ++i)
            row.push_back(query.value(i));
        fetched->rows.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        throw EDatabaseError(engineMessage(query.lastError()));
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
    const std::string text = prepareText();
    QSqlQuery query(db->Connection());
    if (!query.exec(FromAnsi(text)))
        throw EDatabaseError(engineMessage(query.lastError()));
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
