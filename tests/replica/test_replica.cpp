// A read replica: the test server and its streaming standby
// (tests/support/with-postgresql.sh --standby). The tracking window and
// quadrivel-report read the same figures from both once the standby has
// replayed; an administrator's write on the standby is refused in French with
// nothing changed; URIs of several hosts reach the server or the standby as
// their target_session_attrs asks.

#include "testsupport.h"

#include "admin/ficheparamniveau.h"
#include "admin/ficheparamniveauagence.h"
#include "data/absdatabase.h"
#include "tracking/fichequadrivel.h"

#include <QProcess>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QtTest>

#include <libpq-fe.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace {

using toolkit::MessageKind;

// Two levels, each with one agency; every figure of the current month.
std::string figuresSql() {
    const QDate month = QDate::currentDate();
    QString sql = R"SQL(
INSERT INTO dim_utilisateur VALUES ('U1', 'Zoé'), ('U2', 'Éric'), ('U3', 'Anne');
INSERT INTO dim_niveau VALUES ('U1', 'Île-de-France'), ('U2', 'Val-d''Oise');
INSERT INTO dim_agence VALUES ('A1', 'Paris'), ('A2', 'Cergy'), ('A3', 'Lille');
INSERT INTO niveau_agence VALUES ('U1', 'A1'), ('U2', 'A2');
INSERT INTO dim_fournisseur VALUES ('F1', 'Acier');
INSERT INTO data VALUES
  ('MONTANT_DEVIS_VENTE_HT', NOW, 'A1', 'U3', 'F1', 'D1', 500),
  ('MONTANT_DEVIS_TVA',      NOW, 'A1', 'U3', 'F1', 'D1', 100),
  ('NB_COMMANDES_TRAITES',   NOW, 'A1', 'U3', 'F1', 'D1', 3),
  ('MONTANT_DEVIS_VENTE_HT', NOW, 'A2', 'U3', 'F1', 'D2', 1000);
)SQL";
    return sql.replace("NOW", QString("%1, %2").arg(month.year()).arg(month.month())).toStdString();
}

// One parameter of a URI's query, or the part after '?' when key is empty.
std::string uriPart(const std::string& uri, const std::string& key = {}) {
    const auto mark = uri.find('?');
    const std::string params = mark == std::string::npos ? std::string() : uri.substr(mark + 1);
    if (key.empty())
        return params;
    const std::string all = "&" + params + "&";
    const auto start = all.find("&" + key + "=");
    if (start == std::string::npos)
        throw std::runtime_error("no " + key + " in " + uri);
    const auto value = start + key.size() + 2;
    return all.substr(value, all.find('&', value) - value);
}

std::string standbyUri() {
    const char* uri = std::getenv("QUADRIVEL_TEST_PG_STANDBY_URI");
    if (!uri || !*uri)
        throw std::runtime_error("QUADRIVEL_TEST_PG_STANDBY_URI is not set: run this program "
                                 "under tests/support/with-postgresql.sh --standby");
    return uri;
}

std::string serverUri() {
    const char* uri = std::getenv("QUADRIVEL_TEST_PG_URI");
    return uri ? uri : "";
}

// The fixture's database name, from its URI postgresql:///NAME?...
std::string databaseName(const FixtureFile& fixture) {
    const std::string path = fixture.Path();
    const auto start = path.find(":///") + 4;
    return path.substr(start, path.find('?') - start);
}

// The fixture's database on the standby.
std::string onStandby(const FixtureFile& fixture) {
    return "postgresql:///" + databaseName(fixture) + "?" + uriPart(standbyUri());
}

// Waits until the standby has replayed everything written on the server so
// far (the fixture's database included).
void waitForReplay(const FixtureFile& fixture) {
    const std::string written = fixture.Rows("SELECT pg_current_wal_insert_lsn()").at(0);
    PGconn* conn = PQconnectdb(standbyUri().c_str());
    bool replayed = false;
    for (int attempt = 0; attempt < 600 && !replayed; ++attempt) {
        PGresult* result =
            PQexec(conn, ("SELECT pg_last_wal_replay_lsn() >= '" + written + "'").c_str());
        replayed = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1 &&
                   std::string(PQgetvalue(result, 0, 0)) == "t";
        PQclear(result);
        if (!replayed)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    PQfinish(conn);
    if (!replayed)
        throw std::runtime_error("the standby did not replay the server's writes in 30 s");
}

// The administrator's tracking window on a database: each row's texts joined
// by '|', then, when a level is given, the rows of its agencies.
QStringList windowRows(const std::string& uri, int level = 0) {
    TABSDatabase db;
    db.DatabaseFileName = uri;
    TFicheQuadrivel window(nullptr);
    window.SetDatabase(&db);
    window.SetAdmin(true);
    ShowForm(window);
    if (level > 0)
        Pick(window.cblNiveau, level);
    QStringList rows;
    for (int i = 0; i < RowCount(window.lvData); ++i) {
        QStringList texts;
        for (int c = 0; c < window.lvData->model()->columnCount(); ++c)
            texts << window.lvData->model()->index(i, c).data().toString();
        rows << texts.join('|');
    }
    return rows;
}

// quadrivel-report's CSV for the administrator, or its error.
QString report(const std::string& uri) {
    QProcess process;
    process.start(QStringLiteral(QUADRIVEL_REPORT_PROGRAM),
                  {QString::fromStdString(uri), QStringLiteral("KOVAR")});
    process.waitForFinished(60000);
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QStringLiteral("erreur : ") + QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Whether the program's connection through a URI reaches a standby.
std::string inRecovery(const std::string& uri) {
    TABSDatabase db;
    db.DatabaseFileName = uri;
    const auto query = NewQuery(&db, "SELECT pg_is_in_recovery() AS r");
    query->Open();
    return query->FieldByName("r").AsAnsiString();
}

QStringList strings(const std::vector<std::string>& values) {
    QStringList list;
    for (const auto& value : values)
        list << QString::fromStdString(value);
    return list;
}

} // namespace

class TestReplica : public QObject {
    Q_OBJECT
private slots:
    void standbyReadsTheServersFigures();
    void writesOnStandbyRefused();
    void severalHosts();
};

void TestReplica::standbyReadsTheServersFigures() {
    FixtureFile fixture(figuresSql());
    waitForReplay(fixture);
    const QStringList levels = windowRows(fixture.Path());
    QCOMPARE(levels.size(), 2);
    QVERIFY2(levels.contains("Île-de-France|500.00|100.00|600.00|0.00|0.00%|0|0|3|0.00%"),
             qPrintable(levels.join(" / ")));
    QCOMPARE(windowRows(onStandby(fixture)), levels);
    QCOMPARE(windowRows(onStandby(fixture), 1), windowRows(fixture.Path(), 1));

    // New figures on the server reach the standby once replayed.
    const QDate month = QDate::currentDate();
    fixture.Exec("INSERT INTO data VALUES ('MONTANT_DEVIS_VENTE_HT', " +
                 std::to_string(month.year()) + ", " + std::to_string(month.month()) +
                 ", 'A1', 'U3', 'F1', 'D3', 250)");
    waitForReplay(fixture);
    const QStringList after = windowRows(onStandby(fixture));
    QVERIFY2(after.contains("Île-de-France|750.00|100.00|850.00|0.00|0.00%|0|0|3|0.00%"),
             qPrintable(after.join(" / ")));
    QCOMPARE(windowRows(fixture.Path()), after);

    const QString csv = report(fixture.Path());
    QVERIFY2(csv.contains("\r\nÎle-de-France;750,00;100,00;850,00;"), qPrintable(csv));
    QCOMPARE(report(onStandby(fixture)), csv);
}

void TestReplica::writesOnStandbyRefused() {
    FixtureFile fixture(figuresSql());
    waitForReplay(fixture);
    const std::string levels = "SELECT code, libelle FROM dim_niveau ORDER BY 1";
    const std::string links = "SELECT niveau, agence FROM niveau_agence ORDER BY 1, 2";
    const QStringList levelsBefore = strings(fixture.Rows(levels));
    const QStringList linksBefore = strings(fixture.Rows(links));
    const QString replica = "Écriture refusée : le serveur est une réplique en lecture seule, qui "
                            "ne reçoit que les modifications de son serveur principal. Rien n'a "
                            "été modifié.\nMessage du moteur : cannot execute ";

    TABSDatabase database;
    database.DatabaseFileName = onStandby(fixture);
    MessageRecorder messages;
    {
        TFicheParamNiveau window(nullptr);
        window.SetDatabase(&database);
        window.SetLevelLabel("Chef de secteur");
        ShowForm(window);
        QCOMPARE(window.lvNiveau->topLevelItemCount(), 2);

        // A new level: refused at the lock that starts its transaction.
        window.edtNiveau->setText("Hauts-de-France");
        QTest::mouseClick(window.btnAjouter, Qt::LeftButton);
        QCOMPARE(strings(messages.Texts(MessageKind::Error)),
                 QStringList({replica + "LOCK TABLE during recovery"}));
        QVERIFY(!database.InTransaction());

        // The window goes on: its lists read again, a delete refused alike.
        messages.Clear();
        window.FormActivate();
        QCOMPARE(window.lvNiveau->topLevelItemCount(), 2);
        window.lvNiveau->setCurrentItem(window.lvNiveau->topLevelItem(1));
        messages.AnswerNext(true);
        QTest::mouseClick(window.btnSupprimer, Qt::LeftButton);
        QCOMPARE(strings(messages.Texts(MessageKind::Error)),
                 QStringList({replica + "LOCK TABLE during recovery"}));
        QVERIFY(!database.InTransaction());
    }
    {
        // An agency's detach is one DELETE, refused by the standby's
        // read-only transaction: the server's status tells a standby.
        messages.Clear();
        TFicheParamNiveauAgence window(nullptr);
        window.SetDatabase(&database);
        window.SetLevelLabel("Chef de secteur");
        ShowForm(window);
        Pick(window.cblNiveaux, 1);
        QCOMPARE(window.lvNiveau->topLevelItemCount(), 1);
        window.lvNiveau->setCurrentItem(window.lvNiveau->topLevelItem(0));
        QTest::mouseClick(window.btnSupprimer, Qt::LeftButton);
        QCOMPARE(strings(messages.Texts(MessageKind::Error)),
                 QStringList({replica + "DELETE in a read-only transaction"}));
    }
    QCOMPARE(strings(fixture.Rows(levels)), levelsBefore);
    QCOMPARE(strings(fixture.Rows(links)), linksBefore);

    // The same window on the server writes.
    database.Close();
    database.DatabaseFileName = fixture.Path();
    TFicheParamNiveau window(nullptr);
    window.SetDatabase(&database);
    window.SetLevelLabel("Chef de secteur");
    ShowForm(window);
    messages.Clear();
    window.edtNiveau->setText("Hauts-de-France");
    QTest::mouseClick(window.btnAjouter, Qt::LeftButton);
    QVERIFY(messages.messages.empty());
    QCOMPARE(strings(fixture.Rows("SELECT libelle FROM dim_niveau WHERE code = 'U3'")),
             QStringList({"Hauts-de-France"}));
}

void TestReplica::severalHosts() {
    FixtureFile fixture(figuresSql());
    waitForReplay(fixture);
    const std::string name = databaseName(fixture);
    const std::string server = uriPart(serverUri(), "host");
    const std::string serverPort = uriPart(serverUri(), "port");
    const std::string standby = uriPart(standbyUri(), "host");
    const std::string standbyPort = uriPart(standbyUri(), "port");
    QCOMPARE(inRecovery(onStandby(fixture)), std::string("true"));
    QCOMPARE(inRecovery(fixture.Path()), std::string("false"));

    // The standby first, but a session that may write: the server.
    const std::string readWrite = "postgresql:///" + name + "?host=" + standby + "," + server +
                                  "&port=" + standbyPort + "," + serverPort +
                                  "&user=postgres&target_session_attrs=read-write";
    QCOMPARE(inRecovery(readWrite), std::string("false"));
    // The same in the URI's host list, socket folders percent-encoded.
    const auto encoded = [](const std::string& folder) {
        return QUrl::toPercentEncoding(QString::fromStdString(folder)).toStdString();
    };
    const std::string hostList = "postgresql://postgres@" + encoded(standby) + ":" + standbyPort +
                                 "," + encoded(server) + ":" + serverPort + "/" + name +
                                 "?target_session_attrs=read-write";
    QCOMPARE(inRecovery(hostList), std::string("false"));
    {
        // An administrator's write through it reaches the server.
        TABSDatabase database;
        database.DatabaseFileName = hostList;
        MessageRecorder messages;
        TFicheParamNiveau window(nullptr);
        window.SetDatabase(&database);
        window.SetLevelLabel("Chef de secteur");
        ShowForm(window);
        window.edtNiveau->setText("Hauts-de-France");
        QTest::mouseClick(window.btnAjouter, Qt::LeftButton);
        QVERIFY(messages.messages.empty());
    }
    QCOMPARE(strings(fixture.Rows("SELECT libelle FROM dim_niveau WHERE code = 'U3'")),
             QStringList({"Hauts-de-France"}));

    // The server first, but a standby preferred: the standby, with the
    // server's figures once replayed.
    waitForReplay(fixture);
    const std::string preferStandby = "postgresql:///" + name + "?host=" + server + "," + standby +
                                      "&port=" + serverPort + "," + standbyPort +
                                      "&user=postgres&target_session_attrs=prefer-standby";
    QCOMPARE(inRecovery(preferStandby), std::string("true"));
    QCOMPARE(windowRows(preferStandby), windowRows(fixture.Path()));

    // A value the driver would cut at its ';' is refused, not changed.
    TABSDatabase database;
    database.DatabaseFileName = readWrite + "&application_name=suivi;nuit";
    try {
        database.Connection();
        QFAIL("a URI with a ';' in a value was opened");
    } catch (const EDatabaseError& error) {
        QVERIFY2(QString::fromStdString(error.what())
                     .contains("le paramètre « application_name » contient un point-virgule"),
                 error.what());
    }
}

QTEST_MAIN(TestReplica)
#include "test_replica.moc"
