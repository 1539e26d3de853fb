// Level management window: lists the levels, adds a level for a user who has
// none yet, deletes a level together with its agency links.
#pragma once

#include "ui/toolkit.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include <string>

class TABSDatabase;

class TFicheParamNiveau : public TForm {
    Q_OBJECT
public:
    explicit TFicheParamNiveau(QWidget* owner);
    ~TFicheParamNiveau() override;

    // The main window's database component; not owned.
    void SetDatabase(TABSDatabase* database) { Database = database; }
    // The word that names a level in every caption ("Chef de secteur").
    void SetLevelLabel(const std::string& label) { LevelLabel = label; }

    QLabel* lblNiveau;
    QPushButton* btnSupprimer;
    QGroupBox* gbAjouterNiveau;
    QComboBox* cblUtilisateurs;
    QPushButton* btnAjouter;
    QTreeWidget* lvNiveau;
    QLabel* lblNiveauLibelle;
    QLineEdit* edtNiveau;

    void FormActivate() override;
    void cblUtilisateursChange();
    void btnAjouterClick();
    void btnSupprimerClick();
    void FormDestroy();

protected:
    // The list and the button under it follow the window's size.
    void resizeEvent(QResizeEvent* event) override;

private:
    bool LevelExists(const std::string& code);
    void LoadUtilisateurs();
    void LoadListeNiveaux();
    void ClearListeNiveaux();

    TABSDatabase* Database = nullptr;
    std::string LevelLabel = "Niveau";
    // Whether the user chosen in cblUtilisateurs is one the user saw chosen:
    // picked, or chosen when the window was activated. A list rebuilt after
    // an add or a delete chooses its first user on its own.
    bool UserSeenChosen = false;
    bool Adding = false; // an add runs
};
