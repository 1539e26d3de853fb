// The server engine (PostgreSQL): opening a connection from a URI, what the
// open connection says of itself (its login, whether it reaches a standby,
// whether it was lost), and the French words for the server's and libpq's
// errors.
#include "data/absdatabase.h"

#include "data/ansistring.h"
#include "data/engine_p.h"
#include "data/serveraddress.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QVariant>

#include <libpq-fe.h>

namespace {

// How long a connection to a server may take, in seconds, unless the URI
// says otherwise.
constexpr int kConnectTimeoutSeconds = 10;

PGconn* serverHandle(const QSqlDatabase& db) {
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the type after libpq's struct, "pg_conn*".
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(handle.data());
}

} // namespace

QString engine::ServerWords(const QSqlError& error, const QString& text, bool standby) {
    const QString code = error.nativeErrorCode();
    const auto has = [&](const char* words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    // PostgreSQL's SQLSTATE codes, or libpq's words when connecting.
    if (code == QLatin1String("53100"))
        return DiskFullWords();
    if (code == QLatin1String("55P03"))
        return QStringLiteral("Les tables sont verrouillées par un autre programme : "
                              "l'attente a expiré.");
    if (code == QLatin1String("42P01"))
        return MissingTableWords();
    if (code == QLatin1String("25006"))
        return standby || has("during recovery")
                   ? QStringLiteral("Écriture refusée : le serveur est une réplique en lecture "
                                    "seule, qui ne reçoit que les modifications de son serveur "
                                    "principal. Rien n'a été modifié.")
                   : QStringLiteral("Écriture refusée : le serveur n'accepte que des lectures. "
                                    "Rien n'a été modifié.");
    if (code == QLatin1String("42703"))
        return MissingColumnWords();
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

std::string ServerErrorMessage(PGconn* connection, const PGresult* result) {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const char* text = result ? PQresultErrorMessage(result) : PQerrorMessage(connection);
    return EngineErrorMessage(QSqlError(QStringLiteral("Unable to execute statement"),
                                        QString::fromUtf8(text), QSqlError::StatementError,
                                        QString::fromLatin1(state ? state : "")));
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
