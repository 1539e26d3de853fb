#include "admin/ficheparamniveauagence.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "data/frenchorder.h"
#include "data/objectcode.h"
#include "data/schema.h"

#include <QFont>

#include <vector>

TFicheParamNiveauAgence::TFicheParamNiveauAgence(QWidget* owner)
    : TForm(owner) {
    setObjectName("FicheParamNiveauAgence");
    QFont designFont(QStringLiteral("Tahoma"));
    designFont.setPixelSize(11);
    setFont(designFont);
    SetClientSize(515, 489);
    // Small enough for a 1600 x 900 screen at 200 %: the list shrinks.
    setMinimumSize(515, 300);

    lblAgences = new QLabel(this);
    lblAgences->setGeometry(24, 133, 467, 13);
    QFont bold = lblAgences->font();
    bold.setBold(true);
    lblAgences->setFont(bold);

    btnSupprimer = new QPushButton(QStringLiteral("Supprimer"), this);
    btnSupprimer->setGeometry(24, 455, 467, 25);

    gbAjouterAgence = new QGroupBox(QStringLiteral("Ajouter une agence"), this);
    gbAjouterAgence->setGeometry(24, 54, 467, 73);

    btnAjouter = new QPushButton(QStringLiteral("Ajouter"), gbAjouterAgence);
    btnAjouter->setGeometry(384, 13, 75, 51);

    lvNiveau =
        toolkit::CreateListView(this, {{QStringLiteral("Agence"), 380}, {QStringLiteral("Code")}});
    lvNiveau->setGeometry(24, 152, 467, 297);

    cblAgences = new QComboBox(gbAjouterAgence);
    cblAgences->setEditable(false);
    cblAgences->setGeometry(22, 28, 345, 21);

    cblNiveaux = new QComboBox(this);
    cblNiveaux->setEditable(false);
    cblNiveaux->setGeometry(24, 27, 467, 21);

    lblNiveau = new QLabel(QStringLiteral("Niveau"), this);
    lblNiveau->move(24, 8);
    lblNiveau->adjustSize();

    lblAucuneAgence = toolkit::CreateEmptyListLabel(lvNiveau, QString());
    lblAucuneAgence->setObjectName("lblAucuneAgence");

    lblAgences->setObjectName("lblAgences");
    btnSupprimer->setObjectName("btnSupprimer");
    gbAjouterAgence->setObjectName("gbAjouterAgence");
    btnAjouter->setObjectName("btnAjouter");
    lvNiveau->setObjectName("lvNiveau");
    cblAgences->setObjectName("cblAgences");
    cblNiveaux->setObjectName("cblNiveaux");
    lblNiveau->setObjectName("lblNiveau");

    for (QPushButton* button : {btnSupprimer, btnAjouter}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    toolkit::OnChange(cblNiveaux, this, &TFicheParamNiveauAgence::cblNiveauxChange);
    btnAjouter->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    btnSupprimer->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));

    toolkit::OnClick(btnAjouter, this, &TFicheParamNiveauAgence::btnAjouterClick);
    toolkit::OnClick(btnSupprimer, this, &TFicheParamNiveauAgence::btnSupprimerClick);
}

void TFicheParamNiveauAgence::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    const int width = this->width() - 48;
    lvNiveau->setGeometry(24, 152, width, height() - 152 - 40);
    btnSupprimer->setGeometry(24, height() - 34, width, 25);
}

TFicheParamNiveauAgence::~TFicheParamNiveauAgence() {
    FormDestroy();
}

std::string TFicheParamNiveauAgence::ChosenLevel() {
    return GetComboCode(cblNiveaux, cblNiveaux->currentIndex());
}

void TFicheParamNiveauAgence::FormActivate() {
    const QString level = FromAnsi(LevelLabel);
    setWindowTitle(QStringLiteral("Paramétrage des agences par ") + level);
    lblNiveau->setText(level);
    lblNiveau->adjustSize();
    lblAgences->setText(QStringLiteral("Agences"));

    LoadNiveaux();
    LoadAgences();
    LoadListeAgences();

    gbAjouterAgence->update();
    btnAjouter->update();
    cblAgences->update();
    cblNiveaux->update();
}

void TFicheParamNiveauAgence::LoadNiveaux() {
    ClearComboCodes(cblNiveaux);
    AddComboCodes(cblNiveaux, Database,
                  std::string("SELECT code, libelle FROM dim_niveau") + " ORDER BY libelle ASC");
    // Setting the index from the program does not run cblNiveauxChange.
    cblNiveaux->setCurrentIndex(cblNiveaux->count() > 0 ? 0 : -1);
}

void TFicheParamNiveauAgence::LoadAgences() {
    ClearComboCodes(cblAgences);
    if (cblNiveaux->currentIndex() < 0)
        return;
    AddComboCodes(cblAgences, Database,
                  std::string("SELECT code, libelle FROM dim_agence") + " WHERE code not in( " +
                      " SELECT distinct agence FROM niveau_agence "
                      "WHERE niveau = " +
                      QuotedStr(ChosenLevel()) + " AND agence IS NOT NULL" + " )" +
                      " ORDER BY libelle ASC");
    cblAgences->setCurrentIndex(cblAgences->count() > 0 ? 0 : -1);
}

void TFicheParamNiveauAgence::LoadListeAgences() {
    ClearListeAgences();
    if (cblNiveaux->currentIndex() < 0)
        return;
    auto query = NewQuery(
        Database, std::string("SELECT a.code, a.libelle FROM dim_agence a, niveau_agence na") +
                      " WHERE a.code = na.agence" + " AND na.niveau = " + QuotedStr(ChosenLevel()) +
                      " ORDER BY a.libelle ASC");
    query->Open();
    std::vector<std::vector<std::string>> rows; // label, code
    while (!query->Eof()) {
        rows.push_back({query->FieldByName("libelle").AsAnsiString(),
                        query->FieldByName("code").AsAnsiString()});
        query->Next();
    }
    query->Close();
    // In French order of the labels, as the statement orders bytes.
    SortInFrenchOrder(rows, [](const auto& row) { return row[0]; });
    for (const auto& row : rows) {
        toolkit::AddListRow(lvNiveau, row);
        SetRowCode(lvNiveau, lvNiveau->topLevelItemCount() - 1, row[1]);
    }
    QString level = FromAnsi(LevelLabel);
    if (!level.isEmpty())
        level[0] = level[0].toLower();
    lblAucuneAgence->setText(QStringLiteral("Aucune agence pour ce ") + level);
    lblAucuneAgence->setVisible(rows.empty());
}

void TFicheParamNiveauAgence::ClearListeAgences() {
    ClearListCodes(lvNiveau);
    lblAucuneAgence->hide();
}

void TFicheParamNiveauAgence::cblNiveauxChange() {
    LoadAgences();
    LoadListeAgences();
}

void TFicheParamNiveauAgence::btnAjouterClick() {
    if (cblNiveaux->currentIndex() < 0) {
        toolkit::ShowMessage("Il faut sélectionner un " + LevelLabel);
        return;
    }
    if (cblAgences->currentIndex() < 0) {
        toolkit::ShowMessage("Il faut sélectionner une agence");
        return;
    }
    const std::string agence = GetComboCode(cblAgences, cblAgences->currentIndex());
    const std::string niveau = ChosenLevel();
    bool levelExists = false;
    {
        // Under the write lock, so that the level cannot be deleted between
        // the check and the link, and no link is added twice.
        TABSTransaction transaction(Database, TABSDatabase::TransactionKind::Write,
                                    {schema::DimNiveau, schema::NiveauAgence});
        auto level = NewQuery(Database, std::string("SELECT code FROM dim_niveau") +
                                            " WHERE code = " + QuotedStr(niveau));
        level->Open();
        levelExists = !level->Eof();
        if (levelExists) {
            auto link = NewQuery(Database, std::string("SELECT agence FROM niveau_agence") +
                                               " WHERE niveau = " + QuotedStr(niveau) +
                                               " AND agence = " + QuotedStr(agence));
            link->Open();
            if (link->Eof())
                NewQuery(Database, std::string("INSERT INTO niveau_agence ( niveau , agence ) "
                                               "values (") +
                                       QuotedStr(niveau) + "," + QuotedStr(agence) + " )")
                    ->ExecSQL();
        }
        transaction.Commit();
    }
    if (!levelExists) {
        // Another administrator deleted the level: the window's lists are
        // read again once the message is closed.
        toolkit::ShowMessage("Ce " + LevelLabel +
                             " n'existe plus : un autre administrateur l'a supprimé. Aucune "
                             "agence n'a été associée.");
        LoadNiveaux();
        LoadAgences();
        LoadListeAgences();
        return;
    }
    LoadAgences();
    LoadListeAgences();
}

void TFicheParamNiveauAgence::btnSupprimerClick() {
    const int row = toolkit::ListItemIndex(lvNiveau);
    if (row < 0) {
        toolkit::ShowMessage("Vous devez sélectionner une ligne pour pouvoir la supprimer");
        return;
    }
    const std::string agence = GetRowCode(lvNiveau, row);
    // Only the link with the chosen level: the agency stays attached to
    // its other levels.
    NewQuery(Database, std::string("DELETE FROM niveau_agence ") + " WHERE agence = " +
                           QuotedStr(agence) + " AND niveau = " + QuotedStr(ChosenLevel()))
        ->ExecSQL();
    LoadAgences();
    LoadListeAgences();
}

void TFicheParamNiveauAgence::FormDestroy() {
    ClearComboCodes(cblNiveaux);
    ClearComboCodes(cblAgences);
    ClearListeAgences();
}
