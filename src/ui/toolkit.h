// Window behaviours every window of the program relies on: modal showing with
// the activation rule, the guard around event handlers, message boxes with a
// seam for tests, the busy cursor, the current date.
#pragma once

#include <QAbstractTableModel>
#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QPushButton>

#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

class QAbstractItemView;
class QLabel;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;
class QWidget;

// A window of the program. ShowModal() runs it in a nested event loop.
//
// FormActivate() runs when the window is first shown, and again each time it
// becomes the program's active window once more because a form of the program
// shown from it with ShowModal() has closed. It does not run again when one of
// the program's boxes closes (a ShowMessage() box, a MessageDlg() question,
// the box that reports an error): the window goes on with what the user had
// chosen. Nor does it run on a switch between applications.
//
// The first activation runs once the window is on screen, after the show has
// gone through the event loop, so that a box it opens stands over the window.
// Escape closes no window: none has a Cancel button, and a stray key must not
// lose what was typed. A top-level window (the main window) is a normal
// window of the desktop, with minimise and maximise buttons.
//
// Derived classes call their FormDestroy() from their own destructor, while
// their controls still exist.
class TForm : public QDialog {
    Q_OBJECT
public:
    explicit TForm(QWidget* owner);
    ~TForm() override;

    int ShowModal();

    // Sets the size of the area inside the window frame, as a fixed design.
    void SetClientSize(int width, int height);

    // Makes the window a normal top-level window of the desktop rather than a
    // dialog: for the program's main window.
    void SetMainWindowFrame();

    // True from a first show until its activation has ended, and while any
    // activation runs (it may let events through).
    bool Activating() const { return activationPending || activationDepth > 0; }

protected:
    virtual void FormActivate() {}
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

    void hideEvent(QHideEvent* event) override;

private:
    friend void ReactivateActiveForm();
    void runActivate();
    bool activationPending = false;
    int activationDepth = 0;
};

namespace toolkit {

enum class MessageKind { Information, Confirmation, Error };

// Replaces the message boxes, for tests: receives every message the program
// would show and, for a confirmation, returns the user's answer (true: Yes).
using MessageHook = std::function<bool(MessageKind, const QString&)>;
void SetMessageHook(MessageHook hook);

// Modal box with an OK button.
void ShowMessage(const std::string& text);
// Yes/No question; true when the user answers Yes.
bool MessageDlgYesNo(const std::string& text);
// Shows an error's message; the active window is not activated again.
void ShowError(const QString& text);

// Runs an event handler: any exception it throws is shown in an error box and
// the program goes on. No exception ever crosses Qt's event loop.
void Guard(const std::function<void()>& handler);

// A double click on the button counts as one click, as on the desktop's own
// buttons: a quick second click must not repeat an action.
void IgnoreDoubleClicks(QPushButton* button);

// Connects a button's click to a handler run under Guard().
template <typename Form> void OnClick(QPushButton* button, Form* form, void (Form::*handler)()) {
    IgnoreDoubleClicks(button);
    QObject::connect(button, &QPushButton::clicked, form,
                     [form, handler] { Guard([&] { (form->*handler)(); }); });
}

// Connects a drop-down list's change to a handler run under Guard(). The
// handler fires only on a user's pick, never on a refill or on
// setCurrentIndex() from the program.
template <typename Form> void OnChange(QComboBox* list, Form* form, void (Form::*handler)()) {
    QObject::connect(list, &QComboBox::activated, form,
                     [form, handler](int) { Guard([&] { (form->*handler)(); }); });
}

// A report-style list view: one line per row, whole-row selection, no
// editing, columns with the given captions, widths and alignments.
struct ListColumn {
    QString caption;
    int width = 50;
    Qt::Alignment alignment = Qt::AlignLeft;
};
QTreeWidget* CreateListView(QWidget* parent, const std::vector<ListColumn>& columns);
// The rows of a list that its window holds itself: the list asks for the
// texts of the rows it paints, so that a list of a million rows keeps no text
// of its own. A cell's text comes from the function given at creation; it is
// asked again only for rows painted since the last change (ShowListRows).
class ListModel : public QAbstractTableModel {
public:
    using TextOf = std::function<QString(int row, int column)>;
    ListModel(const std::vector<ListColumn>& columns, TextOf text, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // Another number of rows: the list starts afresh.
    void Reset(int count);
    // The same rows with other texts: the caller paints them again.
    void TextsChanged();

private:
    std::vector<ListColumn> columns;
    TextOf text;
    int count = 0;
    // The texts of rows painted since the last change.
    mutable std::unordered_map<int, std::vector<QString>> painted;
};
// A report-style list view, as CreateListView, whose rows come from a
// ListModel made with text.
QTreeView* CreateRowsView(QWidget* parent, const std::vector<ListColumn>& columns,
                          ListModel::TextOf text);
// Makes a list of CreateRowsView show count rows. With as many rows as
// before, only the cells on screen for which changed(row, column) holds are
// painted again (every cell when changed is empty); otherwise the list starts
// afresh. Either way nothing stays chosen and the list shows its first row.
void ShowListRows(QTreeView* list, int count, const std::function<bool(int, int)>& changed);

// Adds a row: its caption (first column) then its sub-items, aligned as their
// columns.
QTreeWidgetItem* AddListRow(QTreeWidget* list, const std::vector<std::string>& texts);
// Makes a list show exactly the given rows: rows already there take the new
// texts in place, missing rows are inserted at once, extra rows removed.
void SetListRows(QTreeWidget* list, const std::vector<std::vector<std::string>>& rows);
// A text shown whole in the middle of a list while it holds no row (wrapped
// when the list is narrow); hidden by the caller while rows are there.
QLabel* CreateEmptyListLabel(QAbstractItemView* list, const QString& text);
// The index of the selected row, -1 when none.
int ListItemIndex(const QTreeView* list);
// The texts of a row, caption first (for tests and for copying).
std::vector<std::string> ListRowTexts(const QTreeView* list, int row);

// Lets pending events through.
void ProcessMessages();

// Asks with a file dialog where to save, proposing a name and offering the
// file types ("Classeur Excel (*.xlsx)"), the first one chosen at first. The
// chosen type gives the name its extension when it ends with none of the
// types' extensions or with another type's. Empty when cancelled.
QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                        const QStringList& types);

// The current date, or the one a test has set.
QDate Today();
void SetToday(const QDate& date); // an invalid date returns to the clock

} // namespace toolkit
