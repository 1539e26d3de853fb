// The tracking window "Tableau de suivi": filter lists, month list and the
// report rows.
#pragma once

#include "ui/toolkit.h"

#include <QComboBox>
#include <QLabel>
#include <QTreeWidget>

#include <array>
#include <string>

class TABSDatabase;

class TFicheQuadrivel : public TForm {
    Q_OBJECT
public:
    enum DisplayMode { dmNiveaux = 0, dmAgences = 1, dmUtilisateurs = 2, dmUtilisateur = 3 };

    explicit TFicheQuadrivel(QWidget* owner);
    ~TFicheQuadrivel() override;

    void SetDatabase(TABSDatabase* database) { Database = database; }
    void SetAdmin(bool admin) { Admin = admin; }
    void SetUserCode(const std::string& code) { UserCode = code; }

    QComboBox* cblNiveau;
    QLabel* lblNiveau;
    QLabel* Label2;
    QComboBox* cblAgence;
    QLabel* Label3;
    QComboBox* cblUtilisateur;
    QTreeWidget* lvData;
    QLabel* Label4;
    QComboBox* cblFournisseur;
    QLabel* Label1;
    QComboBox* cblPeriode;

    void cblNiveauChange();
    void cblAgenceChange();
    void cblUtilisateurChange();
    void cblFournisseurChange();
    void FormDestroy();
    void FormActivate() override;
    void cblPeriodeChange();

    int GetDisplayMode() const;
    int GetAnnee() const;
    int GetMois() const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void LoadNiveaux();
    void LoadAgences();
    void LoadUtilisateurs();
    void LoadFournisseurs();
    void LoadPeriodes();
    void LoadData();

    TABSDatabase* Database = nullptr; // borrowed from the main window
    std::string UserCode;
    bool Admin = false;
    std::string SelNiveau;
    std::string SelAgence;
    std::string SelUtilisateur;
    std::string SelFournisseur;
    std::array<int, 13> AnneesPeriode{};
    std::array<int, 13> MoisPeriode{};
};
