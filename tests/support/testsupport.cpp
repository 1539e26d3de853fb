#include "testsupport.h"

#include "data/absdatabase.h"
#include "schema_sql.h"

#include <QApplication>
#include <QComboBox>
#include <QTimer>

#include <sqlite3.h>

#include <stdexcept>

namespace {

void execOn(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open fixture " + path);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("fixture SQL failed: " + message + " in: " + sql);
}

} // namespace

FixtureFile::FixtureFile(const std::string& sql, bool withSchema) {
    path = (dir.path() + QStringLiteral("/quadrivel.db")).toStdString();
    execOn(path, withSchema ? std::string(quadrivel::kSchemaSql) + "\n" + sql : sql);
}

void FixtureFile::Exec(const std::string& sql) const {
    execOn(path, sql);
}

std::vector<std::string> FixtureFile::Rows(const std::string& sql) const {
    sqlite3* db = nullptr;
    std::vector<std::string> rows;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        throw std::runtime_error("cannot open fixture " + path);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        const std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("fixture query failed: " + message);
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::string row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (i > 0)
                row += '|';
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row += text ? reinterpret_cast<const char*>(text) : "NULL";
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

MessageRecorder::MessageRecorder() {
    toolkit::SetMessageHook([this](toolkit::MessageKind kind, const QString& text) {
        messages.push_back({kind, text.toStdString()});
        if (kind != toolkit::MessageKind::Confirmation || answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    });
}

MessageRecorder::~MessageRecorder() {
    toolkit::SetMessageHook(nullptr);
}

std::vector<std::string> MessageRecorder::Texts(toolkit::MessageKind kind) const {
    std::vector<std::string> texts;
    for (const auto& message : messages)
        if (message.kind == kind)
            texts.push_back(message.text);
    return texts;
}

StatementRecorder::StatementRecorder(TABSDatabase* database)
    : database(database) {
    database->OnStatement = [this](const std::string& text) { statements.push_back(text); };
}

StatementRecorder::~StatementRecorder() {
    database->OnStatement = nullptr;
}

void CloseNextModal(const std::function<void(QWidget*)>& check) {
    // The modal window registers itself once shown, which may be after events
    // that its activation lets through: poll until it is there.
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        QWidget* modal = QApplication::activeModalWidget();
        // A window under its busy cursor is still filling itself: the poll
        // may run inside the pending events it lets through.
        if (!modal || modal->cursor().shape() == Qt::WaitCursor)
            return;
        timer->stop();
        timer->deleteLater();
        // The window's first activation was queued when it was shown: let it
        // run before the window is looked at, however long the show took.
        QCoreApplication::sendPostedEvents();
        if (check)
            check(modal);
        modal->close();
    });
    timer->start();
}

void Pick(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

void ShowForm(QWidget& window) {
    window.show();
    QCoreApplication::processEvents();
}
