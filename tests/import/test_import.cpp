// quadrivel-import run as a separate program on fixture databases: French
// files give the same report as the same figures inserted directly, months are
// replaced whole, bad lines are refused with their place and nothing written,
// refused databases and logins, a process killed half-way, --check, and the
// progress line on a terminal only.

#include "data/absdatabase.h"
#include "testsupport.h"
#include "tracking/report.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

namespace {

struct ImportRun {
    int status;
    QString out;
    QString err;
};

ImportRun runImport(const QStringList& args, const QProcessEnvironment& env = {}) {
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(QStringLiteral(QUADRIVEL_IMPORT_PROGRAM), args);
    process.waitForFinished(120000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString write(const FixtureFile& fixture, const QString& name, const QByteArray& bytes) {
    const QString path = fixture.Folder() + "/" + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QStringList args(const FixtureFile& fixture, const QStringList& rest) {
    return QStringList{QString::fromStdString(fixture.Path())} + rest;
}

// Every row of every table, in one order.
std::vector<std::string> contents(const FixtureFile& fixture) {
    std::vector<std::string> rows;
    for (const char* sql :
         {"SELECT code, libelle FROM dim_utilisateur ORDER BY code",
          "SELECT code, libelle FROM dim_agence ORDER BY code",
          "SELECT code, libelle FROM dim_fournisseur ORDER BY code",
          "SELECT code, libelle FROM dim_niveau ORDER BY code",
          "SELECT niveau, agence FROM niveau_agence ORDER BY niveau, agence",
          "SELECT code_account, period_year, period_month, dim_agence, dim_utilisateur, "
          "dim_fournisseur, dim_dossier, valeur FROM data ORDER BY code_account, period_year, "
          "period_month, dim_agence, dim_utilisateur, dim_fournisseur, dim_dossier, valeur",
          FixtureFile::OnServer()
              ? "SELECT indexname, indexdef FROM pg_indexes WHERE schemaname = current_schema() "
                "ORDER BY indexname"
              : "SELECT name, sql FROM sqlite_master WHERE type = 'index' ORDER BY name"}) {
        const auto table = fixture.Rows(sql);
        rows.push_back(std::string("-- ") + sql);
        rows.insert(rows.end(), table.begin(), table.end());
    }
    return rows;
}

const char* kLabelsSql = R"SQL(
INSERT INTO dim_utilisateur VALUES ('U1', 'Zoé Martin'), ('U2', 'Éric Dupont; fils'), ('U3', 'Anne');
INSERT INTO dim_agence VALUES ('A1', 'Orléans'), ('A2', 'Villeneuve-d''Ascq'), ('A3', 'Saint-Étienne');
INSERT INTO dim_fournisseur VALUES ('F1', 'Acier'), ('F2', 'Bois "massif"');
INSERT INTO dim_niveau VALUES ('U1', 'Secteur Nord, Est'), ('U2', 'Sud');
INSERT INTO niveau_agence VALUES ('U1', 'A1'), ('U1', 'A2'), ('U2', 'A3');
)SQL";

const char* kFiguresSql = R"SQL(
INSERT INTO data VALUES
  ('MONTANT_DEVIS_VENTE_HT', 2026, 11, 'A1', 'U1', 'F1', 'D1', 1234.56),
  ('MONTANT_DEVIS_TVA',      2026, 11, 'A1', 'U1', 'F1', 'D1', 246.91),
  ('MARGE_DEVIS_VENTE_HT',   2026, 11, 'A1', 'U1', 'F1', 'D1', 1000),
  ('NB_RELANCES',            2026, 11, 'A2', 'U2', 'F2', 'D2', -5.5),
  ('NB_DOSSIERS_TRAITES',    2026, 11, 'A3', 'U3', 'F1', 'D3', 3),
  ('NB_COMMANDES_TRAITES',   2026, 11, 'A3', 'U3', 'F2', 'D3', 1),
  ('MONTANT_FACTURE_HT',     2026, 11, 'A1', 'U1', 'F1', 'D1', 999.99),
  ('MONTANT_DEVIS_VENTE_HT', 2026, 10, 'A2', 'U2', 'F1', 'D4', 12345678.9),
  ('NB_RELANCES',            2026, 10, 'A1', 'U1', 'F2', 'D5', 1.5);
)SQL";

// The same labels and figures as French systems export them.
QStringList writeFrenchFiles(const FixtureFile& fixture) {
    const QByteArray bom = "\xEF\xBB\xBF";
    return {
        "--users",
        write(fixture, "utilisateurs.csv",
              bom + "libelle;code\r\nZoé Martin;U1\r\n\"Éric Dupont; fils\";U2\r\nAnne;U3\r\n"),
        "--agencies",
        write(fixture, "agences.csv",
              "code;libelle\r\nA1;Orl\xE9"
              "ans\r\nA2;Villeneuve-d'Ascq\r\nA3;Saint-\xC9tienne\r\n"),
        "--suppliers",
        write(fixture, "fournisseurs.csv",
              "code\tlibelle\nF1\tAcier\nF2\t\"Bois \"\"massif\"\"\"\n"),
        "--levels",
        write(fixture, "niveaux.csv", "CODE,Libellé\nU1,\"Secteur Nord, Est\"\nU2,Sud\n\n"),
        "--level-agencies",
        write(fixture, "liens.csv", "agence;niveau\nA1;U1\nA2;U1\nA3;U2\nA1;U1\n"),
        "--figures",
        write(fixture, "chiffres.csv",
              bom + "valeur;dim_dossier;code_account;period_month;period_year;dim_fournisseur;"
                    "dim_utilisateur;dim_agence\r\n"
                    "1\xC2\xA0"
                    "234,56;D1;MONTANT_DEVIS_VENTE_HT;11;2026;F1;U1;A1\r\n"
                    "246,91;D1;MONTANT_DEVIS_TVA;11;2026;F1;U1;A1\r\n"
                    "1\xE2\x80\xAF"
                    "000;D1;MARGE_DEVIS_VENTE_HT;11;2026;F1;U1;A1\r\n"
                    "\"-5,5\";D2;NB_RELANCES;11;2026;F2;U2;A2\r\n"
                    ";;;;;;;\r\n"
                    " 3 ;D3;NB_DOSSIERS_TRAITES;11;2026;F1;U3;A3\r\n"
                    "1;D3;NB_COMMANDES_TRAITES;11;2026;F2;U3;A3\r\n"
                    "999,99;D1;MONTANT_FACTURE_HT;11;2026;F1;U1;A1\r\n"
                    "12 345 678,9;D4;MONTANT_DEVIS_VENTE_HT;10;2026;F1;U2;A2\r\n"
                    "1.5;D5;NB_RELANCES;10;2026;F2;U1;A1\r\n"),
    };
}

// Reports of both months in every mode, as text.
std::vector<std::string> reports(const FixtureFile& fixture) {
    TABSDatabase db;
    db.DatabaseFileName = fixture.Path();
    std::vector<std::string> lines;
    for (const int month : {10, 11}) {
        for (const auto& [level, agency] : std::vector<std::pair<std::string, std::string>>{
                 {"", ""}, {"U1", ""}, {"U1", "A1"}, {"U2", "A3"}}) {
            TReportSelection selection;
            selection.admin = true;
            selection.year = 2026;
            selection.month = month;
            selection.level = level;
            selection.agency = agency;
            selection.mode = ReportModeFor(!level.empty(), !agency.empty(), false);
            for (const TReportRow& row : ComputeReport(&db, selection)) {
                std::string line = std::to_string(month) + " " + row.code + " " + row.label;
                for (const double figure : row.figures)
                    line += " " + QString::number(figure, 'g', 12).toStdString();
                lines.push_back(line);
            }
        }
    }
    return lines;
}

QByteArray figuresHeader() {
    return "code_account;period_year;period_month;dim_agence;dim_utilisateur;dim_fournisseur;"
           "dim_dossier;valeur\n";
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT
private slots:
    void frenchFilesGiveTheSameReport();
    void monthsReplacedWhole();
    void badLinesRefusedWithNothingWritten();
    void unknownCodeNeedsItsLabelFile();
    void refusedCommandLinesDatabasesAndLogins();
    void killedHalfWayLeavesTheDatabaseAsBefore();
    void checkListsFiguresKeptAsText();
    void progressOnlyOnATerminal();
};

void TestImport::frenchFilesGiveTheSameReport() {
    FixtureFile imported;
    const ImportRun run = runImport(args(imported, writeFrenchFiles(imported)));
    QCOMPARE(run.err, QString());
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains("chiffres (data) : 9 lignes ajoutées"), qPrintable(run.out));
    QVERIFY(run.out.contains("mois remplacés en entier : 2 (2026-10, 2026-11)"));
    QVERIFY(run.out.contains("agences des niveaux (niveau_agence) : 3 liens ajoutés"));

    FixtureFile direct(std::string(kLabelsSql) + kFiguresSql);
    QCOMPARE(contents(imported), contents(direct));
    const auto shown = reports(imported);
    QCOMPARE(shown.size(), std::size_t(11));
    QCOMPARE(shown, reports(direct));
}

void TestImport::monthsReplacedWhole() {
    FixtureFile fixture(std::string(kLabelsSql) + kFiguresSql);
    const auto figures = [&](const QByteArray& lines) {
        return args(fixture,
                    {"--figures", write(fixture, "chiffres.csv", figuresHeader() + lines)});
    };
    const QByteArray november = "MONTANT_DEVIS_VENTE_HT;2026;11;A1;U1;F1;D9;100\n"
                                "MONTANT_DEVIS_VENTE_HT;2026;11;A2;U2;F1;D9;50,5\n";
    const auto sums = [&] {
        return fixture.Rows("SELECT period_month, COUNT(*), CAST(SUM(valeur) * 10 AS INTEGER) "
                            "FROM data GROUP BY period_month ORDER BY period_month");
    };

    // A dry run says what would change and changes nothing.
    const auto before = contents(fixture);
    ImportRun run = runImport(figures(november) + QStringList{"--dry-run"});
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains("Rien n'a été écrit (--dry-run)") &&
                 run.out.contains("2 lignes ajoutées, 7 anciennes lignes remplacées"),
             qPrintable(run.out));
    QCOMPARE(contents(fixture), before);

    // November replaced whole, October untouched; the same file again does
    // not double it.
    for (int time = 0; time < 2; ++time) {
        run = runImport(figures(november));
        QCOMPARE(run.status, 0);
        QCOMPARE(sums(), (std::vector<std::string>{"10|2|123456804", "11|2|1505"}));
    }
    QVERIFY2(run.out.contains("2 lignes ajoutées, 2 anciennes lignes remplacées"),
             qPrintable(run.out));
    // A corrected file replaces its month.
    QCOMPARE(runImport(figures("NB_RELANCES;2026;11;A3;U3;F2;D8;7\n")).status, 0);
    QCOMPARE(sums(), (std::vector<std::string>{"10|2|123456804", "11|1|70"}));
}

void TestImport::badLinesRefusedWithNothingWritten() {
    FixtureFile fixture(std::string(kLabelsSql) + kFiguresSql);
    const auto before = contents(fixture);
    const QByteArray good = "NB_RELANCES;2026;11;A1;U1;F1;D1;1\n";
    const QString labels = write(fixture, "agences.csv", "code;libelle\nA7;Nouvelle\n");
    struct Case {
        const char* option;
        QByteArray text;
        QString error;
    };
    const QList<Case> cases = {
        {"--figures", figuresHeader() + good + "NB_RELANCES;2026;11;A1;U1;F1;1\n",
         "bad.csv, ligne 3 : 7 champs au lieu des 8 de l'en-tête"},
        {"--figures",
         figuresHeader() + good + good + good + "NB_RELANCES;2026;11;A1;U1;F1;D1;12,3,4\n",
         "bad.csv, ligne 5, colonne valeur : « 12,3,4 » n'est pas un nombre"},
        {"--figures", figuresHeader() + "NB_RELANCES;2026;11;A1;U1;F1;D1;1 00\n",
         "bad.csv, ligne 2, colonne valeur : « 1 00 » n'est pas un nombre"},
        {"--figures", figuresHeader() + "NB_RELANCES;26;11;A1;U1;F1;D1;1\n",
         "bad.csv, ligne 2, colonne period_year : « 26 » n'est pas une année à quatre chiffres"},
        {"--figures", figuresHeader() + "NB_RELANCES;2026;13;A1;U1;F1;D1;1\n",
         "bad.csv, ligne 2, colonne period_month : « 13 » n'est pas un mois de 1 à 12"},
        {"--figures", figuresHeader() + "NB_RELANCES;2026;11;A1;;F1;D1;1\n",
         "bad.csv, ligne 2, colonne dim_utilisateur : le code est vide"},
        {"--figures", figuresHeader() + "NB_RELANCES;2026;11;A9;U1;F1;D1;1\n",
         "bad.csv, ligne 2, colonne dim_agence : « A9 » n'est pas une agence connue"},
        {"--figures", figuresHeader() + "NB_RELANCES;2026;11;A1;U1;F1;\"D1;1\n",
         "bad.csv, ligne 2 : un guillemet ouvert n'est jamais fermé"},
        {"--figures", "code_account;annee;period_month\n",
         "bad.csv, ligne 1 : colonne « annee » inconnue"},
        {"--level-agencies", "niveau;agence\nU3;A1\n",
         "bad.csv, ligne 2, colonne niveau : « U3 » n'est pas un niveau connu"},
        {"--agencies", "code;libelle\nA7;Autre\n",
         "bad.csv, ligne 2, colonne libelle : le code « A7 » a déjà le libellé « Nouvelle »"},
        {"--agencies", "",
         "bad.csv : le fichier est vide : une ligne d'en-tête est attendue (code, libelle)"},
    };
    for (const Case& bad : cases) {
        const QString path = write(fixture, "bad.csv", bad.text);
        const ImportRun run = runImport(args(fixture, {"--agencies", labels, bad.option, path}));
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(fixture.Folder() + "/" + bad.error), qPrintable(run.err));
        QVERIFY(run.err.contains("l'import est refusé, rien n'a été écrit dans la base."));
        QCOMPARE(contents(fixture), before);
    }

    // Windows-1252 forced to be read as UTF-8.
    ImportRun run = runImport(args(fixture, {"--encoding", "utf-8", "--agencies",
                                             write(fixture, "bad.csv",
                                                   "code;libelle\nA8;Orl\xE9"
                                                   "ans\n")}));
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("bad.csv, ligne 2 : l'octet 0xE9 n'est pas de l'UTF-8"),
             qPrintable(run.err));

    // The first twenty errors in order, then how many more.
    QByteArray many = figuresHeader();
    for (int i = 0; i < 25; ++i)
        many += "NB_RELANCES;2026;11;A1;U1;F1;D1;x" + QByteArray::number(i) + "\n";
    run = runImport(args(fixture, {"--figures", write(fixture, "bad.csv", many)}));
    QCOMPARE(run.status, 1);
    QVERIFY(run.err.contains("ligne 21, colonne valeur : « x19 »"));
    QVERIFY(!run.err.contains("« x20 »"));
    QVERIFY2(run.err.contains("… et 5 autres erreurs de plus."), qPrintable(run.err));
    QVERIFY(run.err.contains("25 erreurs : l'import est refusé"));
    QCOMPARE(contents(fixture), before);
}

void TestImport::unknownCodeNeedsItsLabelFile() {
    FixtureFile fixture(kLabelsSql);
    const QStringList figures = {
        "--figures",
        write(fixture, "chiffres.csv", figuresHeader() + "NB_RELANCES;2026;11;A9;U1;F1;D1;4\n")};
    QCOMPARE(runImport(args(fixture, figures)).status, 1);
    const ImportRun run = runImport(
        args(fixture,
             figures + QStringList{"--agencies", write(fixture, "agences.csv",
                                                       "code;libelle\nA9;Lens\nA1;Orléans-Centre\n"
                                                       "A2;Villeneuve-d'Ascq\n")}));
    QCOMPARE(run.status, 0);
    QVERIFY2(run.out.contains("agences (dim_agence) : 1 ajouté, 1 libellé changé, 1 inchangé"),
             qPrintable(run.out));
    QCOMPARE(fixture.Rows("SELECT code, libelle FROM dim_agence ORDER BY code"),
             (std::vector<std::string>{"A1|Orléans-Centre", "A2|Villeneuve-d'Ascq",
                                       "A3|Saint-Étienne", "A9|Lens"}));
    QCOMPARE(fixture.Rows("SELECT dim_agence, valeur FROM data"),
             std::vector<std::string>{FixtureFile::OnServer() ? "A9|4" : "A9|4.0"});
}

void TestImport::refusedCommandLinesDatabasesAndLogins() {
    FixtureFile fixture(std::string(kLabelsSql) + kFiguresSql);
    const QString figures =
        write(fixture, "chiffres.csv", figuresHeader() + "NB_RELANCES;2026;11;A1;U1;F1;D1;1\n");
    for (const QStringList& wrong : {
             QStringList{},
             args(fixture, {}),
             args(fixture, {"--figures"}),
             args(fixture, {"--figures", figures, "--colour"}),
             args(fixture, {"--figures", figures, "--encoding", "latin9"}),
             args(fixture, {"--figures", figures, "--check"}),
             args(fixture, {"--figures", figures, "--figures", figures}),
         }) {
        const ImportRun run = runImport(wrong);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains("Usage : quadrivel-import BASE"), qPrintable(run.err));
    }
    if (!FixtureFile::OnServer()) {
        // A missing file is refused and never created.
        const QString missing = fixture.Folder() + "/absente.db";
        const ImportRun run = runImport({missing, "--figures", figures});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains("n'existe pas"), qPrintable(run.err));
        QVERIFY(!QFile::exists(missing));
        return;
    }
    // A reader's login may check but not write.
    // The roles script adds its own table and index: compare with what follows it.
    fixture.MakeRoles();
    const auto withRoles = contents(fixture);
    const QString reader = QString::fromStdString(fixture.UriAs("lecteur_essai"));
    QCOMPARE(runImport({reader, "--figures", figures, "--dry-run"}).status, 0);
    const ImportRun run = runImport({reader, "--figures", figures});
    QCOMPARE(run.status, 1);
    QVERIFY2(run.err.contains("le compte « lecteur_essai » n'a pas le droit d'écrire dans la "
                              "table data") &&
                 run.err.contains("rien n'a été modifié"),
             qPrintable(run.err));
    QCOMPARE(contents(fixture), withRoles);
}

void TestImport::killedHalfWayLeavesTheDatabaseAsBefore() {
    FixtureFile fixture(std::string(kLabelsSql) + kFiguresSql);
    QByteArray lines = figuresHeader();
    for (int i = 0; i < 20000; ++i)
        lines += "NB_RELANCES;2026;" + QByteArray(i % 2 ? "11" : "9") + ";A1;U1;F1;D" +
                 QByteArray::number(i) + ";" + QByteArray::number(i) + ",5\n";
    const QStringList command =
        args(fixture, {"--figures", write(fixture, "chiffres.csv", lines), "--agencies",
                       write(fixture, "agences.csv", "code;libelle\nA1;Orléans modifiée\n")});
    const auto before = contents(fixture);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QUADRIVEL_IMPORT_TEST_PAUSE", "10000");
    process.setProcessEnvironment(env);
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(QUADRIVEL_IMPORT_PROGRAM), command);
    QVERIFY(process.waitForStarted());
    QByteArray err;
    while (!err.contains("en pause") && process.state() == QProcess::Running) {
        process.waitForReadyRead(1000);
        err += process.readAllStandardError();
    }
    QVERIFY2(err.contains("en pause"), err.constData());
    ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
    process.waitForFinished();
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    QCOMPARE(contents(fixture), before);

    // The same import, not stopped, goes through.
    QCOMPARE(runImport(command).status, 0);
    QCOMPARE(fixture.Rows("SELECT COUNT(*) FROM data WHERE period_month IN (9, 11)"),
             std::vector<std::string>{"20000"});
}

void TestImport::checkListsFiguresKeptAsText() {
    FixtureFile fixture(std::string(kLabelsSql) + kFiguresSql);
    const QStringList check = args(fixture, {"--check"});
    ImportRun run = runImport(check);
    QCOMPARE(run.status, 0);
    if (FixtureFile::OnServer()) {
        QVERIFY(run.out.contains("les colonnes de data sont typées"));
        return;
    }
    QVERIFY2(run.out.contains("Aucune valeur mal enregistrée dans data (lignes vérifiées : 9)"),
             qPrintable(run.out));
    // Written by other means: SQLite keeps what it cannot read as a number.
    fixture.Exec("INSERT INTO data VALUES ('MONTANT_DEVIS_VENTE_HT', 2026, 11, 'A1', 'U1', 'F1', "
                 "'D7', '1 012,50'), ('NB_RELANCES', 2026, 11, 'A2', 'U2', 'F2', 'D8', 'abc'), "
                 "('NB_RELANCES', '2026-11', 11, 'A2', 'U2', 'F2', 'D9', 2)");
    run = runImport(check);
    QCOMPARE(run.status, 1);
    QVERIFY2(run.out.contains("data, 2026-11, MONTANT_DEVIS_VENTE_HT, agence A1, utilisateur U1, "
                              "fournisseur F1, dossier D7 : valeur « 1 012,50 » gardée comme "
                              "texte, additionnée comme 1\n"),
             qPrintable(run.out));
    QVERIFY(
        run.out.contains("dossier D8 : valeur « abc » gardée comme texte, additionnée comme 0"));
    QVERIFY(run.out.contains("année « 2026-11 », mois « 11 », NB_RELANCES"));
    QVERIFY(run.out.contains("3 lignes de data ont une valeur, une année ou un mois gardé comme "
                             "texte"));
}

void TestImport::progressOnlyOnATerminal() {
    FixtureFile fixture(kLabelsSql);
    QByteArray lines = figuresHeader();
    for (int i = 0; i < 3000; ++i)
        lines += "NB_RELANCES;2026;11;A1;U1;F1;D" + QByteArray::number(i) + ";1\n";
    const QStringList command = args(fixture, {"--figures", write(fixture, "chiffres.csv", lines)});
    // Standard error is a pipe here: nothing but the summary on standard output.
    ImportRun run = runImport(command);
    QCOMPARE(run.status, 0);
    QCOMPARE(run.err, QString());
    run = runImport(command + QStringList{"--quiet"});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out + run.err, QString());

    // On a terminal, the line is written over and erased at the end.
    const auto onTerminal = [&](const QStringList& extra) {
        int terminal = -1;
        const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child == 0) {
            std::vector<std::string> texts = {QUADRIVEL_IMPORT_PROGRAM};
            for (const QString& arg : command + extra)
                texts.push_back(arg.toStdString());
            std::vector<char*> argv;
            for (auto& text : texts)
                argv.push_back(text.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        QByteArray shown;
        char buffer[4096];
        ssize_t got;
        while ((got = read(terminal, buffer, sizeof buffer)) > 0)
            shown.append(buffer, got);
        int status = 0;
        waitpid(child, &status, 0);
        close(terminal);
        return QString::fromUtf8(shown);
    };
    const QString shown = onTerminal({});
    QVERIFY2(shown.contains("\rÉcriture : 3 000 / 3 000 lignes (100 %)"), qPrintable(shown));
    QVERIFY(shown.contains("\rLecture : 0 / 3 001 lignes (0 %)"));
    QVERIFY(shown.contains("\r\x1b[KImport terminé"));
    QCOMPARE(onTerminal({"--quiet"}), QString());
}

QTEST_GUILESS_MAIN(TestImport)
#include "test_import.moc"
