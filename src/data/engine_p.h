// What the engine layer's files share and callers never see: each engine's
// French words for its errors, and libpq's handle behind a Qt connection.
#pragma once

#include <QString>

class QSqlError;

namespace engine {

// The words for the cases both engines meet.
inline QString DiskFullWords() {
    return QStringLiteral("Le disque est plein : la base de données ne peut plus grandir. "
                          "Rien n'a été modifié.");
}
inline QString MissingTableWords() {
    return QStringLiteral("Une table attendue est absente de la base de données.");
}
inline QString MissingColumnWords() {
    return QStringLiteral("Une colonne attendue est absente de la base de données.");
}

// The French words for a file's error (SQLite's result codes and texts), or
// an empty text when it is none of the common cases. text: the engine's own
// message.
QString FileWords(const QSqlError& error, const QString& text);
// The same for a server's error (PostgreSQL's SQLSTATE codes, libpq's texts
// when connecting). standby: the server is a standby, which refuses every
// write.
QString ServerWords(const QSqlError& error, const QString& text, bool standby);

} // namespace engine
