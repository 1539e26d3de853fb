// French order of names, as a French reader sorts them: "Île-de-France"
// among the I, "Éric" before "Zoé", case and accents deciding only between
// otherwise equal names.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

class QCollator;

// The collator of that order, shared by every list of the program.
const QCollator& FrenchCollator();

// Compares two UTF-8 texts: negative, zero or positive.
int FrenchCompare(const std::string& a, const std::string& b);

// Sorts rows by their label in French order; rows whose labels compare equal
// keep the order they came in.
template <typename Row, typename Label>
void SortInFrenchOrder(std::vector<Row>& rows, Label label) {
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        return FrenchCompare(label(a), label(b)) < 0;
    });
}
