// The code that travels with a visible entry of a drop-down list or a list
// view, whose text is the label.
#pragma once

#include <string>

class QComboBox;
class TABSDatabase;
class QTreeWidget;

class TObjectCode {
public:
    explicit TObjectCode(std::string code)
        : code(std::move(code)) {}
    virtual ~TObjectCode() = default;

    std::string GetCode() const { return code; }

private:
    std::string code;
};

// Adds an entry whose text is the label and whose attached object is the code
// item; the list owns the item from then on.
void AddComboItem(QComboBox* list, const std::string& label, TObjectCode* item);
// The same with a new code item holding code.
void AddComboCode(QComboBox* list, const std::string& label, const std::string& code);

// Runs a SELECT whose rows give "code" and "libelle" and adds one entry per
// row after the entries already there, in French order of the labels (rows
// with equal labels in the statement's order): the label as text, the code as
// code item. A row whose code is empty adds nothing.
void AddComboCodes(QComboBox* list, TABSDatabase* database, const std::string& statement);

// The code of the entry at index; the empty text for a negative index, an
// index past the end or an entry without a code item.
std::string GetComboCode(QComboBox* list, int index);

// The index of the first entry at or after from whose code is code; -1 when
// none.
int FindComboCode(QComboBox* list, const std::string& code, int from = 0);

// Destroys the code item of every entry, then empties the list.
void ClearComboCodes(QComboBox* list);

// Makes a drop-down list keep its entries compactly, for lists of up to
// millions of entries: each entry's label and code in one block of text,
// without an item per entry, the entries of one height. AddComboCodes then
// adds its entries with their codes but no code item; GetComboCode and
// ClearComboCodes read and clear the list as any other, and entries added
// one by one (an "all" entry) have no code.
void UseCompactEntries(QComboBox* list);

// The same for the rows of a list view: a row's code item, attached when the
// row is added, is destroyed by ClearListCodes.
void SetRowCode(QTreeWidget* list, int row, const std::string& code);
std::string GetRowCode(QTreeWidget* list, int row);
void ClearListCodes(QTreeWidget* list);
