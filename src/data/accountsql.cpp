#include "data/accountsql.h"

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/schema.h"

std::string TAccountSQL::BuildStatement() const {
    std::string sql;
    sql.reserve(256);
    sql += "SELECT SUM(valeur) as somme";
    sql += " FROM data";
    sql += " WHERE code_account  = " + QuotedStr(account->GetCodeAccount());
    sql += " AND period_year  = " + std::to_string(account->GetYear());
    sql += " AND period_month = " + std::to_string(account->GetMonth());
    if (account->HasNiveau() && !account->GetNiveau().empty()) {
        sql += " AND dim_agence  in ";
        sql += " ( select distinct agence ";
        sql += "   from niveau_agence ";
        sql += "   where niveau = " + QuotedStr(account->GetNiveau());
        sql += " )";
    }
    if (account->HasAgence())
        sql += " AND dim_agence  = " + QuotedStr(account->GetAgence());
    if (account->HasUtilisateur())
        sql += " AND dim_utilisateur  = " + QuotedStr(account->GetUtilisateur());
    if (account->HasFournisseur())
        sql += " AND dim_fournisseur  = " + QuotedStr(account->GetFournisseur());
    if (account->HasDossier())
        sql += " AND dim_dossier  = " + QuotedStr(account->GetDossier());
    return sql;
}

double TAccountSQL::GetSomme() const {
    double result = 0.0;
    const auto query = NewQuery(database, BuildStatement());
    query->Open();
    if (!query->Eof())
        result = query->FieldByName("somme").AsFloat();
    query->Close();
    return result;
}
