#include "testadmin.h"

#include "admin/ficheparamniveau.h"
#include "data/absdatabase.h"

#include <QTest>

using namespace admintest;
using toolkit::MessageKind;

namespace {

// Five users; three levels with 1, 0 and 2 agency links; one level whose code
// belongs to no user.
const char* const kLevels = R"(
INSERT INTO dim_utilisateur VALUES ('U1','Alice Martin'), ('U2','Bruno Petit'),
    ('U3','Claire Dubois'), ('U4','Zoé Faure'), ('O''NEIL','Olivier O''Neil');
INSERT INTO dim_agence VALUES ('A1','Lyon'), ('A2','Paris'), ('A3','Marseille');
INSERT INTO dim_niveau VALUES ('U2','Secteur Nord'), ('U3','Secteur Est'),
    ('U4','Secteur Sud'), ('X9','Orphelin');
INSERT INTO niveau_agence VALUES ('U2','A1'), ('U4','A1'), ('U4','A2'), ('X9','A3');
)";

const QString kFillUsers =
    "SELECT code, libelle FROM dim_utilisateur WHERE code not in( SELECT "
    "distinct code FROM dim_niveau WHERE code IS NOT NULL) ORDER BY libelle ASC";
const QString kFillLevels = "SELECT u.libelle as utilisateur, n.code as code, n.libelle FROM "
                            "dim_niveau n, dim_utilisateur u WHERE n.code = u.code ORDER BY "
                            "u.libelle ASC";
const QString kNoRow = "Vous devez sélectionner une ligne pour pouvoir la supprimer";

// A shown level window over a fixture, with messages and statements recorded.
struct LevelWindow {
    // alias: another connection's name, for a second administrator.
    explicit LevelWindow(const FixtureFile& fixture, const std::string& alias = "quadrivel") {
        database.DatabaseName = alias;
        database.DatabaseFileName = fixture.Path();
        database.BusyTimeout = 100;
        window.SetDatabase(&database);
        window.SetLevelLabel("Chef de secteur");
        ShowForm(window);
    }
    QStringList Statements() const { return Strings(statements.statements); }
    void Click(QPushButton* button) {
        messages.Clear();
        statements.Clear();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void SelectRow(int row) { window.lvNiveau->setCurrentItem(window.lvNiveau->topLevelItem(row)); }

    TABSDatabase database;
    MessageRecorder messages;
    TFicheParamNiveau window{nullptr};
    StatementRecorder statements{&database};
};

} // namespace

void TestAdmin::levelActivation() {
    FixtureFile fixture(kLevels);
    TABSDatabase database;
    database.DatabaseFileName = fixture.Path();
    StatementRecorder statements(&database);
    TFicheParamNiveau w(nullptr);
    w.SetDatabase(&database);
    w.SetLevelLabel("Chef de secteur");
    QCOMPARE(w.windowTitle(), QString("Gestion des niveaux"));
    ShowForm(w);

    QCOMPARE(w.windowTitle(), QString("Paramétrage : Chef de secteur"));
    QCOMPARE(w.lblNiveau->text(), QString("Chef de secteur"));
    QVERIFY(w.lblNiveau->font().bold());
    QCOMPARE(w.gbAjouterNiveau->title(), QString("Ajouter un Chef de secteur"));
    QCOMPARE(w.lblNiveauLibelle->text(), QString("Chef de secteur Libellé"));
    QStringList headers;
    for (int c = 0; c < w.lvNiveau->columnCount(); ++c)
        headers << w.lvNiveau->headerItem()->text(c) + ":" +
                       QString::number(w.lvNiveau->columnWidth(c));
    QCOMPARE(headers, QStringList({"Utilisateur:200", "Code:50", "Chef de secteur:200"}));

    QCOMPARE(w.size(), QSize(515, 489));
    // The edit box belongs to the window and lies over the group box.
    QCOMPARE(w.edtNiveau->parentWidget(), static_cast<QWidget*>(&w));
    const QPoint middle = w.edtNiveau->geometry().center();
    QVERIFY(w.gbAjouterNiveau->geometry().contains(middle));
    QWidget* shown = w.childAt(middle);
    QVERIFY(shown == w.edtNiveau || w.edtNiveau->isAncestorOf(shown));
    QCOMPARE(w.edtNiveau->geometry(), QRect(40, 85, 345, 21));

    // Users without a level, by label; levels by user label, the orphan left out.
    QCOMPARE(ComboTexts(w.cblUtilisateurs), QStringList({"Alice Martin", "Olivier O'Neil"}));
    QCOMPARE(w.cblUtilisateurs->currentIndex(), 0);
    QCOMPARE(ListRows(w.lvNiveau),
             QStringList({"Bruno Petit|U2|Secteur Nord", "Claire Dubois|U3|Secteur Est",
                          "Zoé Faure|U4|Secteur Sud"}));
    QCOMPARE(Strings(statements.statements), QStringList({kFillUsers, kFillLevels}));
}

void TestAdmin::levelAddChecks() {
    FixtureFile fixture(kLevels);
    LevelWindow lw(fixture);
    auto& w = lw.window;
    const QStringList before = Rows(fixture, "SELECT * FROM dim_niveau ORDER BY code");

    // Empty label: refused, nothing read or written; closing the box leaves
    // the window as it was.
    lw.Click(w.btnAjouter);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)),
             QStringList({"Le libellé du niveau doit être renseigné"}));
    QCOMPARE(lw.Statements(), QStringList());

    w.edtNiveau->setText("Secteur Ouest");
    w.cblUtilisateurs->setCurrentIndex(-1);
    lw.Click(w.btnAjouter);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)),
             QStringList({"Il faut sélectionner un utilisateur"}));
    QCOMPARE(w.cblUtilisateurs->currentIndex(), -1); // still as the user left it

    // Every user has a level: the label is still checked first.
    fixture.Exec("INSERT INTO dim_niveau VALUES ('U1','A'), ('O''NEIL','B')");
    w.FormActivate();
    QCOMPARE(w.cblUtilisateurs->count(), 0);
    QCOMPARE(w.cblUtilisateurs->currentIndex(), -1);
    w.edtNiveau->clear();
    lw.Click(w.btnAjouter);
    w.edtNiveau->setText("Secteur Ouest");
    QTest::mouseClick(w.btnAjouter, Qt::LeftButton);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)),
             QStringList({"Le libellé du niveau doit être renseigné",
                          "Il faut sélectionner un utilisateur"}));
    QCOMPARE(lw.messages.messages.size(), std::size_t(2));
    QCOMPARE(Rows(fixture, "SELECT * FROM dim_niveau WHERE code NOT IN ('U1','O''NEIL') "
                           "ORDER BY code"),
             before);
}

void TestAdmin::levelAdd() {
    FixtureFile fixture(kLevels);
    LevelWindow lw(fixture);
    auto& w = lw.window;

    // A label of blanks is stored as typed, for the first user by label.
    w.edtNiveau->setText("   ");
    lw.Click(w.btnAjouter);
    QVERIFY(lw.messages.messages.empty());
    const QStringList begin = Strings(fixture.WriteBegin({"dim_niveau"}));
    QCOMPARE(lw.Statements(),
             begin + QStringList({"SELECT code FROM dim_niveau WHERE code = 'U1'",
                                  "INSERT INTO dim_niveau ( code , libelle ) values ('U1','   ' )",
                                  "COMMIT", kFillUsers, kFillLevels}));
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'U1'"),
             QStringList({"   "}));
    QCOMPARE(ComboTexts(w.cblUtilisateurs), QStringList({"Olivier O'Neil"}));
    QCOMPARE(w.cblUtilisateurs->currentIndex(), 0);
    QCOMPARE(ListRows(w.lvNiveau).value(0), QString("Alice Martin|U1|   "));
    QCOMPARE(w.edtNiveau->text(), QString("   "));

    // The rest of a triple click: the user now shown first was chosen by the
    // rebuilt list, not by the user, and gets no level.
    lw.Click(w.btnAjouter);
    QTest::mouseDClick(w.btnAjouter, Qt::LeftButton);
    QTest::mouseClick(w.btnAjouter, Qt::LeftButton);
    QVERIFY(!lw.Statements().join('\n').contains("INSERT"));
    QCOMPARE(Rows(fixture, "SELECT code FROM dim_niveau WHERE code LIKE 'O%'"), QStringList());
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)).value(0),
             QString("Il faut sélectionner un utilisateur"));

    // Apostrophes in the code and the label are stored and matched exactly.
    // Enter in the label adds as the button does.
    Pick(w.cblUtilisateurs, 0);
    w.edtNiveau->setText("Chef d'agence Sud-Est");
    lw.messages.Clear();
    lw.statements.Clear();
    QTest::keyClick(w.edtNiveau, Qt::Key_Return);
    QVERIFY(lw.messages.messages.empty());
    QCOMPARE(lw.Statements().value(begin.size() + 1),
             QString("INSERT INTO dim_niveau ( code , libelle ) values "
                     "('O''NEIL','Chef d''agence Sud-Est' )"));
    QCOMPARE(Rows(fixture, "SELECT code, libelle FROM dim_niveau WHERE code LIKE 'O%'"),
             QStringList({"O'NEIL|Chef d'agence Sud-Est"}));
    QCOMPARE(
        ListRows(w.lvNiveau),
        QStringList({"Alice Martin|U1|   ", "Bruno Petit|U2|Secteur Nord",
                     "Claire Dubois|U3|Secteur Est", "Olivier O'Neil|O'NEIL|Chef d'agence Sud-Est",
                     "Zoé Faure|U4|Secteur Sud"}));
    QCOMPARE(w.cblUtilisateurs->count(), 0);

    lw.SelectRow(3);
    lw.Click(w.btnSupprimer);
    QVERIFY(lw.messages.messages.empty());
    QVERIFY(lw.Statements().contains(
        "SELECT COUNT(*) AS n FROM niveau_agence WHERE niveau = 'O''NEIL'"));
    QVERIFY(lw.Statements().contains("DELETE FROM dim_niveau  WHERE code = 'O''NEIL'"));
    QVERIFY(Rows(fixture, "SELECT code FROM dim_niveau WHERE code LIKE 'O%'").isEmpty());
    QCOMPARE(ComboTexts(w.cblUtilisateurs), QStringList({"Olivier O'Neil"}));

    // A click that arrives while an add runs adds nothing more.
    Pick(w.cblUtilisateurs, 0);
    BeforeStatement(lw.database,
                    "INSERT INTO dim_niveau ( code , libelle ) values "
                    "('O''NEIL','Chef d''agence Sud-Est' )",
                    [&] { w.btnAjouterClick(); });
    lw.Click(w.btnAjouter);
    QVERIFY(lw.messages.messages.empty());
    QCOMPARE(lw.Statements().filter("INSERT").size(), 1);
    QCOMPARE(Rows(fixture, "SELECT code FROM dim_niveau WHERE code LIKE 'O%'"),
             QStringList({"O'NEIL"}));

    // A label longer than its column is refused in French before anything
    // is written; 255 characters, accents included, are stored.
    fixture.Exec("DELETE FROM dim_niveau WHERE code = 'O''NEIL'");
    w.FormActivate();
    w.edtNiveau->setText(QString(256, QChar(0xE9)));
    lw.Click(w.btnAjouter);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)),
             QStringList({"Le libellé du niveau ne doit pas dépasser 255 caractères (il en a "
                          "256)"}));
    QVERIFY(!lw.Statements().join('\n').contains("INSERT"));
    w.edtNiveau->setText(QString(255, QChar(0xE9)));
    lw.Click(w.btnAjouter);
    QVERIFY(lw.messages.messages.empty());
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'O''NEIL'"),
             QStringList({QString(255, QChar(0xE9))}));
}

void TestAdmin::levelDelete() {
    FixtureFile fixture(kLevels);
    LevelWindow lw(fixture);
    auto& w = lw.window;
    const auto levels = [&] { return Rows(fixture, "SELECT code FROM dim_niveau ORDER BY code"); };
    const auto links = [&] {
        return Rows(fixture, "SELECT niveau || '-' || agence FROM niveau_agence ORDER BY 1");
    };

    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)), QStringList({kNoRow}));
    QCOMPARE(levels(), QStringList({"U2", "U3", "U4", "X9"}));

    // No links: deleted at once, without a question; the user comes back.
    lw.SelectRow(1);
    lw.Click(w.btnSupprimer);
    QVERIFY(lw.messages.messages.empty());
    const QStringList begin = Strings(fixture.WriteBegin({"dim_niveau", "niveau_agence"}));
    QCOMPARE(lw.Statements(),
             QStringList({"SELECT COUNT(*) AS n FROM niveau_agence WHERE niveau = 'U3'"}) + begin +
                 QStringList({"DELETE FROM niveau_agence  WHERE niveau = 'U3'",
                              "DELETE FROM dim_niveau  WHERE code = 'U3'", "COMMIT", kFillUsers,
                              kFillLevels}));
    QCOMPARE(levels(), QStringList({"U2", "U4", "X9"}));
    QCOMPARE(ComboTexts(w.cblUtilisateurs),
             QStringList({"Alice Martin", "Claire Dubois", "Olivier O'Neil"}));

    // One link, answered No: nothing deleted, both lists rebuilt.
    lw.SelectRow(0);
    lw.messages.AnswerNext(false);
    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Confirmation)),
             QStringList({"1 agence est associée à ce niveau, confirmer la suppression ?"}));
    QCOMPARE(lw.Statements(),
             QStringList({"SELECT COUNT(*) AS n FROM niveau_agence WHERE niveau = 'U2'", kFillUsers,
                          kFillLevels}));
    QCOMPARE(levels(), QStringList({"U2", "U4", "X9"}));
    QCOMPARE(links(), QStringList({"U2-A1", "U4-A1", "U4-A2", "X9-A3"}));

    // Answered Yes: the links go with the level, in one transaction.
    lw.SelectRow(0);
    lw.messages.AnswerNext(true);
    lw.Click(w.btnSupprimer);
    QCOMPARE(lw.messages.messages.size(), std::size_t(1));
    QCOMPARE(lw.Statements(),
             QStringList({"SELECT COUNT(*) AS n FROM niveau_agence WHERE niveau = 'U2'"}) + begin +
                 QStringList({"DELETE FROM niveau_agence  WHERE niveau = 'U2'",
                              "DELETE FROM dim_niveau  WHERE code = 'U2'", "COMMIT", kFillUsers,
                              kFillLevels}));
    QCOMPARE(levels(), QStringList({"U4", "X9"}));
    QCOMPARE(links(), QStringList({"U4-A1", "U4-A2", "X9-A3"}));
    QVERIFY(ComboTexts(w.cblUtilisateurs).contains("Bruno Petit"));

    // Two links.
    lw.SelectRow(0);
    lw.messages.AnswerNext(true);
    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Confirmation)),
             QStringList({"2 agences sont associées à ce niveau, confirmer la suppression ?"}));
    QCOMPARE(levels(), QStringList({"X9"}));
    QCOMPARE(links(), QStringList({"X9-A3"}));
    QCOMPARE(w.lvNiveau->topLevelItemCount(), 0);

    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)), QStringList({kNoRow}));
}

void TestAdmin::levelRefusedWrites() {
    FixtureFile fixture(kLevels);
    LevelWindow lw(fixture);
    auto& w = lw.window;

    // Another program gives Alice a level after the list was read.
    fixture.Exec("INSERT INTO dim_niveau VALUES ('U1','Externe')");
    w.edtNiveau->setText("Secteur Ouest");
    lw.Click(w.btnAjouter);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Information)),
             QStringList({"Cet utilisateur a déjà un Chef de secteur : un autre administrateur "
                          "vient de le créer."}));
    QVERIFY(lw.messages.Texts(MessageKind::Error).empty());
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'U1'"),
             QStringList({"Externe"}));
    QCOMPARE(ComboTexts(w.cblUtilisateurs), QStringList({"Olivier O'Neil"}));
    QVERIFY(lw.database.findChildren<TABSQuery*>().isEmpty());

    // The window goes on working.
    Pick(w.cblUtilisateurs, 0);
    lw.Click(w.btnAjouter);
    QVERIFY(lw.messages.messages.empty());
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'O''NEIL'"),
             QStringList({"Secteur Ouest"}));

    // The level's delete fails after its links' delete: both stay.
    fixture.RefuseWrites("keep_levels", "DELETE", "dim_niveau", "suppression refusée");
    const int bruno = ListRows(w.lvNiveau).indexOf("Bruno Petit|U2|Secteur Nord");
    QVERIFY(bruno >= 0);
    lw.SelectRow(bruno);
    lw.messages.AnswerNext(true);
    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Error)), QStringList({"suppression refusée"}));
    QVERIFY(lw.Statements().contains("DELETE FROM niveau_agence  WHERE niveau = 'U2'"));
    QCOMPARE(Rows(fixture, "SELECT agence FROM niveau_agence WHERE niveau = 'U2'"),
             QStringList({"A1"}));
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'U2'"),
             QStringList({"Secteur Nord"}));
    QVERIFY(lw.database.findChildren<TABSQuery*>().isEmpty());
}

void TestAdmin::levelWritesRaceFreeBetweenAdministrators() {
    FixtureFile fixture(kLevels);
    LevelWindow lw(fixture);
    auto& w = lw.window;
    const auto links = [&](const char* level) {
        return Rows(fixture, std::string("SELECT agence FROM niveau_agence WHERE niveau = '") +
                                 level + "' ORDER BY 1");
    };

    // Claire's level has no link when counted; another administrator attaches
    // Marseille just before the delete starts: no link is left naming the
    // deleted level.
    const QStringList begin = Strings(fixture.WriteBegin({"dim_niveau", "niveau_agence"}));
    BeforeStatement(lw.database, begin[0].toStdString(),
                    [&] { fixture.Exec("INSERT INTO niveau_agence VALUES ('U3','A3')"); });
    lw.SelectRow(1);
    lw.Click(w.btnSupprimer);
    QVERIFY(lw.messages.messages.empty());
    QVERIFY(Rows(fixture, "SELECT code FROM dim_niveau WHERE code = 'U3'").isEmpty());
    QVERIFY(links("U3").isEmpty());

    // The question holds no lock: another program writes while it waits, and
    // its link goes with the level once the user says Yes.
    bool otherWrote = false;
    toolkit::SetMessageHook([&](MessageKind kind, const QString&) {
        if (kind != MessageKind::Confirmation)
            return false;
        fixture.Exec("INSERT INTO niveau_agence VALUES ('U2','A2')");
        otherWrote = true;
        return true;
    });
    lw.SelectRow(0); // Bruno Petit, one link
    lw.Click(w.btnSupprimer);
    toolkit::SetMessageHook(nullptr);
    QVERIFY(otherWrote);
    QVERIFY(Rows(fixture, "SELECT code FROM dim_niveau WHERE code = 'U2'").isEmpty());
    QVERIFY(links("U2").isEmpty());

    // A level whose code holds an apostrophe goes with its links.
    fixture.Exec("INSERT INTO dim_niveau VALUES ('O''NEIL','Secteur d''Olivier');"
                 "INSERT INTO niveau_agence VALUES ('O''NEIL','A1'), ('O''NEIL','A2')");
    MessageRecorder messages;
    w.FormActivate();
    lw.SelectRow(ListRows(w.lvNiveau).indexOf("Olivier O'Neil|O'NEIL|Secteur d'Olivier"));
    messages.AnswerNext(true);
    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(messages.Texts(MessageKind::Confirmation)),
             QStringList({"2 agences sont associées à ce niveau, confirmer la suppression ?"}));
    QCOMPARE(lw.Statements().mid(0, begin.size() + 4),
             QStringList({"SELECT COUNT(*) AS n FROM niveau_agence WHERE niveau = 'O''NEIL'"}) +
                 begin +
                 QStringList({"DELETE FROM niveau_agence  WHERE niveau = 'O''NEIL'",
                              "DELETE FROM dim_niveau  WHERE code = 'O''NEIL'", "COMMIT"}));
    QVERIFY(links("O''NEIL").isEmpty());
    QVERIFY(Rows(fixture, "SELECT code FROM dim_niveau WHERE code = 'O''NEIL'").isEmpty());

    // Two administrators give the same user a level, on tables without keys:
    // one level only, and the second is told why.
    FixtureFile keyless(std::string(kKeylessSchema) + kLevels, false);
    LevelWindow first(keyless, "premier");
    LevelWindow second(keyless, "second");
    QCOMPARE(first.window.cblUtilisateurs->currentText(), QString("Alice Martin"));
    QCOMPARE(second.window.cblUtilisateurs->currentText(), QString("Alice Martin"));
    first.window.edtNiveau->setText("Secteur Ouest");
    second.window.edtNiveau->setText("Secteur Atlantique");
    first.Click(first.window.btnAjouter);
    second.Click(second.window.btnAjouter);
    QVERIFY(first.messages.messages.empty());
    QCOMPARE(Strings(second.messages.Texts(MessageKind::Information)),
             QStringList({"Cet utilisateur a déjà un Chef de secteur : un autre administrateur "
                          "vient de le créer."}));
    QCOMPARE(Rows(keyless, "SELECT libelle FROM dim_niveau WHERE code = 'U1'"),
             QStringList({"Secteur Ouest"}));

    // A write refused by the engine rolls its transaction back: the write
    // lock is free again for other programs.
    keyless.RefuseWrites("no_levels", "INSERT", "dim_niveau", "ajout refusé");
    Pick(second.window.cblUtilisateurs, 0);
    second.window.edtNiveau->setText("Secteur Atlantique");
    second.Click(second.window.btnAjouter);
    QCOMPARE(Strings(second.messages.Texts(MessageKind::Error)), QStringList({"ajout refusé"}));
    QVERIFY(!second.database.InTransaction());
    WriteLock other(keyless);
    QVERIFY(other.Held());
}

void TestAdmin::levelWritesRefusedToReaderRole() {
    if (!FixtureFile::OnServer())
        return; // a file has no roles
    // A reader who typed the administrator's code: the window shows its own
    // level alone (the server hides the others, whose heads then look free),
    // every write is refused by the server, nothing changes, the window goes
    // on.
    FixtureFile fixture(kLevels);
    fixture.MakeRoles();
    fixture.MapLogin("lecteur_essai", "U3");
    const QStringList levels = Rows(fixture, "SELECT code, libelle FROM dim_niveau ORDER BY 1");
    const QStringList links =
        Rows(fixture, "SELECT niveau, agence FROM niveau_agence ORDER BY 1, 2");
    const QString refused = "Le serveur refuse cette opération : ce compte n'en a pas le droit. "
                            "Rien n'a été modifié.\nMessage du moteur : permission denied for "
                            "table ";
    LevelWindow lw(fixture);
    lw.database.Close();
    lw.database.DatabaseFileName = fixture.UriAs("lecteur_essai");
    auto& w = lw.window;
    w.FormActivate();
    QCOMPARE(ComboTexts(w.cblUtilisateurs),
             QStringList({"Alice Martin", "Bruno Petit", "Olivier O'Neil", "Zoé Faure"}));
    QCOMPARE(ListRows(w.lvNiveau).size(), 1);

    w.edtNiveau->setText("Secteur Ouest");
    lw.Click(w.btnAjouter);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Error)), QStringList({refused + "dim_niveau"}));
    QVERIFY(!lw.database.InTransaction());

    lw.SelectRow(0); // Claire Dubois, no link
    lw.Click(w.btnSupprimer);
    QCOMPARE(Strings(lw.messages.Texts(MessageKind::Error)), QStringList({refused + "dim_niveau"}));
    QCOMPARE(Rows(fixture, "SELECT code, libelle FROM dim_niveau ORDER BY 1"), levels);
    QCOMPARE(Rows(fixture, "SELECT niveau, agence FROM niveau_agence ORDER BY 1, 2"), links);

    // Still usable: the lists are read again.
    lw.statements.Clear();
    w.FormActivate();
    QCOMPARE(lw.Statements(), QStringList({kFillUsers, kFillLevels}));
    QCOMPARE(ListRows(w.lvNiveau).size(), 1);

    // The administrator's role writes the same level.
    lw.database.Close();
    lw.database.DatabaseFileName = fixture.UriAs("admin_essai");
    lw.Click(w.btnAjouter);
    QVERIFY(lw.messages.messages.empty());
    QCOMPARE(Rows(fixture, "SELECT libelle FROM dim_niveau WHERE code = 'U1'"),
             QStringList({"Secteur Ouest"}));
}
