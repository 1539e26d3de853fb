// Tests of the two administration windows, driven as a user would, with the
// database's content read back after each action.
#pragma once

#include "testsupport.h"

#include <QComboBox>
#include <QObject>
#include <QStringList>
#include <QTreeWidget>

#include "data/absdatabase.h"

#include <functional>
#include <memory>
#include <string>

class TestAdmin : public QObject {
    Q_OBJECT
private slots:
    // Level management window.
    void levelActivation();
    void levelAddChecks();
    void levelAdd();
    void levelDelete();
    void levelRefusedWrites();
    void levelWritesRaceFreeBetweenAdministrators();
    void levelWritesRefusedToReaderRole();
    // Level-agency window.
    void agencyActivationAndLevelChange();
    void agencyChecks();
    void agencyAttachDetach();
    void agencyLockedWrite();
    void agencyAttachToLevelDeletedMeanwhile();
    void nullCodesKeepListsFull();
    void agencyListHashedOverManyLinks();
    // Main window buttons.
    void mainWindowOpensWindows();
};

namespace admintest {

inline QStringList ComboTexts(const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->itemText(i);
    return texts;
}

// Each row of a list view as its texts joined by '|'.
inline QStringList ListRows(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        QStringList texts;
        for (int c = 0; c < list->columnCount(); ++c)
            texts << list->topLevelItem(i)->text(c);
        rows << texts.join('|');
    }
    return rows;
}

inline QStringList Strings(const std::vector<std::string>& values) {
    QStringList list;
    for (const auto& value : values)
        list << QString::fromStdString(value);
    return list;
}

inline QStringList Rows(const FixtureFile& fixture, const std::string& sql) {
    return Strings(fixture.Rows(sql));
}

// The six tables as another tool may make them: no keys, NULL allowed.
inline const char* const kKeylessSchema = R"(
CREATE TABLE dim_utilisateur (code VARCHAR(64), libelle VARCHAR(255));
CREATE TABLE dim_agence (code VARCHAR(64), libelle VARCHAR(255));
CREATE TABLE dim_fournisseur (code VARCHAR(64), libelle VARCHAR(255));
CREATE TABLE dim_niveau (code VARCHAR(64), libelle VARCHAR(255));
CREATE TABLE niveau_agence (niveau VARCHAR(64), agence VARCHAR(64));
CREATE TABLE data (code_account VARCHAR(64), period_year INTEGER, period_month INTEGER,
    dim_agence VARCHAR(64), dim_utilisateur VARCHAR(64), dim_fournisseur VARCHAR(64),
    dim_dossier VARCHAR(64), valeur DOUBLE PRECISION);
)";

// Runs action once, just before the database component runs the statement
// text, as another administrator acting at that moment would; the statements
// still reach the component's recorder.
inline void BeforeStatement(TABSDatabase& database, const std::string& text,
                            std::function<void()> action) {
    auto previous = database.OnStatement;
    auto done = std::make_shared<bool>(false);
    database.OnStatement = [previous, text, action, done](const std::string& statement) {
        if (!*done && statement == text) {
            *done = true;
            action();
        }
        if (previous)
            previous(statement);
    };
}

} // namespace admintest
