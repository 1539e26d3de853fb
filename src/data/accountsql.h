// Turns an indicator record into one summing statement on the fact table and
// returns the sum.
#pragma once

#include <string>

class TABSDatabase;
class TAccount;

class TAccountSQL {
public:
    TAccountSQL() = default;

    void SetDatabase(TABSDatabase* newDatabase) { database = newDatabase; }
    void SetAccount(TAccount* newAccount) { account = newAccount; }

    // The statement for the record's current state.
    std::string BuildStatement() const;
    // Runs it: the sum, 0 when no row matches.
    double GetSomme() const;

private:
    TABSDatabase* database = nullptr; // borrowed
    TAccount* account = nullptr;      // borrowed
};
