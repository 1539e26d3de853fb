// How the administration windows run a statement: a new query owned by the
// database component, bound to its alias, holding the statement as its only
// line. The caller holds it in a unique_ptr, so that a statement that throws
// leaves no query behind.
#pragma once

#include "data/absdatabase.h"

#include <memory>
#include <string>

inline std::unique_ptr<TABSQuery> NewAdminQuery(TABSDatabase* database, const std::string& sql) {
    if (!database)
        throw EDatabaseError("Aucune base de données n'est indiquée.");
    auto query = std::make_unique<TABSQuery>(database);
    query->DatabaseName = database->DatabaseName;
    query->SQL.Clear();
    query->SQL.Add(sql);
    return query;
}
