// quadrivel-sample FILE|URI [--rows N] [--seed S] [--month YYYY-MM] [--no-indexes]
//                  [--levels N --agencies N --users N]
//
// Writes a new Quadrivel database: the schema, French levels, agencies,
// users and suppliers, and indicator figures for the given month (by default
// the current one) and the 24 before it. The same seed and month give the same
// figures. The target is an SQLite file, never overwritten, or an empty
// PostgreSQL database named by a postgresql:// URI, filled with COPY in one
// transaction; a database that already holds Quadrivel's tables is refused.

#include "schema_sql.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <variant>
#include <vector>

namespace {

struct Options {
    std::string path;
    long long rows = 60000;
    unsigned long long seed = 20261208;
    int year = 0;
    int month = 0;
    bool indexes = true;
    // A larger organisation than the built-in one, when given: that many
    // levels, agencies and users, named after the built-in ones.
    int levels = 0;
    int agencies = 0;
    int users = 0;
};

[[noreturn]] void usage(const std::string& error) {
    if (!error.empty())
        std::fprintf(stderr, "quadrivel-sample : %s\n", error.c_str());
    std::fprintf(stderr, "Usage : quadrivel-sample FICHIER|postgresql://... [--rows N] "
                         "[--seed S] [--month AAAA-MM] [--no-indexes]\n"
                         "       [--levels N --agencies N --users N]\n");
    std::exit(2);
}

long long parseNumber(const std::string& text, const char* what) {
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < 0)
        usage(std::string("valeur invalide pour ") + what + " : " + text);
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc)
                usage(arg + " attend une valeur");
            return argv[++i];
        };
        if (arg == "--rows") {
            options.rows = parseNumber(value(), "--rows");
        } else if (arg == "--seed") {
            options.seed = static_cast<unsigned long long>(parseNumber(value(), "--seed"));
        } else if (arg == "--month") {
            const std::string text = value();
            if (text.size() != 7 || text[4] != '-')
                usage("--month attend AAAA-MM");
            options.year = static_cast<int>(parseNumber(text.substr(0, 4), "--month"));
            options.month = static_cast<int>(parseNumber(text.substr(5, 2), "--month"));
            if (options.month < 1 || options.month > 12)
                usage("--month attend AAAA-MM");
        } else if (arg == "--levels" || arg == "--agencies" || arg == "--users") {
            const long long count = parseNumber(value(), arg.c_str());
            if (count < 1 || count > 9999)
                usage(arg + " attend un nombre de 1 à 9999");
            (arg == "--levels"     ? options.levels
             : arg == "--agencies" ? options.agencies
                                   : options.users) = static_cast<int>(count);
        } else if (arg == "--no-indexes") {
            options.indexes = false;
        } else if (arg == "-h" || arg == "--help") {
            usage("");
        } else if (!arg.empty() && arg[0] == '-') {
            usage("option inconnue : " + arg);
        } else if (options.path.empty()) {
            options.path = arg;
        } else {
            usage("un seul fichier est attendu");
        }
    }
    if (options.path.empty())
        usage("le fichier à créer manque");
    const int sized = (options.levels > 0) + (options.agencies > 0) + (options.users > 0);
    if (sized != 0 && sized != 3)
        usage("--levels, --agencies et --users vont ensemble");
    if (sized == 3 && (options.users < options.levels || options.agencies < options.levels))
        usage("il faut au moins autant d'utilisateurs et d'agences que de niveaux");
    if (options.year == 0) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        options.year = local.tm_year + 1900;
        options.month = local.tm_mon + 1;
    }
    return options;
}

bool isServerUri(const std::string& name) {
    return name.rfind("postgresql://", 0) == 0 || name.rfind("postgres://", 0) == 0;
}

using Field = std::variant<std::string, int, double>;

// Where the rows go: statements run as they are, rows are added table by table.
class Target {
public:
    virtual ~Target() = default;
    virtual void exec(const std::string& sql) = 0;
    virtual void open(const char* table, int columns) = 0;
    virtual void add(const std::vector<Field>& row) = 0;
    virtual void close() = 0;
};

class SqliteTarget : public Target {
public:
    explicit SqliteTarget(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    }
    ~SqliteTarget() override {
        sqlite3_finalize(stmt);
        sqlite3_close(db);
    }
    void exec(const std::string& sql) override {
        char* error = nullptr;
        if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : "erreur SQLite";
            sqlite3_free(error);
            throw std::runtime_error(message);
        }
    }
    void open(const char* table, int columns) override {
        std::string sql = std::string("INSERT INTO ") + table + " VALUES (";
        for (int i = 0; i < columns; ++i)
            sql += i > 0 ? ", ?" : "?";
        if (sqlite3_prepare_v2(db, (sql + ")").c_str(), -1, &stmt, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db));
    }
    void add(const std::vector<Field>& row) override {
        for (std::size_t i = 0; i < row.size(); ++i) {
            const int index = static_cast<int>(i) + 1;
            if (const auto* text = std::get_if<std::string>(&row[i]))
                sqlite3_bind_text(stmt, index, text->c_str(), static_cast<int>(text->size()),
                                  SQLITE_TRANSIENT);
            else if (const auto* number = std::get_if<int>(&row[i]))
                sqlite3_bind_int(stmt, index, *number);
            else
                sqlite3_bind_double(stmt, index, std::get<double>(row[i]));
        }
        if (sqlite3_step(stmt) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db));
        sqlite3_reset(stmt);
    }
    void close() override {
        sqlite3_finalize(stmt);
        stmt = nullptr;
    }

private:
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
};

// COPY in PostgreSQL's text format, sent in large blocks.
class ServerTarget : public Target {
public:
    explicit ServerTarget(const std::string& uri)
        : conn(PQconnectdb(uri.c_str())) {
        if (PQstatus(conn) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(conn));
        PQsetNoticeProcessor(
            conn, [](void*, const char*) {}, nullptr);
    }
    ~ServerTarget() override { PQfinish(conn); }
    void exec(const std::string& sql) override {
        PGresult* result = PQexec(conn, sql.c_str());
        const auto status = PQresultStatus(result);
        const std::string message = PQresultErrorMessage(result);
        PQclear(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error(message);
    }
    long long count(const std::string& sql) {
        PGresult* result = PQexec(conn, sql.c_str());
        if (PQresultStatus(result) != PGRES_TUPLES_OK) {
            const std::string message = PQresultErrorMessage(result);
            PQclear(result);
            throw std::runtime_error(message);
        }
        const long long value = std::atoll(PQgetvalue(result, 0, 0));
        PQclear(result);
        return value;
    }
    void open(const char* table, int) override {
        PGresult* result = PQexec(conn, (std::string("COPY ") + table + " FROM STDIN").c_str());
        const bool ready = PQresultStatus(result) == PGRES_COPY_IN;
        PQclear(result);
        if (!ready)
            throw std::runtime_error(PQerrorMessage(conn));
    }
    void add(const std::vector<Field>& row) override {
        for (std::size_t i = 0; i < row.size(); ++i) {
            if (i > 0)
                buffer += '\t';
            if (const auto* text = std::get_if<std::string>(&row[i])) {
                for (const char c : *text) {
                    if (c == '\\' || c == '\t' || c == '\n' || c == '\r')
                        buffer += '\\';
                    buffer += c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : c;
                }
            } else {
                // Shortest text that reads back as the same number, whatever
                // the locale.
                char number[64];
                const auto end =
                    std::holds_alternative<int>(row[i])
                        ? std::to_chars(number, number + sizeof number, std::get<int>(row[i]))
                        : std::to_chars(number, number + sizeof number, std::get<double>(row[i]));
                buffer.append(number, end.ptr);
            }
        }
        buffer += '\n';
        if (buffer.size() >= 1 << 20)
            flush();
    }
    void close() override {
        flush();
        if (PQputCopyEnd(conn, nullptr) != 1)
            throw std::runtime_error(PQerrorMessage(conn));
        PGresult* result = PQgetResult(conn);
        const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
        const std::string message = PQresultErrorMessage(result);
        PQclear(result);
        while ((result = PQgetResult(conn)))
            PQclear(result);
        if (!done)
            throw std::runtime_error(message);
    }

private:
    void flush() {
        if (!buffer.empty() &&
            PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size())) != 1)
            throw std::runtime_error(PQerrorMessage(conn));
        buffer.clear();
    }
    PGconn* conn;
    std::string buffer;
};

struct Entry {
    std::string code;
    std::string libelle;
};

const std::vector<Entry> kAgencies = {
    {"A01", "Lille"},      {"A02", "Villeneuve-d'Ascq"},
    {"A03", "Amiens"},     {"A04", "Rouen"},
    {"A05", "Paris Nord"}, {"A06", "Paris Sud"},
    {"A07", "Versailles"}, {"A08", "Orléans"},
    {"A09", "Nantes"},     {"A10", "Rennes"},
    {"A11", "Brest"},      {"A12", "Bordeaux"},
    {"A13", "Toulouse"},   {"A14", "Montpellier"},
    {"A15", "Marseille"},  {"A16", "Nice"},
    {"A17", "Lyon"},       {"A18", "Saint-Étienne"},
    {"A19", "Grenoble"},   {"A20", "L'Isle-d'Abeau"},
};

const std::vector<std::string> kFirstNames = {
    "Amélie", "Benoît", "Camille", "Chloé",   "Damien",  "Élodie", "François", "Gaëlle",
    "Hélène", "Inès",   "Jérôme",  "Julien",  "Léa",     "Louis",  "Manon",    "Mathéo",
    "Noémie", "Océane", "Pierre",  "Quentin", "Raphaël", "Sophie", "Théo",     "Zoé",
};
const std::vector<std::string> kLastNames = {
    "Martin",   "Bernard", "Dubois",  "Thomas",   "Robert",   "Richard",   "Petit",   "Durand",
    "Leroy",    "Moreau",  "Simon",   "Laurent",  "Lefèvre",  "Michel",    "Garcia",  "David",
    "Bertrand", "Roux",    "Vincent", "Fournier", "Morel",    "Girard",    "André",   "Mercier",
    "Dupont",   "Lambert", "Bonnet",  "François", "Martinez", "D'Almeida", "N'Diaye", "Héraud",
};

const std::vector<std::string> kSuppliers = {
    "Acier Lorrain",
    "Bâtimat",
    "Bois & Forêts d'Auvergne",
    "Carrelages du Midi",
    "Château Matériaux",
    "Cuisines Élysée",
    "Dalles Ardennaises",
    "Électro Provence",
    "Étanchéité Bretonne",
    "Fenêtres d'Alsace",
    "Forges de l'Ouest",
    "Granit Vosgien",
    "Huisseries Normandes",
    "Isolation Pyrénées",
    "Jardins de l'Oise",
    "Lumière & Cie",
    "Menuiseries Loire",
    "Métaux du Nord",
    "Parquets Gascons",
    "Peintures Océanes",
    "Plâtres de Paris",
    "Plomberie Rhône-Alpes",
    "Quincaillerie Vendôme",
    "Sanitaires Côte d'Azur",
    "Serrurerie Picarde",
    "Tuiles Savoyardes",
    "Verrerie Champenoise",
    "Volets du Berry",
    "Zinc & Toitures",
    "Ébénisterie Ligérienne",
};

double cents(double value) {
    return std::round(value * 100.0) / 100.0;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    const bool onServer = isServerUri(options.path);
    struct stat info {};
    if (!onServer && stat(options.path.c_str(), &info) == 0) {
        std::fprintf(stderr, "quadrivel-sample : « %s » existe déjà ; il n'est pas remplacé.\n",
                     options.path.c_str());
        return 1;
    }

    const auto started = std::chrono::steady_clock::now();
    try {
        std::mt19937_64 random(options.seed);
        auto uniform = [&](int low, int high) {
            return std::uniform_int_distribution<int>(low, high)(random);
        };
        auto real = [&](double low, double high) {
            return std::uniform_real_distribution<double>(low, high)(random);
        };

        std::unique_ptr<Target> target;
        if (onServer) {
            auto server = std::make_unique<ServerTarget>(options.path);
            if (server->count("SELECT count(*) FROM information_schema.tables WHERE "
                              "table_schema = current_schema() AND table_name IN "
                              "('dim_utilisateur', 'dim_agence', 'dim_fournisseur', "
                              "'dim_niveau', 'niveau_agence', 'data')") > 0) {
                std::fprintf(stderr, "quadrivel-sample : cette base contient déjà des tables de "
                                     "Quadrivel ; elle n'est pas modifiée.\n");
                return 1;
            }
            target = std::move(server);
        } else {
            target = std::make_unique<SqliteTarget>(options.path);
            target->exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF;");
        }
        Target& db = *target;
        // Tables first, indexes after the figures: far quicker to build. On
        // the server, all of it in one transaction: nothing is left of a
        // failed run.
        const std::string schema = quadrivel::kSchemaSql;
        const std::size_t firstIndex = schema.find("CREATE INDEX");
        db.exec("BEGIN");
        db.exec(schema.substr(0, firstIndex));

        // The organisation: by default sixty salespeople, three per agency,
        // and four levels, each headed by one user, sharing out the agencies
        // (Lyon belongs to two levels, L'Isle-d'Abeau to none). A larger one
        // numbers the built-in names and gives each level every n-th agency.
        const bool sized = options.levels > 0;
        const int agencyCount = sized ? options.agencies : static_cast<int>(kAgencies.size());
        const int userCount = sized ? options.users : 60;
        auto numbered = [](const std::string& name, int i, int period) {
            return i < period ? name : name + " " + std::to_string(i / period + 1);
        };

        std::vector<Entry> agencies;
        for (int i = 0; i < agencyCount; ++i) {
            const Entry& base = kAgencies[static_cast<std::size_t>(i) % kAgencies.size()];
            char code[32];
            std::snprintf(code, sizeof code, "A%03d", i + 1);
            agencies.push_back(sized ? Entry{code, numbered(base.libelle, i, 20)} : base);
        }

        std::vector<Entry> users;
        std::vector<std::size_t> homeAgency;
        db.open("dim_utilisateur", 2);
        for (int i = 0; i < userCount; ++i) {
            const std::string first = kFirstNames[static_cast<std::size_t>(i) % kFirstNames.size()];
            const std::string last =
                kLastNames[static_cast<std::size_t>(i * 7 + 3) % kLastNames.size()];
            char code[32];
            std::snprintf(code, sizeof code, "U%03d", i + 1);
            users.push_back({code, first + " " + last});
            homeAgency.push_back(static_cast<std::size_t>(i % agencyCount));
            db.add({users.back().code, users.back().libelle});
        }
        db.close();

        db.open("dim_agence", 2);
        for (const Entry& agency : agencies)
            db.add({agency.code, agency.libelle});
        db.close();

        db.open("dim_fournisseur", 2);
        for (std::size_t i = 0; i < kSuppliers.size(); ++i) {
            char code[32];
            std::snprintf(code, sizeof code, "F%02zu", i + 1);
            db.add({std::string(code), kSuppliers[i]});
        }
        db.close();

        std::vector<Entry> levels;
        std::vector<std::pair<std::size_t, std::size_t>> links; // level, agency
        if (sized) {
            for (int l = 0; l < options.levels; ++l)
                levels.push_back({users[static_cast<std::size_t>(l)].code,
                                  "Secteur " + agencies[static_cast<std::size_t>(l)].libelle});
            for (int a = 0; a < agencyCount; ++a)
                links.emplace_back(static_cast<std::size_t>(a % options.levels),
                                   static_cast<std::size_t>(a));
        } else {
            levels = {
                {"U001", "Secteur Nord"},
                {"U002", "Secteur Île-de-France & Centre"},
                {"U003", "Secteur Grand Ouest"},
                {"U004", "Secteur Sud-Est d'Azur"},
            };
            const std::array<std::vector<int>, 4> shares = {{
                {1, 2, 3, 4},
                {5, 6, 7, 8},
                {9, 10, 11, 12, 13},
                {14, 15, 16, 17, 18, 19},
            }};
            for (std::size_t l = 0; l < shares.size(); ++l)
                for (const int agency : shares[l])
                    links.emplace_back(l, static_cast<std::size_t>(agency - 1));
            links.emplace_back(1, 16); // Lyon
        }
        db.open("dim_niveau", 2);
        for (const Entry& level : levels)
            db.add({level.code, level.libelle});
        db.close();
        db.open("niveau_agence", 2);
        for (const auto& [level, agency] : links)
            db.add({levels[level].code, agencies[agency].code});
        db.close();

        // Figures: each quote file gives seven rows, the six indicators and
        // one invoiced amount that the program never reads.
        db.open("data", 8);
        long long written = 0;
        long long file = 0;
        while (written < options.rows) {
            ++file;
            const int back = uniform(0, 24);
            int year = options.year;
            int month = options.month - back;
            while (month < 1) {
                month += 12;
                --year;
            }
            const std::size_t user = static_cast<std::size_t>(uniform(0, userCount - 1));
            const std::size_t agency = uniform(0, 9) == 0
                                           ? static_cast<std::size_t>(uniform(0, agencyCount - 1))
                                           : homeAgency[user];
            const int supplier = uniform(1, static_cast<int>(kSuppliers.size()));
            char supplierCode[16];
            std::snprintf(supplierCode, sizeof supplierCode, "F%02d", supplier);
            char fileCode[24];
            std::snprintf(fileCode, sizeof fileCode, "D%07lld", file);

            const double amount = cents(real(150.0, 25000.0));
            const bool ordered = uniform(0, 99) < 42;
            const std::array<std::pair<const char*, double>, 7> figures = {{
                {"MONTANT_DEVIS_VENTE_HT", amount},
                {"MONTANT_DEVIS_TVA", cents(amount * 0.2)},
                {"MARGE_DEVIS_VENTE_HT", cents(amount * real(0.08, 0.38))},
                {"NB_RELANCES", static_cast<double>(uniform(0, 3))},
                {"NB_DOSSIERS_TRAITES", 1.0},
                {"NB_COMMANDES_TRAITES", ordered ? 1.0 : 0.0},
                {"MONTANT_FACTURE_HT", ordered ? amount : 0.0},
            }};
            for (const auto& [code, value] : figures) {
                if (written >= options.rows)
                    break;
                db.add({std::string(code), year, month, agencies[agency].code, users[user].code,
                        std::string(supplierCode), std::string(fileCode), value});
                ++written;
            }
        }
        db.close();
        if (options.indexes && firstIndex != std::string::npos)
            db.exec(schema.substr(firstIndex));
        // VACUUM marks a page visible to every transaction only once its
        // rows carry the hint that their transaction committed, and the
        // server writes that hint only once the commit is on disk: after an
        // asynchronous commit (synchronous_commit off) it would leave the
        // pages unmarked, and the sums would read the table besides the
        // indexes. This commit waits for its own flush.
        if (onServer)
            db.exec("SELECT set_config('synchronous_commit', 'local', true) "
                    "WHERE current_setting('synchronous_commit') = 'off'");
        db.exec("COMMIT");
        db.exec(onServer ? "VACUUM ANALYZE" : "ANALYZE");
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%s : %lld lignes de chiffres sur 25 mois jusqu'à %04d-%02d (%.1f s)\n",
                    onServer ? "base du serveur" : options.path.c_str(), written, options.year,
                    options.month, seconds);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quadrivel-sample : %s\n", error.what());
        if (!onServer)
            std::remove(options.path.c_str());
        return 1;
    }
    return 0;
}
