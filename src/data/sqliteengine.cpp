// The file engine (SQLite): opening a file shared with other programs,
// reading a SELECT straight from SQLite's handle, and the French words for
// SQLite's errors.
#include "data/absdatabase.h"

#include "data/ansistring.h"
#include "data/engine_p.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <sqlite3.h>

#include <filesystem>
#include <memory>

QString engine::FileWords(const QSqlError& error, const QString& text) {
    const QString code = error.nativeErrorCode();
    const auto has = [&](const char* words) {
        return text.contains(QLatin1String(words), Qt::CaseInsensitive);
    };
    if (code == QLatin1String("26") || has("file is not a database"))
        return QStringLiteral("Ce fichier n'est pas une base de données Quadrivel.");
    if (code == QLatin1String("11") || has("database disk image is malformed"))
        return QStringLiteral("Le fichier de base de données est endommagé : il faut le "
                              "remplacer par une sauvegarde.");
    if (code == QLatin1String("13") || has("database or disk is full"))
        return DiskFullWords();
    if (code == QLatin1String("5") || code == QLatin1String("6") || has("database is locked"))
        return QStringLiteral("La base de données est verrouillée par un autre programme : "
                              "l'attente a expiré.");
    if (code == QLatin1String("8") || has("readonly database"))
        return QStringLiteral("La base de données est en lecture seule : le fichier ou son "
                              "dossier ne peut pas être modifié.");
    if (code == QLatin1String("14") || has("unable to open database file"))
        return QStringLiteral("Le fichier de base de données ne peut pas être ouvert.");
    if (has("no such table"))
        return MissingTableWords();
    if (has("no such column"))
        return MissingColumnWords();
    return QString();
}

std::string FileErrorMessage(sqlite3* handle, int code) {
    return EngineErrorMessage(QSqlError(QStringLiteral("Unable to execute statement"),
                                        QString::fromUtf8(sqlite3_errmsg(handle)),
                                        QSqlError::StatementError, QString::number(code)));
}

void TABSDatabase::checkFile() const {
    // The name's bytes as the system names the file, valid UTF-8 or not.
    std::error_code error;
    const auto status = std::filesystem::status(DatabaseFileName, error);
    const QString shown = FromAnsi(DisplayName());
    if (!std::filesystem::exists(status))
        throw EDatabaseError(ToAnsi(QStringLiteral("Le fichier de base de données « %1 » "
                                                   "n'existe pas.")
                                        .arg(shown)));
    if (std::filesystem::is_directory(status))
        throw EDatabaseError(
            ToAnsi(QStringLiteral("« %1 » est un dossier, pas un fichier de base de données.")
                       .arg(shown)));
}

void TABSDatabase::openFile(const QString& alias) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), alias);
    connectionName = alias;
    // A URI, so that the file is opened read-write and never created; the
    // name's bytes are percent-encoded so that '#' or '?' in a file name stay
    // in it, and a name that is not valid UTF-8 reaches SQLite as the system
    // encodes it. An absolute path goes after an empty authority
    // ("file:///..."), so that a path beginning with "//" is not read as a
    // host name.
    const QString encoded =
        QString::fromLatin1(QByteArray::fromStdString(DatabaseFileName).toPercentEncoding("/"));
    const QString uri = (DatabaseFileName.front() == '/' ? QStringLiteral("file://%1?mode=rw")
                                                         : QStringLiteral("file:%1?mode=rw"))
                            .arg(encoded);
    db.setDatabaseName(uri);
    db.setConnectOptions(
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeout));
    if (!db.open()) {
        const std::string message = EngineErrorMessage(db.lastError());
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName);
        connectionName.clear();
        throw EDatabaseError(ToAnsi(QStringLiteral("Impossible d'ouvrir la base de données "
                                                   "« %1 » : ")
                                        .arg(FromAnsi(DisplayName()))) +
                             message);
    }
    // A page cache of 16 MB for this connection alone (SQLite's default is
    // 2 MB): the summing indexes a refresh reads on a file of millions of
    // figures stay in it from one refresh to the next. Nothing of the file
    // changes, so other programs sharing it see no difference.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -16384"));
    // Qt names the type after SQLite's struct.
    const QVariant handle = db.driver()->handle();
    if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
        fileHandle = *static_cast<sqlite3* const*>(handle.data());
}

// A SELECT on a file runs straight on SQLite's handle, from the statement's
// UTF-8 text: the values and errors are those Qt's driver would give, without
// its conversion of every statement to UTF-16 and its description of every
// column (measured: 14 % of the time of a refresh's statements).
TABSDatabase::FileStatement TABSDatabase::prepareOnFile(const std::string& statement,
                                                        QStringList& columns) {
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(fileHandle, statement.c_str(),
                                            static_cast<int>(statement.size()), &raw, nullptr);
    FileStatement stmt(raw, sqlite3_finalize);
    if (prepared != SQLITE_OK)
        throw EDatabaseError(FileErrorMessage(fileHandle, prepared));
    if (!raw) // blanks or a comment only
        throw EDatabaseError("La requête ne contient aucune instruction.");
    const int count = sqlite3_column_count(raw);
    for (int i = 0; i < count; ++i)
        columns << QString::fromUtf8(sqlite3_column_name(raw, i)).remove(QLatin1Char('"'));
    return stmt;
}

bool TABSDatabase::stepOnFile(sqlite3_stmt* statement, Rows& rows) {
    const int step = sqlite3_step(statement);
    if (step == SQLITE_DONE)
        return false;
    if (step != SQLITE_ROW)
        throw EDatabaseError(FileErrorMessage(fileHandle, step));
    const int count = sqlite3_column_count(statement);
    for (int i = 0; i < count; ++i) {
        switch (sqlite3_column_type(statement, i)) {
        case SQLITE_INTEGER:
            rows.AddInteger(static_cast<qlonglong>(sqlite3_column_int64(statement, i)));
            break;
        case SQLITE_FLOAT:
            rows.AddReal(sqlite3_column_double(statement, i));
            break;
        case SQLITE_NULL:
            rows.AddNull();
            break;
        default: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
            rows.AddText(text, std::size_t(sqlite3_column_bytes(statement, i)));
            break;
        }
        }
    }
    return true;
}

void TABSDatabase::selectFromFile(const std::string& statement, QStringList& columns, Rows& rows) {
    const FileStatement stmt = prepareOnFile(statement, columns);
    while (stepOnFile(stmt.get(), rows)) {
    }
}
