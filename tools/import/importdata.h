// What an import's files hold, read and checked line by line before anything
// reaches the database: labels by code, links between levels and agencies,
// and figure rows, with the first errors found.
#pragma once

#include "sourcefile.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

enum class SourceKind { Users, Agencies, Suppliers, Levels, LevelAgencies, Figures };

struct Source {
    SourceKind kind;
    std::string path;
};

// The errors of an import, kept in the order of the files, lines and columns;
// only the first ones are kept, all are counted.
class ImportErrors {
public:
    static constexpr std::size_t kShown = 20;
    void Add(std::size_t source, long line, int column, std::string text);
    long long Count() const { return count; }
    // The first errors, in order.
    std::vector<std::string> First() const;

private:
    struct Entry {
        std::size_t source;
        long line;
        int column;
        std::string text;
    };
    std::vector<Entry> kept;
    long long count = 0;
};

// A code with its label, from a label file.
struct LabelRow {
    std::string code;
    std::string label;
};

// A link between a level and an agency, from a file.
struct LinkRow {
    std::string level;
    std::string agency;
    std::size_t source;
    long line;
};

// The codes of one column of the figures, each kept once: rows carry their
// number.
class CodePool {
public:
    std::uint32_t Intern(std::string_view code);
    const std::string& Code(std::uint32_t id) const { return codes[id]; }
    std::size_t Size() const { return codes.size(); }

private:
    std::unordered_map<std::string_view, std::uint32_t> ids;
    std::deque<std::string> codes;
    std::string_view last;
    std::uint32_t lastId = 0;
    bool any = false;
};

struct FigureRow {
    std::uint32_t account;
    std::uint32_t agency;
    std::uint32_t user;
    std::uint32_t supplier;
    std::string_view file;
    double value;
    std::int16_t year;
    std::int8_t month;
    std::uint16_t source;
    std::uint32_t line;
};

// The columns of the figures, in the table's order.
enum FigureColumn { fcAccount, fcYear, fcMonth, fcAgency, fcUser, fcSupplier, fcFile, fcValue };
extern const std::array<const char*, 8> kFigureColumns;

struct ImportData {
    std::vector<Source> sources;
    // Per source, the position of each of its table's columns in its lines.
    std::vector<std::vector<int>> positions;
    // Labels by table (users, agencies, suppliers, levels), in file order,
    // each code once.
    std::array<std::vector<LabelRow>, 4> labels;
    // Where each code of a label table was read first.
    struct LabelOrigin {
        std::size_t row;
        std::size_t source;
        long line;
    };
    std::array<std::unordered_map<std::string, LabelOrigin>, 4> labelOrigins;
    std::vector<LinkRow> links; // each once
    std::set<std::pair<std::string, std::string>> linkSet;
    std::vector<FigureRow> figures;
    std::array<CodePool, 4> pools; // account, agency, user, supplier
    std::set<std::pair<int, int>> months;
    ImportErrors errors;
    long long linesRead = 0;

    // The texts the rows point into.
    std::vector<std::unique_ptr<SourceText>> texts;
    std::deque<std::string> unescaped;
};

// The label tables in the order of ImportData::labels, and their names.
struct LabelTable {
    const char* table;
    const char* what;   // "utilisateurs"
    const char* option; // "--users"
};
extern const std::array<LabelTable, 4> kLabelTables;
int LabelIndex(SourceKind kind);

// Reads every file: its encoding, separator and header, then each line,
// checked for everything that needs no database (fields of the header, numbers,
// year and month, codes not empty nor too long). progress is called with the
// lines read so far and the total, now and then.
void ReadSources(ImportData& data, TextEncoding encoding,
                 const std::function<void(long long, long long)>& progress);

// Numbers as French systems write them: a sign, digits grouped by spaces or
// no-break spaces, a decimal comma or point, an exponent. False for anything
// else, and for a value beyond a double's range.
bool ParseNumber(std::string_view text, double& value);

// The error text of a line: "FILE, ligne N, colonne C : MESSAGE".
std::string LineError(const std::string& path, long line, const std::string& column,
                      const std::string& message);
// « TEXT », as read.
std::string Quoted(std::string_view text);
