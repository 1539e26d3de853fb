// The database side of an import: the codes already there, what the run
// would change, and the writing itself inside the caller's transaction.
#pragma once

#include "importdata.h"

#include <array>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <vector>

class TABSDatabase;
class Progress;

// A refusal of the import, told to the user as it is.
class EImportRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a run adds or replaces, table by table.
struct ImportOutcome {
    struct Labels {
        long long added = 0;
        long long changed = 0;
        long long unchanged = 0;
    };
    std::array<Labels, 4> labels;
    long long linksAdded = 0;
    long long linksPresent = 0;
    long long figuresAdded = 0;
    // The rows each replaced month held before.
    std::map<std::pair<int, int>, long long> replaced;
    long long figuresBefore = 0;
    bool rebuildIndexes = false;
};

// The tables a run writes, for the write transaction's locks.
std::vector<std::string> TablesWritten(const ImportData& data);

// On a server: refused unless the login may write every table the run
// writes (a reader's login, for instance). Nothing is asked of a file.
void CheckRights(TABSDatabase& database, const ImportData& data);

class ImportDatabase {
public:
    ImportDatabase(TABSDatabase& database, ImportData& data);

    // Reads the codes, labels and links present; every code the figures and
    // links name must be there or in a label file of the run, else an error
    // of its line is added. Then works out what the run changes.
    ImportOutcome Prepare();
    // Writes it all, inside the transaction the caller holds.
    void Write(const ImportOutcome& outcome, Progress& progress);

private:
    void checkCodes();
    void writeLabels();
    void writeLinks();
    void writeFigures(const ImportOutcome& outcome, Progress& progress);
    void insertIntoFile(Progress& progress);
    void copyToServer(Progress& progress);
    // Stops here for a test that kills the import half-way, once that many
    // figure rows are written (QUADRIVEL_IMPORT_TEST_PAUSE).
    void pausePoint(long long written) const;

    TABSDatabase& database;
    ImportData& data;
    // Per label table, the labels present by code.
    std::array<std::unordered_map<std::string, std::string>, 4> existing;
    std::vector<LinkRow> newLinks;
    long long pauseAfter = -1;
};

// Lists the figures whose value, month or year the file keeps as text (which
// SQLite then sums as a number read from its first characters, or never
// reads): on standard output, the first ones, then their count. The number
// of such rows; none can exist on a server, whose columns are typed.
long long CheckStoredFigures(TABSDatabase& database);
