// French order of names, as a French reader sorts them: "Île-de-France"
// among the I, "Éric" before "Zoé", case and accents deciding only between
// otherwise equal names.
#pragma once

#include <algorithm>
#include <cstddef>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

class QCollator;

// The collator of that order, shared by every list of the program.
const QCollator& FrenchCollator();

// Compares two UTF-8 texts: negative, zero or positive.
int FrenchCompare(std::string_view a, std::string_view b);

// The positions 0 to count - 1 in the order less(a, b) gives them, positions
// that compare equal in their own order: a list is sorted without moving or
// copying its rows.
template <typename Less> std::vector<std::size_t> StableOrder(std::size_t count, Less less) {
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), less);
    return order;
}

// The positions 0 to count - 1 in French order of label(position); positions
// whose labels compare equal keep their own order.
template <typename LabelAt> std::vector<std::size_t> FrenchOrder(std::size_t count, LabelAt label) {
    return StableOrder(
        count, [&](std::size_t a, std::size_t b) { return FrenchCompare(label(a), label(b)) < 0; });
}

// Puts the items in the order given, in place: position i takes the item at
// order[i]. One cycle of moves at a time, so a million items are never
// copied.
template <typename Item> void ApplyOrder(std::vector<Item>& items, std::vector<std::size_t> order) {
    // A position done points to itself.
    for (std::size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i)
            continue;
        Item held = std::move(items[i]);
        std::size_t j = i;
        while (order[j] != i) {
            const std::size_t from = order[j];
            items[j] = std::move(items[from]);
            order[j] = j;
            j = from;
        }
        items[j] = std::move(held);
        order[j] = j;
    }
}

// Sorts rows by their label in French order; rows whose labels compare equal
// keep the order they came in. The order is found on the rows' positions,
// then the rows are moved into it in place.
template <typename Row, typename Label>
void SortInFrenchOrder(std::vector<Row>& rows, Label label) {
    ApplyOrder(rows, FrenchOrder(rows.size(), [&](std::size_t i) { return label(rows[i]); }));
}
