#include "data/serveraddress.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <libpq-fe.h>

#include <algorithm>
#include <memory>

namespace {

// A libpq connection string value, quoted.
QString conninfoValue(const QString& value) {
    QString quoted = value;
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    quoted.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

} // namespace

TServerAddress ReadServerAddress(const std::string& uri, int connectTimeoutSeconds,
                                 int lockTimeoutMs) {
    const QString shown = FromAnsi(ServerDisplayName(uri));
    char* error = nullptr;
    const std::unique_ptr<PQconninfoOption, void (*)(PQconninfoOption*)> parsed(
        PQconninfoParse(uri.c_str(), &error), PQconninfoFree);
    if (!parsed) {
        const QString reason =
            WithoutPasswordPieces(uri, error ? QString::fromUtf8(error).trimmed() : QString());
        PQfreemem(error);
        throw EDatabaseError(
            ToAnsi(QStringLiteral("L'adresse du serveur « %1 » n'est pas valide : %2")
                       .arg(shown, reason)));
    }
    TServerAddress address;
    QStringList options;
    QString serverOptions;
    bool timeoutGiven = false;
    for (const PQconninfoOption* option = parsed.get(); option->keyword; ++option) {
        if (!option->val)
            continue;
        const QString key = QString::fromLatin1(option->keyword);
        const QString value = QString::fromUtf8(option->val);
        bool single = false;
        const int port = key == QLatin1String("port") ? value.toInt(&single) : -1;
        if (key == QLatin1String("dbname"))
            address.dbname = value;
        else if (key == QLatin1String("host"))
            address.host = value;
        else if (key == QLatin1String("user"))
            address.user = value;
        else if (key == QLatin1String("password"))
            address.password = value;
        else if (single)
            address.port = port;
        else if (key == QLatin1String("options"))
            serverOptions = value;
        else {
            timeoutGiven = timeoutGiven || key == QLatin1String("connect_timeout");
            options << key + QLatin1Char('=') + conninfoValue(value);
        }
    }
    if (!timeoutGiven)
        options << QStringLiteral("connect_timeout=%1").arg(connectTimeoutSeconds);
    // Memory for a hash of a million codes: the level-agency window's
    // "code not in( SELECT distinct agence ... )" is planned as a hashed
    // subplan only when the codes fit in the memory allowed to a hash
    // (work_mem times hash_mem_multiplier); otherwise the subplan reads the
    // links again for every agency and never ends. Measured with EXPLAIN: the
    // server's default (4 MB times 2) holds about 200,000 links; a million
    // links of 64-character codes take about 96 MB. Hashes alone get 128 MB;
    // sorts keep the default, which keeps their plans (a larger work_mem made
    // the sorted list of a million agencies twice as slow). Given before the
    // URI's own options, which may change it.
    serverOptions = QStringLiteral("-c hash_mem_multiplier=32 ") + serverOptions;
    // A table lock held by another program is waited for as long as a file's.
    serverOptions += QStringLiteral(" -c lock_timeout=%1").arg(lockTimeoutMs);
    options << QStringLiteral("options=") + conninfoValue(serverOptions.trimmed());
    for (const QString& option : options)
        if (option.contains(QLatin1Char(';')))
            throw EDatabaseError(ToAnsi(
                QStringLiteral("L'adresse du serveur « %1 » n'est pas valide : le paramètre "
                               "« %2 » contient un point-virgule, que le pilote PostgreSQL de "
                               "Qt ne transmet pas.")
                    .arg(shown, option.section(QLatin1Char('='), 0, 0))));
    address.options = options.join(QLatin1Char(';'));
    return address;
}

std::string ServerDisplayName(const std::string& uri) {
    constexpr auto none = std::string::npos;
    const std::size_t schemeEnd = uri.find("://") + 3;
    std::string rest = uri.substr(schemeEnd);
    // The user-info ends at the last '@' of the authority; in a URI that
    // does not parse both as a URL and for libpq (a raw '@', ':', '/', '?' or
    // '#' in a password, several hosts), at the last '@' of all, so that no
    // piece of a password is left, and the user goes with it.
    char* error = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(uri.c_str(), &error);
    const bool parses = parsed && QUrl(FromAnsi(uri), QUrl::StrictMode).isValid();
    PQconninfoFree(parsed);
    PQfreemem(error);
    const std::string authority = rest.substr(0, rest.find_first_of("/?#"));
    const std::size_t at = authority.find('@') != none ? authority.rfind('@')
                           : parses                    ? none
                                                       : rest.rfind('@');
    std::string user;
    if (at != none) {
        if (parses)
            user = rest.substr(0, std::min(rest.find(':'), at)) + "@";
        rest.erase(0, at + 1);
    }
    // libpq reads no fragment: what follows '#' may be the end of a password.
    rest = rest.substr(0, rest.find('#'));
    // Parameters, but the password and any piece without '=' (libpq refuses
    // it; it may be the rest of a password holding '&').
    const std::size_t mark = rest.find('?');
    std::string shown = uri.substr(0, schemeEnd) + user + rest.substr(0, mark);
    if (mark != none) {
        std::string params;
        const std::string query = rest.substr(mark + 1) + "&";
        for (std::size_t start = 0, end; (end = query.find('&', start)) != none; start = end + 1) {
            const std::string param = query.substr(start, end - start);
            const std::size_t equals = param.find('=');
            if (equals == none ||
                QByteArray::fromPercentEncoding(QByteArray::fromStdString(param.substr(0, equals)))
                        .trimmed() == "password")
                continue;
            params += (params.empty() ? "" : "&") + param;
        }
        if (!params.empty())
            shown += "?" + params;
    }
    return shown;
}

QString WithoutPasswordPieces(const std::string& uri, QString text) {
    const std::size_t start = uri.find("://");
    const std::size_t at = uri.rfind('@');
    if (start == std::string::npos || at == std::string::npos || at < start + 3)
        return text;
    // Every piece of what may be the user-info, the user's name included.
    const QString userInfo = FromAnsi(uri.substr(start + 3, at - start - 3));
    static const QRegularExpression separators(QStringLiteral("[:@/?#&=]"));
    for (const QString& piece : userInfo.split(separators, Qt::SkipEmptyParts)) {
        if (piece.size() >= 2) {
            text.replace(piece, QStringLiteral("…"));
            text.replace(QUrl::fromPercentEncoding(piece.toUtf8()), QStringLiteral("…"));
        }
    }
    return text;
}
