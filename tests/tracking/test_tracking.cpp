// The tracking window driven as a sales manager uses it, on figures chosen by
// hand: every expected text below was worked out on paper.

#include "admin/ficheparamniveau.h"
#include "admin/ficheparamniveauagence.h"
#include "app/ficheprincipale.h"
#include "charts/fichebarchart2series.h"
#include "data/absdatabase.h"
#include "data/account.h"
#include "data/accountsql.h"
#include "testsupport.h"
#include "tracking/fichequadrivel.h"
#include "tracking/numberformat.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QHeaderView>
#include <QScreen>
#include <QTimer>
#include <QtTest>

#include <climits>
#include <cmath>
#include <limits>

namespace {

using Rows = std::vector<std::vector<std::string>>;
using Texts = std::vector<std::string>;

// Levels: Nord (U1: Lille, Lyon), Ouest d'Abord (U'4: Villeneuve-d'Ascq),
// Sud (U2: Marseille), Vide (U3: no agency). January 2027 is the current month.
const char* kFigures = R"SQL(
INSERT INTO dim_utilisateur VALUES ('U1', 'Alice Martin'), ('U2', 'Bruno Petit'),
  ('U3', 'Chloé Durand'), ('U''4', 'D''Artagnan'), ('U9', 'Sans Niveau');
INSERT INTO dim_niveau VALUES ('U1', 'Nord'), ('U2', 'Sud'), ('U3', 'Vide'),
  ('U''4', 'Ouest d''Abord');
INSERT INTO dim_agence VALUES ('A1', 'Lille'), ('A2', 'Lyon'), ('A3', 'Marseille'),
  ('A''4', 'Villeneuve-d''Ascq');
INSERT INTO niveau_agence VALUES ('U1', 'A1'), ('U1', 'A2'), ('U2', 'A3'), ('U''4', 'A''4');
INSERT INTO dim_fournisseur VALUES ('F2', 'Bois'), ('F1', 'Acier');
INSERT INTO data VALUES
  ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1', 'F1', 'D1', 1000),
  ('MONTANT_DEVIS_TVA',      2027, 1, 'A1', 'U1', 'F1', 'D1', 200),
  ('MARGE_DEVIS_VENTE_HT',   2027, 1, 'A1', 'U1', 'F1', 'D1', 250),
  ('NB_RELANCES',            2027, 1, 'A1', 'U1', 'F1', 'D1', 2.9),
  ('NB_DOSSIERS_TRAITES',    2027, 1, 'A1', 'U1', 'F1', 'D1', 4),
  ('NB_COMMANDES_TRAITES',   2027, 1, 'A1', 'U1', 'F1', 'D1', 1),
  ('MONTANT_FACTURE_HT',     2027, 1, 'A1', 'U1', 'F1', 'D1', 999999),
  ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U2', 'F2', 'D2', 500),
  ('MONTANT_DEVIS_TVA',      2027, 1, 'A1', 'U2', 'F2', 'D2', 100),
  ('MARGE_DEVIS_VENTE_HT',   2027, 1, 'A1', 'U2', 'F2', 'D2', 50),
  ('NB_RELANCES',            2027, 1, 'A1', 'U2', 'F2', 'D2', 1),
  ('NB_DOSSIERS_TRAITES',    2027, 1, 'A1', 'U2', 'F2', 'D2', 1),
  ('NB_COMMANDES_TRAITES',   2027, 1, 'A1', 'U2', 'F2', 'D2', 3),
  ('MARGE_DEVIS_VENTE_HT',   2027, 1, 'A2', 'U1', 'F1', 'D3', 30),
  ('NB_COMMANDES_TRAITES',   2027, 1, 'A2', 'U1', 'F1', 'D3', 2),
  ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A3', 'U3', 'F2', 'D4', 1234.5),
  ('MONTANT_DEVIS_TVA',      2027, 1, 'A3', 'U3', 'F2', 'D4', 246.9),
  ('MARGE_DEVIS_VENTE_HT',   2027, 1, 'A3', 'U3', 'F2', 'D4', -100),
  ('NB_RELANCES',            2027, 1, 'A3', 'U3', 'F2', 'D4', -1.5),
  ('NB_DOSSIERS_TRAITES',    2027, 1, 'A3', 'U3', 'F2', 'D4', 2),
  ('NB_COMMANDES_TRAITES',   2027, 1, 'A3', 'U3', 'F2', 'D4', 2),
  ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A''4', 'U''4', 'F1', 'D5', 10),
  ('MONTANT_DEVIS_TVA',      2027, 1, 'A''4', 'U''4', 'F1', 'D5', 2),
  ('MARGE_DEVIS_VENTE_HT',   2027, 1, 'A''4', 'U''4', 'F1', 'D5', 1),
  ('NB_DOSSIERS_TRAITES',    2027, 1, 'A''4', 'U''4', 'F1', 'D5', 1),
  ('MONTANT_DEVIS_VENTE_HT', 2026, 12, 'A1', 'U3', 'F1', 'D6', 40),
  ('NB_DOSSIERS_TRAITES',    2026, 12, 'A1', 'U3', 'F1', 'D6', 1),
  ('MONTANT_DEVIS_VENTE_HT', 2026, 6, 'A1', 'U2', 'F1', 'D7', 70000);
)SQL";

const Texts kZeros = {"0.00", "0.00", "0.00", "0.00", "0.00%", "0", "0", "0", "0.00%"};

std::vector<std::string> row(const std::string& label, Texts figures) {
    figures.insert(figures.begin(), label);
    return figures;
}

const Rows kAdminLevels = {
    row("Nord", {"1500.00", "300.00", "1800.00", "330.00", "22.00%", "3", "5", "6", "120.00%"}),
    row("Ouest d'Abord", {"10.00", "2.00", "12.00", "1.00", "10.00%", "0", "1", "0", "0.00%"}),
    row("Sud", {"1234.50", "246.90", "1481.40", "-100.00", "-8.10%", "-1", "2", "2", "100.00%"}),
    row("Vide", kZeros),
};

const Rows kNordAgencies = {
    row("Lille", {"1500.00", "300.00", "1800.00", "300.00", "20.00%", "3", "5", "4", "80.00%"}),
    row("Lyon", {"0.00", "0.00", "0.00", "30.00", "0.00%", "0", "0", "2", "0.00%"}),
};

const Rows kLilleUsers = {
    row("Alice Martin",
        {"1000.00", "200.00", "1200.00", "250.00", "25.00%", "2", "4", "1", "25.00%"}),
    row("Bruno Petit", {"500.00", "100.00", "600.00", "50.00", "10.00%", "1", "1", "3", "300.00%"}),
};

Rows rowsOf(const QTreeView* list) {
    Rows rows;
    for (int i = 0; i < RowCount(list); ++i)
        rows.push_back(toolkit::ListRowTexts(list, i));
    return rows;
}

Texts entriesOf(const QComboBox* list) {
    Texts texts;
    for (int i = 0; i < list->count(); ++i)
        texts.push_back(list->itemText(i).toStdString());
    return texts;
}

// A tracking window on a fixture file, as the main window hands it over.
struct Session {
    explicit Session(bool admin, const std::string& userCode = "", const char* figures = kFigures)
        : file(figures)
        , trace(&db) {
        db.DatabaseFileName = file.Path();
        window.SetDatabase(&db);
        window.SetAdmin(admin);
        window.SetUserCode(userCode);
    }
    void open() {
        ShowForm(window);
        trace.Clear();
    }
    FixtureFile file;
    TABSDatabase db;
    StatementRecorder trace;
    TFicheQuadrivel window{nullptr};
};

std::string sumOf(const char* code, const std::string& tail, int year = 2027, int month = 1) {
    return std::string("SELECT SUM(valeur) as somme FROM data WHERE code_account  = '") + code +
           "' AND period_year  = " + std::to_string(year) +
           " AND period_month = " + std::to_string(month) + tail;
}

} // namespace

class TestTracking : public QObject {
    Q_OBJECT
private slots:
    void init() {
        toolkit::SetToday(QDate(2027, 1, 15));
        QLocale::setDefault(QLocale::c());
    }
    void cleanup() {
        toolkit::SetToday(QDate());
        QLocale::setDefault(QLocale::c());
    }

    void designAndFirstDisplay();
    void cascadeAsAUserLivesIt();
    void statementsOfEveryFillAndRowList();
    void ordinaryUsersSeeOnlyTheirLevel();
    void apostrophesInCodesGiveTheRightFigures();
    void emptyCodesAreNoEntry();
    void serverShowsEachLoginItsOwnFigures();
    void monthsOfTheList();
    void numberTextsAndCounts();
    void ratesFromTruncatedCountsAndOverflow();
    void failurePartWayKeepsRowsAndRestoresCursor();
    void longRefreshShowsProgressAndStops();
    void screenShowsEveryChangedFigure();
    void mainWindowOpensIt();
    void everyWindowFitsASmallScreen();
    void everyFigureFitsItsColumn();
    void keyboardAndDrillDown();
};

void TestTracking::designAndFirstDisplay() {
    Session s(true);
    TFicheQuadrivel& w = s.window;
    QCOMPARE(w.windowTitle(), QString("Tableau de suivi"));
    QCOMPARE(entriesOf(w.cblNiveau),
             (Texts{"<tous>", "Chef Secteur 1", "Chef Secteur 2", "Chef Secteur 3"}));
    QCOMPARE(entriesOf(w.cblAgence), Texts{"<toutes>"});
    QCOMPARE(entriesOf(w.cblUtilisateur), Texts{"<tous>"});
    QCOMPARE(w.cblPeriode->count(), 13); // built at construction, before any query
    QVERIFY(s.trace.statements.empty());

    QCOMPARE(w.lvData->model()->columnCount(), 10);
    const char* captions[] = {"Niveau",       "Montant HT",      "TVA",           "Montant TTC",
                              "Marge €",      "Marge %",         "Nb Relance(s)", "Nb Devis",
                              "Nb Commandes", "Transformation %"};
    const int widths[] = {150, 100, 75, 100, 75, 75, 90, 100, 100, 120};
    for (int i = 0; i < 10; ++i) {
        QCOMPARE(w.lvData->model()->headerData(i, Qt::Horizontal).toString(),
                 QString::fromUtf8(captions[i]));
        QCOMPARE(w.lvData->columnWidth(i), widths[i]);
    }

    s.open();
    QCOMPARE(w.size(), QSize(1073, 662));
    QCOMPARE(w.lvData->geometry().left(), 16);
    QCOMPARE(w.lvData->width(), 1041);
    const int listHeight = w.lvData->height();
    QCOMPARE(entriesOf(w.cblNiveau), (Texts{"<Tous>", "Nord", "Ouest d'Abord", "Sud", "Vide"}));
    QCOMPARE(entriesOf(w.cblFournisseur), (Texts{"<Tous>", "Acier", "Bois"}));
    QCOMPARE(w.cblNiveau->currentIndex(), 0);
    QCOMPARE(w.cblFournisseur->currentIndex(), 0);
    QCOMPARE(entriesOf(w.cblAgence), Texts{"<toutes>"});
    QCOMPARE(entriesOf(w.cblUtilisateur), Texts{"<tous>"});
    QCOMPARE(w.cblPeriode->currentText(), QString("2027-01"));
    QCOMPARE(w.GetDisplayMode(), int(TFicheQuadrivel::dmNiveaux));
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(w.lvData->model()->index(0, 1).data(Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask,
             Qt::AlignRight);

    // The report grows with the window, above its totals line and buttons.
    w.resize(1200, 800);
    QCOMPARE(w.lvData->width(), 1168);
    QVERIFY(w.lvData->height() >= listHeight + 138);
}

void TestTracking::cascadeAsAUserLivesIt() {
    Session s(true);
    TFicheQuadrivel& w = s.window;
    s.open();

    Pick(w.cblNiveau, 1); // Nord
    QCOMPARE(entriesOf(w.cblAgence), (Texts{"<Toutes>", "Lille", "Lyon"}));
    QCOMPARE(w.cblAgence->currentIndex(), 0);
    QCOMPARE(entriesOf(w.cblUtilisateur), Texts{"<tous>"}); // one step down, no further
    QCOMPARE(w.GetDisplayMode(), int(TFicheQuadrivel::dmAgences));
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);

    Pick(w.cblAgence, 1); // Lille: users with figures there in January
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "Alice Martin", "Bruno Petit"}));
    QCOMPARE(w.cblUtilisateur->currentIndex(), 0);
    QCOMPARE(rowsOf(w.lvData), kLilleUsers);

    Pick(w.cblFournisseur, 1); // Acier narrows the figures, not the rows
    QCOMPARE(rowsOf(w.lvData), (Rows{row("Alice Martin", {"1000.00", "200.00", "1200.00", "250.00",
                                                          "25.00%", "2", "4", "1", "25.00%"}),
                                     row("Bruno Petit", kZeros)}));

    Pick(w.cblUtilisateur, 2); // Bruno, still with Acier
    QCOMPARE(w.GetDisplayMode(), int(TFicheQuadrivel::dmUtilisateur));
    QCOMPARE(rowsOf(w.lvData), Rows{row("Bruno Petit", kZeros)});
    Pick(w.cblFournisseur, 0);
    QCOMPARE(rowsOf(w.lvData), Rows{kLilleUsers[1]});
    QCOMPARE(entriesOf(w.cblFournisseur), (Texts{"<Tous>", "Acier", "Bois"}));

    Pick(w.cblPeriode, 1); // December: the user list follows the month
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "Chloé Durand"}));
    QCOMPARE(w.cblUtilisateur->currentIndex(), 0);
    QCOMPARE(w.cblAgence->currentIndex(), 1);
    QCOMPARE(rowsOf(w.lvData), Rows{row("Chloé Durand", {"40.00", "0.00", "40.00", "0.00", "0.00%",
                                                         "0", "1", "0", "0.00%"})});
    Pick(w.cblUtilisateur, 1);
    Pick(w.cblPeriode, 0);
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "Alice Martin", "Bruno Petit"}));
    QCOMPARE(rowsOf(w.lvData), kLilleUsers);

    // Another level while a user is chosen: the agencies go back to
    // "<Toutes>", the users stay, and the report falls back to the levels.
    Pick(w.cblUtilisateur, 1);
    Pick(w.cblNiveau, 3); // Sud
    QCOMPARE(entriesOf(w.cblAgence), (Texts{"<Toutes>", "Marseille"}));
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "Alice Martin", "Bruno Petit"}));
    QCOMPARE(w.cblUtilisateur->currentIndex(), 1);
    QCOMPARE(w.GetDisplayMode(), int(TFicheQuadrivel::dmNiveaux));
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);

    // "<Tous>" again: no agency query, the agency list is "<Toutes>" alone.
    Pick(w.cblUtilisateur, 0);
    Pick(w.cblNiveau, 1);
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);
    s.trace.Clear();
    Pick(w.cblNiveau, 0);
    QCOMPARE(entriesOf(w.cblAgence), Texts{"<Toutes>"});
    QCOMPARE(s.trace.statements.front(),
             std::string("SELECT code, libelle FROM dim_niveau ORDER BY libelle ASC"));
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);

    // A level without agencies shows its agencies list empty and no row.
    Pick(w.cblNiveau, 4);
    QCOMPARE(entriesOf(w.cblAgence), Texts{"<Toutes>"});
    QVERIFY(rowsOf(w.lvData).empty());

    // Returning to the window (a window of the program opened from it
    // closed): levels and suppliers reload and go back to "all"; agencies and
    // users stay.
    Pick(w.cblNiveau, 1);
    Pick(w.cblAgence, 2);
    Pick(w.cblFournisseur, 2);
    TForm other(&w);
    CloseNextModal();
    other.ShowModal();
    QCOMPARE(w.cblNiveau->currentIndex(), 0);
    QCOMPARE(w.cblFournisseur->currentIndex(), 0);
    QCOMPARE(w.cblAgence->currentIndex(), 2);
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "Alice Martin"}));
    QCOMPARE(w.GetDisplayMode(), int(TFicheQuadrivel::dmNiveaux));
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);
}

void TestTracking::statementsOfEveryFillAndRowList() {
    Session s(true);
    TFicheQuadrivel& w = s.window;
    ShowForm(w);
    const std::string levels = "SELECT code, libelle FROM dim_niveau ORDER BY libelle ASC";
    const std::string levelU1 = " AND dim_agence  in  ( select distinct agence    from "
                                "niveau_agence    where niveau = 'U1' )";
    const auto& first = s.trace.statements;
    // The rows' statements, then the totals': the agencies of the shown
    // levels, then those of none, each once.
    QCOMPARE(first.size(), std::size_t(3 + 4 * 6 + 2 * 6));
    QCOMPARE(first[0], levels);
    QCOMPARE(first[1], std::string("SELECT code, libelle FROM dim_fournisseur ORDER BY "
                                   "libelle ASC"));
    QCOMPARE(first[2], levels);
    const char* codes[] = {"MONTANT_DEVIS_VENTE_HT", "MONTANT_DEVIS_TVA",
                           "MARGE_DEVIS_VENTE_HT",   "NB_RELANCES",
                           "NB_DOSSIERS_TRAITES",    "NB_COMMANDES_TRAITES"};
    for (int i = 0; i < 6; ++i)
        QCOMPARE(first[3 + static_cast<std::size_t>(i)], sumOf(codes[i], levelU1));
    const std::string shown = "('U1', 'U''4', 'U2', 'U3')";
    QCOMPARE(first[27], sumOf(codes[0], " AND dim_agence in ( select distinct agence from "
                                        "niveau_agence where niveau in " +
                                            shown + " )"));
    QCOMPARE(first[38], sumOf(codes[5], " AND not exists ( select 1 from niveau_agence n where "
                                        "n.agence = data.dim_agence and n.niveau in " +
                                            shown + " )"));

    s.trace.Clear();
    Pick(w.cblNiveau, 1);
    const std::string agencies = "SELECT a.code as code, a.libelle as libelle FROM dim_agence "
                                 "a, niveau_agence n WHERE a.code = n.agence AND n.niveau = "
                                 "'U1' ORDER BY libelle ASC";
    QCOMPARE(s.trace.statements.size(), std::size_t(2 + 2 * 6));
    QCOMPARE(s.trace.statements[0], agencies);
    QCOMPARE(s.trace.statements[1], agencies);
    QCOMPARE(s.trace.statements[2], sumOf("MONTANT_DEVIS_VENTE_HT", " AND dim_agence  = 'A1'"));

    s.trace.Clear();
    Pick(w.cblAgence, 1);
    const std::string users = "SELECT distinct u.code, u.libelle FROM dim_utilisateur u, data "
                              "d WHERE d.dim_agence = 'A1' AND u.code  = d.dim_utilisateur "
                              "AND d.period_year \t= 2027 AND d.period_month\t= 1 ORDER BY "
                              "u.libelle ASC";
    QCOMPARE(s.trace.statements[0], users);
    QCOMPARE(s.trace.statements[1], users);
    QCOMPARE(s.trace.statements[2], sumOf("MONTANT_DEVIS_VENTE_HT",
                                          " AND dim_agence  = 'A1' AND dim_utilisateur  = 'U1'"));

    s.trace.Clear();
    Pick(w.cblFournisseur, 2);
    QCOMPARE(s.trace.statements[0], users);
    QCOMPARE(s.trace.statements[1],
             sumOf("MONTANT_DEVIS_VENTE_HT", " AND dim_agence  = 'A1' AND dim_utilisateur  = "
                                             "'U1' AND dim_fournisseur  = 'F2'"));

    // The chosen user: any month of the agency, without the period condition.
    s.trace.Clear();
    Pick(w.cblUtilisateur, 2);
    QCOMPARE(s.trace.statements.size(), std::size_t(1 + 6));
    QCOMPARE(s.trace.statements[0],
             std::string("SELECT distinct u.code, u.libelle FROM dim_utilisateur u, data d "
                         "WHERE d.dim_agence = 'A1' AND u.code  = d.dim_utilisateur AND u.code "
                         "= 'U2' ORDER BY u.libelle ASC"));

    s.trace.Clear();
    Pick(w.cblPeriode, 12);
    QCOMPARE(s.trace.statements[0],
             std::string("SELECT distinct u.code, u.libelle FROM dim_utilisateur u, data d "
                         "WHERE d.dim_agence = 'A1' AND u.code  = d.dim_utilisateur AND "
                         "d.period_year \t= 2026 AND d.period_month\t= 1 ORDER BY u.libelle "
                         "ASC"));
}

void TestTracking::ordinaryUsersSeeOnlyTheirLevel() {
    {
        Session s(false, "U2");
        ShowForm(s.window);
        QCOMPARE(s.trace.statements[0],
                 std::string("SELECT code, libelle FROM dim_niveau WHERE code = 'U2' ORDER BY "
                             "libelle ASC"));
        QCOMPARE(entriesOf(s.window.cblNiveau), (Texts{"<Tous>", "Sud"}));
        QCOMPARE(rowsOf(s.window.lvData), Rows{kAdminLevels[2]});
    }
    // No level, an empty code, or a code written to widen the statement: an
    // empty report.
    for (const std::string code : {"U9", "", "x' OR code<>'", "' OR ''='"}) {
        Session s(false, code);
        ShowForm(s.window);
        QCOMPARE(entriesOf(s.window.cblNiveau), Texts{"<Tous>"});
        QVERIFY(rowsOf(s.window.lvData).empty());
    }
}

void TestTracking::apostrophesInCodesGiveTheRightFigures() {
    Session s(false, "U'4");
    TFicheQuadrivel& w = s.window;
    s.open();
    QCOMPARE(entriesOf(w.cblNiveau), (Texts{"<Tous>", "Ouest d'Abord"}));
    QCOMPARE(rowsOf(w.lvData), Rows{kAdminLevels[1]});
    Pick(w.cblNiveau, 1);
    QCOMPARE(entriesOf(w.cblAgence), (Texts{"<Toutes>", "Villeneuve-d'Ascq"}));
    Pick(w.cblAgence, 1);
    QCOMPARE(entriesOf(w.cblUtilisateur), (Texts{"<Tous>", "D'Artagnan"}));
    Pick(w.cblUtilisateur, 1);
    QCOMPARE(rowsOf(w.lvData), Rows{row("D'Artagnan", {"10.00", "2.00", "12.00", "1.00", "10.00%",
                                                       "0", "1", "0", "0.00%"})});
}

void TestTracking::emptyCodesAreNoEntry() {
    // An empty code passes NOT NULL, but it is what the window stores for
    // "all": a level, agency or supplier with it is left out of the lists
    // and of the report, where it would stand for the whole company.
    const std::string figures = std::string(kFigures) + R"SQL(
        INSERT INTO dim_niveau VALUES ('', 'Toute la société');
        INSERT INTO dim_agence VALUES ('', 'Agence sans code');
        INSERT INTO niveau_agence VALUES ('', 'A1'), ('', 'A3'), ('U1', '');
        INSERT INTO dim_fournisseur VALUES ('', 'Sans code');
    )SQL";
    {
        Session s(true, "", figures.c_str());
        TFicheQuadrivel& w = s.window;
        s.open();
        QCOMPARE(entriesOf(w.cblNiveau), (Texts{"<Tous>", "Nord", "Ouest d'Abord", "Sud", "Vide"}));
        QCOMPARE(entriesOf(w.cblFournisseur), (Texts{"<Tous>", "Acier", "Bois"}));
        QCOMPARE(rowsOf(w.lvData), kAdminLevels);
        Pick(w.cblNiveau, 1);
        QCOMPARE(entriesOf(w.cblAgence), (Texts{"<Toutes>", "Lille", "Lyon"}));
        QCOMPARE(rowsOf(w.lvData), kNordAgencies);
    }
    // An empty user code is nobody's: it sees nothing.
    Session s(false, "", figures.c_str());
    s.open();
    QCOMPARE(entriesOf(s.window.cblNiveau), Texts{"<Tous>"});
    QVERIFY(rowsOf(s.window.lvData).empty());
}

void TestTracking::serverShowsEachLoginItsOwnFigures() {
    if (!FixtureFile::OnServer())
        return; // a file has no roles: whoever reads the file reads every figure
    // Nord's head types the administrator's code: the server shows Nord
    // alone, and the context line names the login whose rights it follows.
    Session s(true);
    s.file.MakeRoles();
    s.file.MapLogin("lecteur_essai", "U1");
    s.db.DatabaseFileName = s.file.UriAs("lecteur_essai");
    TFicheQuadrivel& w = s.window;
    s.open();
    QCOMPARE(entriesOf(w.cblNiveau), (Texts{"<Tous>", "Nord"}));
    QCOMPARE(rowsOf(w.lvData), Rows{kAdminLevels[0]});
    QCOMPARE(rowsOf(w.lvTotal),
             Rows{row("Total", Texts(kAdminLevels[0].begin() + 1, kAdminLevels[0].end()))});
    QVERIFY2(w.lblContexte->text().endsWith(
                 " — Code utilisateur : KOVAR (administrateur) — Connexion : lecteur_essai"),
             qPrintable(w.lblContexte->text()));
    Pick(w.cblNiveau, 1);
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);

    // Sud's agency Marseille, asked for by its codes: none of its figures.
    TReportSelection other;
    other.admin = true;
    other.level = "U2";
    other.agency = "A3";
    other.user = "U3";
    other.year = 2027;
    other.month = 1;
    for (const TReportMode mode : {rmAgences, rmUtilisateurs, rmUtilisateur}) {
        other.mode = mode;
        QVERIFY(ComputeReport(&s.db, other).empty());
    }
    TAccount account;
    account.SetPeriod(2027, 1);
    account.SetCodeAccount("MONTANT_DEVIS_VENTE_HT");
    account.SetAgence("A3");
    TAccountSQL sums;
    sums.SetDatabase(&s.db);
    sums.SetAccount(&account);
    QCOMPARE(sums.GetSomme(), 0.0);
    account.ClearAgence();
    QCOMPARE(sums.GetSomme(), 1500.0); // Lille's and Lyon's quotes, no other

    // The same through a plain connection with the reader's login: the 18
    // rows of Lille and Lyon, one level.
    const std::string counts =
        "SELECT (SELECT count(*) FROM data) || ' ' || (SELECT count(*) FROM dim_niveau)";
    QCOMPARE(s.file.RowsAs("lecteur_essai", counts), Texts{"18 1"});
    QCOMPARE(s.file.RowsAs("admin_essai", counts), Texts{"28 4"});

    // Without its mapping, the same login reads nothing; an administrator's
    // login reads every level.
    s.file.Exec("DELETE FROM acces_utilisateur");
    Pick(w.cblNiveau, 0);
    QVERIFY(rowsOf(w.lvData).empty());
    s.db.Close();
    Session admin(true);
    admin.file.MakeRoles();
    admin.db.DatabaseFileName = admin.file.UriAs("admin_essai");
    admin.open();
    QCOMPARE(rowsOf(admin.window.lvData), kAdminLevels);
    QVERIFY(admin.window.lblContexte->text().endsWith(" — Connexion : admin_essai"));
}

void TestTracking::monthsOfTheList() {
    struct Case {
        QDate today;
        Texts first;
        std::string last;
    };
    const Case cases[] = {
        {QDate(2027, 1, 31), {"2027-01", "2026-12", "2026-11"}, "2026-01"},
        {QDate(2026, 3, 31), {"2026-03", "2026-02", "2026-01", "2025-12"}, "2025-03"},
    };
    for (const Case& c : cases) {
        toolkit::SetToday(c.today);
        TFicheQuadrivel w(nullptr);
        QCOMPARE(w.cblPeriode->count(), 13);
        for (std::size_t i = 0; i < c.first.size(); ++i)
            QCOMPARE(w.cblPeriode->itemText(int(i)).toStdString(), c.first[i]);
        QCOMPARE(w.cblPeriode->itemText(12).toStdString(), c.last);
        QCOMPARE(w.cblPeriode->currentIndex(), 0);
        for (int i = 0; i < 13; ++i) {
            w.cblPeriode->setCurrentIndex(i);
            const QString expected =
                QStringLiteral("%1-%2").arg(w.GetAnnee()).arg(w.GetMois(), 2, 10, QLatin1Char('0'));
            QCOMPARE(w.cblPeriode->itemText(i), expected);
        }
        w.cblPeriode->setCurrentIndex(-1); // nothing chosen: the current month
        QCOMPARE(w.GetAnnee(), c.today.year());
        QCOMPARE(w.GetMois(), c.today.month());
    }
    toolkit::SetToday(QDate(2027, 1, 15));
    TFicheQuadrivel w(nullptr);
    w.cblPeriode->setCurrentIndex(1);
    QCOMPARE(w.GetAnnee(), 2026);
    QCOMPARE(w.GetMois(), 12);
}

void TestTracking::numberTextsAndCounts() {
    struct Case {
        double value;
        const char* c;
        const char* french;
    };
    const Case cases[] = {
        {1234.5, "1234.50", "1234,50"},    {0.0, "0.00", "0,00"},
        {-8.1004455245, "-8.10", "-8,10"}, {1234567.891, "1234567.89", "1234567,89"},
        {-0.001, "0.00", "0,00"},          {120.0, "120.00", "120,00"},
    };
    for (const Case& c : cases) {
        QLocale::setDefault(QLocale::c());
        QCOMPARE(FormatFixed(c.value), std::string(c.c));
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        QCOMPARE(FormatFixed(c.value), std::string(c.french));
    }

    QCOMPARE(TruncateCount(2.9), 2);
    QCOMPARE(TruncateCount(-1.5), -1);
    QCOMPARE(TruncateCount(5e9), INT_MAX);
    QCOMPARE(TruncateCount(-5e9), INT_MIN);
    QCOMPARE(TruncateCount(std::nan("")), 0);
    QCOMPARE(IntToStr(-42), std::string("-42"));

    // In the report, under French: comma decimals, saturated counts.
    Session s(true, "", R"SQL(
        INSERT INTO dim_niveau VALUES ('U1', 'Nord');
        INSERT INTO niveau_agence VALUES ('U1', 'A1');
        INSERT INTO data VALUES
          ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1', 'F1', 'D1', 1234.5),
          ('MARGE_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1', 'F1', 'D1', 617.25),
          ('NB_RELANCES', 2027, 1, 'A1', 'U1', 'F1', 'D1', 5e9),
          ('NB_DOSSIERS_TRAITES', 2027, 1, 'A1', 'U1', 'F1', 'D1', -5e9),
          ('NB_COMMANDES_TRAITES', 2027, 1, 'A1', 'U1', 'F1', 'D1', 3);
    )SQL");
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    s.open();
    QCOMPARE(rowsOf(s.window.lvData),
             Rows{row("Nord", {"1234,50", "0,00", "1234,50", "617,25", "50,00%", "2147483647",
                               "-2147483648", "3", "0,00%"})});
    // The same figures again, after the locale changed: written anew.
    QLocale::setDefault(QLocale::c());
    Pick(s.window.cblFournisseur, 0);
    QCOMPARE(rowsOf(s.window.lvData),
             Rows{row("Nord", {"1234.50", "0.00", "1234.50", "617.25", "50.00%", "2147483647",
                               "-2147483648", "3", "0.00%"})});
}

void TestTracking::ratesFromTruncatedCountsAndOverflow() {
    QCOMPARE(FormatRate(12.345), std::string("12.35%"));
    QCOMPARE(FormatRate(std::numeric_limits<double>::infinity()), std::string("n.c."));
    QCOMPARE(FormatRate(std::nan("")), std::string("n.c."));
    QCOMPARE(FormatFixed(-std::numeric_limits<double>::infinity()), std::string("n.c."));

    // Nord: 2.9 quotes and 1.9 orders count as 2 and 1, so 50 % (not 65.52 %
    // from the sums). Sud: a margin on an amount so small that its rate
    // overflows.
    Session s(true, "", R"SQL(
        INSERT INTO dim_niveau VALUES ('U1', 'Nord'), ('U2', 'Sud');
        INSERT INTO niveau_agence VALUES ('U1', 'A1'), ('U2', 'A3');
        INSERT INTO data VALUES
          ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1', 'F1', 'D1', 100),
          ('MARGE_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1', 'F1', 'D1', 25),
          ('NB_DOSSIERS_TRAITES', 2027, 1, 'A1', 'U1', 'F1', 'D1', 1.45),
          ('NB_DOSSIERS_TRAITES', 2027, 1, 'A1', 'U1', 'F1', 'D2', 1.45),
          ('NB_COMMANDES_TRAITES', 2027, 1, 'A1', 'U1', 'F1', 'D1', 1.9),
          ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A3', 'U2', 'F1', 'D3', 1e-300),
          ('MARGE_DEVIS_VENTE_HT', 2027, 1, 'A3', 'U2', 'F1', 'D3', 1e10);
    )SQL");
    QLocale::setDefault(QLocale::c());
    s.open();
    QCOMPARE(
        rowsOf(s.window.lvData),
        (Rows{row("Nord", {"100.00", "0.00", "100.00", "25.00", "25.00%", "0", "2", "1", "50.00%"}),
              row("Sud",
                  {"0.00", "0.00", "0.00", "10000000000.00", "n.c.", "0", "0", "0", "0.00%"})}));
}

void TestTracking::failurePartWayKeepsRowsAndRestoresCursor() {
    Session s(true);
    TFicheQuadrivel& w = s.window;
    s.open();
    // From now on every figure of Lyon fails in the engine: the refresh of
    // Nord's agencies stops part-way.
    // PostgreSQL folds constants when planning: its overflow must depend on
    // the row.
    const std::string overflow = FixtureFile::OnServer()
                                     ? "abs(-9223372036854775807 - length(dim_agence))"
                                     : "abs(-9223372036854775807 - 1)";
    s.file.Exec("ALTER TABLE data RENAME TO data_rows;"
                "CREATE VIEW data AS SELECT code_account, period_year, period_month, dim_agence,"
                " dim_utilisateur, dim_fournisseur, dim_dossier,"
                " CASE WHEN dim_agence = 'A2' THEN " +
                overflow + " ELSE valeur END AS valeur FROM data_rows");
    MessageRecorder messages;
    SelectRow(w.lvData, 2);
    const QString before = w.lblContexte->text();
    Pick(w.cblNiveau, 1);
    // The window says so, and keeps what it showed: the levels, the chosen
    // row; its context line still tells what the figures are for.
    const Texts errors = messages.Texts(toolkit::MessageKind::Error);
    QCOMPARE(errors.size(), std::size_t(1));
    QVERIFY2(errors[0].rfind("L'actualisation du tableau a échoué", 0) == 0, errors[0].c_str());
    QVERIFY2(errors[0].find(FixtureFile::OnServer() ? "bigint out of range" : "integer overflow") !=
                 std::string::npos,
             errors[0].c_str());
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);
    QCOMPARE(w.lvData->selectionModel()->selectedRows().size(), 1);
    QVERIFY(RowSelected(w.lvData, 2));
    QVERIFY(w.lblAucuneDonnee->isHidden());
    QVERIFY2(w.lblContexte->text().startsWith("Actualisation échouée"),
             qPrintable(w.lblContexte->text()));
    QVERIFY(w.lblContexte->text().endsWith(before));
    QCOMPARE(toolkit::ListRowTexts(w.lvTotal, 0)[1], std::string("2744.50"));
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(w.isVisible());
    QCOMPARE(s.db.findChildren<TABSQuery*>().size(), 0);

    // The window stays usable.
    Pick(w.cblNiveau, 3);
    QCOMPARE(rowsOf(w.lvData),
             Rows{row("Marseille", Texts(kAdminLevels[2].begin() + 1, kAdminLevels[2].end()))});
}

namespace {

// Runs action once, as soon as the window's refresh is reading and lets
// events through.
void WhileReading(TFicheQuadrivel& w, const std::function<void()>& action) {
    auto* timer = new QTimer(&w);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [&w, timer, action] {
        if (!w.Refreshing())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

} // namespace

void TestTracking::longRefreshShowsProgressAndStops() {
    // The progress of the first display, read as the window has just been
    // shown, is painted with its whole text from the first time on: the next
    // row may take seconds to come, and nothing is painted meanwhile.
    {
        struct PaintedWidths : QObject {
            std::vector<std::pair<int, int>> widths; // painted, needed
            bool eventFilter(QObject* watched, QEvent* event) override {
                if (event->type() == QEvent::Paint) {
                    auto* label = static_cast<QLabel*>(watched);
                    widths.emplace_back(label->width(), label->sizeHint().width());
                }
                return false;
            }
        } painted;
        Session first(true);
        first.window.ProgressDelayMs = 0;
        first.window.lblProgression->installEventFilter(&painted);
        // Meanwhile the totals box, with no totals yet, is about one line
        // high, not the empty box a list is by default.
        int totalsWhileReading = -1;
        WhileReading(first.window, [&] { totalsWhileReading = first.window.lvTotal->height(); });
        first.open();
        QTRY_VERIFY(!first.window.Refreshing() && !first.window.lblProgression->isVisible());
        first.window.lblProgression->removeEventFilter(&painted);
        QVERIFY(!painted.widths.empty());
        for (const auto& [width, needed] : painted.widths)
            QVERIFY2(width >= needed, qPrintable(QString("%1 < %2").arg(width).arg(needed)));
        QVERIFY(totalsWhileReading > 0);
        QVERIFY2(totalsWhileReading < 2 * first.window.lvTotal->height(),
                 qPrintable(QString::number(totalsWhileReading)));
    }

    Session s(true);
    TFicheQuadrivel& w = s.window;
    s.open();
    MessageRecorder messages;
    SelectRow(w.lvData, 1);
    const QString before = w.lblContexte->text();
    // Every refresh now counts as long: its progress shows from the first
    // row on.
    w.ProgressDelayMs = 0;

    // While it reads, the filters and buttons wait and the progress shows;
    // Escape stops it, and the rows of before stay with their selection.
    QStringList seen;
    WhileReading(w, [&] {
        seen << w.lblProgression->text();
        QVERIFY(w.btnArreter->isVisible());
        QVERIFY(!w.cblNiveau->isEnabled());
        QVERIFY(!w.btnExporter->isEnabled());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.btnArreter));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    Pick(w.cblNiveau, 1);
    QCOMPARE(seen, QStringList({"Lecture en cours : 1 ligne lue"}));
    QCOMPARE(rowsOf(w.lvData), kAdminLevels);
    QCOMPARE(w.lvData->selectionModel()->selectedRows().size(), 1);
    QVERIFY(RowSelected(w.lvData, 1));
    QCOMPARE(w.lblContexte->text(), "Actualisation arrêtée — " + before);
    QVERIFY(messages.messages.empty());
    QVERIFY(w.cblNiveau->isEnabled() && w.btnExporter->isEnabled());
    QVERIFY(!w.btnArreter->isVisible() && !w.lblProgression->isVisible());
    QVERIFY(w.isVisible());
    QCOMPARE(s.db.findChildren<TABSQuery*>().size(), 0);
    QVERIFY(!s.db.InTransaction());

    // Left alone, it reads every row; the button stops it as Escape does.
    Pick(w.cblNiveau, 1);
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);
    WhileReading(w, [&] { QTest::mouseClick(w.btnArreter, Qt::LeftButton); });
    Pick(w.cblNiveau, 0);
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);
    QVERIFY(w.lblContexte->text().startsWith("Actualisation arrêtée — "));

    // Closing the window while it reads stops the refresh, then closes.
    WhileReading(w, [&] { w.close(); });
    Pick(w.cblNiveau, 0);
    QTRY_VERIFY(!w.isVisible());
    QVERIFY(messages.messages.empty());
}

void TestTracking::screenShowsEveryChangedFigure() {
    // A refresh paints again only around the cells whose text changed: what
    // the window holds on screen must still be what a full painting of the
    // list and its totals line gives, after each change of figures.
    Session s(true);
    TFicheQuadrivel& w = s.window;
    s.open();
    Pick(w.cblNiveau, 1);
    Pick(w.cblAgence, 1);
    w.lvData->setCurrentIndex(w.lvData->model()->index(1, 0)); // a chosen row, then a refresh
    for (const int supplier : {1, 2, 0, 2}) {
        Pick(w.cblFournisseur, supplier); // the refresh paints before it returns
        for (QTreeView* list : std::initializer_list<QTreeView*>{w.lvData, w.lvTotal}) {
            QWidget* cells = list->viewport();
            const QPoint at = cells->mapTo(&w, QPoint());
            const QImage onScreen =
                w.screen()
                    ->grabWindow(w.winId(), at.x(), at.y(), cells->width(), cells->height())
                    .toImage();
            const QImage painted = cells->grab().toImage();
            QCOMPARE(onScreen.convertToFormat(painted.format()), painted);
        }
    }
}

void TestTracking::mainWindowOpensIt() {
    FixtureFile file(kFigures);
    for (const bool admin : {true, false}) {
        TFichePrincipale main;
        main.SetDatabasePath(file.Path());
        if (admin)
            main.SetAdmin(true);
        else
            main.SetUserCode("U2");
        ShowForm(main);
        for (int opening = 0; opening < 2; ++opening) {
            Rows seen;
            CloseNextModal([&](QWidget* modal) {
                auto* window = qobject_cast<TFicheQuadrivel*>(modal);
                QVERIFY(window);
                QCOMPARE(window->parentWidget(), &main);
                seen = rowsOf(window->lvData);
            });
            QTest::mouseClick(main.btnTableauSuivi, Qt::LeftButton);
            QCOMPARE(seen, admin ? kAdminLevels : Rows{kAdminLevels[2]});
            QVERIFY(main.findChildren<TFicheQuadrivel*>().isEmpty());
        }
    }
}

void TestTracking::everyFigureFitsItsColumn() {
    // The widest figure of a column may be its smallest value, a negative
    // one, two digits wider than its largest and than the total: ten users
    // of Lille gain 99999999.99 each, an eleventh loses all of it.
    Session s(true);
    std::string figures = "INSERT INTO data VALUES ('MARGE_DEVIS_VENTE_HT', 2027, 1, 'A1', 'U1',"
                          " 'F1', 'D9', -999999999.9)";
    for (int i = 0; i < 10; ++i) {
        const std::string user = "'V" + std::to_string(i) + "'";
        s.file.Exec("INSERT INTO dim_utilisateur VALUES (" + user + ", 'Vendeur " +
                    std::to_string(i) + "')");
        figures +=
            ", ('MARGE_DEVIS_VENTE_HT', 2027, 1, 'A1', " + user + ", 'F1', 'D9', 99999999.99)";
    }
    s.file.Exec(figures);
    TFicheQuadrivel& w = s.window;
    s.open();
    Pick(w.cblNiveau, 1);
    Pick(w.cblAgence, 1);
    QCOMPARE(RowCount(w.lvData), 12);
    QCOMPARE(toolkit::ListRowTexts(w.lvData, 0)[4], std::string("-999999749.90")); // Alice
    QCOMPARE(toolkit::ListRowTexts(w.lvData, 2)[4], std::string("99999999.99"));
    QCOMPARE(toolkit::ListRowTexts(w.lvTotal, 0)[4], std::string("300.00"));
    const int margin =
        w.lvData->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, w.lvData) + 1;
    for (int r = 0; r < RowCount(w.lvData); ++r) {
        const auto texts = toolkit::ListRowTexts(w.lvData, r);
        for (int c = 1; c < 10; ++c) {
            const QString text = QString::fromStdString(texts[std::size_t(c)]);
            QVERIFY2(w.lvData->fontMetrics().horizontalAdvance(text) <=
                         w.lvData->columnWidth(c) - 2 * margin,
                     qPrintable(text));
        }
    }
}

void TestTracking::everyWindowFitsASmallScreen() {
    // Run at scale 1 and, by CTest, at QT_SCALE_FACTOR=2: the smallest screen
    // each is meant for, in device pixels, less a title bar and a task bar.
    const qreal scale = QGuiApplication::primaryScreen()->devicePixelRatio();
    const QSize screen = scale > 1.5 ? QSize(1600, 900) : QSize(1366, 768);
    const QSize room(int(screen.width() / scale), int((screen.height() - 80) / scale));
    auto fits = [&](QWidget& window) {
        const QSize smallest = window.minimumSize().expandedTo(window.minimumSizeHint());
        QVERIFY2(smallest.width() <= room.width() && smallest.height() <= room.height(),
                 qPrintable(window.objectName() + QString(" %1x%2 at scale %3")
                                                      .arg(smallest.width())
                                                      .arg(smallest.height())
                                                      .arg(scale)));
    };

    // A total of 12 digits before the decimals.
    Session s(true, "", kFigures);
    s.file.Exec("INSERT INTO data VALUES ('MONTANT_DEVIS_VENTE_HT', 2027, 1, 'A3', 'U3', 'F2', "
                "'D8', 812345678901.25), ('MONTANT_DEVIS_TVA', 2027, 1, 'A3', 'U3', 'F2', 'D8', "
                "162469135780.25)");
    TFicheQuadrivel& w = s.window;
    s.open();
    QCOMPARE(w.size(), QSize(1073, 662));
    fits(w);
    const QString screenshots = qEnvironmentVariable("QUADRIVEL_SCREENSHOTS");
    for (const QSize size : {QSize(1073, 662), w.minimumSize().expandedTo(w.minimumSizeHint())}) {
        w.resize(size);
        QApplication::processEvents();
        // Every filter, the list and every button whole inside the window.
        for (QWidget* part : std::initializer_list<QWidget*>{
                 w.cblNiveau, w.cblAgence, w.cblUtilisateur, w.cblFournisseur, w.cblPeriode,
                 w.lvData, w.lvTotal, w.btnCopierTout, w.btnExporter, w.btnImprimer}) {
            QVERIFY2(w.rect().contains(part->geometry()), qPrintable(part->objectName()));
            QVERIFY(part->width() >= part->minimumSizeHint().width());
        }
        // Every figure of the totals whole in its column, in bold.
        const QFontMetrics bold(w.lvTotal->font());
        const auto total = toolkit::ListRowTexts(w.lvTotal, 0);
        QCOMPARE(total[3], std::string("974814817974.90"));
        for (int c = 1; c < 10; ++c)
            QVERIFY2(w.lvTotal->columnWidth(c) >=
                         bold.horizontalAdvance(QString::fromStdString(total[std::size_t(c)])) + 6,
                     total[std::size_t(c)].c_str());
        // The context line on two lines (cut with "…" beyond them), whole in
        // its tip.
        QVERIFY(w.lblContexte->height() >= 2 * w.lblContexte->fontMetrics().lineSpacing());
        QCOMPARE(w.lblContexte->toolTip(), w.lblContexte->text());
        if (!screenshots.isEmpty())
            w.grab().save(QDir(screenshots)
                              .filePath(QString("suivi-%1x%2-scale%3.png")
                                            .arg(size.width())
                                            .arg(size.height())
                                            .arg(scale)));
    }
    // The context line as painted: one line where it fits, wrapped on two
    // where narrower, one line cut with "…" where two do not hold it. Ink
    // measured in the label's own pixels: its height, and how far right.
    const auto ink = [&w](int width) {
        w.lblContexte->resize(width, w.lblContexte->height());
        const QImage image = w.lblContexte->grab().toImage();
        const QRgb background = image.pixel(image.width() - 1, image.height() - 1);
        int top = image.height(), bottom = -1, right = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != background) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                    right = std::max(right, x);
                }
        const qreal ratio = image.devicePixelRatio();
        return std::pair{(bottom - top + 1) / ratio, (right + 1) / ratio};
    };
    const int line = w.lblContexte->fontMetrics().lineSpacing();
    const int whole = w.lblContexte->fontMetrics().horizontalAdvance(w.lblContexte->text());
    QVERIFY(ink(whole + 20).first < 1.5 * line);
    QVERIFY(ink(whole * 6 / 10).first > 1.5 * line);
    const auto [height, right] = ink(whole / 4);
    QVERIFY(height < 1.5 * line);
    QVERIFY(right > whole / 4 * 0.8);
    w.resize(w.size() + QSize(1, 0)); // laid out again
    QApplication::processEvents();

    // Another supplier in the same display keeps the widened columns (no
    // resize, so no repaint of the whole list); another display fits them
    // again.
    const int wide = w.lvData->columnWidth(1);
    QVERIFY(wide > 100);
    QCOMPARE(w.cblFournisseur->itemText(1), QString("Acier"));
    Pick(w.cblFournisseur, 1);
    QCOMPARE(toolkit::ListRowTexts(w.lvTotal, 0)[1].size(), std::size_t(7));
    QCOMPARE(w.lvData->columnWidth(1), wide);
    Pick(w.cblNiveau, 1); // Nord
    QCOMPARE(w.lvData->columnWidth(1), 100);
    Pick(w.cblFournisseur, 0);

    // The empty list's message whole at the smallest size.
    Pick(w.cblNiveau, 4); // Vide: no agency
    QVERIFY(!w.lblAucuneDonnee->isHidden());
    const QRect message = w.lblAucuneDonnee->fontMetrics().boundingRect(
        w.lblAucuneDonnee->rect(), Qt::AlignCenter | Qt::TextWordWrap, w.lblAucuneDonnee->text());
    QVERIFY(w.lblAucuneDonnee->rect().contains(message));
    QVERIFY(w.lvData->viewport()->rect().contains(w.lblAucuneDonnee->geometry()));

    TFicheParamNiveau levels(nullptr);
    TFicheParamNiveauAgence links(nullptr);
    TFichePrincipale main;
    TFicheBarChart2Series chart(nullptr);
    for (QWidget* window : std::initializer_list<QWidget*>{&levels, &links, &main, &chart})
        fits(*window);
}

void TestTracking::keyboardAndDrillDown() {
    Session s(true);
    TFicheQuadrivel& w = s.window;
    s.open();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));

    // Tab goes from the last filter into the list.
    w.cblPeriode->setFocus();
    QTest::keyClick(w.cblPeriode, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.lvData));

    // Enter on a level: its agencies, by the statements of the same pick.
    w.lvData->setCurrentIndex(w.lvData->model()->index(0, 0));
    s.trace.Clear();
    QTest::keyClick(w.lvData, Qt::Key_Return);
    QCOMPARE(w.cblNiveau->currentText(), QString("Nord"));
    QCOMPARE(rowsOf(w.lvData), kNordAgencies);
    const auto drilled = s.trace.statements;
    s.trace.Clear();
    Pick(w.cblNiveau, 1);
    QCOMPARE(s.trace.statements, drilled);

    // A double click on an agency: its users.
    const QPoint lille = w.lvData->visualRect(w.lvData->model()->index(0, 0)).center();
    // As a mouse does it: a click, then the second press as a double click.
    QTest::mouseClick(w.lvData->viewport(), Qt::LeftButton, Qt::NoModifier, lille);
    QTest::mouseDClick(w.lvData->viewport(), Qt::LeftButton, Qt::NoModifier, lille);
    QCOMPARE(w.cblAgence->currentText(), QString("Lille"));
    QCOMPARE(rowsOf(w.lvData), kLilleUsers);

    // The window's shortcuts: copy everything, refresh.
    QGuiApplication::clipboard()->clear();
    QTest::keyClick(&w, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(QGuiApplication::clipboard()->text().startsWith("Niveau\tMontant HT"));
    s.file.Exec("INSERT INTO data VALUES ('NB_RELANCES', 2027, 1, 'A1', 'U1', 'F1', 'D9', 10)");
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(toolkit::ListRowTexts(w.lvData, 0)[6], std::string("12"));
    // Ctrl+E asks where to export; Ctrl+P opens the print preview.
    QString proposed;
    w.AskFileName = [&](const QString& name) {
        proposed = name;
        return QString();
    };
    QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
    QVERIFY(proposed.endsWith(".csv"));
    QString preview;
    CloseNextModal([&](QWidget* modal) { preview = modal->windowTitle(); });
    QTest::keyClick(&w, Qt::Key_P, Qt::ControlModifier);
    QCOMPARE(preview, QString("Aperçu avant impression"));
    // Alt and a letter press a button, as an animated click.
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_V, Qt::AltModifier);
    QTRY_VERIFY(w.EvolutionWindow() != nullptr);
}

QTEST_MAIN(TestTracking)
#include "test_tracking.moc"
