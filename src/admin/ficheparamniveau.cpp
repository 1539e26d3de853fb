#include "admin/ficheparamniveau.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "data/frenchorder.h"
#include "data/objectcode.h"
#include "data/schema.h"

#include <QFont>
#include <QScopedValueRollback>

#include <vector>

TFicheParamNiveau::TFicheParamNiveau(QWidget* owner)
    : TForm(owner) {
    setObjectName("FicheParamNiveau");
    setWindowTitle(QStringLiteral("Gestion des niveaux"));
    QFont designFont(QStringLiteral("Tahoma"));
    designFont.setPixelSize(11);
    setFont(designFont);
    SetClientSize(515, 489);
    // Small enough for a 1600 x 900 screen at 200 %: the list shrinks.
    setMinimumSize(515, 300);

    lblNiveau = new QLabel(QStringLiteral("lblNiveau"), this);
    lblNiveau->setGeometry(24, 133, 467, 13);
    QFont bold = lblNiveau->font();
    bold.setBold(true);
    lblNiveau->setFont(bold);

    btnSupprimer = new QPushButton(QStringLiteral("Supprimer"), this);
    btnSupprimer->setGeometry(24, 455, 467, 25);

    gbAjouterNiveau = new QGroupBox(QStringLiteral("Ajouter un Niveau"), this);
    gbAjouterNiveau->setGeometry(24, 8, 467, 105);

    cblUtilisateurs = new QComboBox(gbAjouterNiveau);
    cblUtilisateurs->setEditable(false);
    cblUtilisateurs->setGeometry(16, 31, 345, 21);

    btnAjouter = new QPushButton(QStringLiteral("Ajouter"), gbAjouterNiveau);
    btnAjouter->setGeometry(373, 31, 75, 66);

    lvNiveau = toolkit::CreateListView(this, {{QStringLiteral("Utilisateur"), 200},
                                              {QStringLiteral("Code")},
                                              {QStringLiteral("Niveau"), 200}});
    lvNiveau->setGeometry(24, 152, 467, 297);

    lblNiveauLibelle = new QLabel(QStringLiteral("lblLibelleNiveau"), gbAjouterNiveau);
    lblNiveauLibelle->move(16, 58);
    lblNiveauLibelle->adjustSize();

    // Lies over the lower part of the group box, so it is made after it.
    edtNiveau = new QLineEdit(this);
    edtNiveau->setGeometry(40, 85, 345, 21);

    lblNiveau->setObjectName("lblNiveau");
    btnSupprimer->setObjectName("btnSupprimer");
    gbAjouterNiveau->setObjectName("gbAjouterNiveau");
    cblUtilisateurs->setObjectName("cblUtilisateurs");
    btnAjouter->setObjectName("btnAjouter");
    lvNiveau->setObjectName("lvNiveau");
    lblNiveauLibelle->setObjectName("lblNiveauLibelle");
    edtNiveau->setObjectName("edtNiveau");

    for (QPushButton* button : {btnSupprimer, btnAjouter}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }

    btnAjouter->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));
    btnSupprimer->setShortcut(QKeySequence(Qt::ALT | Qt::Key_S));
    // Enter in the label adds the level, as a click on "Ajouter" would.
    connect(edtNiveau, &QLineEdit::returnPressed, btnAjouter, &QPushButton::click);

    toolkit::OnClick(btnAjouter, this, &TFicheParamNiveau::btnAjouterClick);
    toolkit::OnClick(btnSupprimer, this, &TFicheParamNiveau::btnSupprimerClick);
    toolkit::OnChange(cblUtilisateurs, this, &TFicheParamNiveau::cblUtilisateursChange);
}

void TFicheParamNiveau::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    const int width = this->width() - 48;
    lvNiveau->setGeometry(24, 152, width, height() - 152 - 40);
    btnSupprimer->setGeometry(24, height() - 34, width, 25);
}

TFicheParamNiveau::~TFicheParamNiveau() {
    FormDestroy();
}

void TFicheParamNiveau::FormActivate() {
    const QString level = FromAnsi(LevelLabel);
    setWindowTitle(QStringLiteral("Paramétrage : ") + level);
    lblNiveau->setText(level);
    gbAjouterNiveau->setTitle(QStringLiteral("Ajouter un ") + level);
    lvNiveau->headerItem()->setText(2, level);
    lblNiveauLibelle->setText(level + QStringLiteral(" Libellé"));
    lblNiveauLibelle->adjustSize();

    LoadUtilisateurs();
    LoadListeNiveaux();
    UserSeenChosen = true;

    btnAjouter->update();
    cblUtilisateurs->update();
    edtNiveau->update();
}

void TFicheParamNiveau::cblUtilisateursChange() {
    UserSeenChosen = true;
}

void TFicheParamNiveau::LoadUtilisateurs() {
    UserSeenChosen = false;
    ClearComboCodes(cblUtilisateurs);
    AddComboCodes(cblUtilisateurs, Database,
                  std::string("SELECT code, libelle FROM dim_utilisateur") +
                      " WHERE code not in( SELECT distinct code FROM "
                      "dim_niveau WHERE code IS NOT NULL)" +
                      " ORDER BY libelle ASC");
    cblUtilisateurs->setCurrentIndex(cblUtilisateurs->count() > 0 ? 0 : -1);
}

void TFicheParamNiveau::LoadListeNiveaux() {
    ClearListeNiveaux();
    auto query = NewQuery(
        Database, std::string("SELECT u.libelle as utilisateur, n.code as code, n.libelle FROM "
                              "dim_niveau n, dim_utilisateur u") +
                      " WHERE n.code = u.code" + " ORDER BY u.libelle ASC");
    query->Open();
    std::vector<std::vector<std::string>> rows; // user, code, label
    while (!query->Eof()) {
        rows.push_back({query->FieldByName("utilisateur").AsAnsiString(),
                        query->FieldByName("code").AsAnsiString(),
                        query->FieldByName("libelle").AsAnsiString()});
        query->Next();
    }
    query->Close();
    // By the user's name in French order, as the statement orders bytes.
    SortInFrenchOrder(rows, [](const auto& row) { return row[0]; });
    for (const auto& row : rows) {
        toolkit::AddListRow(lvNiveau, row);
        SetRowCode(lvNiveau, lvNiveau->topLevelItemCount() - 1, row[1]);
    }
}

void TFicheParamNiveau::ClearListeNiveaux() {
    ClearListCodes(lvNiveau);
}

void TFicheParamNiveau::btnAjouterClick() {
    // A click that arrives while an add runs adds nothing more.
    if (Adding)
        return;
    const QScopedValueRollback<bool> adding(Adding, true);
    if (edtNiveau->text().isEmpty()) {
        toolkit::ShowMessage("Le libellé du niveau doit être renseigné");
        return;
    }
    // Checked here rather than left to the engine: a server refuses it in
    // English, a file would keep it whole.
    const qsizetype length = edtNiveau->text().toUcs4().size();
    if (length > schema::LibelleMaxLength) {
        toolkit::ShowMessage("Le libellé du niveau ne doit pas dépasser " +
                             std::to_string(schema::LibelleMaxLength) + " caractères (il en a " +
                             std::to_string(length) + ")");
        return;
    }
    // The rest of a quick burst of clicks would otherwise go to the user
    // that the rebuilt list shows first.
    if (cblUtilisateurs->currentIndex() < 0 || !UserSeenChosen) {
        toolkit::ShowMessage("Il faut sélectionner un utilisateur");
        return;
    }
    const std::string code = GetComboCode(cblUtilisateurs, cblUtilisateurs->currentIndex());
    const std::string libelle = ToAnsi(edtNiveau->text());
    bool added = false;
    {
        // The check and the insert under one write lock: another administrator
        // cannot give the user a level in between, even on a table without
        // its key.
        TABSTransaction transaction(Database, TABSDatabase::TransactionKind::Write,
                                    {schema::DimNiveau});
        if (!LevelExists(code)) {
            NewQuery(Database, std::string("INSERT INTO dim_niveau ( code , libelle "
                                           ") values (") +
                                   QuotedStr(code) + "," + QuotedStr(libelle) + " )")
                ->ExecSQL();
            added = true;
        }
        transaction.Commit();
    }
    if (!added) {
        LoadUtilisateurs();
        LoadListeNiveaux();
        toolkit::ShowMessage("Cet utilisateur a déjà un " + LevelLabel +
                             " : un autre administrateur vient de le créer.");
        return;
    }
    LoadUtilisateurs();
    LoadListeNiveaux();
}

bool TFicheParamNiveau::LevelExists(const std::string& code) {
    auto query = NewQuery(Database, std::string("SELECT code FROM dim_niveau") +
                                        " WHERE code = " + QuotedStr(code));
    query->Open();
    return !query->Eof();
}

void TFicheParamNiveau::btnSupprimerClick() {
    const int row = toolkit::ListItemIndex(lvNiveau);
    if (row < 0) {
        toolkit::ShowMessage("Vous devez sélectionner une ligne pour pouvoir la supprimer");
        return;
    }
    const std::string code = GetRowCode(lvNiveau, row);
    // The engine counts the links; no lock is held while the question waits.
    auto count = NewQuery(Database, std::string("SELECT COUNT(*) AS n FROM niveau_agence") +
                                        " WHERE niveau = " + QuotedStr(code));
    count->Open();
    const double links = count->FieldByName("n").AsFloat();
    count.reset();
    bool confirmed = true;
    if (links > 0) {
        const std::string question =
            std::to_string(static_cast<long long>(links)) +
            (links == 1 ? " agence est associée à ce niveau, confirmer la suppression ?"
                        : " agences sont associées à ce niveau, confirmer la suppression ?");
        confirmed = toolkit::MessageDlgYesNo(question);
    }
    if (confirmed) {
        // The links and the level go together, under the write lock: a link
        // that another administrator added after the count goes with them,
        // and none is left naming a missing level.
        TABSTransaction transaction(Database, TABSDatabase::TransactionKind::Write,
                                    {schema::DimNiveau, schema::NiveauAgence});
        NewQuery(Database,
                 std::string("DELETE FROM niveau_agence ") + " WHERE niveau = " + QuotedStr(code))
            ->ExecSQL();
        NewQuery(Database,
                 std::string("DELETE FROM dim_niveau ") + " WHERE code = " + QuotedStr(code))
            ->ExecSQL();
        transaction.Commit();
    }
    LoadUtilisateurs();
    LoadListeNiveaux();
}

void TFicheParamNiveau::FormDestroy() {
    ClearComboCodes(cblUtilisateurs);
    ClearListeNiveaux();
}
