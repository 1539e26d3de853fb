// quadrivel-report DATABASE USER [--month YYYY-MM] [--level CODE] [--agency CODE]
//                  [--user CODE] [--supplier CODE] [--months N]
//                  [--format csv|xlsx] [--output FILE]
//
// Writes the tracking report of one month and selection as CSV for French
// spreadsheets or as an Excel workbook, on standard output or into a file:
// the same rows as the tracking window shows for the same user code and
// filters. With --months N, one line per month instead, the N months ending
// at --month, each with the totals line of that month's report. Exit status 0
// on success, 2 for a wrong command line, 1 when the database or a code is
// refused.

#include "data/absdatabase.h"
#include "quadrivel_version.h"
#include "tracking/monthsreport.h"
#include "tracking/report.h"
#include "tracking/reportexport.h"
#include "tracking/xlsxexport.h"

#include <QCoreApplication>
#include <QDate>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage : quadrivel-report BASE UTILISATEUR [--month AAAA-MM] [--level CODE] "
    "[--agency CODE] [--user CODE] [--supplier CODE] [--months N] [--format csv|xlsx] "
    "[--output FICHIER]\n";

[[noreturn]] void fail(int status, const std::string& error) {
    std::fprintf(stderr, "quadrivel-report : %s\n", error.c_str());
    if (status == 2)
        std::fputs(kUsage, stderr);
    std::exit(status);
}

struct Options {
    std::string database;
    std::string userCode;
    std::string month;
    std::string level;
    std::string agency;
    std::string user;
    std::string supplier;
    std::string output;
    int months = 0; // 0: the report of one month
    bool xlsx = false;
    bool hasLevel = false;
    bool hasAgency = false;
    bool hasUser = false;
    bool hasOutput = false;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    std::string format;
    int positional = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                fail(2, arg + " attend une valeur");
            return argv[++i];
        };
        if (arg == "--month") {
            options.month = value();
        } else if (arg == "--level") {
            options.level = value();
            options.hasLevel = true;
        } else if (arg == "--agency") {
            options.agency = value();
            options.hasAgency = true;
        } else if (arg == "--user") {
            options.user = value();
            options.hasUser = true;
        } else if (arg == "--supplier") {
            options.supplier = value();
        } else if (arg == "--output") {
            options.output = value();
            options.hasOutput = true;
            if (options.output.empty())
                fail(2, "--output attend un nom de fichier");
        } else if (arg == "--months") {
            const std::string text = value();
            bool ok = false;
            options.months = QString::fromStdString(text).toInt(&ok);
            if (!ok || options.months < 1 || options.months > kEvolutionMonths)
                fail(2, "--months attend un nombre de mois de 1 à 13 : " + text);
        } else if (arg == "--format") {
            format = value();
            if (format != "csv" && format != "xlsx")
                fail(2, "--format attend csv ou xlsx : " + format);
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::puts("quadrivel-report " QUADRIVEL_VERSION);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail(2, "option inconnue : " + arg);
        } else if (positional == 0) {
            options.database = arg;
            ++positional;
        } else if (positional == 1) {
            options.userCode = arg;
            ++positional;
        } else {
            fail(2, "argument en trop : " + arg);
        }
    }
    if (positional < 2)
        fail(2, "la base de données et le code utilisateur sont obligatoires");
    if (options.hasAgency && !options.hasLevel)
        fail(2, "--agency demande aussi --level (le chef de secteur de l'agence)");
    if (options.hasUser && !options.hasAgency)
        fail(2, "--user demande aussi --agency (l'agence de l'utilisateur)");
    // The format follows the output file's extension unless --format says.
    options.xlsx = format.empty() ? QString::fromStdString(options.output)
                                        .endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)
                                  : format == "xlsx";
    return options;
}

// The month asked for as year and month, the current month when none is
// given; a malformed month is a wrong command line.
QDate chosenMonth(const std::string& text) {
    const QDate today = QDate::currentDate();
    if (text.empty())
        return QDate(today.year(), today.month(), 1);
    const QDate month = QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM"));
    if (text.size() != 7 || !month.isValid())
        fail(2, "--month attend un mois AAAA-MM (par exemple 2026-11) : " + text);
    return month;
}

// A month the tracking window lists (the current month and the twelve
// before it), or any other month that holds figures; any other month is
// refused, since its report could only be empty.
void checkMonthOffered(TABSDatabase* database, const QDate& month) {
    const QDate today = QDate::currentDate();
    const QDate current(today.year(), today.month(), 1);
    if (month <= current && month >= current.addMonths(-12))
        return;
    const auto query = NewQuery(database, MonthHasFiguresStatement(month.year(), month.month()));
    query->Open();
    const bool hasFigures = !query->Eof();
    query->Close();
    if (!hasFigures)
        fail(1, "le mois " + month.toString(QStringLiteral("yyyy-MM")).toStdString() +
                    " n'a aucun chiffre dans cette base ; les mois proposés vont de " +
                    current.addMonths(-12).toString(QStringLiteral("yyyy-MM")).toStdString() +
                    " à " + current.toString(QStringLiteral("yyyy-MM")).toStdString());
}

// Whether the user code is the administrator's or one the database knows:
// a user or the head of a level.
void checkUserKnown(TABSDatabase* database, const std::string& userCode) {
    if (userCode == kAdminCode)
        return;
    const auto query = NewQuery(database, KnownUserStatement(userCode));
    query->Open();
    const bool known = !query->Eof();
    query->Close();
    if (!known)
        fail(1, "utilisateur inconnu : « " + userCode +
                    " » n'est ni un utilisateur ni un chef de secteur de cette base");
}

// A database error, said for a read: nothing was going to be written.
std::string readError(const std::exception& error) {
    std::string text = error.what();
    const std::string nothingChanged = " Rien n'a été modifié.";
    for (std::size_t at; (at = text.find(nothingChanged)) != std::string::npos;)
        text.erase(at, nothingChanged.size());
    return text;
}

// The label of the entry with that code in the rows of a list statement, as
// the window's lists offer them (an empty code is none); a failure when no
// entry has it.
std::string labelOf(TABSDatabase* database, const std::string& statement, const std::string& code,
                    const std::string& what) {
    const auto query = NewQuery(database, statement);
    query->Open();
    while (!code.empty() && !query->Eof()) {
        if (query->FieldByName("code").AsAnsiString() == code)
            return query->FieldByName("libelle").AsAnsiString();
        query->Next();
    }
    fail(1, what + " pour cette sélection : " + code);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const QDate month = chosenMonth(options.month);

    TReportSelection selection;
    selection.admin = options.userCode == kAdminCode;
    selection.userCode = selection.admin ? std::string() : options.userCode;
    selection.level = options.level;
    selection.agency = options.agency;
    selection.user = options.user;
    selection.supplier = options.supplier;
    selection.year = month.year();
    selection.month = month.month();
    selection.mode = ReportModeFor(options.hasLevel, options.hasAgency, options.hasUser);

    TReportContext context;
    context.year = selection.year;
    context.month = selection.month;
    context.database = options.database;
    context.userCode = options.userCode;
    context.admin = selection.admin;
    TXlsxReport workbook;
    try {
        TABSDatabase database;
        database.DatabaseFileName = options.database;
        checkUserKnown(&database, options.userCode);
        checkMonthOffered(&database, month);
        if (options.hasLevel)
            context.level = labelOf(&database, LevelsStatement(selection.admin, selection.userCode),
                                    options.level, "chef de secteur inconnu");
        if (options.hasAgency)
            context.agency = labelOf(&database, AgenciesStatement(options.level), options.agency,
                                     "agence inconnue");
        if (options.hasUser)
            context.user =
                labelOf(&database, UsersStatement(options.agency, selection.year, selection.month),
                        options.user, "utilisateur inconnu");
        if (!options.supplier.empty())
            context.supplier =
                labelOf(&database, SuppliersStatement(), options.supplier, "fournisseur inconnu");
        if (options.months > 0) {
            workbook =
                MonthsWorkbook(ComputeMonthTotals(&database, selection, options.months), context);
        } else {
            TReportTotals totals;
            const TReportRows rows = ComputeReport(&database, selection, {}, &totals);
            workbook = TableWorkbook(rows.Rows(), totals.Lines(), context);
        }
    } catch (const std::exception& error) {
        fail(1, readError(error));
    }

    // The CSV holds the report's rows only, as the window's export does.
    QByteArray csv;
    if (options.xlsx) {
        QString error;
        csv = ReportXlsx(workbook, &error);
        if (csv.isEmpty())
            fail(1, error.toStdString());
    } else {
        csv = ReportCsv(workbook.rows, workbook.firstTitle);
    }

    if (options.hasOutput) {
        QString error;
        if (!WriteWholeFile(QString::fromStdString(options.output), csv, &error))
            fail(1, "le fichier " + options.output +
                        " n'a pas pu être écrit : " + error.toStdString());
    } else if (std::fwrite(csv.constData(), 1, static_cast<std::size_t>(csv.size()), stdout) !=
                   static_cast<std::size_t>(csv.size()) ||
               std::fflush(stdout) != 0) {
        fail(1, "l'écriture sur la sortie standard a échoué");
    }
    return 0;
}
