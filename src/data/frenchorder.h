// French order of names, as a French reader sorts them: "Île-de-France"
// among the I, "Éric" before "Zoé", case and accents deciding only between
// otherwise equal names.
#pragma once

#include <string>

class QCollator;

// The collator of that order, shared by every list of the program.
const QCollator& FrenchCollator();

// Compares two UTF-8 texts: negative, zero or positive.
int FrenchCompare(const std::string& a, const std::string& b);
