// What one figure sums from the fact table: the indicator code, the month and
// the optional filters on level, agency, user, supplier and file.
#pragma once

#include <string>

class TAccount {
public:
    TAccount() = default;

    void SetPeriod(int newYear, int newMonth) {
        year = newYear;
        month = newMonth;
    }
    int GetYear() const { return year; }
    int GetMonth() const { return month; }

    void SetCodeAccount(const std::string& code) { codeAccount = code; }
    std::string GetCodeAccount() const { return codeAccount; }

    void SetNiveau(const std::string& code) { set(niveau, hasNiveau, code); }
    void SetAgence(const std::string& code) { set(agence, hasAgence, code); }
    void SetUtilisateur(const std::string& code) { set(utilisateur, hasUtilisateur, code); }
    void SetFournisseur(const std::string& code) { set(fournisseur, hasFournisseur, code); }

    void ClearNiveau() { set(niveau, hasNiveau, std::string(), false); }
    void ClearAgence() { set(agence, hasAgence, std::string(), false); }
    void ClearUtilisateur() { set(utilisateur, hasUtilisateur, std::string(), false); }
    void ClearFournisseur() { set(fournisseur, hasFournisseur, std::string(), false); }

    std::string GetNiveau() const { return niveau; }
    std::string GetAgence() const { return agence; }
    std::string GetUtilisateur() const { return utilisateur; }
    std::string GetFournisseur() const { return fournisseur; }
    std::string GetDossier() const { return dossier; }

    bool HasNiveau() const { return hasNiveau; }
    bool HasAgence() const { return hasAgence; }
    bool HasUtilisateur() const { return hasUtilisateur; }
    bool HasFournisseur() const { return hasFournisseur; }
    bool HasDossier() const { return hasDossier; }

private:
    static void set(std::string& field, bool& flag, const std::string& code, bool on = true) {
        field = code;
        flag = on;
    }

    bool hasNiveau = false;
    bool hasAgence = false;
    bool hasUtilisateur = false;
    bool hasFournisseur = false;
    bool hasDossier = false; // no figure of the program is narrowed to one file
    int year = 0;
    int month = 0;
    std::string niveau;
    std::string agence;
    std::string utilisateur;
    std::string fournisseur;
    std::string dossier;
    std::string codeAccount;
};
