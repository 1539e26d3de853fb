#include "tracking/report.h"

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/accountsql.h"
#include "data/frenchorder.h"
#include "data/schema.h"
#include "tracking/numberformat.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <set>
#include <stdexcept>

void DeriveFigures(std::array<double, kReportFigureCount>& f) {
    f[rfMontantTTC] = f[rfMontantHT] + f[rfTVA];
    f[rfTauxMarge] = f[rfMontantHT] == 0.0 ? 0.0 : f[rfMarge] / f[rfMontantHT] * 100.0;
    f[rfTransformation] = f[rfDevis] == 0.0 ? 0.0 : f[rfCommandes] / f[rfDevis] * 100.0;
}

// --- TReportRows ------------------------------------------------------------

void TReportRows::push_back(const TReportRow& row) {
    const std::size_t size = row.code.size() + row.label.size();
    if (texts.size() + size > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("Le rapport a trop de lignes pour être gardé en mémoire.");
    const auto& f = row.figures;
    Entry entry;
    entry.ht = f[rfMontantHT];
    entry.tva = f[rfTVA];
    entry.margin = f[rfMarge];
    entry.reminders = TruncateCount(f[rfRelances]);
    entry.quotes = TruncateCount(f[rfDevis]);
    entry.orders = TruncateCount(f[rfCommandes]);
    entry.text = std::uint32_t(texts.size());
    entry.codeSize = std::uint32_t(row.code.size());
    entry.labelSize = std::uint32_t(row.label.size());
    texts += row.code;
    texts += row.label;
    entries.push_back(entry);
}

std::string_view TReportRows::Code(std::size_t row) const {
    const Entry& entry = entries[row];
    return std::string_view(texts).substr(entry.text, entry.codeSize);
}

std::string_view TReportRows::Label(std::size_t row) const {
    const Entry& entry = entries[row];
    return std::string_view(texts).substr(entry.text + entry.codeSize, entry.labelSize);
}

std::array<double, kReportFigureCount> TReportRows::figuresOf(const Entry& entry) {
    std::array<double, kReportFigureCount> f{};
    f[rfMontantHT] = entry.ht;
    f[rfTVA] = entry.tva;
    f[rfMarge] = entry.margin;
    f[rfRelances] = entry.reminders;
    f[rfDevis] = entry.quotes;
    f[rfCommandes] = entry.orders;
    DeriveFigures(f);
    return f;
}

TReportRow TReportRows::operator[](std::size_t row) const {
    return {std::string(Code(row)), std::string(Label(row)), figuresOf(entries[row])};
}

double TReportRows::Figure(std::size_t row, int figure) const {
    return figuresOf(entries[row])[std::size_t(figure)];
}

void TReportRows::Reorder(std::vector<std::size_t> order) {
    ApplyOrder(entries, std::move(order));
}

std::vector<TReportRow> TReportRows::Rows(const std::vector<std::size_t>* order) const {
    std::vector<TReportRow> rows;
    rows.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        rows.push_back((*this)[order ? (*order)[i] : i]);
    return rows;
}

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

std::string MonthHasFiguresStatement(int year, int month) {
    std::string codes;
    for (const char* code : schema::IndicatorCodes)
        codes += (codes.empty() ? "" : ", ") + QuotedStr(code);
    return "SELECT 1 as present FROM data WHERE code_account in (" + codes +
           ") AND period_year = " + std::to_string(year) +
           " AND period_month = " + std::to_string(month) + " LIMIT 1";
}

std::string KnownUserStatement(const std::string& code) {
    return "SELECT code FROM dim_utilisateur WHERE code = " + QuotedStr(code) +
           " UNION SELECT code FROM dim_niveau WHERE code = " + QuotedStr(code);
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

// The nine figures from the six sums, read in the indicators' order.
template <typename Sum> void readFigures(std::array<double, kReportFigureCount>& f, Sum sum) {
    f[rfMontantHT] = sum(schema::MontantDevisVenteHT);
    f[rfTVA] = sum(schema::MontantDevisTVA);
    f[rfMarge] = sum(schema::MargeDevisVenteHT);
    f[rfRelances] = TruncateCount(sum(schema::NbRelances));
    f[rfDevis] = TruncateCount(sum(schema::NbDossiersTraites));
    f[rfCommandes] = TruncateCount(sum(schema::NbCommandesTraites));
    DeriveFigures(f);
}

double sumOf(TABSDatabase* database, const std::string& statement) {
    double result = 0.0;
    const auto query = NewQuery(database, statement);
    query->Open();
    if (!query->Eof())
        result = query->FieldByName("somme").AsFloat();
    query->Close();
    return result;
}

// The sums of one indicator over a set of agencies: the sum statement of the
// month and supplier, narrowed by agencySet.
TReportRow agencySetFigures(TABSDatabase* database, const TReportSelection& selection,
                            const std::string& agencySet) {
    TAccount account;
    account.SetPeriod(selection.year, selection.month);
    if (!selection.supplier.empty())
        account.SetFournisseur(selection.supplier);
    TAccountSQL sums;
    sums.SetDatabase(database);
    sums.SetAccount(&account);
    TReportRow row;
    readFigures(row.figures, [&](const char* indicator) {
        account.SetCodeAccount(indicator);
        return sumOf(database, sums.BuildStatement() + agencySet);
    });
    return row;
}

bool anyFigure(const TReportRow& row) {
    return std::any_of(row.figures.begin(), row.figures.end(),
                       [](double value) { return value != 0.0; });
}

} // namespace

std::vector<TReportRow> TReportTotals::Lines() const {
    std::vector<TReportRow> lines{total};
    lines.front().label = "Total";
    if (hasUnattached) {
        lines.push_back(unattached);
        lines.back().label = "Agences sans niveau";
    }
    return lines;
}

namespace {

// The totals of the rows whose counted flag is set, in the rows' order;
// figure(row, i) gives a row's figure. The amount with VAT is summed as
// shown on each row, the rates come from the sums.
template <typename Figure>
TReportRow sumRows(std::size_t count, const std::vector<bool>& counted, Figure figure) {
    TReportRow total;
    auto& f = total.figures;
    for (std::size_t r = 0; r < count; ++r) {
        if (!counted[r])
            continue;
        for (int i = 0; i < kReportFigureCount; ++i)
            if (FigureKind(i) != TFigureKind::Rate)
                f[static_cast<std::size_t>(i)] += figure(r, i);
    }
    const double withVat = f[rfMontantTTC];
    DeriveFigures(f);
    f[rfMontantTTC] = withVat;
    return total;
}

} // namespace

TReportRows ComputeReport(TABSDatabase* database, const TReportSelection& selection,
                          const std::function<void(const TReportRow&)>& onRow,
                          TReportTotals* totals) {
    // Every figure of one report from one snapshot, the engine's lock taken
    // once rather than for every statement.
    std::optional<TABSTransaction> snapshot;
    if (database && !database->InTransaction())
        snapshot.emplace(database, TABSDatabase::TransactionKind::Read);
    const auto rows = NewQuery(database, rowListStatement(selection));
    rows->OpenForward();

    TAccount account;
    account.SetPeriod(selection.year, selection.month);
    TAccountSQL sums;
    sums.SetDatabase(database);
    sums.SetAccount(&account);

    if (selection.supplier.empty())
        account.ClearFournisseur();
    else
        account.SetFournisseur(selection.supplier);

    TReportRows report;
    TReportRow row;
    while (!rows->Eof()) {
        row.code = rows->FieldByName("code").AsAnsiString();
        // An empty code is no entry of the lists: a level with it would sum
        // the whole company.
        if (row.code.empty()) {
            rows->Next();
            continue;
        }
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

        readFigures(row.figures, [&](const char* indicator) {
            account.SetCodeAccount(indicator);
            return sums.GetSomme();
        });

        report.push_back(row);
        if (onRow)
            onRow(row);
        rows->Next();
    }
    rows->Close();
    report.Reorder(
        FrenchOrder(report.size(), [&report](std::size_t i) { return report.Label(i); }));
    if (totals)
        *totals = ComputeTotals(database, selection, report);
    if (snapshot)
        snapshot->Commit();
    return report;
}

TReportTotals ComputeTotals(TABSDatabase* database, const TReportSelection& selection,
                            const TReportRows& rows) {
    TReportTotals totals;
    if (selection.mode != rmNiveaux) {
        // Each code's first row, found on the rows' positions sorted by
        // code: a million rows are not copied.
        const std::vector<std::size_t> byCode =
            StableOrder(rows.size(), [&rows](std::size_t a, std::size_t b) {
                return rows.Code(a) < rows.Code(b);
            });
        std::vector<bool> counted(rows.size(), false);
        for (std::size_t i = 0; i < byCode.size(); ++i)
            counted[byCode[i]] = i == 0 || rows.Code(byCode[i]) != rows.Code(byCode[i - 1]);
        totals.total = sumRows(rows.size(), counted,
                               [&rows](std::size_t r, int i) { return rows.Figure(r, i); });
        return totals;
    }
    if (rows.empty() && !selection.admin)
        return totals;

    std::optional<TABSTransaction> snapshot;
    if (database && !database->InTransaction())
        snapshot.emplace(database, TABSDatabase::TransactionKind::Read);
    // The rows' level codes, each once.
    std::string levels;
    std::set<std::string_view> seen;
    for (std::size_t r = 0; r < rows.size(); ++r)
        if (seen.insert(rows.Code(r)).second)
            levels += (levels.empty() ? "" : ", ") + QuotedStr(std::string(rows.Code(r)));
    if (!levels.empty())
        totals.total = agencySetFigures(database, selection,
                                        " AND dim_agence in ( select distinct agence"
                                        " from niveau_agence where niveau in (" +
                                            levels + ") )");
    if (selection.admin) {
        totals.unattached = agencySetFigures(
            database, selection,
            levels.empty() ? std::string()
                           : " AND not exists ( select 1 from niveau_agence n"
                             " where n.agence = data.dim_agence and n.niveau in (" +
                                 levels + ") )");
        totals.hasUnattached = anyFigure(totals.unattached);
    }
    if (snapshot)
        snapshot->Commit();
    return totals;
}

TReportRow ReportTotals(const std::vector<TReportRow>& rows) {
    return sumRows(rows.size(), std::vector<bool>(rows.size(), true),
                   [&rows](std::size_t r, int i) { return rows[r].figures[std::size_t(i)]; });
}

std::vector<std::size_t> SortedOrder(const TReportRows& rows, int column, bool ascending) {
    if (column < 0 || column > kReportFigureCount)
        return StableOrder(rows.size(), [](std::size_t, std::size_t) { return false; });
    if (column == 0)
        return StableOrder(rows.size(), [&](std::size_t i, std::size_t j) {
            const int order = FrenchCompare(rows.Label(i), rows.Label(j));
            return ascending ? order < 0 : order > 0;
        });
    // The column's values once, not computed again at every comparison.
    std::vector<double> values(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        values[i] = rows.Figure(i, column - 1);
    return StableOrder(rows.size(), [&](std::size_t i, std::size_t j) {
        const double x = values[i];
        const double y = values[j];
        // A rate that could not be computed stays after the numbers either way.
        if (std::isnan(x) || std::isnan(y))
            return !std::isnan(x) && std::isnan(y);
        return ascending ? x < y : y < x;
    });
}
