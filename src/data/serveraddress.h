// A PostgreSQL URI on its way to Qt's driver (QPSQL), which takes the
// database, host, port, user and password one by one and every other libpq
// parameter as its connect options.
#pragma once

#include <QString>

#include <string>

struct TServerAddress {
    // Quoted by the driver for libpq, whatever they hold.
    QString dbname;
    QString host;
    QString user;
    QString password;
    // -1 when the URI names none, or names several (then in options).
    int port = -1;
    // The other parameters, "key='value'" separated by ';'.
    QString options;
};

// The URI as libpq itself reads it (PQconninfoParse), so that every form it
// accepts reaches it with the same values: several hosts and ports
// ("host1:5432,host2:5433" or host=/a,/b&port=5432,5433), a socket folder as
// host, percent-encoded values, target_session_attrs and the rest.
// connect_timeout is connectTimeoutSeconds unless the URI gives it; the
// server options get lock_timeout, in milliseconds. Throws EDatabaseError, in
// French, when libpq refuses the URI, or when a value would not reach libpq
// whole: the driver turns every ';' of its connect options into a blank.
TServerAddress ReadServerAddress(const std::string& uri, int connectTimeoutSeconds,
                                 int lockTimeoutMs);

// The URI as written without any part of its password, for messages: the
// password after the user name, a password= parameter, a piece of the query
// without '=' (the rest of a password holding '&') and what follows '#' go;
// in a URI that does not parse, the whole user-info goes.
std::string ServerDisplayName(const std::string& uri);

// A message of libpq's about the URI without the pieces of its user-info
// (what libpq misreads as host or port may be part of a password).
QString WithoutPasswordPieces(const std::string& uri, QString text);
