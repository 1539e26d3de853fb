// Level-agency window: attaches agencies to the chosen level and detaches
// them.
#pragma once

#include "ui/toolkit.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <string>

class TABSDatabase;

class TFicheParamNiveauAgence : public TForm {
    Q_OBJECT
public:
    explicit TFicheParamNiveauAgence(QWidget* owner);
    ~TFicheParamNiveauAgence() override;

    // The main window's database component; not owned.
    void SetDatabase(TABSDatabase* database) { Database = database; }
    // The word that names a level in the captions and one message.
    void SetLevelLabel(const std::string& label) { LevelLabel = label; }

    QLabel* lblAgences;
    QPushButton* btnSupprimer;
    QGroupBox* gbAjouterAgence;
    QPushButton* btnAjouter;
    QTreeWidget* lvNiveau;
    QComboBox* cblAgences;
    QComboBox* cblNiveaux;
    QLabel* lblNiveau;
    // Over the empty list: "Aucune agence pour ce chef de secteur".
    QLabel* lblAucuneAgence;

    void FormActivate() override;
    void cblNiveauxChange();
    void btnAjouterClick();
    void btnSupprimerClick();
    void FormDestroy();

protected:
    // The list and the button under it follow the window's size.
    void resizeEvent(QResizeEvent* event) override;

private:
    void LoadNiveaux();
    void LoadAgences();
    void LoadListeAgences();
    void ClearListeAgences();
    // The code of the chosen level; empty when none is chosen.
    std::string ChosenLevel();

    TABSDatabase* Database = nullptr;
    std::string LevelLabel = "Niveau";
};
