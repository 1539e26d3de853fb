#include "data/objectcode.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "data/frenchorder.h"

#include <QComboBox>
#include <QTreeWidget>
#include <QVariant>

#include <utility>
#include <vector>

namespace {

// The item is kept in the entry's user data as a plain pointer: the list owns
// it, and nothing in Qt ever frees it.
TObjectCode* itemOf(const QVariant& data) {
    return data.isValid() ? static_cast<TObjectCode*>(data.value<void*>()) : nullptr;
}

QVariant dataOf(TObjectCode* item) {
    return QVariant::fromValue(static_cast<void*>(item));
}

} // namespace

void AddComboItem(QComboBox* list, const std::string& label, TObjectCode* item) {
    list->addItem(FromAnsiOneLine(label), dataOf(item));
}

void AddComboCode(QComboBox* list, const std::string& label, const std::string& code) {
    AddComboItem(list, label, new TObjectCode(code));
}

void AddComboCodes(QComboBox* list, TABSDatabase* database, const std::string& statement) {
    std::vector<std::pair<std::string, std::string>> entries; // label, code
    const auto query = NewQuery(database, statement);
    query->Open();
    while (!query->Eof()) {
        // An empty code (or NULL, read as empty) is what a list stores for
        // its "all" entry or no choice: such a row is no entry.
        std::string code = query->FieldByName("code").AsAnsiString();
        if (!code.empty())
            entries.emplace_back(query->FieldByName("libelle").AsAnsiString(), std::move(code));
        query->Next();
    }
    query->Close();
    // The engine orders text byte by byte; readers expect French order.
    SortInFrenchOrder(entries, [](const auto& entry) { return entry.first; });
    for (const auto& [label, code] : entries)
        AddComboCode(list, label, code);
}

std::string GetComboCode(QComboBox* list, int index) {
    if (index < 0 || index >= list->count())
        return std::string();
    const TObjectCode* item = itemOf(list->itemData(index));
    return item ? item->GetCode() : std::string();
}

void ClearComboCodes(QComboBox* list) {
    for (int i = 0; i < list->count(); ++i) {
        delete itemOf(list->itemData(i));
        list->setItemData(i, QVariant());
    }
    list->clear();
}

void SetRowCode(QTreeWidget* list, int row, const std::string& code) {
    QTreeWidgetItem* item = list->topLevelItem(row);
    delete itemOf(item->data(0, Qt::UserRole));
    item->setData(0, Qt::UserRole, dataOf(new TObjectCode(code)));
}

std::string GetRowCode(QTreeWidget* list, int row) {
    if (row < 0 || row >= list->topLevelItemCount())
        return std::string();
    const TObjectCode* item = itemOf(list->topLevelItem(row)->data(0, Qt::UserRole));
    return item ? item->GetCode() : std::string();
}

void ClearListCodes(QTreeWidget* list) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = list->topLevelItem(i);
        delete itemOf(row->data(0, Qt::UserRole));
        row->setData(0, Qt::UserRole, QVariant());
    }
    list->clear();
}
