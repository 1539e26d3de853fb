#include "tracking/report.h"

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/accountsql.h"
#include "data/frenchorder.h"
#include "data/schema.h"
#include "tracking/numberformat.h"

#include <algorithm>
#include <cmath>
#include <optional>

TReportMode ReportModeFor(bool levelChosen, bool agencyChosen, bool userChosen) {
    if (!levelChosen && !agencyChosen && !userChosen)
        return rmNiveaux;
    if (levelChosen && !agencyChosen && !userChosen)
        return rmAgences;
    if (levelChosen && agencyChosen && !userChosen)
        return rmUtilisateurs;
    if (levelChosen && agencyChosen && userChosen)
        return rmUtilisateur;
    return rmNiveaux;
}

TFigureKind FigureKind(int figure) {
    switch (figure) {
    case rfTauxMarge:
    case rfTransformation:
        return TFigureKind::Rate;
    case rfRelances:
    case rfDevis:
    case rfCommandes:
        return TFigureKind::Count;
    default:
        return TFigureKind::Amount;
    }
}

std::string LevelsStatement(bool admin, const std::string& userCode) {
    std::string sql = "SELECT code, libelle FROM dim_niveau";
    if (!admin)
        sql += " WHERE code = " + QuotedStr(userCode);
    sql += " ORDER BY libelle ASC";
    return sql;
}

std::string AgenciesStatement(const std::string& level) {
    return "SELECT a.code as code, a.libelle as libelle"
           " FROM dim_agence a, niveau_agence n"
           " WHERE a.code = n.agence"
           " AND n.niveau = " +
           QuotedStr(level) + " ORDER BY libelle ASC";
}

std::string UsersStatement(const std::string& agency, int year, int month) {
    return "SELECT distinct u.code, u.libelle"
           " FROM dim_utilisateur u, data d"
           " WHERE d.dim_agence = " +
           QuotedStr(agency) +
           " AND u.code  = d.dim_utilisateur"
           " AND d.period_year \t= " +
           std::to_string(year) + " AND d.period_month\t= " + std::to_string(month) +
           " ORDER BY u.libelle ASC";
}

std::string UserStatement(const std::string& agency, const std::string& user) {
    return "SELECT distinct u.code, u.libelle"
           " FROM dim_utilisateur u, data d"
           " WHERE d.dim_agence = " +
           QuotedStr(agency) +
           " AND u.code  = d.dim_utilisateur"
           " AND u.code = " +
           QuotedStr(user) + " ORDER BY u.libelle ASC";
}

std::string SuppliersStatement() {
    return "SELECT code, libelle"
           " FROM dim_fournisseur"
           " ORDER BY libelle ASC";
}

namespace {

std::string rowListStatement(const TReportSelection& selection) {
    switch (selection.mode) {
    case rmAgences:
        return AgenciesStatement(selection.level);
    case rmUtilisateurs:
        return UsersStatement(selection.agency, selection.year, selection.month);
    case rmUtilisateur:
        return UserStatement(selection.agency, selection.user);
    default:
        return LevelsStatement(selection.admin, selection.userCode);
    }
}

double marginRate(double ht, double margin) {
    return ht == 0.0 ? 0.0 : margin / ht * 100.0;
}

double conversionRate(double quotes, double orders) {
    return quotes == 0.0 ? 0.0 : orders / quotes * 100.0;
}

} // namespace

std::vector<TReportRow> ComputeReport(TABSDatabase* database, const TReportSelection& selection,
                                      const std::function<void(const TReportRow&)>& onRow) {
    // Every figure of one report from one snapshot, the engine's lock taken
    // once rather than for every statement.
    std::optional<TABSTransaction> snapshot;
    if (database && !database->InTransaction())
        snapshot.emplace(database, TABSDatabase::TransactionKind::Read);
    const auto rows = NewQuery(database, rowListStatement(selection));
    rows->Open();

    TAccount account;
    account.SetPeriod(selection.year, selection.month);
    TAccountSQL sums;
    sums.SetDatabase(database);
    sums.SetAccount(&account);

    if (selection.supplier.empty())
        account.ClearFournisseur();
    else
        account.SetFournisseur(selection.supplier);

    std::vector<TReportRow> report;
    while (!rows->Eof()) {
        TReportRow row;
        row.code = rows->FieldByName("code").AsAnsiString();
        row.label = rows->FieldByName("libelle").AsAnsiString();

        switch (selection.mode) {
        case rmNiveaux:
            account.SetNiveau(row.code);
            account.ClearAgence();
            account.ClearUtilisateur();
            break;
        case rmAgences:
            account.ClearNiveau();
            account.SetAgence(row.code);
            account.ClearUtilisateur();
            break;
        case rmUtilisateurs:
            account.ClearNiveau();
            account.SetAgence(selection.agency);
            account.SetUtilisateur(row.code);
            break;
        default:
            account.ClearNiveau();
            account.SetAgence(selection.agency);
            account.SetUtilisateur(selection.user);
            break;
        }

        auto sum = [&](const char* indicator) {
            account.SetCodeAccount(indicator);
            return sums.GetSomme();
        };
        auto& f = row.figures;
        f[rfMontantHT] = sum(schema::MontantDevisVenteHT);
        f[rfTVA] = sum(schema::MontantDevisTVA);
        f[rfMontantTTC] = f[rfMontantHT] + f[rfTVA];
        f[rfMarge] = sum(schema::MargeDevisVenteHT);
        f[rfTauxMarge] = marginRate(f[rfMontantHT], f[rfMarge]);
        f[rfRelances] = TruncateCount(sum(schema::NbRelances));
        f[rfDevis] = TruncateCount(sum(schema::NbDossiersTraites));
        f[rfCommandes] = TruncateCount(sum(schema::NbCommandesTraites));
        f[rfTransformation] = conversionRate(f[rfDevis], f[rfCommandes]);

        report.push_back(row);
        if (onRow)
            onRow(report.back());
        rows->Next();
    }
    rows->Close();
    if (snapshot)
        snapshot->Commit();
    return report;
}

TReportRow ReportTotals(const std::vector<TReportRow>& rows) {
    TReportRow total;
    auto& f = total.figures;
    for (const TReportRow& row : rows)
        for (int i = 0; i < kReportFigureCount; ++i)
            if (FigureKind(i) != TFigureKind::Rate)
                f[static_cast<std::size_t>(i)] += row.figures[static_cast<std::size_t>(i)];
    f[rfTauxMarge] = marginRate(f[rfMontantHT], f[rfMarge]);
    f[rfTransformation] = conversionRate(f[rfDevis], f[rfCommandes]);
    return total;
}

std::vector<TReportRow> SortedReport(std::vector<TReportRow> rows, int column, bool ascending) {
    if (column < 0 || column > kReportFigureCount)
        return rows;
    auto value = [column](const TReportRow& row) {
        return row.figures[static_cast<std::size_t>(column - 1)];
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const TReportRow& a, const TReportRow& b) {
        if (column == 0) {
            const int order = FrenchCompare(a.label, b.label);
            return ascending ? order < 0 : order > 0;
        }
        const double x = value(a);
        const double y = value(b);
        // A rate that could not be computed stays after the numbers either way.
        if (std::isnan(x) || std::isnan(y))
            return !std::isnan(x) && std::isnan(y);
        return ascending ? x < y : y < x;
    });
    return rows;
}
