#include "data/objectcode.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "data/frenchorder.h"

#include <QAbstractListModel>
#include <QComboBox>
#include <QListView>
#include <QTreeWidget>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The role under which a compact list gives an entry's code.
constexpr int kCodeRole = Qt::UserRole + 1;

// The entries of a drop-down list as one block of text: label then code of
// each entry, one after the other, and where each starts. A label or code
// changed later is written anew at the end of the block.
class CompactEntries : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : static_cast<int>(entries.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount())
            return QVariant();
        const Entry& entry = entries[static_cast<std::size_t>(index.row())];
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            return FromAnsiOneLine(text.substr(entry.label, entry.code - entry.label));
        if (role == kCodeRole)
            return QByteArray(text.data() + entry.code, int(entry.end - entry.code));
        return QVariant();
    }

    bool setData(const QModelIndex& index, const QVariant& value, int role) override {
        if (!index.isValid() || index.row() >= rowCount())
            return false;
        Entry& entry = entries[static_cast<std::size_t>(index.row())];
        std::string label = text.substr(entry.label, entry.code - entry.label);
        std::string code = text.substr(entry.code, entry.end - entry.code);
        if (role == Qt::DisplayRole || role == Qt::EditRole)
            label = value.toString().toStdString();
        else if (role == kCodeRole)
            code = value.toByteArray().toStdString();
        else
            return false;
        entry = add(label, code);
        emit dataChanged(index, index, {role});
        return true;
    }

    bool insertRows(int row, int count, const QModelIndex& parent) override {
        if (parent.isValid() || row < 0 || row > rowCount() || count <= 0)
            return false;
        beginInsertRows(parent, row, row + count - 1);
        entries.insert(entries.begin() + row, std::size_t(count), add({}, {}));
        endInsertRows();
        return true;
    }

    bool removeRows(int row, int count, const QModelIndex& parent) override {
        if (parent.isValid() || row < 0 || count <= 0 || row + count > rowCount())
            return false;
        beginRemoveRows(parent, row, row + count - 1);
        entries.erase(entries.begin() + row, entries.begin() + row + count);
        if (entries.empty())
            std::string().swap(text);
        endRemoveRows();
        return true;
    }

    // The first entry at or after from with that code, -1 when none: the
    // codes are compared where they lie.
    int Find(const std::string& wanted, int from) const {
        for (std::size_t i = std::size_t(std::max(from, 0)); i < entries.size(); ++i) {
            const Entry& entry = entries[i];
            if (entry.end - entry.code == wanted.size() &&
                text.compare(entry.code, wanted.size(), wanted) == 0)
                return int(i);
        }
        return -1;
    }

    // Adds entries at the end, all at once, in French order of their
    // labels: read(add) calls add(label, code) for each entry, in any order.
    // Each is written into the block as it comes; a million entries are
    // never held as strings of their own.
    template <typename Read> void AppendInFrenchOrder(Read read) {
        std::vector<Entry> added;
        read([&](const std::string& label, const std::string& code) {
            added.push_back(add(label, code));
        });
        if (added.empty())
            return;
        ApplyOrder(added, FrenchOrder(added.size(), [&](std::size_t i) {
                       const Entry& entry = added[i];
                       return std::string_view(text).substr(entry.label, entry.code - entry.label);
                   }));
        const int first = rowCount();
        beginInsertRows(QModelIndex(), first, first + int(added.size()) - 1);
        entries.insert(entries.end(), added.begin(), added.end());
        endInsertRows();
    }

private:
    struct Entry {
        std::uint32_t label;
        std::uint32_t code;
        std::uint32_t end;
    };

    Entry add(const std::string& label, const std::string& code) {
        if (text.size() + label.size() + code.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::runtime_error("La liste est trop longue pour être affichée.");
        Entry entry;
        entry.label = std::uint32_t(text.size());
        text += label;
        entry.code = std::uint32_t(text.size());
        text += code;
        entry.end = std::uint32_t(text.size());
        return entry;
    }

    std::string text;
    std::vector<Entry> entries;
};

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
    const auto query = NewQuery(database, statement);
    query->OpenForward();
    const auto readRows = [&query](const auto& add) {
        while (!query->Eof()) {
            // An empty code (or NULL, read as empty) is what a list stores
            // for its "all" entry or no choice: such a row is no entry.
            const std::string code = query->FieldByName("code").AsAnsiString();
            if (!code.empty())
                add(query->FieldByName("libelle").AsAnsiString(), code);
            query->Next();
        }
        query->Close();
    };
    // The engine orders text byte by byte; readers expect French order.
    if (auto* compact = dynamic_cast<CompactEntries*>(list->model())) {
        compact->AppendInFrenchOrder(readRows);
        return;
    }
    std::vector<std::pair<std::string, std::string>> entries; // label, code
    readRows([&entries](const std::string& label, const std::string& code) {
        entries.emplace_back(label, code);
    });
    SortInFrenchOrder(entries, [](const auto& entry) { return entry.first; });
    for (const auto& [label, code] : entries)
        AddComboCode(list, label, code);
}

std::string GetComboCode(QComboBox* list, int index) {
    if (index < 0 || index >= list->count())
        return std::string();
    if (const TObjectCode* item = itemOf(list->itemData(index)))
        return item->GetCode();
    return list->itemData(index, kCodeRole).toByteArray().toStdString();
}

int FindComboCode(QComboBox* list, const std::string& code, int from) {
    if (const auto* compact = dynamic_cast<const CompactEntries*>(list->model()))
        return compact->Find(code, from);
    for (int i = std::max(from, 0); i < list->count(); ++i)
        if (GetComboCode(list, i) == code)
            return i;
    return -1;
}

void UseCompactEntries(QComboBox* list) {
    const QStringList shown = [list] {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->itemText(i);
        return texts;
    }();
    const int current = list->currentIndex();
    ClearComboCodes(list);
    list->setModel(new CompactEntries(list));
    list->addItems(shown);
    list->setCurrentIndex(current);
    // The open list lays out its entries from the first one's height alone.
    if (auto* view = qobject_cast<QListView*>(list->view()))
        view->setUniformItemSizes(true);
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
