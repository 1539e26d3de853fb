// The engine layer on real files, the quoting of text values, the indicator
// record and the summing statement.

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/accountsql.h"
#include "data/schema.h"
#include "testsupport.h"

#include <QFile>
#include <QPointer>
#include <QtTest>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// Figures whose sums are known: March 2016, agencies A01..A03, levels N1
// (A01, A02) and N2 (A03), and N3 without agencies.
const char* kFigures = R"SQL(
INSERT INTO dim_niveau VALUES ('N1', 'Nord'), ('N2', 'Sud'), ('N3', 'Vide'), ('N''4', 'Quote');
INSERT INTO niveau_agence VALUES ('N1', 'A01'), ('N1', 'A02'), ('N2', 'A03'), ('N''4', 'A''04');
INSERT INTO data VALUES
  ('NB_RELANCES', 2016, 3, 'A01', 'U1', 'F1', 'D1', 2),
  ('NB_RELANCES', 2016, 3, 'A01', 'U2', 'F2', 'D2', 3.5),
  ('NB_RELANCES', 2016, 3, 'A02', 'U1', 'F1', 'D3', 10),
  ('NB_RELANCES', 2016, 3, 'A03', 'U3', 'F1', 'D4', 100),
  ('NB_RELANCES', 2016, 3, 'A''04', 'U''5', 'F''1', 'D5', 1000),
  ('NB_RELANCES', 2016, 3, '', 'U1', 'F1', 'D6', 7),
  ('NB_RELANCES', 2016, 4, 'A01', 'U1', 'F1', 'D7', 20000),
  ('NB_RELANCES', 2015, 3, 'A01', 'U1', 'F1', 'D8', 30000),
  ('MONTANT_FACTURE_HT', 2016, 3, 'A01', 'U1', 'F1', 'D1', 50000),
  ('MONTANT_DEVIS_VENTE_HT', 2016, 3, 'A01', 'U1', 'F1', 'D1', 1234.5);
)SQL";

std::string sumStatement(const char* tail) {
    return std::string("SELECT SUM(valeur) as somme FROM data WHERE code_account  = "
                       "'NB_RELANCES' AND period_year  = 2016 AND period_month = 3") +
           tail;
}

} // namespace

class TestData : public QObject {
    Q_OBJECT
private slots:
    void quotingDoublesQuotesOnly();
    void queriesReadRowsInOrder();
    void statementsKeepTabsAndBlanks();
    void missingOrBrokenFilesAreReported();
    void lockedFileIsWaitedForThenReported();
    void queriesLeftBehindGoWithTheirOwner();

    void accountRecordFlags();
    void sumStatementForEachFilter();
    void sumsOnKnownFigures();
};

void TestData::quotingDoublesQuotesOnly() {
    QCOMPARE(QuotedStr(""), std::string("''"));
    QCOMPARE(QuotedStr("A01"), std::string("'A01'"));
    QCOMPARE(QuotedStr("Villeneuve-d'Ascq"), std::string("'Villeneuve-d''Ascq'"));
    QCOMPARE(QuotedStr("x' OR code<>'"), std::string("'x'' OR code<>'''"));
    QCOMPARE(QuotedStr("''"), std::string("''''''"));
    QCOMPARE(QuotedStr("Île \"é\" ; --"), std::string("'Île \"é\" ; --'"));

    // The engine reads back exactly what was quoted.
    FixtureFile file;
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    for (const std::string value : {"Chef d'agence Sud-Est", "x' OR code<>'", "'", "Élodie"}) {
        const auto query = NewQuery(&db, "SELECT " + QuotedStr(value) + " as v");
        query->Open();
        QCOMPARE(query->FieldByName("v").AsAnsiString(), value);
    }
}

void TestData::queriesReadRowsInOrder() {
    FixtureFile file(R"SQL(
        INSERT INTO dim_agence VALUES ('A2', 'Lyon'), ('A1', 'Amiens'), ('A3', 'Évry');
    )SQL");
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    StatementRecorder trace(&db);
    QVERIFY(!db.Connected());

    auto query = NewQuery(&db, "SELECT code, libelle FROM dim_agence ORDER BY code DESC");
    QCOMPARE(query->DatabaseName, std::string("quadrivel"));
    query->Open();
    QVERIFY(db.Connected()); // opened by the first statement
    QCOMPARE(query->RecordCount(), 3);
    std::vector<std::string> rows;
    while (!query->Eof()) {
        rows.push_back(query->FieldByName("code").AsAnsiString() + "=" +
                       query->FieldByName("LIBELLE").AsAnsiString());
        query->Next();
    }
    QCOMPARE(rows, (std::vector<std::string>{"A3=Évry", "A2=Lyon", "A1=Amiens"}));
    query->Close();
    QVERIFY(query->Eof());
    QCOMPARE(trace.statements,
             std::vector<std::string>{"SELECT code, libelle FROM dim_agence ORDER BY code DESC"});

    // A sum over no row is one NULL row: it reads as 0 and as the empty text.
    query = NewQuery(&db, "SELECT SUM(valeur) as somme FROM data");
    query->Open();
    QCOMPARE(query->RecordCount(), 1);
    QVERIFY(!query->Eof());
    QCOMPARE(query->FieldByName("somme").AsFloat(), 0.0);
    QCOMPARE(query->FieldByName("somme").AsAnsiString(), std::string());
    QVERIFY_THROWS_EXCEPTION(EDatabaseError, query->FieldByName("absent"));

    // No row at all.
    query = NewQuery(&db, "SELECT code FROM dim_agence WHERE code = 'zz'");
    query->Open();
    QVERIFY(query->Eof());
    QCOMPARE(query->RecordCount(), 0);

    // Writes run at once, nothing to commit: another connection sees them.
    NewQuery(&db, "INSERT INTO dim_niveau ( code , libelle ) values ('A1','x' )")->ExecSQL();
    QCOMPARE(file.Rows("SELECT code, libelle FROM dim_niveau"), std::vector<std::string>{"A1|x"});
}

void TestData::statementsKeepTabsAndBlanks() {
    FixtureFile file(kFigures);
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    StatementRecorder trace(&db);
    const std::string text = "SELECT distinct  d.dim_utilisateur as code"
                             " FROM data d"
                             " WHERE d.dim_agence = 'A01'"
                             " AND d.period_year \t= 2016"
                             " AND d.period_month\t= 3"
                             " ORDER BY d.dim_utilisateur ASC";
    const auto query = NewQuery(&db, text);
    query->Open();
    QCOMPARE(trace.statements, std::vector<std::string>{text});
    QCOMPARE(query->RecordCount(), 2);
    QCOMPARE(query->FieldByName("code").AsAnsiString(), std::string("U1"));
}

void TestData::missingOrBrokenFilesAreReported() {
    QTemporaryDir dir;
    // A path that names no file, with '#' and '?' that a URI would cut.
    for (const QString name : {"absente.db", "base#1.db", "quoi?.db"}) {
        const QString path = dir.path() + "/" + name;
        TABSDatabase db;
        db.DatabaseFileName = path.toStdString();
        try {
            NewQuery(&db, "SELECT code FROM dim_niveau")->Open();
            QFAIL("a missing file must be reported");
        } catch (const EDatabaseError& error) {
            QVERIFY2(QString::fromStdString(error.what()).contains(path), error.what());
            QVERIFY(QString::fromStdString(error.what()).contains("n'existe pas"));
        }
        QVERIFY(!db.Connected());
        QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }

    // The same names, existing: opened as they are, nothing else created.
    for (const QString name : {"base#1.db", "quoi?.db", "espace é.db"}) {
        const QString path = dir.path() + "/" + name;
        QVERIFY(QFile::copy(QString::fromStdString(FixtureFile(kFigures).Path()), path));
        TABSDatabase db;
        db.DatabaseFileName = path.toStdString();
        const auto query = NewQuery(&db, "SELECT count(*) as n FROM niveau_agence");
        query->Open();
        QCOMPARE(query->FieldByName("n").AsFloat(), 4.0);
    }
    // A path beginning with "//" names the same file: opened, not read as a
    // host name, nothing created.
    {
        TABSDatabase db;
        db.DatabaseFileName = ("/" + dir.path() + "/base#1.db").toStdString();
        const auto query = NewQuery(&db, "SELECT count(*) as n FROM niveau_agence");
        try {
            query->Open();
        } catch (const EDatabaseError& error) {
            QFAIL(error.what());
        }
        QCOMPARE(query->FieldByName("n").AsFloat(), 4.0);
    }
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);

    // Not a database; a missing table; a rejected statement.
    const QString junk = dir.path() + "/texte.db";
    {
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    }
    FixtureFile fixture;
    const std::pair<std::string, std::string> failures[] = {
        {junk.toStdString(), "not a database"},
        {fixture.Path(), "no such table"},
        {fixture.Path(), "syntax error"},
    };
    const char* statements[] = {"SELECT code FROM dim_niveau", "SELECT x FROM absente",
                                "SELEC code FROM dim_niveau"};
    for (int i = 0; i < 3; ++i) {
        TABSDatabase db;
        db.DatabaseFileName = failures[i].first;
        try {
            NewQuery(&db, statements[i])->Open();
            QFAIL("the engine must reject this");
        } catch (const EDatabaseError& error) {
            QVERIFY2(std::string(error.what()).find(failures[i].second) != std::string::npos,
                     error.what());
        }
    }
}

void TestData::lockedFileIsWaitedForThenReported() {
    FixtureFile file(kFigures);
    // The wait the caller sets is the one the engine uses.
    for (const int timeout : {200, 5000, 20000}) {
        TABSDatabase db;
        db.DatabaseFileName = file.Path();
        db.BusyTimeout = timeout;
        const auto query = NewQuery(&db, "PRAGMA busy_timeout");
        query->Open();
        QCOMPARE(query->FieldByName("timeout").AsFloat(), double(timeout));
    }
    sqlite3* other = nullptr;
    QCOMPARE(sqlite3_open(file.Path().c_str(), &other), SQLITE_OK);
    QCOMPARE(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    // Another program holds the file longer than we wait: reported.
    {
        TABSDatabase db;
        db.DatabaseFileName = file.Path();
        db.BusyTimeout = 200;
        try {
            NewQuery(&db, "DELETE FROM niveau_agence")->ExecSQL();
            QFAIL("a lock held throughout must be reported");
        } catch (const EDatabaseError& error) {
            QVERIFY2(std::string(error.what()).find("locked") != std::string::npos, error.what());
        }
    }

    // It releases the file while we wait: the statement goes through.
    std::atomic<bool> released = false;
    std::thread holder([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        released = true;
        sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    });
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    db.BusyTimeout = 20000;
    NewQuery(&db, "DELETE FROM niveau_agence WHERE niveau = 'N2'")->ExecSQL();
    QVERIFY(released);
    holder.join();
    sqlite3_close(other);
    QCOMPARE(file.Rows("SELECT count(*) FROM niveau_agence"), std::vector<std::string>{"3"});
}

void TestData::queriesLeftBehindGoWithTheirOwner() {
    FixtureFile file;
    QPointer<TABSQuery> left;
    {
        TABSDatabase db;
        db.DatabaseFileName = file.Path();
        left = new TABSQuery(&db);
        left->DatabaseName = db.DatabaseName;
        left->SQL.Add("SELECT * FROM absente");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, left->Open());
        QVERIFY(!left.isNull());

        // A query bound to another alias finds no database.
        TABSQuery stranger(&db);
        stranger.DatabaseName = "autre";
        stranger.SQL.Add("SELECT 1");
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, stranger.Open());
    }
    QVERIFY(left.isNull());
}

void TestData::accountRecordFlags() {
    TAccount account;
    QVERIFY(!account.HasNiveau() && !account.HasAgence() && !account.HasUtilisateur() &&
            !account.HasFournisseur() && !account.HasDossier());
    QVERIFY(account.GetNiveau().empty() && account.GetAgence().empty() &&
            account.GetUtilisateur().empty() && account.GetFournisseur().empty() &&
            account.GetDossier().empty() && account.GetCodeAccount().empty());

    account.SetAgence("A01");
    QVERIFY(account.HasAgence());
    account.ClearAgence();
    QVERIFY(!account.HasAgence());
    QCOMPARE(account.GetAgence(), std::string());

    account.SetNiveau("N1");
    account.SetNiveau("N2");
    QCOMPARE(account.GetNiveau(), std::string("N2"));

    account.SetFournisseur("");
    QVERIFY(account.HasFournisseur());
    QCOMPARE(account.GetFournisseur(), std::string());

    account.SetPeriod(2016, 3);
    QCOMPARE(account.GetYear(), 2016);
    QCOMPARE(account.GetMonth(), 3);
    QVERIFY(!account.HasDossier());
}

void TestData::sumStatementForEachFilter() {
    TAccount account;
    TAccountSQL sql;
    sql.SetAccount(&account);
    account.SetPeriod(2016, 3);
    account.SetCodeAccount("NB_RELANCES");

    QCOMPARE(sql.BuildStatement(), sumStatement(""));

    // The level clause only with a code; the others on their flag alone.
    account.SetNiveau("");
    QCOMPARE(sql.BuildStatement(), sumStatement(""));
    account.SetNiveau("ABC");
    QCOMPARE(sql.BuildStatement(),
             sumStatement(" AND dim_agence  in  ( select distinct agence    from niveau_agence "
                          "   where niveau = 'ABC' )"));
    account.ClearNiveau();
    account.SetAgence("");
    QCOMPARE(sql.BuildStatement(), sumStatement(" AND dim_agence  = ''"));

    // Filters always in the order level, agency, user, supplier.
    account.SetFournisseur("F1");
    account.SetUtilisateur("U1");
    account.SetAgence("A01");
    account.SetNiveau("N1");
    QCOMPARE(sql.BuildStatement(),
             sumStatement(" AND dim_agence  in  ( select distinct agence    from niveau_agence "
                          "   where niveau = 'N1' ) AND dim_agence  = 'A01' AND dim_utilisateur "
                          " = 'U1' AND dim_fournisseur  = 'F1'"));

    // A quote inside a value is doubled, nothing else changes.
    account.ClearAgence();
    account.ClearFournisseur();
    account.SetNiveau("N'4");
    account.SetUtilisateur("x' OR code<>'");
    account.SetPeriod(2027, 1);
    account.SetCodeAccount("MONTANT_DEVIS_TVA");
    QCOMPARE(sql.BuildStatement(),
             std::string("SELECT SUM(valeur) as somme FROM data WHERE code_account  = "
                         "'MONTANT_DEVIS_TVA' AND period_year  = 2027 AND period_month = 1 AND "
                         "dim_agence  in  ( select distinct agence    from niveau_agence    where "
                         "niveau = 'N''4' ) AND dim_utilisateur  = 'x'' OR code<>'''"));
}

void TestData::sumsOnKnownFigures() {
    FixtureFile file(kFigures);
    TABSDatabase db;
    db.DatabaseFileName = file.Path();
    StatementRecorder trace(&db);
    TAccount account;
    TAccountSQL sql;
    sql.SetDatabase(&db);
    sql.SetAccount(&account);
    account.SetPeriod(2016, 3);
    account.SetCodeAccount("NB_RELANCES");

    QCOMPARE(sql.GetSomme(), 1122.5); // every agency, other codes and months left out
    QCOMPARE(trace.statements.back(), sumStatement(""));

    account.SetNiveau("N1");
    QCOMPARE(sql.GetSomme(), 15.5);
    account.SetNiveau("N3"); // a level without agencies
    QCOMPARE(sql.GetSomme(), 0.0);
    account.SetNiveau("N'4");
    QCOMPARE(sql.GetSomme(), 1000.0);

    account.SetNiveau("N1");
    account.SetAgence("A03"); // an agency outside the level
    QCOMPARE(sql.GetSomme(), 0.0);
    account.SetAgence("A01");
    QCOMPARE(sql.GetSomme(), 5.5);
    account.SetUtilisateur("U2");
    QCOMPARE(sql.GetSomme(), 3.5);
    account.ClearUtilisateur();
    account.SetFournisseur("F1");
    QCOMPARE(sql.GetSomme(), 2.0);

    account.ClearNiveau();
    account.ClearFournisseur();
    account.SetAgence(""); // only rows whose agency is the empty text
    QCOMPARE(sql.GetSomme(), 7.0);

    account.SetAgence("A'04");
    account.SetUtilisateur("U'5");
    account.SetFournisseur("F'1");
    QCOMPARE(sql.GetSomme(), 1000.0);

    account.ClearAgence();
    account.ClearFournisseur();
    account.SetUtilisateur("x' OR code<>'");
    QCOMPARE(sql.GetSomme(), 0.0);

    account.ClearUtilisateur();
    account.SetPeriod(2016, 5); // no figure at all that month
    QCOMPARE(sql.GetSomme(), 0.0);
    QCOMPARE(trace.statements.size(), std::size_t(12));
}

QTEST_MAIN(TestData)
#include "test_data.moc"
