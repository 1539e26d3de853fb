#include "importdb.h"

#include "data/absdatabase.h"
#include "data/schema.h"
#include "progress.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <numeric>
#include <set>

namespace {

// Rows per INSERT statement of labels or links.
constexpr std::size_t kRowsPerStatement = 200;

// The indexes of data are dropped and built again, inside the transaction,
// when the rows kept are fewer than this many times the rows written: building
// an index from sorted rows is far quicker than adding each row to it.
constexpr long long kRebuildFactor = 2;

// What each column of the figures names, in the order of ImportData::pools
// from the agency on: its label table, the word and the label file's option.
struct CodeColumn {
    int pool;
    int column;
    int table;
    const char* unknown;
};
constexpr std::array<CodeColumn, 3> kCodeColumns = {{
    {1, fcAgency, 1, "n'est pas une agence connue"},
    {2, fcUser, 0, "n'est pas un utilisateur connu"},
    {3, fcSupplier, 2, "n'est pas un fournisseur connu"},
}};

std::string notFound(int table) {
    return " (ni dans la base, ni dans un fichier " +
           std::string(kLabelTables[static_cast<std::size_t>(table)].option) + " de cet import)";
}

std::string monthCondition(const std::set<std::pair<int, int>>& months) {
    std::string condition;
    for (const auto& [year, month] : months)
        condition += (condition.empty() ? "(" : " OR (") + std::string(schema::DataPeriodYear) +
                     " = " + std::to_string(year) + " AND " + schema::DataPeriodMonth + " = " +
                     std::to_string(month) + ")";
    return condition;
}

long long countOf(TABSDatabase& database, const std::string& statement) {
    const auto query = NewQuery(&database, statement);
    query->Open();
    return query->Eof() ? 0 : static_cast<long long>(query->FieldByName("n").AsFloat());
}

void run(TABSDatabase& database, const std::string& statement) {
    NewQuery(&database, statement)->ExecSQL();
}

// INSERT statements of many rows each.
void insertRows(TABSDatabase& database, const std::string& head,
                const std::vector<std::pair<std::string, std::string>>& rows,
                const std::string& tail = {}) {
    for (std::size_t start = 0; start < rows.size(); start += kRowsPerStatement) {
        std::string statement = head;
        const std::size_t end = std::min(rows.size(), start + kRowsPerStatement);
        for (std::size_t i = start; i < end; ++i)
            statement += (i > start ? ", (" : "(") + QuotedStr(rows[i].first) + ", " +
                         QuotedStr(rows[i].second) + ")";
        run(database, statement + tail);
    }
}

std::string figureColumns() {
    std::string columns;
    for (const char* column : kFigureColumns)
        columns += (columns.empty() ? "" : ", ") + std::string(column);
    return columns;
}

} // namespace

std::vector<std::string> TablesWritten(const ImportData& data) {
    std::vector<std::string> tables;
    for (std::size_t t = 0; t < kLabelTables.size(); ++t)
        if (!data.labels[t].empty())
            tables.push_back(kLabelTables[t].table);
    if (!data.links.empty()) {
        tables.push_back(schema::NiveauAgence);
        // No level may go while its links are added.
        if (data.labels[3].empty())
            tables.push_back(schema::DimNiveau);
    }
    if (!data.figures.empty())
        tables.push_back(schema::Data);
    return tables;
}

void CheckRights(TABSDatabase& database, const ImportData& data) {
    if (!database.OnServer())
        return;
    for (const std::string& table : TablesWritten(data)) {
        std::vector<const char*> rights = {"INSERT"};
        if (table == schema::Data)
            rights.push_back("DELETE");
        else if (table != schema::NiveauAgence)
            rights.push_back("UPDATE");
        if (table == schema::DimNiveau && data.labels[3].empty())
            rights = {}; // only locked
        for (const char* right : rights) {
            const auto query =
                NewQuery(&database, "SELECT current_user AS login, CASE WHEN has_table_privilege(" +
                                        QuotedStr(table) + ", " + QuotedStr(right) +
                                        ") THEN 1 ELSE 0 END AS allowed");
            query->Open();
            if (query->FieldByName("allowed").AsFloat() == 0)
                throw EImportRefused(
                    "le compte « " + query->FieldByName("login").AsAnsiString() +
                    " » n'a pas le droit d'écrire dans la table " + table + " (" + right +
                    ") sur ce serveur : l'import est refusé et rien n'a été modifié. Un import "
                    "se fait avec le compte propriétaire des tables, celui qui les a créées "
                    "avec db/schema.sql.");
        }
    }
}

ImportDatabase::ImportDatabase(TABSDatabase& database, ImportData& data)
    : database(database)
    , data(data) {
    if (const char* pause = std::getenv("QUADRIVEL_IMPORT_TEST_PAUSE"))
        pauseAfter = std::atoll(pause);
}

ImportOutcome ImportDatabase::Prepare() {
    for (std::size_t t = 0; t < kLabelTables.size(); ++t) {
        const auto query =
            NewQuery(&database, std::string("SELECT code, libelle FROM ") + kLabelTables[t].table);
        query->Open();
        for (; !query->Eof(); query->Next())
            existing[t].emplace(query->FieldByName("code").AsAnsiString(),
                                query->FieldByName("libelle").AsAnsiString());
    }
    checkCodes();

    ImportOutcome outcome;
    for (std::size_t t = 0; t < kLabelTables.size(); ++t)
        for (const LabelRow& row : data.labels[t]) {
            const auto found = existing[t].find(row.code);
            if (found == existing[t].end())
                ++outcome.labels[t].added;
            else if (found->second != row.label)
                ++outcome.labels[t].changed;
            else
                ++outcome.labels[t].unchanged;
        }

    if (!data.links.empty()) {
        std::set<std::pair<std::string, std::string>> present;
        const auto query = NewQuery(&database, "SELECT niveau, agence FROM niveau_agence");
        query->Open();
        for (; !query->Eof(); query->Next())
            present.emplace(query->FieldByName("niveau").AsAnsiString(),
                            query->FieldByName("agence").AsAnsiString());
        for (const LinkRow& link : data.links)
            if (!present.count({link.level, link.agency}))
                newLinks.push_back(link);
        outcome.linksAdded = static_cast<long long>(newLinks.size());
        outcome.linksPresent = static_cast<long long>(data.links.size() - newLinks.size());
    }

    if (!data.months.empty()) {
        const auto query = NewQuery(
            &database, std::string("SELECT period_year, period_month, COUNT(*) AS n FROM data "
                                   "WHERE ") +
                           monthCondition(data.months) + " GROUP BY period_year, period_month");
        query->Open();
        for (; !query->Eof(); query->Next())
            outcome.replaced[{static_cast<int>(query->FieldByName("period_year").AsFloat()),
                              static_cast<int>(query->FieldByName("period_month").AsFloat())}] =
                static_cast<long long>(query->FieldByName("n").AsFloat());
        outcome.figuresBefore = countOf(database, "SELECT COUNT(*) AS n FROM data");
    }
    outcome.figuresAdded = static_cast<long long>(data.figures.size());
    long long replaced = 0;
    for (const auto& [month, rows] : outcome.replaced)
        replaced += rows;
    outcome.rebuildIndexes = outcome.figuresAdded > 0 && outcome.figuresBefore - replaced <
                                                             kRebuildFactor * outcome.figuresAdded;
    return outcome;
}

void ImportDatabase::checkCodes() {
    const auto known = [&](int table, const std::string& code) {
        const auto t = static_cast<std::size_t>(table);
        return existing[t].count(code) > 0 || data.labelOrigins[t].count(code) > 0;
    };
    for (const LinkRow& link : data.links) {
        const auto& positions = data.positions[link.source];
        const std::string& path = data.sources[link.source].path;
        if (!known(3, link.level))
            data.errors.Add(
                link.source, link.line, positions[0],
                LineError(path, link.line, schema::NiveauAgenceNiveau,
                          Quoted(link.level) + " n'est pas un niveau connu" + notFound(3)));
        if (!known(1, link.agency))
            data.errors.Add(
                link.source, link.line, positions[1],
                LineError(path, link.line, schema::NiveauAgenceAgence,
                          Quoted(link.agency) + " n'est pas une agence connue" + notFound(1)));
    }
    if (data.figures.empty())
        return;
    // Each distinct code once, then each row by its number.
    std::array<std::vector<char>, 4> good;
    bool allGood = true;
    for (const CodeColumn& column : kCodeColumns) {
        const CodePool& pool = data.pools[static_cast<std::size_t>(column.pool)];
        auto& flags = good[static_cast<std::size_t>(column.pool)];
        for (std::uint32_t id = 0; id < pool.Size(); ++id) {
            flags.push_back(known(column.table, pool.Code(id)) ? 1 : 0);
            allGood = allGood && flags.back();
        }
    }
    if (allGood)
        return;
    for (const FigureRow& row : data.figures) {
        for (const CodeColumn& column : kCodeColumns) {
            const std::uint32_t id = column.pool == 1   ? row.agency
                                     : column.pool == 2 ? row.user
                                                        : row.supplier;
            if (good[static_cast<std::size_t>(column.pool)][id])
                continue;
            const int position = data.positions[row.source][column.column];
            data.errors.Add(
                row.source, static_cast<long>(row.line), position,
                LineError(data.sources[row.source].path, static_cast<long>(row.line),
                          kFigureColumns[static_cast<std::size_t>(column.column)],
                          Quoted(data.pools[static_cast<std::size_t>(column.pool)].Code(id)) + " " +
                              column.unknown + notFound(column.table)));
        }
    }
}

void ImportDatabase::Write(const ImportOutcome& outcome, Progress& progress) {
    writeLabels();
    writeLinks();
    if (!data.figures.empty())
        writeFigures(outcome, progress);
}

void ImportDatabase::writeLabels() {
    for (std::size_t t = 0; t < kLabelTables.size(); ++t) {
        std::vector<std::pair<std::string, std::string>> rows;
        for (const LabelRow& row : data.labels[t]) {
            const auto found = existing[t].find(row.code);
            if (found == existing[t].end() || found->second != row.label)
                rows.emplace_back(row.code, row.label);
        }
        insertRows(database,
                   std::string("INSERT INTO ") + kLabelTables[t].table + " (code, libelle) VALUES ",
                   rows, " ON CONFLICT (code) DO UPDATE SET libelle = excluded.libelle");
    }
}

void ImportDatabase::writeLinks() {
    std::vector<std::pair<std::string, std::string>> rows;
    for (const LinkRow& link : newLinks)
        rows.emplace_back(link.level, link.agency);
    insertRows(database, "INSERT INTO niveau_agence (niveau, agence) VALUES ", rows);
}

void ImportDatabase::writeFigures(const ImportOutcome& outcome, Progress& progress) {
    // The rows in the order of the summing indexes (codes compared byte by
    // byte, as SQLite's indexes and PostgreSQL's "C" order do): each index
    // then grows at its end instead of everywhere.
    std::array<std::vector<std::uint32_t>, 4> rank;
    for (std::size_t p = 0; p < rank.size(); ++p) {
        const CodePool& pool = data.pools[p];
        std::vector<std::uint32_t> order(pool.Size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return pool.Code(a) < pool.Code(b); });
        rank[p].resize(order.size());
        for (std::uint32_t r = 0; r < order.size(); ++r)
            rank[p][order[r]] = r;
    }
    std::sort(data.figures.begin(), data.figures.end(),
              [&](const FigureRow& a, const FigureRow& b) {
                  return std::make_tuple(rank[0][a.account], a.year, a.month, rank[1][a.agency],
                                         rank[2][a.user], rank[3][a.supplier]) <
                         std::make_tuple(rank[0][b.account], b.year, b.month, rank[1][b.agency],
                                         rank[2][b.user], rank[3][b.supplier]);
              });

    // The indexes exactly as they are, to be built again the same.
    std::vector<std::pair<std::string, std::string>> indexes;
    if (outcome.rebuildIndexes) {
        const bool server = database.OnServer();
        const auto query = NewQuery(
            &database,
            server ? "SELECT c.relname AS name, pg_get_indexdef(i.indexrelid) AS definition "
                     "FROM pg_index i JOIN pg_class c ON c.oid = i.indexrelid JOIN pg_class t "
                     "ON t.oid = i.indrelid WHERE i.indrelid = 'data'::regclass AND NOT "
                     "i.indisunique AND pg_has_role(t.relowner, 'USAGE') ORDER BY c.relname"
                   : "SELECT name, sql AS definition FROM sqlite_master WHERE type = 'index' "
                     "AND tbl_name = 'data' AND sql IS NOT NULL ORDER BY name");
        query->Open();
        for (; !query->Eof(); query->Next())
            indexes.emplace_back(query->FieldByName("name").AsAnsiString(),
                                 query->FieldByName("definition").AsAnsiString());
        for (const auto& [name, definition] : indexes)
            run(database, "DROP INDEX " + name);
    }
    if (!data.months.empty()) {
        progress.Say("Suppression des mois remplacés…");
        run(database, "DELETE FROM data WHERE " + monthCondition(data.months));
    }
    if (database.OnServer())
        copyToServer(progress);
    else
        insertIntoFile(progress);
    if (!indexes.empty()) {
        progress.Say("Construction des index…");
        if (database.OnServer())
            run(database, "SET LOCAL maintenance_work_mem = '256MB'");
        for (const auto& [name, definition] : indexes)
            run(database, definition);
    }
}

void ImportDatabase::pausePoint(long long written) const {
    if (written != pauseAfter)
        return;
    std::fputs("quadrivel-import : en pause pour un essai\n", stderr);
    std::fflush(stderr);
    for (;;)
        pause();
}

void ImportDatabase::insertIntoFile(Progress& progress) {
    sqlite3* handle = database.FileHandle();
    const std::string sql =
        "INSERT INTO data (" + figureColumns() + ") VALUES (?, ?, ?, ?, ?, ?, ?, ?)";
    sqlite3_stmt* raw = nullptr;
    const int prepared = sqlite3_prepare_v2(handle, sql.c_str(), -1, &raw, nullptr);
    const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    if (prepared != SQLITE_OK)
        throw EDatabaseError(FileErrorMessage(handle, prepared));
    const auto text = [&](int index, std::string_view value) {
        sqlite3_bind_text(raw, index, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    };
    progress.Start("Écriture", static_cast<long long>(data.figures.size()));
    long long written = 0;
    for (const FigureRow& row : data.figures) {
        text(1, data.pools[0].Code(row.account));
        sqlite3_bind_int(raw, 2, row.year);
        sqlite3_bind_int(raw, 3, row.month);
        text(4, data.pools[1].Code(row.agency));
        text(5, data.pools[2].Code(row.user));
        text(6, data.pools[3].Code(row.supplier));
        text(7, row.file);
        sqlite3_bind_double(raw, 8, row.value);
        const int step = sqlite3_step(raw);
        if (step != SQLITE_DONE)
            throw EDatabaseError(FileErrorMessage(handle, step));
        sqlite3_reset(raw);
        if (++written % 4096 == 0)
            progress.Update(written);
        pausePoint(written);
    }
    progress.Update(written);
}

void ImportDatabase::copyToServer(Progress& progress) {
    PGconn* conn = database.ServerHandle();
    const auto failed = [&](PGresult* result) {
        const std::string message = ServerErrorMessage(conn, result);
        PQclear(result);
        return EDatabaseError(message);
    };
    PGresult* started = PQexec(conn, ("COPY data (" + figureColumns() + ") FROM STDIN").c_str());
    if (PQresultStatus(started) != PGRES_COPY_IN)
        throw failed(started);
    PQclear(started);
    // Ends the copy whatever happens, so that the connection can roll back.
    bool open = true;
    const auto end = [&](const char* refusal) {
        open = false;
        PQputCopyEnd(conn, refusal);
        PGresult* result = PQgetResult(conn);
        const bool done = PQresultStatus(result) == PGRES_COMMAND_OK;
        std::unique_ptr<EDatabaseError> error;
        if (!done)
            error = std::make_unique<EDatabaseError>(failed(result));
        else
            PQclear(result);
        while ((result = PQgetResult(conn)))
            PQclear(result);
        if (error && !refusal)
            throw *error;
    };
    struct Guard {
        bool& open;
        const decltype(end)& finish;
        ~Guard() {
            if (open)
                finish("import interrompu");
        }
    } guard{open, end};

    std::string buffer;
    const auto flush = [&] {
        if (!buffer.empty() &&
            PQputCopyData(conn, buffer.data(), static_cast<int>(buffer.size())) != 1)
            throw failed(nullptr);
        buffer.clear();
    };
    const auto append = [&](std::string_view value) {
        for (const char c : value) {
            switch (c) {
            case '\\':
                buffer += "\\\\";
                break;
            case '\t':
                buffer += "\\t";
                break;
            case '\n':
                buffer += "\\n";
                break;
            case '\r':
                buffer += "\\r";
                break;
            default:
                buffer += c;
            }
        }
        buffer += '\t';
    };
    progress.Start("Écriture", static_cast<long long>(data.figures.size()));
    long long written = 0;
    char number[64];
    for (const FigureRow& row : data.figures) {
        append(data.pools[0].Code(row.account));
        buffer.append(number, std::to_chars(number, number + sizeof number, row.year).ptr);
        buffer += '\t';
        buffer.append(number, std::to_chars(number, number + sizeof number, row.month).ptr);
        buffer += '\t';
        append(data.pools[1].Code(row.agency));
        append(data.pools[2].Code(row.user));
        append(data.pools[3].Code(row.supplier));
        append(row.file);
        buffer.append(number, std::to_chars(number, number + sizeof number, row.value).ptr);
        buffer += '\n';
        if (buffer.size() >= (1 << 20))
            flush();
        if (++written % 4096 == 0)
            progress.Update(written);
        if (written == pauseAfter)
            flush();
        pausePoint(written);
    }
    flush();
    end(nullptr);
    progress.Update(written);
}

long long CheckStoredFigures(TABSDatabase& database) {
    if (database.OnServer()) {
        std::printf("Sur un serveur PostgreSQL, les colonnes de data sont typées : aucune valeur "
                    "ne peut y être gardée comme texte.\n");
        return 0;
    }
    constexpr int kListed = 200;
    const std::string condition =
        " FROM data WHERE typeof(valeur) NOT IN ('integer', 'real', 'null') OR "
        "typeof(period_year) <> 'integer' OR typeof(period_month) <> 'integer'";
    const long long count = countOf(database, "SELECT COUNT(*) AS n" + condition);
    if (count == 0) {
        std::printf("Aucune valeur mal enregistrée dans data (lignes vérifiées : %s).\n",
                    Grouped(countOf(database, "SELECT COUNT(*) AS n FROM data")).c_str());
        return 0;
    }
    const auto query = NewQuery(
        &database, "SELECT period_year, period_month, typeof(period_year) = 'integer' AND "
                   "typeof(period_month) = 'integer' AS dated, code_account, dim_agence, "
                   "dim_utilisateur, dim_fournisseur, dim_dossier, valeur, typeof(valeur) IN "
                   "('integer', 'real', 'null') AS number, CAST(valeur AS REAL) AS summed" +
                       condition + " LIMIT " + std::to_string(kListed));
    query->Open();
    for (; !query->Eof(); query->Next()) {
        const auto field = [&](const char* name) {
            return query->FieldByName(name).AsAnsiString();
        };
        const bool dated = query->FieldByName("dated").AsFloat() != 0;
        std::string month =
            "année " + Quoted(field("period_year")) + ", mois " + Quoted(field("period_month"));
        if (dated) {
            char text[32];
            std::snprintf(text, sizeof text, "%04d-%02d",
                          static_cast<int>(query->FieldByName("period_year").AsFloat()),
                          static_cast<int>(query->FieldByName("period_month").AsFloat()));
            month = text;
        }
        std::string problem;
        if (query->FieldByName("number").AsFloat() == 0) {
            char summed[64];
            const auto end = std::to_chars(summed, summed + sizeof summed,
                                           query->FieldByName("summed").AsFloat());
            problem = "valeur " + Quoted(field("valeur")) +
                      " gardée comme texte, additionnée comme " + std::string(summed, end.ptr);
        }
        if (!dated)
            problem += std::string(problem.empty() ? "" : " ; ") +
                       "année ou mois gardé comme texte : la ligne n'est jamais lue";
        std::printf("data, %s, %s, agence %s, utilisateur %s, fournisseur %s, dossier %s : %s\n",
                    month.c_str(), field("code_account").c_str(), field("dim_agence").c_str(),
                    field("dim_utilisateur").c_str(), field("dim_fournisseur").c_str(),
                    field("dim_dossier").c_str(), problem.c_str());
    }
    if (count > kListed)
        std::printf("… et %s autres.\n", Grouped(count - kListed).c_str());
    std::printf("%s %s de data %s une valeur, une année ou un mois gardé comme texte. "
                "Corrigez-les à la source, puis importez à nouveau leurs mois avec "
                "quadrivel-import : chaque mois importé remplace le mois entier.\n",
                Grouped(count).c_str(), count > 1 ? "lignes" : "ligne", count > 1 ? "ont" : "a");
    return count;
}
