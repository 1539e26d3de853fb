// Shared pieces of the test programs: fixture database files, recorded
// messages with chosen answers, recorded statements.
#pragma once

#include "ui/toolkit.h"

#include <QString>
#include <QTemporaryDir>

#include <deque>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QWidget;
class TABSDatabase;

// A database file in a temporary folder, made from the schema and then from
// the given SQL text (statements separated by ';').
class FixtureFile {
public:
    explicit FixtureFile(const std::string& sql = std::string(), bool withSchema = true);
    std::string Path() const { return path; }
    // Runs statements on the file through the sqlite3 C API, outside the
    // program's engine layer.
    void Exec(const std::string& sql) const;
    // The rows of a SELECT, each row's columns joined by '|', rows in order.
    std::vector<std::string> Rows(const std::string& sql) const;
    QString Folder() const { return dir.path(); }

private:
    QTemporaryDir dir;
    std::string path;
};

// Replaces the message boxes while it lives: records every message and answers
// confirmations from a queue (No when the queue is empty).
class MessageRecorder {
public:
    struct Message {
        toolkit::MessageKind kind;
        std::string text;
    };
    MessageRecorder();
    ~MessageRecorder();
    void AnswerNext(bool yes) { answers.push_back(yes); }
    std::vector<Message> messages;
    std::vector<std::string> Texts(toolkit::MessageKind kind) const;
    void Clear() { messages.clear(); }

private:
    std::deque<bool> answers;
};

// Shows a window and lets its first activation run, as it does once the
// window is on screen.
void ShowForm(QWidget& window);

// A user's pick of an entry of a drop-down list: the entry is chosen and the
// list's change handler runs.
void Pick(QComboBox* list, int index);

// Waits, from the event loop, for the next modal window of the program to be
// up and done with its first activation (not under the busy cursor), runs
// check on it, then closes it. Use before the click that opens it.
void CloseNextModal(const std::function<void(QWidget*)>& check = {});

// Records every statement a database component runs.
class StatementRecorder {
public:
    explicit StatementRecorder(TABSDatabase* database);
    ~StatementRecorder();
    std::vector<std::string> statements;
    void Clear() { statements.clear(); }

private:
    TABSDatabase* database;
};
