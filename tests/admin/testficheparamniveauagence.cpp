#include "testadmin.h"

#include "admin/ficheparamniveau.h"
#include "admin/ficheparamniveauagence.h"
#include "app/ficheprincipale.h"
#include "data/absdatabase.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace admintest;
using toolkit::MessageKind;

namespace {

// Two levels (Alpes first by label); Lyon is linked to both.
const char* const kLinks = R"(
INSERT INTO dim_utilisateur VALUES ('U2','Bruno Petit'), ('U4','Zoé Faure');
INSERT INTO dim_niveau VALUES ('U2','Secteur Nord'), ('U4','Secteur Alpes');
INSERT INTO dim_agence VALUES ('A1','Lyon'), ('A2','Paris'), ('A3','Marseille'),
    ('A''4','Villeneuve-d''Ascq');
INSERT INTO niveau_agence VALUES ('U4','A1'), ('U2','A1'), ('U4','A2');
)";

const QString kFillLevels = "SELECT code, libelle FROM dim_niveau ORDER BY libelle ASC";

QString FillAgencies(const QString& level) {
    return "SELECT code, libelle FROM dim_agence WHERE code not in(  SELECT distinct agence FROM "
           "niveau_agence WHERE niveau = '" +
           level + "' AND agence IS NOT NULL ) ORDER BY libelle ASC";
}

QString FillLinks(const QString& level) {
    return "SELECT a.code, a.libelle FROM dim_agence a, niveau_agence na WHERE a.code = "
           "na.agence AND na.niveau = '" +
           level + "' ORDER BY a.libelle ASC";
}

struct AgencyWindow {
    explicit AgencyWindow(const FixtureFile& fixture) {
        database.DatabaseFileName = fixture.Path();
        database.BusyTimeout = 100;
        window->SetDatabase(&database);
        window->SetLevelLabel("Chef de secteur");
        ShowForm(*window);
    }
    QStringList Statements() const { return Strings(statements.statements); }
    void Click(QPushButton* button) {
        messages.Clear();
        statements.Clear();
        QTest::mouseClick(button, Qt::LeftButton);
    }
    void PickLevel(int index) {
        statements.Clear();
        Pick(window->cblNiveaux, index);
    }

    TABSDatabase database;
    MessageRecorder messages;
    std::unique_ptr<TFicheParamNiveauAgence> window =
        std::make_unique<TFicheParamNiveauAgence>(nullptr);
    StatementRecorder statements{&database};
};

QStringList Links(const FixtureFile& fixture) {
    return Rows(fixture, "SELECT niveau || '-' || agence FROM niveau_agence ORDER BY 1");
}

} // namespace

void TestAdmin::agencyActivationAndLevelChange() {
    FixtureFile fixture(kLinks);
    AgencyWindow aw(fixture);
    auto& w = *aw.window;

    QCOMPARE(w.windowTitle(), QString("Paramétrage des agences par Chef de secteur"));
    QCOMPARE(w.lblNiveau->text(), QString("Chef de secteur"));
    QCOMPARE(w.lblAgences->text(), QString("Agences"));
    QVERIFY(w.lblAgences->font().bold());
    QCOMPARE(w.gbAjouterAgence->title(), QString("Ajouter une agence"));
    QCOMPARE(w.lvNiveau->headerItem()->text(0) + "|" + w.lvNiveau->headerItem()->text(1),
             QString("Agence|Code"));
    QCOMPARE(w.lvNiveau->columnWidth(0), 380);
    QCOMPARE(w.size(), QSize(515, 489));

    // The first level by label is chosen; an agency linked to another level
    // is still offered.
    QCOMPARE(ComboTexts(w.cblNiveaux), QStringList({"Secteur Alpes", "Secteur Nord"}));
    QCOMPARE(w.cblNiveaux->currentIndex(), 0);
    QCOMPARE(ComboTexts(w.cblAgences), QStringList({"Marseille", "Villeneuve-d'Ascq"}));
    QCOMPARE(w.cblAgences->currentIndex(), 0);
    QCOMPARE(ListRows(w.lvNiveau), QStringList({"Lyon|A1", "Paris|A2"}));
    QCOMPARE(aw.Statements(), QStringList({kFillLevels, FillAgencies("U4"), FillLinks("U4")}));

    aw.PickLevel(1);
    QCOMPARE(aw.Statements(), QStringList({FillAgencies("U2"), FillLinks("U2")}));
    QCOMPARE(ComboTexts(w.cblAgences), QStringList({"Marseille", "Paris", "Villeneuve-d'Ascq"}));
    QCOMPARE(w.cblAgences->currentIndex(), 0);
    QCOMPARE(ListRows(w.lvNiveau), QStringList({"Lyon|A1"}));
    QVERIFY(w.lblAucuneAgence->isHidden());

    // The level's last agency detached: the list says so, whole, and the
    // add and delete flows stay as they are.
    w.lvNiveau->setCurrentItem(w.lvNiveau->topLevelItem(0));
    aw.Click(w.btnSupprimer);
    QCOMPARE(ListRows(w.lvNiveau), QStringList{});
    QVERIFY(!w.lblAucuneAgence->isHidden());
    QCOMPARE(w.lblAucuneAgence->text(), QString("Aucune agence pour ce chef de secteur"));
    QVERIFY(w.lvNiveau->viewport()->rect().contains(w.lblAucuneAgence->geometry()));
    aw.Click(w.btnSupprimer);
    QCOMPARE(aw.messages.Texts(toolkit::MessageKind::Information),
             std::vector<std::string>{"Vous devez sélectionner une ligne pour pouvoir la "
                                      "supprimer"});
    aw.Click(w.btnAjouter);
    QCOMPARE(ListRows(w.lvNiveau), QStringList({"Lyon|A1"}));
    QVERIFY(w.lblAucuneAgence->isHidden());

    // The list grows and shrinks with the window, the button under it.
    w.resize(700, 700);
    QCOMPARE(w.lvNiveau->geometry(), QRect(24, 152, 652, 508));
    QCOMPARE(w.btnSupprimer->geometry(), QRect(24, 666, 652, 25));
    w.resize(w.minimumSize());
    QVERIFY(w.lvNiveau->height() >= 100);
    QVERIFY(w.rect().contains(w.btnSupprimer->geometry()));
}

void TestAdmin::agencyChecks() {
    FixtureFile fixture(kLinks);
    AgencyWindow aw(fixture);
    auto& w = *aw.window;

    // Every agency attached to the chosen level.
    fixture.Exec("INSERT INTO niveau_agence VALUES ('U4','A3'), ('U4','A''4')");
    w.FormActivate();
    QCOMPARE(w.cblAgences->count(), 0);
    aw.Click(w.btnAjouter);
    QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)),
             QStringList({"Il faut sélectionner une agence"}));

    // No level at all: the level is checked first.
    fixture.Exec("DELETE FROM dim_niveau");
    w.FormActivate();
    QCOMPARE(w.cblNiveaux->currentIndex(), -1);
    QCOMPARE(w.lvNiveau->topLevelItemCount(), 0);
    aw.Click(w.btnAjouter);
    QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)),
             QStringList({"Il faut sélectionner un Chef de secteur"}));
    aw.Click(w.btnSupprimer);
    QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)),
             QStringList({"Vous devez sélectionner une ligne pour pouvoir la supprimer"}));
    QCOMPARE(Links(fixture).size(), 5);
}

void TestAdmin::agencyAttachDetach() {
    FixtureFile fixture(kLinks);
    AgencyWindow aw(fixture);
    auto* w = aw.window.get();

    aw.PickLevel(1); // Secteur Nord
    w->cblAgences->setCurrentIndex(2);
    aw.Click(w->btnAjouter);
    QVERIFY(aw.messages.messages.empty());
    QCOMPARE(
        aw.Statements(),
        Strings(fixture.WriteBegin({"dim_niveau", "niveau_agence"})) +
            QStringList({"SELECT code FROM dim_niveau WHERE code = 'U2'",
                         "SELECT agence FROM niveau_agence WHERE niveau = 'U2' AND agence = 'A''4'",
                         "INSERT INTO niveau_agence ( niveau , agence ) values ('U2','A''4' )",
                         "COMMIT", FillAgencies("U2"), FillLinks("U2")}));
    QCOMPARE(Links(fixture), QStringList({"U2-A'4", "U2-A1", "U4-A1", "U4-A2"}));
    QCOMPARE(w->cblNiveaux->currentText(), QString("Secteur Nord"));
    QCOMPARE(ComboTexts(w->cblAgences), QStringList({"Marseille", "Paris"}));
    QCOMPARE(w->cblAgences->currentIndex(), 0);
    QCOMPARE(ListRows(w->lvNiveau), QStringList({"Lyon|A1", "Villeneuve-d'Ascq|A'4"}));

    aw.Click(w->btnSupprimer);
    QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)),
             QStringList({"Vous devez sélectionner une ligne pour pouvoir la supprimer"}));
    aw.PickLevel(1); // the message's activation chose the first level again

    // Lyon is detached from Nord only: its link with Alpes stays.
    w->lvNiveau->setCurrentItem(w->lvNiveau->topLevelItem(0));
    aw.Click(w->btnSupprimer);
    QVERIFY(aw.messages.messages.empty());
    QCOMPARE(aw.Statements().value(0),
             QString("DELETE FROM niveau_agence  WHERE agence = 'A1' AND niveau = 'U2'"));
    QCOMPARE(Links(fixture), QStringList({"U2-A'4", "U4-A1", "U4-A2"}));
    QCOMPARE(w->cblNiveaux->currentText(), QString("Secteur Nord"));
    QCOMPARE(ComboTexts(w->cblAgences), QStringList({"Lyon", "Marseille", "Paris"}));
    QCOMPARE(ListRows(w->lvNiveau), QStringList({"Villeneuve-d'Ascq|A'4"}));

    w->lvNiveau->setCurrentItem(w->lvNiveau->topLevelItem(0));
    aw.Click(w->btnSupprimer);
    QCOMPARE(aw.Statements().value(0),
             QString("DELETE FROM niveau_agence  WHERE agence = 'A''4' AND niveau = 'U2'"));
    QCOMPARE(Links(fixture), QStringList({"U4-A1", "U4-A2"}));

    // A new opening chooses the first level by label again.
    aw.window.reset();
    aw.window = std::make_unique<TFicheParamNiveauAgence>(nullptr);
    aw.window->SetDatabase(&aw.database);
    ShowForm(*aw.window);
    QCOMPARE(aw.window->cblNiveaux->currentIndex(), 0);
    QCOMPARE(aw.window->cblNiveaux->currentText(), QString("Secteur Alpes"));
    QCOMPARE(ListRows(aw.window->lvNiveau), QStringList({"Lyon|A1", "Paris|A2"}));
}

void TestAdmin::agencyLockedWrite() {
    FixtureFile fixture(kLinks);
    AgencyWindow aw(fixture);
    auto& w = *aw.window;
    {
        WriteLock lock(fixture);
        QVERIFY(lock.Held());
        aw.Click(w.btnAjouter);
        const QStringList errors = Strings(aw.messages.Texts(MessageKind::Error));
        QCOMPARE(errors.size(), 1);
        QVERIFY2(errors[0].startsWith("La base de données est verrouillée") ||
                     errors[0].startsWith("Les tables sont verrouillées"),
                 qPrintable(errors[0]));
        QVERIFY(aw.database.findChildren<TABSQuery*>().isEmpty());
    }
    QCOMPARE(Links(fixture), QStringList({"U2-A1", "U4-A1", "U4-A2"}));

    // Once the other program lets go, the same click goes through.
    aw.Click(w.btnAjouter);
    QVERIFY(aw.messages.messages.empty());
    QCOMPARE(Links(fixture), QStringList({"U2-A1", "U4-A1", "U4-A2", "U4-A3"}));

    // A link the engine refuses is rolled back: nothing written, and the
    // write lock is free again for other programs.
    fixture.RefuseWrites("no_links", "INSERT", "niveau_agence", "lien refusé");
    aw.Click(w.btnAjouter);
    QCOMPARE(Strings(aw.messages.Texts(MessageKind::Error)), QStringList({"lien refusé"}));
    QCOMPARE(Links(fixture), QStringList({"U2-A1", "U4-A1", "U4-A2", "U4-A3"}));
    WriteLock other(fixture);
    QVERIFY(other.Held());
}

void TestAdmin::agencyAttachToLevelDeletedMeanwhile() {
    const QString gone = "Ce Chef de secteur n'existe plus : un autre administrateur l'a "
                         "supprimé. Aucune agence n'a été associée.";
    // The window shows Secteur Alpes; another administrator deletes it while
    // the window is open.
    {
        FixtureFile fixture(kLinks);
        AgencyWindow aw(fixture);
        fixture.Exec("DELETE FROM niveau_agence WHERE niveau = 'U4';"
                     "DELETE FROM dim_niveau WHERE code = 'U4'");
        aw.Click(aw.window->btnAjouter);
        QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)), QStringList({gone}));
        QCOMPARE(Links(fixture), QStringList({"U2-A1"}));
        // The lists were read again: only the remaining level is offered.
        QCOMPARE(ComboTexts(aw.window->cblNiveaux), QStringList({"Secteur Nord"}));
    }
    // The same, the level going just before the attaching transaction starts.
    {
        FixtureFile fixture(kLinks);
        AgencyWindow aw(fixture);
        BeforeStatement(aw.database, fixture.WriteBegin({})[0], [&] {
            fixture.Exec("DELETE FROM niveau_agence WHERE niveau = 'U4';"
                         "DELETE FROM dim_niveau WHERE code = 'U4'");
        });
        aw.Click(aw.window->btnAjouter);
        QCOMPARE(Strings(aw.messages.Texts(MessageKind::Information)), QStringList({gone}));
        QCOMPARE(Links(fixture), QStringList({"U2-A1"}));
    }
    // A link another administrator has just made is not made twice, on a
    // table without keys.
    {
        FixtureFile fixture(std::string(kKeylessSchema) + kLinks, false);
        AgencyWindow aw(fixture);
        QCOMPARE(aw.window->cblAgences->currentText(), QString("Marseille"));
        fixture.Exec("INSERT INTO niveau_agence VALUES ('U4','A3')");
        aw.Click(aw.window->btnAjouter);
        QVERIFY(aw.messages.messages.empty());
        QCOMPARE(Links(fixture), QStringList({"U2-A1", "U4-A1", "U4-A2", "U4-A3"}));
        QCOMPARE(ListRows(aw.window->lvNiveau),
                 QStringList({"Lyon|A1", "Marseille|A3", "Paris|A2"}));
    }
}

void TestAdmin::nullCodesKeepListsFull() {
    // Rows with a NULL code, as another tool may leave them, hide no valid
    // entry.
    FixtureFile fixture(std::string(kKeylessSchema) + kLinks +
                            "INSERT INTO dim_niveau VALUES (NULL, 'Sans code');"
                            "INSERT INTO niveau_agence VALUES ('U4', NULL), (NULL, 'A3');"
                            "INSERT INTO dim_utilisateur VALUES ('U7', 'Ariane Roux');",
                        false);
    AgencyWindow aw(fixture);
    aw.PickLevel(ComboTexts(aw.window->cblNiveaux).indexOf("Secteur Alpes"));
    QCOMPARE(ComboTexts(aw.window->cblAgences), QStringList({"Marseille", "Villeneuve-d'Ascq"}));

    TABSDatabase database;
    database.DatabaseName = "second";
    database.DatabaseFileName = fixture.Path();
    MessageRecorder messages;
    TFicheParamNiveau levels(nullptr);
    levels.SetDatabase(&database);
    ShowForm(levels);
    QCOMPARE(ComboTexts(levels.cblUtilisateurs), QStringList({"Ariane Roux"}));
    QVERIFY(messages.messages.empty());
}

void TestAdmin::mainWindowOpensWindows() {
    FixtureFile fixture(kLinks);
    MessageRecorder messages;
    TFichePrincipale main;
    main.SetDatabasePath(fixture.Path());
    main.SetAdmin(true);
    ShowForm(main);

    QStringList seen;
    const auto inspect = [&](QWidget* modal) {
        if (auto* level = qobject_cast<TFicheParamNiveau*>(modal))
            seen << "niveau" << level->windowTitle() << level->gbAjouterNiveau->title()
                 << level->lblNiveauLibelle->text()
                 << QString::number(level->lvNiveau->topLevelItemCount());
        if (auto* agency = qobject_cast<TFicheParamNiveauAgence*>(modal))
            seen << "agence" << agency->windowTitle() << agency->lblNiveau->text()
                 << agency->cblNiveaux->currentText();
    };
    CloseNextModal(inspect);
    QTest::mouseClick(main.btnParamNiveau, Qt::LeftButton);
    CloseNextModal(inspect);
    QTest::mouseClick(main.btnParamNiveauAgence, Qt::LeftButton);

    QCOMPARE(seen, QStringList({"niveau", "Paramétrage : Chef de secteur",
                                "Ajouter un Chef de secteur", "Chef de secteur Libellé", "2",
                                "agence", "Paramétrage des agences par Chef de secteur",
                                "Chef de secteur", "Secteur Alpes"}));
    QVERIFY(messages.messages.empty());
    // Each window is destroyed when it closes.
    QVERIFY(main.findChildren<TForm*>().isEmpty());
}

QTEST_MAIN(TestAdmin)

void TestAdmin::agencyListHashedOverManyLinks() {
    if (!FixtureFile::OnServer())
        return; // the server's plan
    // A level linked to 400,000 agencies: the agencies it lacks are found
    // through a hash of its links, not by reading them again for each agency
    // (a plan that never ended at a million links). The session's working
    // memory makes the difference; the statement stays as it is.
    FixtureFile fixture(std::string(kLinks) +
                        "INSERT INTO dim_agence SELECT 'X' || i, 'Agence ' || i FROM "
                        "generate_series(1, 400000) i;"
                        "INSERT INTO niveau_agence SELECT 'U4', 'X' || i FROM "
                        "generate_series(1, 400000) i;"
                        "ANALYZE dim_agence; ANALYZE niveau_agence");
    {
        TABSDatabase database;
        database.DatabaseFileName = fixture.Path();
        const auto plan = NewQuery(&database, "EXPLAIN " + FillAgencies("U4").toStdString());
        plan->Open();
        QString text;
        for (; !plan->Eof(); plan->Next())
            text += QString::fromStdString(plan->FieldByName("QUERY PLAN").AsAnsiString()) + "\n";
        QVERIFY2(text.contains("hashed SubPlan"), qPrintable(text));
    }
    AgencyWindow aw(fixture);
    QCOMPARE(ComboTexts(aw.window->cblAgences), QStringList({"Marseille", "Villeneuve-d'Ascq"}));
    QCOMPARE(aw.Statements(), QStringList({kFillLevels, FillAgencies("U4"), FillLinks("U4")}));
}
