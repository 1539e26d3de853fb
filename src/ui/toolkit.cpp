#include "ui/toolkit.h"

#include "data/ansistring.h"

#include <QApplication>
#include <QFileDialog>
#include <QGlyphRun>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QRawFont>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QTreeWidget>

#include <algorithm>
#include <exception>
#include <vector>

namespace {

// The program's own windows, in the order they became active: the last one is
// the program's active window.
std::vector<TForm*>& activeStack() {
    static std::vector<TForm*> stack;
    return stack;
}

void removeFromStack(TForm* form) {
    auto& stack = activeStack();
    stack.erase(std::remove(stack.begin(), stack.end(), form), stack.end());
}

toolkit::MessageHook& messageHook() {
    static toolkit::MessageHook hook;
    return hook;
}

QDate& fixedToday() {
    static QDate date;
    return date;
}

QWidget* dialogParent() {
    auto& stack = activeStack();
    return stack.empty() ? nullptr : stack.back();
}

// The box for a message. Its text is always plain: names read from the
// database and file paths are shown as they are, never as markup.
void configureBox(QMessageBox& box, toolkit::MessageKind kind, const QString& text) {
    box.setWindowTitle(QApplication::applicationDisplayName());
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    switch (kind) {
    case toolkit::MessageKind::Confirmation:
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::No);
        break;
    case toolkit::MessageKind::Error:
        box.setIcon(QMessageBox::Critical);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case toolkit::MessageKind::Information:
        box.setIcon(QMessageBox::Information);
        box.setStandardButtons(QMessageBox::Ok);
        break;
    }
}

bool showBox(toolkit::MessageKind kind, const QString& text) {
    if (messageHook())
        return messageHook()(kind, text);
    QMessageBox box(dialogParent());
    configureBox(box, kind, text);
    return box.exec() == QMessageBox::Yes;
}

// Turns a double click on a button into nothing more than its first click.
class DoubleClickFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonDblClick)
            return true;
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

// The window that was active before a window of the program opened from it
// closed becomes active again.
void ReactivateActiveForm() {
    auto& stack = activeStack();
    if (!stack.empty() && stack.back()->isVisible())
        stack.back()->runActivate();
}

TForm::TForm(QWidget* owner)
    : QDialog(owner) {
    // Keep the frame simple: a title, a close button, no "?" button.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
}

TForm::~TForm() {
    removeFromStack(this);
}

int TForm::ShowModal() {
    const int result = exec();
    removeFromStack(this);
    ReactivateActiveForm();
    return result;
}

void TForm::SetClientSize(int width, int height) {
    resize(width, height);
}

void TForm::SetMainWindowFrame() {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
}

void TForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    removeFromStack(this);
    activeStack().push_back(this);
    // The platform window is shown after this event: activate once the show
    // has gone through, unless the window was hidden again meanwhile.
    activationPending = true;
    QPointer<TForm> self(this);
    QMetaObject::invokeMethod(
        this,
        [self] {
            if (!self || !self->activationPending)
                return;
            self->activationPending = false;
            if (self->isVisible())
                self->runActivate();
        },
        Qt::QueuedConnection);
}

void TForm::keyPressEvent(QKeyEvent* event) {
    // QDialog would close the window on Escape.
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        activationPending = false;
        removeFromStack(this);
    }
}

void TForm::runActivate() {
    ++activationDepth;
    toolkit::Guard([this] { FormActivate(); });
    --activationDepth;
}

namespace toolkit {

void SetMessageHook(MessageHook hook) {
    messageHook() = std::move(hook);
}

// A box of ours is part of what the window under it is doing: when it
// closes, that window goes on as it was, without its activation.
void ShowMessage(const std::string& text) {
    showBox(MessageKind::Information, QString::fromStdString(text));
}

bool MessageDlgYesNo(const std::string& text) {
    return showBox(MessageKind::Confirmation, QString::fromStdString(text));
}

void ShowError(const QString& text) {
    showBox(MessageKind::Error, text);
}

void IgnoreDoubleClicks(QPushButton* button) {
    static const char* const property = "quadrivelDoubleClickFilter";
    if (button->property(property).toBool())
        return;
    button->setProperty(property, true);
    button->installEventFilter(new DoubleClickFilter(button));
}

void Guard(const std::function<void()>& handler) {
    QString message;
    try {
        handler();
        return;
    } catch (const std::exception& error) {
        message = QString::fromStdString(error.what());
    } catch (...) {
        message = QString();
    }
    ShowError(message);
}

namespace {

// Whether a text holds only what a figure is written with: digits, signs and
// blanks. The font's glyphs for those need no shaping: they stand side by
// side at their advances, as the shaper would place them.
bool isFigureText(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= u'0' && u <= u'9') || u == u',' || u == u'.' || u == u'-' || u == u'+' ||
              u == u'%' || u == u' ' || u == u'\u00A0' || u == u'\u202F'))
            return false;
    }
    return true;
}

// Paints a list cell as the style does, its text laid out once: the style's
// own item painting measures and lays out each text twice more, which made
// painting the bulk of a refresh. A figure is drawn from its glyphs alone,
// at the very pixels the text layout would give it, without shaping it.
class ListCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        const QString text = cell.text;
        cell.text.clear();
        const QWidget* widget = cell.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        // A cell neither chosen nor focused, with no background, icon or
        // check box, has nothing of the style's to draw (the program's style
        // sheet styles no list item): only its text.
        const bool plain = !(cell.state & (QStyle::State_Selected | QStyle::State_HasFocus)) &&
                           cell.backgroundBrush.style() == Qt::NoBrush &&
                           !(cell.features & (QStyleOptionViewItem::HasDecoration |
                                              QStyleOptionViewItem::HasCheckIndicator));
        if (!plain)
            style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
        if (text.isEmpty())
            return;
        // The lists hold text only: the text takes the cell, less the margins
        // the style gives it.
        const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
        const QRect area = cell.rect.adjusted(margin, 0, -margin, 0);
        const QPalette::ColorGroup group =
            !(cell.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (cell.state & QStyle::State_Active) ? QPalette::Normal
                                                  : QPalette::Inactive;
        painter->save();
        painter->setFont(cell.font);
        painter->setPen(cell.palette.color(group, (cell.state & QStyle::State_Selected)
                                                      ? QPalette::HighlightedText
                                                      : QPalette::Text));
        if (!drawFigure(painter, cell.font, area, cell.displayAlignment, text)) {
            const QString shown =
                cell.fontMetrics.horizontalAdvance(text) > area.width()
                    ? cell.fontMetrics.elidedText(text, Qt::ElideRight, area.width())
                    : text;
            painter->drawText(area, static_cast<int>(cell.displayAlignment) | Qt::TextSingleLine,
                              shown);
        }
        painter->restore();
    }

private:
    // Draws a figure that fits its cell and whose every character the font
    // has; false, drawing nothing, for any other text.
    bool drawFigure(QPainter* painter, const QFont& font, const QRect& area,
                    Qt::Alignment alignment, const QString& text) const {
        if (!isFigureText(text))
            return false;
        if (!rawFont.isValid() || !(font == rawFontOf)) {
            rawFontOf = font;
            rawFont = QRawFont::fromFont(font);
        }
        if (!rawFont.isValid())
            return false;
        const QList<quint32> glyphs = rawFont.glyphIndexesForString(text);
        if (glyphs.size() != text.size() || glyphs.contains(0u))
            return false;
        QList<QPointF> positions = rawFont.advancesForGlyphIndexes(glyphs);
        qreal width = 0;
        for (QPointF& position : positions) {
            const qreal advance = position.x();
            position = QPointF(width, 0);
            width += advance;
        }
        if (width > area.width())
            return false;
        // Placed as QPainter::drawText places one line: centred on the line's
        // height, then on the baseline.
        const qreal height = rawFont.ascent() + rawFont.descent();
        qreal x = area.x();
        if (alignment & Qt::AlignRight)
            x += area.width() - width;
        else if (alignment & Qt::AlignHCenter)
            x += (area.width() - width) / 2;
        qreal y = area.y() + rawFont.ascent();
        if (alignment & Qt::AlignBottom)
            y += area.height() - height;
        else if (alignment & Qt::AlignVCenter)
            y += (area.height() - height) / 2;
        QGlyphRun run;
        run.setRawFont(rawFont);
        run.setGlyphIndexes(glyphs);
        run.setPositions(positions);
        painter->drawGlyphRun(QPointF(x, y), run);
        return true;
    }

    mutable QFont rawFontOf;
    mutable QRawFont rawFont;
};

} // namespace

namespace {

// Keeps a label over the whole of a list's viewport.
class ViewportFollower : public QObject {
public:
    ViewportFollower(QWidget* viewport, QLabel* label)
        : QObject(label)
        , label(label) {
        viewport->installEventFilter(this);
        label->setGeometry(viewport->rect());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Resize || event->type() == QEvent::Show)
            label->setGeometry(static_cast<QWidget*>(watched)->rect());
        return false;
    }

private:
    QLabel* label;
};

} // namespace

QLabel* CreateEmptyListLabel(QAbstractItemView* list, const QString& text) {
    auto* label = new QLabel(text, list->viewport());
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    new ViewportFollower(list->viewport(), label);
    label->hide();
    return label;
}

namespace {

// A cell of a list's viewport, from its row's rectangle and its column.
QRect cellRect(const QHeaderView* header, const QRect& row, int column) {
    return QRect(header->sectionViewportPosition(column), row.top(), header->sectionSize(column),
                 row.height());
}

// What every report-style list shares, once its columns are there.
void setUpList(QTreeView* list, const std::vector<ListColumn>& columns) {
    list->setItemDelegate(new ListCellDelegate(list));
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSortingEnabled(false);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsMovable(false);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i)
        list->setColumnWidth(i, columns[i].width);
}

} // namespace

QTreeWidget* CreateListView(QWidget* parent, const std::vector<ListColumn>& columns) {
    auto* list = new QTreeWidget(parent);
    list->setColumnCount(static_cast<int>(columns.size()));
    auto* header = new QTreeWidgetItem();
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        header->setText(i, columns[i].caption);
        header->setTextAlignment(i, columns[i].alignment | Qt::AlignVCenter);
    }
    list->setHeaderItem(header);
    setUpList(list, columns);
    return list;
}

ListModel::ListModel(const std::vector<ListColumn>& columns, TextOf text, QObject* parent)
    : QAbstractTableModel(parent)
    , columns(columns)
    , text(std::move(text)) {}

int ListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(columns.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count)
        return QVariant();
    const auto column = static_cast<std::size_t>(index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(columns[column].alignment | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return QVariant();
    // A paint asks for each cell of a row in turn, and again at the next
    // paint: the row's texts are made once.
    auto found = painted.find(index.row());
    if (found == painted.end()) {
        if (painted.size() >= 512)
            painted.clear();
        std::vector<QString> texts;
        texts.reserve(columns.size());
        for (int c = 0; c < static_cast<int>(columns.size()); ++c)
            texts.push_back(text(index.row(), c));
        found = painted.emplace(index.row(), std::move(texts)).first;
    }
    return found->second[column];
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(columns.size()))
        return QVariant();
    const ListColumn& column = columns[static_cast<std::size_t>(section)];
    if (role == Qt::DisplayRole)
        return column.caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(column.alignment | Qt::AlignVCenter);
    return QVariant();
}

void ListModel::Reset(int rows) {
    beginResetModel();
    count = rows;
    painted.clear();
    endResetModel();
}

void ListModel::TextsChanged() {
    painted.clear();
}

QTreeView* CreateRowsView(QWidget* parent, const std::vector<ListColumn>& columns,
                          ListModel::TextOf text) {
    auto* list = new QTreeView(parent);
    list->setModel(new ListModel(columns, std::move(text), list));
    setUpList(list, columns);
    return list;
}

void ShowListRows(QTreeView* list, int count, const std::function<bool(int, int)>& changed) {
    auto* model = static_cast<ListModel*>(list->model());
    list->clearSelection();
    list->setCurrentIndex(QModelIndex());
    list->scrollToTop();
    if (model->rowCount() != count) {
        model->Reset(count);
        return;
    }
    model->TextsChanged();
    if (!changed) {
        list->viewport()->update();
        return;
    }
    // The rectangle around the changed cells on screen is painted again,
    // once: given a region of several rectangles, the view paints every
    // column of each row within it. Rows off screen are painted with their
    // new texts when they come into view.
    const QHeaderView* header = list->header();
    const int height = list->viewport()->height();
    QRect area;
    for (int r = 0; r < count; ++r) {
        const QRect row = list->visualRect(model->index(r, 0));
        if (row.top() >= height)
            break;
        for (int c = 0; c < model->columnCount(); ++c)
            if (changed(r, c))
                area |= cellRect(header, row, c);
    }
    if (!area.isEmpty())
        list->viewport()->update(area);
}

namespace {

// A row aligns each cell as its column's title unless told otherwise: a
// list of a million rows then keeps no alignment per cell.
class ListRow : public QTreeWidgetItem {
public:
    QVariant data(int column, int role) const override {
        QVariant value = QTreeWidgetItem::data(column, role);
        if (role == Qt::TextAlignmentRole && !value.isValid() && treeWidget() &&
            column < treeWidget()->columnCount())
            return treeWidget()->headerItem()->data(column, role);
        return value;
    }
};

QTreeWidgetItem* newListRow(const QTreeWidget*, const std::vector<std::string>& texts) {
    auto* row = new ListRow();
    for (int i = 0; i < static_cast<int>(texts.size()); ++i)
        row->setText(i, FromAnsiOneLine(texts[static_cast<std::size_t>(i)]));
    return row;
}

} // namespace

QTreeWidgetItem* AddListRow(QTreeWidget* list, const std::vector<std::string>& texts) {
    QTreeWidgetItem* row = newListRow(list, texts);
    list->addTopLevelItem(row);
    return row;
}

void SetListRows(QTreeWidget* list, const std::vector<std::vector<std::string>>& rows) {
    // Rows already there take the new texts in place: a cell whose text does
    // not change is not painted again. Nothing stays chosen, as after a new
    // fill.
    list->clearSelection();
    list->setCurrentItem(nullptr);
    list->scrollToTop();
    const int count = static_cast<int>(rows.size());
    while (list->topLevelItemCount() > count)
        delete list->takeTopLevelItem(list->topLevelItemCount() - 1);
    const int kept = list->topLevelItemCount();
    // The model tells the view of each cell changed, and the view measures
    // the whole row again for each: the cells change silently, then the
    // rectangle around the changed cells is painted again, once (given a
    // region of several rectangles, the view paints every column of each row
    // within it).
    QRect changed;
    {
        QSignalBlocker silent(list->model());
        const QHeaderView* header = list->header();
        for (int r = 0; r < kept; ++r) {
            QTreeWidgetItem* item = list->topLevelItem(r);
            const auto& texts = rows[static_cast<std::size_t>(r)];
            QRect row;
            for (int i = 0; i < static_cast<int>(texts.size()); ++i) {
                const QString text = FromAnsiOneLine(texts[static_cast<std::size_t>(i)]);
                if (item->text(i) == text)
                    continue;
                item->setText(i, text);
                if (row.isNull())
                    row = list->visualItemRect(item);
                changed |= cellRect(header, row, i);
            }
        }
    }
    if (!changed.isEmpty())
        list->viewport()->update(changed);
    QList<QTreeWidgetItem*> items;
    items.reserve(count - kept);
    for (int r = kept; r < count; ++r)
        items.append(newListRow(list, rows[static_cast<std::size_t>(r)]));
    list->addTopLevelItems(items);
}

int ListItemIndex(const QTreeView* list) {
    const QModelIndexList selected = list->selectionModel()->selectedRows();
    return selected.isEmpty() ? -1 : selected.first().row();
}

std::vector<std::string> ListRowTexts(const QTreeView* list, int row) {
    std::vector<std::string> texts;
    const QAbstractItemModel* model = list->model();
    if (row < 0 || row >= model->rowCount())
        return texts;
    for (int i = 0; i < model->columnCount(); ++i)
        texts.push_back(model->index(row, i).data().toString().toStdString());
    return texts;
}

QString AskSaveFileName(QWidget* parent, const QString& caption, const QString& proposed,
                        const QStringList& types) {
    QString chosen = types.value(0);
    QString path = QFileDialog::getSaveFileName(parent, caption, proposed,
                                                types.join(QStringLiteral(";;")), &chosen);
    if (path.isEmpty())
        return path;
    // "Classeur Excel (*.xlsx)" -> ".xlsx"
    auto extension = [](const QString& type) {
        const qsizetype star = type.lastIndexOf(QLatin1String("(*"));
        return star < 0 ? QString() : type.mid(star + 2).chopped(1);
    };
    const QString wanted = extension(chosen);
    if (wanted.isEmpty() || path.endsWith(wanted, Qt::CaseInsensitive))
        return path;
    for (const QString& type : types) {
        const QString other = extension(type);
        if (!other.isEmpty() && path.endsWith(other, Qt::CaseInsensitive)) {
            path.chop(other.size());
            break;
        }
    }
    return path + wanted;
}

void ProcessMessages() {
    QCoreApplication::processEvents();
}

QDate Today() {
    return fixedToday().isValid() ? fixedToday() : QDate::currentDate();
}

void SetToday(const QDate& date) {
    fixedToday() = date;
}

} // namespace toolkit
