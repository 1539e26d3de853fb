// Names of the tables, columns and indicator codes, and the one way a text
// value enters a statement.
#pragma once

#include <array>
#include <string>

namespace schema {

// Fact table: one value of one indicator per month, agency, user, supplier, file.
inline constexpr const char* Data = "data";
inline constexpr const char* DataCodeAccount = "code_account";
inline constexpr const char* DataPeriodYear = "period_year";
inline constexpr const char* DataPeriodMonth = "period_month";
inline constexpr const char* DataAgence = "dim_agence";
inline constexpr const char* DataUtilisateur = "dim_utilisateur";
inline constexpr const char* DataFournisseur = "dim_fournisseur";
inline constexpr const char* DataDossier = "dim_dossier";
inline constexpr const char* DataValeur = "valeur";

// Code and label tables.
inline constexpr const char* DimNiveau = "dim_niveau";
inline constexpr const char* DimUtilisateur = "dim_utilisateur";
inline constexpr const char* DimAgence = "dim_agence";
inline constexpr const char* DimFournisseur = "dim_fournisseur";
inline constexpr const char* Code = "code";
inline constexpr const char* Libelle = "libelle";
// The most characters a label column holds (VARCHAR(255)).
inline constexpr int LibelleMaxLength = 255;

// Links between levels and agencies.
inline constexpr const char* NiveauAgence = "niveau_agence";
inline constexpr const char* NiveauAgenceNiveau = "niveau";
inline constexpr const char* NiveauAgenceAgence = "agence";

// Indicator codes, in the order every row of the tracking table sums them.
inline constexpr const char* MontantDevisVenteHT = "MONTANT_DEVIS_VENTE_HT";
inline constexpr const char* MontantDevisTVA = "MONTANT_DEVIS_TVA";
inline constexpr const char* MargeDevisVenteHT = "MARGE_DEVIS_VENTE_HT";
inline constexpr const char* NbRelances = "NB_RELANCES";
inline constexpr const char* NbDossiersTraites = "NB_DOSSIERS_TRAITES";
inline constexpr const char* NbCommandesTraites = "NB_COMMANDES_TRAITES";

inline constexpr std::array<const char*, 6> IndicatorCodes = {
    MontantDevisVenteHT, MontantDevisTVA,   MargeDevisVenteHT,
    NbRelances,          NbDossiersTraites, NbCommandesTraites,
};

} // namespace schema

// A text value as a statement literal: between single quotes, every single
// quote inside doubled. A value without a quote is spliced unchanged.
inline std::string QuotedStr(const std::string& value) {
    std::string literal;
    literal.reserve(value.size() + 2);
    literal += '\'';
    for (const char c : value) {
        literal += c;
        if (c == '\'')
            literal += '\'';
    }
    literal += '\'';
    return literal;
}
