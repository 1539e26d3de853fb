#include "data/accountsql.h"

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/schema.h"

#include <initializer_list>
#include <limits>
#include <string_view>

std::string TAccountSQL::BuildStatement() const {
    // Appended piece by piece: one statement per figure of every row of a
    // refresh, so no temporary text per piece.
    std::string sql;
    sql.reserve(320);
    const auto add = [&sql](std::initializer_list<std::string_view> pieces) {
        for (const std::string_view piece : pieces)
            sql += piece;
    };
    add({"SELECT SUM(valeur) as somme", " FROM data",
         " WHERE code_account  = ", QuotedStr(account->GetCodeAccount())});
    add({" AND period_year  = ", std::to_string(account->GetYear())});
    add({" AND period_month = ", std::to_string(account->GetMonth())});
    if (account->HasNiveau() && !account->GetNiveau().empty())
        add({" AND dim_agence  in ", " ( select distinct agence ", "   from niveau_agence ",
             "   where niveau = ", QuotedStr(account->GetNiveau()), " )"});
    if (account->HasAgence())
        add({" AND dim_agence  = ", QuotedStr(account->GetAgence())});
    if (account->HasUtilisateur())
        add({" AND dim_utilisateur  = ", QuotedStr(account->GetUtilisateur())});
    if (account->HasFournisseur())
        add({" AND dim_fournisseur  = ", QuotedStr(account->GetFournisseur())});
    if (account->HasDossier())
        add({" AND dim_dossier  = ", QuotedStr(account->GetDossier())});
    return sql;
}

double TAccountSQL::GetSomme() const {
    double result = 0.0;
    const auto query = NewQuery(database, BuildStatement());
    try {
        query->Open();
    } catch (const EDatabaseOverflow&) {
        // A sum beyond the range of a double: the server refuses it where
        // SQLite gives infinity; either way the figure is not computable.
        return std::numeric_limits<double>::infinity();
    }
    if (!query->Eof())
        result = query->FieldByName("somme").AsFloat();
    query->Close();
    return result;
}
