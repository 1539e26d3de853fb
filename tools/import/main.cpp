// quadrivel-import DATABASE [--users FILE] [--agencies FILE] [--suppliers FILE]
//                  [--levels FILE] [--level-agencies FILE] [--figures FILE]
//                  [--encoding utf-8|windows-1252] [--dry-run] [--quiet]
// quadrivel-import DATABASE --check
//
// Loads labels, links between levels and agencies, and figures from CSV files
// into an SQLite file or a PostgreSQL database. Every line of every file is
// checked before anything is written; then everything is written in one
// transaction: labels by code (added or relabelled), new links, and each
// month present in a figures file replaced whole. --check lists the figures a
// file keeps as text. Exit status 0 on success, 2 for a wrong command line, 1
// when the import is refused (bad lines, database, rights) or --check finds
// anything.

#include "data/absdatabase.h"
#include "importdata.h"
#include "importdb.h"
#include "progress.h"

#include <QCoreApplication>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>

namespace {

constexpr const char* kUsage =
    "Usage : quadrivel-import BASE [--users FICHIER] [--agencies FICHIER] [--suppliers FICHIER] "
    "[--levels FICHIER] [--level-agencies FICHIER] [--figures FICHIER] "
    "[--encoding utf-8|windows-1252] [--dry-run] [--quiet]\n"
    "        quadrivel-import BASE --check\n";

[[noreturn]] void fail(int status, const std::string& error) {
    std::fprintf(stderr, "quadrivel-import : %s\n", error.c_str());
    if (status == 2)
        std::fputs(kUsage, stderr);
    std::exit(status);
}

struct Options {
    std::string database;
    std::vector<Source> sources;
    TextEncoding encoding = TextEncoding::Detect;
    bool dryRun = false;
    bool quiet = false;
    bool check = false;
};

Options parseOptions(int argc, char** argv) {
    Options options;
    const std::pair<const char*, SourceKind> kinds[] = {
        {"--users", SourceKind::Users},
        {"--agencies", SourceKind::Agencies},
        {"--suppliers", SourceKind::Suppliers},
        {"--levels", SourceKind::Levels},
        {"--level-agencies", SourceKind::LevelAgencies},
        {"--figures", SourceKind::Figures},
    };
    bool encodingGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc || argv[i + 1][0] == '\0')
                fail(2, arg + " attend une valeur");
            return argv[++i];
        };
        bool isSource = false;
        for (const auto& [name, kind] : kinds)
            if (arg == name) {
                options.sources.push_back({kind, value()});
                isSource = true;
            }
        if (isSource)
            continue;
        if (arg == "--encoding") {
            const std::string name = value();
            const TextEncoding encoding = name == "utf-8" || name == "UTF-8" ? TextEncoding::Utf8
                                          : name == "windows-1252" || name == "WINDOWS-1252"
                                              ? TextEncoding::Windows1252
                                              : TextEncoding::Detect;
            if (encoding == TextEncoding::Detect)
                fail(2, "--encoding attend utf-8 ou windows-1252 : " + name);
            if (encodingGiven && encoding != options.encoding)
                fail(2, "--encoding est donné deux fois, avec deux valeurs différentes");
            options.encoding = encoding;
            encodingGiven = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail(2, "option inconnue : " + arg);
        } else if (options.database.empty()) {
            options.database = arg;
        } else {
            fail(2, "argument en trop : " + arg);
        }
    }
    if (options.database.empty())
        fail(2, "la base de données est obligatoire");
    if (options.check && (!options.sources.empty() || options.dryRun || encodingGiven))
        fail(2, "--check se donne seul, sans fichier à importer");
    if (!options.check && options.sources.empty())
        fail(2, "aucun fichier à importer (--users, --agencies, --suppliers, --levels, "
                "--level-agencies ou --figures)");
    // A file given twice would be loaded twice: its figures would count double.
    for (std::size_t i = 0; i < options.sources.size(); ++i)
        for (std::size_t j = 0; j < i; ++j) {
            std::error_code error;
            const auto& a = options.sources[i].path;
            const auto& b = options.sources[j].path;
            if (a == b || std::filesystem::equivalent(a, b, error))
                fail(2, "le fichier " + a + " est donné deux fois");
        }
    return options;
}

std::string plural(long long count, const char* one, const char* many) {
    return Grouped(count) + " " + (count > 1 ? many : one);
}

void printSummary(const ImportData& data, const ImportOutcome& outcome, const std::string& where,
                  bool dryRun, double seconds) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.1f", seconds);
    std::string time = duration;
    time.replace(time.find('.'), 1, ",");
    if (dryRun)
        std::printf("Vérification terminée (%s s) : tout peut être importé dans %s. Rien n'a été "
                    "écrit (--dry-run) ; l'import ferait :\n",
                    time.c_str(), where.c_str());
    else
        std::printf("Import terminé dans %s (%s s) :\n", where.c_str(), time.c_str());
    const auto given = [&](SourceKind kind) {
        for (const Source& source : data.sources)
            if (source.kind == kind)
                return true;
        return false;
    };
    const SourceKind labelKinds[] = {SourceKind::Users, SourceKind::Agencies, SourceKind::Suppliers,
                                     SourceKind::Levels};
    for (std::size_t t = 0; t < kLabelTables.size(); ++t) {
        if (!given(labelKinds[t]))
            continue;
        const auto& counts = outcome.labels[t];
        std::printf("  %s (%s) : %s, %s, %s\n", kLabelTables[t].what, kLabelTables[t].table,
                    plural(counts.added, "ajouté", "ajoutés").c_str(),
                    plural(counts.changed, "libellé changé", "libellés changés").c_str(),
                    plural(counts.unchanged, "inchangé", "inchangés").c_str());
    }
    if (given(SourceKind::LevelAgencies))
        std::printf("  agences des niveaux (niveau_agence) : %s, %s\n",
                    plural(outcome.linksAdded, "lien ajouté", "liens ajoutés").c_str(),
                    plural(outcome.linksPresent, "déjà présent", "déjà présents").c_str());
    if (given(SourceKind::Figures)) {
        long long replaced = 0;
        for (const auto& [month, rows] : outcome.replaced)
            replaced += rows;
        std::printf(
            "  chiffres (data) : %s, %s\n",
            plural(outcome.figuresAdded, "ligne ajoutée", "lignes ajoutées").c_str(),
            plural(replaced, "ancienne ligne remplacée", "anciennes lignes remplacées").c_str());
        std::string months;
        for (const auto& [year, month] : data.months) {
            char text[16];
            std::snprintf(text, sizeof text, "%04d-%02d", year, month);
            months += (months.empty() ? "" : ", ") + std::string(text);
        }
        std::printf("  mois remplacés en entier : %s\n",
                    months.empty() ? "aucun"
                                   : (Grouped(static_cast<long long>(data.months.size())) + " (" +
                                      months + ")")
                                         .c_str());
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const Options options = parseOptions(argc, argv);
    const auto started = std::chrono::steady_clock::now();

    TABSDatabase database;
    database.DatabaseFileName = options.database;
    try {
        database.Connection();
        if (options.check)
            return CheckStoredFigures(database) > 0 ? 1 : 0;
    } catch (const std::exception& error) {
        fail(1, error.what());
    }

    Progress progress(!options.quiet && isatty(STDERR_FILENO));
    ImportData data;
    data.sources = options.sources;
    bool reading = false;
    ReadSources(data, options.encoding, [&](long long done, long long total) {
        if (!reading)
            progress.Start("Lecture", total);
        reading = true;
        progress.Update(done);
    });
    progress.Clear();

    std::string refusal;
    try {
        const bool refused = data.errors.Count() > 0;
        const bool write = !options.dryRun && !refused;
        if (write)
            CheckRights(database, data);
        TABSTransaction transaction(&database,
                                    write ? TABSDatabase::TransactionKind::Write
                                          : TABSDatabase::TransactionKind::Read,
                                    write ? TablesWritten(data) : std::vector<std::string>{});
        ImportDatabase target(database, data);
        const ImportOutcome outcome = target.Prepare();
        if (data.errors.Count() > 0) {
            for (const std::string& error : data.errors.First())
                std::fprintf(stderr, "%s\n", error.c_str());
            const long long count = data.errors.Count();
            if (count > static_cast<long long>(ImportErrors::kShown))
                std::fprintf(stderr, "… et %s de plus.\n",
                             plural(count - static_cast<long long>(ImportErrors::kShown),
                                    "autre erreur", "autres erreurs")
                                 .c_str());
            refusal = plural(count, "erreur", "erreurs") +
                      " : l'import est refusé, rien n'a été écrit dans la base.";
        } else {
            if (write) {
                target.Write(outcome, progress);
                progress.Say("Validation…");
                transaction.Commit();
            }
            progress.Clear();
            if (!options.quiet)
                printSummary(
                    data, outcome, database.DisplayName(), options.dryRun,
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - started)
                        .count());
        }
    } catch (const EImportRefused& error) {
        refusal = error.what();
    } catch (const std::exception& error) {
        refusal =
            std::string(error.what()) + "\nL'import est refusé : rien n'a été écrit dans la base.";
    }
    progress.Clear();
    if (!refusal.empty())
        fail(1, refusal);
    return 0;
}
