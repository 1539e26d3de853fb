#include "tracking/fichequadrivel.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "data/frenchorder.h"
#include "data/objectcode.h"
#include "tracking/ficheevolution.h"
#include "tracking/xlsxexport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QShortcut>
#include <QStyle>
#include <QTextLayout>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace {

QComboBox* createList(QWidget* parent, const char* name, int left, int top, int width,
                      const QStringList& entries) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setEditable(false);
    list->setGeometry(left, top, width, 21);
    list->addItems(entries);
    list->setCurrentIndex(0);
    return list;
}

QPushButton* createButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    return button;
}

// The designed widths of the list's columns: the narrowest they become.
constexpr std::array<int, 10> kDesignWidths = {150, 100, 75, 100, 75, 75, 90, 100, 100, 120};

QLabel* createLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// Empties a filter list, adds its "all" entry, then one entry per row of the
// statement (none when the statement is empty), and chooses the "all" entry.
void fillFilterList(QComboBox* list, const char* allEntry, TABSDatabase* database,
                    const std::string& statement) {
    ClearComboCodes(list);
    list->addItem(QString::fromUtf8(allEntry));
    if (!statement.empty())
        AddComboCodes(list, database, statement);
    list->setCurrentIndex(0);
}

// The code of the chosen entry of a filter list; the empty text for its "all"
// entry or no choice.
std::string chosenCode(QComboBox* list) {
    const int index = list->currentIndex();
    return index <= 0 ? std::string() : GetComboCode(list, index);
}

// Shows the busy cursor for the life of the object, letting pending events
// through when it starts and when it ends.
class BusyCursor {
public:
    explicit BusyCursor(QWidget* window)
        : window(window) {
        window->setCursor(Qt::WaitCursor);
        toolkit::ProcessMessages();
    }
    ~BusyCursor() { window->unsetCursor(); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;
    void Finish() {
        window->unsetCursor();
        toolkit::ProcessMessages();
    }

private:
    QWidget* window;
};

// Thrown from a refresh's reading when the user stops it.
struct RefreshStopped {};

// A label of two lines at most: its text wrapped when it fits them, else
// one line cut with "…"; the whole text stays in text() and in the tip.
class TwoLineLabel : public QLabel {
public:
    using QLabel::QLabel;
    // Its height is fixed and its width given by the window: the sizes a
    // wrapped QLabel would work out from its text (laying the text out at
    // each change) are never used.
    QSize sizeHint() const override { return {fontMetrics().averageCharWidth() * 60, height()}; }
    QSize minimumSizeHint() const override { return {0, height()}; }
    bool hasHeightForWidth() const override { return false; }

protected:
    // The text wrapped at words on as many lines as the height takes,
    // centred vertically; a text that needs more is cut with "…" on one
    // line. The text is laid out once, and that layout is drawn: the
    // context line changes at every refresh.
    void paintEvent(QPaintEvent*) override {
        const QRect area = contentsRect();
        QTextLayout layout(text(), font(), this);
        QTextOption option(Qt::AlignLeft);
        option.setWrapMode(QTextOption::WordWrap);
        layout.setTextOption(option);
        layout.beginLayout();
        qreal height = 0;
        bool fits = true;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(area.width());
            line.setPosition(QPointF(0, height));
            height += line.height();
            if (height > area.height()) {
                fits = false;
                break;
            }
        }
        layout.endLayout();
        QPainter painter(this);
        painter.setPen(palette().color(foregroundRole()));
        if (fits)
            layout.draw(&painter, QPointF(area.left(), area.top() + (area.height() - height) / 2));
        else
            painter.drawText(area, Qt::AlignLeft | Qt::AlignVCenter,
                             fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
    }
};

} // namespace

TFicheQuadrivel::TFicheQuadrivel(QWidget* owner)
    : TForm(owner) {
    setObjectName("FicheQuadrivel");
    setWindowTitle("Tableau de suivi");
    QFont designFont(QStringLiteral("MS Sans Serif"));
    designFont.setPixelSize(11);
    setFont(designFont);
    setWindowFlag(Qt::WindowMaximizeButtonHint);
    setSizeGripEnabled(true);

    cblNiveau = createList(this, "cblNiveau", 16, 32, 202,
                           {"<tous>", "Chef Secteur 1", "Chef Secteur 2", "Chef Secteur 3"});
    lblNiveau = createLabel(this, "lblNiveau", "Chef de secteur", 16, 16);
    Label2 = createLabel(this, "Label2", "Agence", 226, 16);
    cblAgence = createList(this, "cblAgence", 224, 32, 202, {"<toutes>"});
    Label3 = createLabel(this, "Label3", "Utilisateur", 432, 16);
    cblUtilisateur = createList(this, "cblUtilisateur", 432, 32, 202, {"<tous>"});
    cblUtilisateur->setMaxVisibleItems(20);
    lvData = toolkit::CreateRowsView(this,
                                     {
                                         {"Niveau", kDesignWidths[0], Qt::AlignLeft},
                                         {"Montant HT", kDesignWidths[1], Qt::AlignRight},
                                         {"TVA", kDesignWidths[2], Qt::AlignRight},
                                         {"Montant TTC", kDesignWidths[3], Qt::AlignRight},
                                         {"Marge €", kDesignWidths[4], Qt::AlignRight},
                                         {"Marge %", kDesignWidths[5], Qt::AlignRight},
                                         {"Nb Relance(s)", kDesignWidths[6], Qt::AlignHCenter},
                                         {"Nb Devis", kDesignWidths[7], Qt::AlignRight},
                                         {"Nb Commandes", kDesignWidths[8], Qt::AlignRight},
                                         {"Transformation %", kDesignWidths[9], Qt::AlignRight},
                                     },
                                     [this](int row, int column) {
                                         if (row >= int(Report.size()))
                                             return QString();
                                         return FromAnsiOneLine(ReportCellText(
                                             Report, ReportPosition(std::size_t(row)), column));
                                     });
    lvData->setObjectName("lvData");
    lvData->setAlternatingRowColors(true);
    lvData->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvData->header()->setSectionsClickable(true);
    lvData->installEventFilter(this);
    Label4 = createLabel(this, "Label4", "Fournisseur", 640, 16);
    cblFournisseur = createList(this, "cblFournisseur", 640, 32, 202, {"<tous>"});
    cblFournisseur->setMaxVisibleItems(20);
    Label1 = createLabel(this, "Label1", "Mois", 848, 13);
    cblPeriode = createList(this, "cblPeriode", 848, 32, 202, {"Actuel", "Précédent"});
    // A level may have a million agencies.
    for (QComboBox* list : {cblNiveau, cblAgence, cblUtilisateur, cblFournisseur})
        UseCompactEntries(list);

    lblContexte = new TwoLineLabel(this);
    lblContexte->setObjectName("lblContexte");
    lblContexte->setTextFormat(Qt::PlainText);
    lblAucuneDonnee =
        toolkit::CreateEmptyListLabel(lvData, QStringLiteral("Aucune donnée pour cette sélection"));
    lblAucuneDonnee->setObjectName("lblAucuneDonnee");

    std::vector<toolkit::ListColumn> totalColumns;
    const QAbstractItemModel* titles = lvData->model();
    for (int i = 0; i < titles->columnCount(); ++i)
        totalColumns.push_back(
            {titles->headerData(i, Qt::Horizontal).toString(), lvData->columnWidth(i),
             titles->headerData(i, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                 Qt::AlignHorizontal_Mask});
    lvTotal = toolkit::CreateListView(this, totalColumns);
    lvTotal->setObjectName("lvTotal");
    lvTotal->setHeaderHidden(true);
    lvTotal->setFocusPolicy(Qt::NoFocus);
    lvTotal->setSelectionMode(QAbstractItemView::NoSelection);
    lvTotal->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lvTotal->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont totalFont = lvTotal->font();
    totalFont.setBold(true);
    lvTotal->setFont(totalFont);
    connect(lvData->header(), &QHeaderView::sectionResized, lvTotal,
            [this](int column, int, int width) { lvTotal->setColumnWidth(column, width); });
    connect(lvData->horizontalScrollBar(), &QScrollBar::valueChanged,
            lvTotal->horizontalScrollBar(), &QScrollBar::setValue);
    connect(lvData->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { toolkit::Guard([&] { lvDataColumnClick(column); }); });

    btnCopierTout = createButton(this, "btnCopierTout", "Copier tout");
    btnExporter = createButton(this, "btnExporter", "Exporter…");
    btnImprimer = createButton(this, "btnImprimer", "Imprimer…");
    btnEvolution = createButton(this, "btnEvolution", "Évolution…");
    // Alt and a letter press the buttons; their captions stay as written.
    const std::pair<QPushButton*, Qt::Key> altKeys[] = {{btnCopierTout, Qt::Key_C},
                                                        {btnExporter, Qt::Key_X},
                                                        {btnImprimer, Qt::Key_I},
                                                        {btnEvolution, Qt::Key_V}};
    for (const auto& [button, key] : altKeys) {
        button->setShortcut(QKeySequence(Qt::ALT | key));
        button->setToolTip(button->shortcut().toString(QKeySequence::NativeText));
    }
    lblProgression = new QLabel(this);
    lblProgression->setObjectName("lblProgression");
    lblProgression->hide();
    btnArreter = createButton(this, "btnArreter", "Arrêter");
    btnArreter->setToolTip(QStringLiteral("Arrêter l'actualisation (Échap)"));
    btnArreter->hide();
    toolkit::OnClick(btnArreter, this, &TFicheQuadrivel::StopRefresh);
    toolkit::OnClick(btnCopierTout, this, &TFicheQuadrivel::actCopierToutClick);
    toolkit::OnClick(btnExporter, this, &TFicheQuadrivel::btnExporterClick);
    toolkit::OnClick(btnImprimer, this, &TFicheQuadrivel::btnImprimerClick);
    toolkit::OnClick(btnEvolution, this, &TFicheQuadrivel::btnEvolutionClick);

    auto addAction = [this](const char* caption, void (TFicheQuadrivel::*handler)()) {
        auto* action = new QAction(QString::fromUtf8(caption), lvData);
        connect(action, &QAction::triggered, this,
                [this, handler] { toolkit::Guard([&] { (this->*handler)(); }); });
        lvData->addAction(action);
        return action;
    };
    // Ctrl+C itself is caught by eventFilter: the list's own copies one cell.
    actCopier = addAction("Copier\tCtrl+C", &TFicheQuadrivel::actCopierClick);
    actCopierTout = addAction("Copier tout\tCtrl+Maj+C", &TFicheQuadrivel::actCopierToutClick);
    actExporter = addAction("Exporter…\tCtrl+E", &TFicheQuadrivel::btnExporterClick);
    actImprimer = addAction("Imprimer…\tCtrl+P", &TFicheQuadrivel::btnImprimerClick);
    // The window's shortcuts, wherever the focus is in it.
    auto addShortcut = [this](const QKeySequence& keys, const std::function<void()>& handler) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [handler] { toolkit::Guard(handler); });
    };
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_P), [this] { btnImprimerClick(); });
    addShortcut(QKeySequence(Qt::CTRL | Qt::Key_E), [this] { btnExporterClick(); });
    addShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_C), [this] { actCopierToutClick(); });
    addShortcut(QKeySequence(Qt::Key_F5), [this] { LoadData(); });
    // A double click or Enter on a row chooses it in the filters.
    connect(lvData, &QAbstractItemView::activated, this,
            [this] { toolkit::Guard([this] { lvDataActivate(); }); });
    lvData->setContextMenuPolicy(Qt::ActionsContextMenu);

    AskFileName = [this](const QString& proposed) {
        return toolkit::AskSaveFileName(
            this, QStringLiteral("Exporter le tableau"), proposed,
            {QStringLiteral("Fichiers CSV (*.csv)"), QStringLiteral("Classeur Excel (*.xlsx)")});
    };

    // Filters in a row, their captions above them; the context line, the
    // list, its totals and the buttons under them. The window opens at its
    // designed size and shrinks to a small screen: the lists narrow, the
    // context line wraps and the report scrolls.
    auto* filters = new QGridLayout;
    filters->setHorizontalSpacing(6);
    filters->setVerticalSpacing(2);
    const std::pair<QLabel*, QComboBox*> columns[] = {{lblNiveau, cblNiveau},
                                                      {Label2, cblAgence},
                                                      {Label3, cblUtilisateur},
                                                      {Label4, cblFournisseur},
                                                      {Label1, cblPeriode}};
    int column = 0;
    for (const auto& [caption, list] : columns) {
        caption->setBuddy(list);
        list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        list->setMinimumContentsLength(8);
        list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        filters->addWidget(caption, 0, column);
        filters->addWidget(list, 1, column);
        filters->setColumnStretch(column, 1);
        ++column;
    }
    lblContexte->setWordWrap(true);
    lblContexte->setFixedHeight(2 * lblContexte->fontMetrics().lineSpacing() + 2);
    lvData->setMinimumHeight(60);
    lvTotal->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    // One line high until the first totals come, so that a first display
    // that takes long shows the list, not an empty totals box.
    FitTotalsHeight(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(lblProgression);
    buttons->addWidget(btnArreter);
    buttons->addStretch(1);
    for (QPushButton* button : {btnEvolution, btnCopierTout, btnExporter, btnImprimer}) {
        button->setMinimumWidth(100);
        buttons->addWidget(button);
    }
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(16, 13, 16, 8);
    page->setSpacing(4);
    page->addLayout(filters);
    page->addWidget(lblContexte);
    page->addWidget(lvData, 1);
    page->addWidget(lvTotal);
    page->addSpacing(4);
    page->addLayout(buttons);
    lvData->viewport()->installEventFilter(this);

    // Tab goes as the eye reads: the filters left to right, the list, the
    // buttons.
    setTabOrder(cblNiveau, cblAgence);
    setTabOrder(cblAgence, cblUtilisateur);
    setTabOrder(cblUtilisateur, cblFournisseur);
    setTabOrder(cblFournisseur, cblPeriode);
    setTabOrder(cblPeriode, lvData);
    setTabOrder(lvData, btnEvolution);
    setTabOrder(btnEvolution, btnCopierTout);
    setTabOrder(btnCopierTout, btnExporter);
    setTabOrder(btnExporter, btnImprimer);

    SetClientSize(1073, 662);

    toolkit::OnChange(cblNiveau, this, &TFicheQuadrivel::cblNiveauChange);
    toolkit::OnChange(cblAgence, this, &TFicheQuadrivel::cblAgenceChange);
    toolkit::OnChange(cblUtilisateur, this, &TFicheQuadrivel::cblUtilisateurChange);
    toolkit::OnChange(cblFournisseur, this, &TFicheQuadrivel::cblFournisseurChange);
    toolkit::OnChange(cblPeriode, this, &TFicheQuadrivel::cblPeriodeChange);

    LoadPeriodes();
}

TFicheQuadrivel::~TFicheQuadrivel() {
    FormDestroy();
}

void TFicheQuadrivel::resizeEvent(QResizeEvent* event) {
    TForm::resizeEvent(event);
    FitColumns();
}

int TFicheQuadrivel::TextWidths::Of(const QFont& of, const std::string& text) {
    if (of != font || widths.size() > 4096) {
        font = of;
        widths.clear();
    }
    auto [entry, added] = widths.try_emplace(text, 0);
    if (added)
        entry->second = QFontMetrics(font).horizontalAdvance(QString::fromStdString(text));
    return entry->second;
}

void TFicheQuadrivel::FitColumns(bool keepWider) {
    // Each figure column as wide as its widest text, of the rows or of the
    // totals (in bold), and never narrower than designed; the label column
    // takes what is left of the list's width. Figures have a fixed number of
    // decimals and their digits one width, so the widest text of a column
    // is that of its largest or of its smallest value, or the mark of a
    // figure that could not be computed: a million rows are compared, three
    // texts measured.
    const QFont rowFont = lvData->font();
    const QFont totalFont = lvTotal->font();
    const int padding =
        2 * (lvData->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, lvData) + 1) + 8;
    const int headerPadding =
        lvData->style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, lvData) + 12;
    const std::vector<TReportRow> totals = Totals.Lines();
    auto widest = [](const std::vector<std::string>& texts, TextWidths& measured,
                     const QFont& font) {
        int width = 0;
        for (const std::string& text : texts)
            width = std::max(width, measured.Of(font, text));
        return width;
    };
    const QAbstractItemModel* titles = lvData->model();
    int figuresWidth = 0;
    for (int column = 1; column < titles->columnCount(); ++column) {
        // The positions of the rows with the smallest and the largest value,
        // and of the first figure that could not be computed.
        std::vector<std::size_t> candidates;
        std::size_t lowAt = 0, highAt = 0;
        double lowest = 0.0, highest = 0.0;
        bool any = false, marked = false;
        for (std::size_t r = 0; r < Report.size(); ++r) {
            const double value = Report.Figure(r, column - 1);
            if (!std::isfinite(value)) {
                if (!marked)
                    candidates.push_back(r);
                marked = true;
                continue;
            }
            if (!any || value < lowest) {
                lowAt = r;
                lowest = value;
            }
            if (!any || value > highest) {
                highAt = r;
                highest = value;
            }
            any = true;
        }
        if (any) {
            candidates.push_back(lowAt);
            candidates.push_back(highAt);
        }
        std::vector<std::string> rowTexts, totalTexts;
        for (const std::size_t r : candidates)
            rowTexts.push_back(ReportCellText(Report, r, column));
        for (const TReportRow& line : totals)
            totalTexts.push_back(ReportCellText(line, column));
        int needed = std::max(
            {widest(rowTexts, RowWidths, rowFont) + padding,
             widest(totalTexts, TotalWidths, totalFont) + padding,
             TitleWidths.Of(lvData->header()->font(),
                            titles->headerData(column, Qt::Horizontal).toString().toStdString()) +
                 headerPadding,
             kDesignWidths[static_cast<std::size_t>(column)]});
        if (keepWider)
            needed = std::max(needed, lvData->columnWidth(column));
        if (lvData->columnWidth(column) != needed)
            lvData->setColumnWidth(column, needed);
        figuresWidth += needed;
    }
    const int label = std::max(kDesignWidths[0], lvData->viewport()->width() - figuresWidth);
    if (lvData->columnWidth(0) != label)
        lvData->setColumnWidth(0, label);
}

bool TFicheQuadrivel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvData->viewport() && event->type() == QEvent::Resize)
        FitColumns();
    if (watched == lvData &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            if (event->type() == QEvent::KeyPress)
                toolkit::Guard([this] { actCopierClick(); });
            event->accept();
            return true;
        }
    }
    return TForm::eventFilter(watched, event);
}

// --- Filter lists -----------------------------------------------------------

void TFicheQuadrivel::LoadNiveaux() {
    fillFilterList(cblNiveau, "<Tous>", Database, LevelsStatement(Admin, UserCode));
    SelNiveau.clear();
}

void TFicheQuadrivel::LoadAgences() {
    const bool levelChosen = cblNiveau->currentIndex() > 0;
    fillFilterList(cblAgence, "<Toutes>", Database,
                   levelChosen ? AgenciesStatement(SelNiveau) : std::string());
    SelAgence.clear();
}

void TFicheQuadrivel::LoadUtilisateurs() {
    std::string statement;
    if (cblAgence->currentIndex() > 0)
        statement = UsersStatement(SelAgence, GetAnnee(), GetMois());
    fillFilterList(cblUtilisateur, "<Tous>", Database, statement);
    SelUtilisateur.clear();
}

void TFicheQuadrivel::LoadFournisseurs() {
    fillFilterList(cblFournisseur, "<Tous>", Database, SuppliersStatement());
    SelFournisseur.clear();
}

void TFicheQuadrivel::FormActivate() {
    LoadNiveaux();
    LoadFournisseurs();
    LoadData();
}

void TFicheQuadrivel::cblNiveauChange() {
    SelNiveau = chosenCode(cblNiveau);
    LoadAgences();
    LoadData();
}

void TFicheQuadrivel::cblAgenceChange() {
    SelAgence = chosenCode(cblAgence);
    LoadUtilisateurs();
    LoadData();
}

void TFicheQuadrivel::cblUtilisateurChange() {
    SelUtilisateur = chosenCode(cblUtilisateur);
    LoadData();
}

void TFicheQuadrivel::cblFournisseurChange() {
    SelFournisseur = chosenCode(cblFournisseur);
    LoadData();
}

void TFicheQuadrivel::cblPeriodeChange() {
    LoadUtilisateurs();
    LoadData();
}

void TFicheQuadrivel::FormDestroy() {
    ClearComboCodes(cblNiveau);
    ClearComboCodes(cblAgence);
    ClearComboCodes(cblUtilisateur);
    ClearComboCodes(cblFournisseur);
}

// --- Months -----------------------------------------------------------------

void TFicheQuadrivel::LoadPeriodes() {
    cblPeriode->clear();
    const QDate today = toolkit::Today();
    for (int i = 0; i < 13; ++i) {
        const QDate month = today.addMonths(-i);
        AnneesPeriode[static_cast<std::size_t>(i)] = month.year();
        MoisPeriode[static_cast<std::size_t>(i)] = month.month();
        cblPeriode->addItem(QStringLiteral("%1-%2")
                                .arg(month.year(), 4, 10, QLatin1Char('0'))
                                .arg(month.month(), 2, 10, QLatin1Char('0')));
    }
    cblPeriode->setCurrentIndex(0);
}

int TFicheQuadrivel::GetAnnee() const {
    const int i = cblPeriode->currentIndex();
    return AnneesPeriode[static_cast<std::size_t>(i >= 1 && i <= 12 ? i : 0)];
}

int TFicheQuadrivel::GetMois() const {
    const int i = cblPeriode->currentIndex();
    return MoisPeriode[static_cast<std::size_t>(i >= 1 && i <= 12 ? i : 0)];
}

// --- Report rows ------------------------------------------------------------

int TFicheQuadrivel::GetDisplayMode() const {
    const int n = cblNiveau->currentIndex();
    const int a = cblAgence->currentIndex();
    const int u = cblUtilisateur->currentIndex();
    if (n == 0 && a == 0 && u == 0)
        return dmNiveaux;
    if (n > 0 && a == 0 && u == 0)
        return dmAgences;
    if (n > 0 && a > 0 && u == 0)
        return dmUtilisateurs;
    if (n > 0 && a > 0 && u > 0)
        return dmUtilisateur;
    return dmNiveaux;
}

void TFicheQuadrivel::LoadData() {
    // A refresh lets events through while it reads; none starts another.
    if (RefreshRunning)
        return;
    BusyCursor busy(this);
    const TReportSelection selection = Selection();

    RefreshRunning = true;
    StopAsked = false;
    RowsRead = 0;
    LastEvents = 0;
    RefreshClock.start();
    struct Ending {
        TFicheQuadrivel* window;
        ~Ending() {
            window->ShowProgress(false);
            window->RefreshRunning = false;
        }
    } ending{this};

    // A refresh that fails or is stopped changes nothing shown: the previous
    // rows, their totals and the chosen rows stay, and the context line,
    // still theirs, says so. Rows of half a report would pass for the
    // figures of the new selection.
    const auto markContext = [this](const QString& mark) {
        QString context = lblContexte->toolTip();
        if (context.isEmpty())
            context = lblContexte->text();
        lblContexte->setText(mark + context);
    };
    TReportRows rows;
    TReportTotals totals;
    try {
        rows = ComputeReport(
            Database, selection, [this](const TReportRow&) { RowRead(); }, &totals);
    } catch (const RefreshStopped&) {
        markContext(QStringLiteral("Actualisation arrêtée — "));
        if (CloseAsked)
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    } catch (const std::exception& error) {
        markContext(QStringLiteral("Actualisation échouée — "));
        throw std::runtime_error(
            std::string("L'actualisation du tableau a échoué ; il montre encore les chiffres "
                        "précédents.\n") +
            error.what());
    }
    Totals = std::move(totals);
    ShowRows(std::move(rows));
    if (Evolution)
        Evolution->ShowSelection(selection, Context());
    busy.Finish();
}

void TFicheQuadrivel::RowRead() {
    ++RowsRead;
    const qint64 now = RefreshClock.elapsed();
    if (!ProgressShown) {
        if (now < ProgressDelayMs)
            return;
        ShowProgress(true);
    } else if (now - LastEvents < 50) {
        return;
    }
    LastEvents = now;
    lblProgression->setText(
        QStringLiteral("Lecture en cours : %1 %2")
            .arg(QLocale(QLocale::French, QLocale::France).toString(qlonglong(RowsRead)),
                 RowsRead == 1 ? QStringLiteral("ligne lue") : QStringLiteral("lignes lues")));
    // Laid out before the events go through, so that what they paint has the
    // text's whole width: the next row may take seconds to come.
    layout()->activate();
    QCoreApplication::processEvents();
    if (StopAsked)
        throw RefreshStopped();
}

void TFicheQuadrivel::ShowProgress(bool shown) {
    if (shown == ProgressShown)
        return;
    ProgressShown = shown;
    if (shown) {
        // What would read the database or change the selection waits; the
        // list keeps showing the previous rows and scrolls.
        // Widgets, shortcuts and actions all have the property "enabled".
        std::vector<QObject*> controls = {cblNiveau,      cblAgence,   cblUtilisateur,
                                          cblFournisseur, cblPeriode,  btnEvolution,
                                          btnCopierTout,  btnExporter, btnImprimer};
        for (QShortcut* shortcut : findChildren<QShortcut*>())
            controls.push_back(shortcut);
        for (QAction* action : lvData->actions())
            controls.push_back(action);
        if (Evolution)
            controls.push_back(Evolution);
        WaitingControls.clear();
        for (QObject* control : controls)
            if (control->property("enabled").toBool()) {
                control->setProperty("enabled", false);
                WaitingControls.emplace_back(control);
            }
        lblProgression->show();
        btnArreter->show();
        btnArreter->setFocus();
        return;
    }
    lblProgression->hide();
    btnArreter->hide();
    for (const QPointer<QObject>& control : WaitingControls)
        if (control)
            control->setProperty("enabled", true);
    WaitingControls.clear();
    lvData->setFocus();
}

void TFicheQuadrivel::StopRefresh() {
    if (RefreshRunning)
        StopAsked = true;
}

void TFicheQuadrivel::keyPressEvent(QKeyEvent* event) {
    if (RefreshRunning && event->matches(QKeySequence::Cancel)) {
        StopRefresh();
        event->accept();
        return;
    }
    TForm::keyPressEvent(event);
}

void TFicheQuadrivel::closeEvent(QCloseEvent* event) {
    // Closing while a refresh reads stops it first; the window closes once
    // the reading has ended.
    if (RefreshRunning) {
        StopAsked = true;
        CloseAsked = true;
        event->ignore();
        return;
    }
    CloseAsked = false;
    TForm::closeEvent(event);
}

TReportSelection TFicheQuadrivel::Selection() const {
    TReportSelection selection;
    selection.mode = static_cast<TReportMode>(GetDisplayMode());
    selection.admin = Admin;
    selection.userCode = UserCode;
    selection.level = SelNiveau;
    selection.agency = SelAgence;
    selection.user = SelUtilisateur;
    selection.supplier = SelFournisseur;
    selection.year = GetAnnee();
    selection.month = GetMois();
    return selection;
}

void TFicheQuadrivel::lvDataActivate() {
    if (RefreshRunning)
        return;
    const int row = lvData->currentIndex().row();
    if (row < 0 || row >= int(Report.size()))
        return;
    QComboBox* list = nullptr;
    void (TFicheQuadrivel::*change)() = nullptr;
    switch (GetDisplayMode()) {
    case dmNiveaux:
        list = cblNiveau;
        change = &TFicheQuadrivel::cblNiveauChange;
        break;
    case dmAgences:
        list = cblAgence;
        change = &TFicheQuadrivel::cblAgenceChange;
        break;
    case dmUtilisateurs:
        list = cblUtilisateur;
        change = &TFicheQuadrivel::cblUtilisateurChange;
        break;
    default:
        return;
    }
    // As if the user had picked the row's entry in its filter list.
    const int entry =
        FindComboCode(list, std::string(Report.Code(ReportPosition(std::size_t(row)))), 1);
    if (entry < 0)
        return;
    list->setCurrentIndex(entry);
    (this->*change)();
}

TFicheEvolution* TFicheQuadrivel::EvolutionWindow() const {
    return Evolution;
}

void TFicheQuadrivel::btnEvolutionClick() {
    if (!Evolution) {
        BusyCursor busy(this);
        auto* window = new TFicheEvolution(this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->SetDatabase(Database);
        window->ShowSelection(Selection(), Context());
        Evolution = window;
        busy.Finish();
    }
    Evolution->show();
    Evolution->raise();
    Evolution->activateWindow();
}

const std::vector<TReportRow>& TFicheQuadrivel::ShownRows() const {
    if (!SortedRowsMade) {
        SortedRows = Report.Rows(SortColumn < 0 ? nullptr : &Order);
        SortedRowsMade = true;
    }
    return SortedRows;
}

void TFicheQuadrivel::ShowRows(std::optional<TReportRows> report) {
    // The rows shown until now, in the list's order, to find the cells a
    // refresh changes.
    TReportRows before;
    std::vector<std::size_t> beforeOrder;
    if (report) {
        before = std::exchange(Report, std::move(*report));
        beforeOrder = std::move(Order);
    }
    Order = SortColumn < 0 ? std::vector<std::size_t>()
                           : SortedOrder(Report, SortColumn, SortAscending);
    std::vector<TReportRow>().swap(SortedRows);
    SortedRowsMade = false;
    const QLocale locale;
    std::function<bool(int, int)> changed;
    if (report && locale == ShownLocale)
        changed = [&](int r, int column) {
            const auto i = std::size_t(r);
            if (i >= before.size() || i >= Report.size())
                return true;
            const std::size_t was = beforeOrder.empty() ? i : beforeOrder[i];
            const std::size_t is = ReportPosition(i);
            if (column == 0)
                return before.Label(was) != Report.Label(is);
            return !(before.Figure(was, column - 1) == Report.Figure(is, column - 1));
        };
    ShownLocale = locale;
    toolkit::ShowListRows(lvData, int(Report.size()), changed);
    // The header is painted again only when its sort mark changes.
    QHeaderView* header = lvData->header();
    if (header->isSortIndicatorShown() != (SortColumn >= 0))
        header->setSortIndicatorShown(SortColumn >= 0);
    const Qt::SortOrder order = SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder;
    if (SortColumn >= 0 &&
        (header->sortIndicatorSection() != SortColumn || header->sortIndicatorOrder() != order))
        header->setSortIndicator(SortColumn, order);
    ShowSummary();
}

void TFicheQuadrivel::FitTotalsHeight(int lines) {
    // A line's height follows from the font alone: asked of the style once
    // per font, not at each refresh.
    if (lvTotal->topLevelItemCount() > 0 && TotalRowFont != lvTotal->font()) {
        TotalRowFont = lvTotal->font();
        TotalRowHeight = lvTotal->sizeHintForRow(0);
    }
    const int rowHeight =
        lvTotal->topLevelItemCount() > 0 ? TotalRowHeight : lvTotal->fontMetrics().height() + 6;
    const int height = rowHeight * std::max(1, lines) + 2 * lvTotal->frameWidth();
    if (lvTotal->height() != height)
        lvTotal->setFixedHeight(height);
}

void TFicheQuadrivel::ShowSummary() {
    std::vector<std::vector<std::string>> lines;
    for (const TReportRow& line : Totals.Lines())
        lines.push_back(ReportRowTexts(line));
    toolkit::SetListRows(lvTotal, lines);
    FitTotalsHeight(int(lines.size()));
    FitColumns(GetDisplayMode() == FittedMode);
    FittedMode = GetDisplayMode();
    const QString context = ReportContextLine(Context());
    lblContexte->setText(context);
    lblContexte->setToolTip(context);
    lblAucuneDonnee->setVisible(Report.empty());
}

TReportContext TFicheQuadrivel::Context() const {
    TReportContext context;
    context.year = GetAnnee();
    context.month = GetMois();
    context.levelCaption = lblNiveau->text().toStdString();
    const int mode = GetDisplayMode();
    auto chosen = [](const QComboBox* list) { return list->currentText().toStdString(); };
    if (mode != dmNiveaux)
        context.level = chosen(cblNiveau);
    if (mode == dmUtilisateurs || mode == dmUtilisateur)
        context.agency = chosen(cblAgence);
    if (mode == dmUtilisateur)
        context.user = chosen(cblUtilisateur);
    if (cblFournisseur->currentIndex() > 0)
        context.supplier = chosen(cblFournisseur);
    context.database = Database ? Database->DatabaseFileName : std::string();
    context.userCode = UserCode;
    context.admin = Admin;
    context.login = Database ? Database->Login() : std::string();
    return context;
}

void TFicheQuadrivel::lvDataColumnClick(int column) {
    if (column != SortColumn) {
        SortColumn = column;
        SortAscending = true;
    } else if (SortAscending) {
        SortAscending = false;
    } else {
        SortColumn = -1;
    }
    ShowRows();
}

// --- Leaving the window -------------------------------------------------------

void TFicheQuadrivel::CopyRows(const std::vector<TReportRow>& rows, bool withTitles) {
    auto* data = new QMimeData;
    data->setText(ReportClipboardText(rows, withTitles));
    data->setHtml(ReportClipboardHtml(rows, withTitles));
    QApplication::clipboard()->setMimeData(data);
}

void TFicheQuadrivel::actCopierClick() {
    std::vector<int> chosen;
    for (const QModelIndex& index : lvData->selectionModel()->selectedRows())
        if (index.row() < static_cast<int>(Report.size()))
            chosen.push_back(index.row());
    std::sort(chosen.begin(), chosen.end());
    std::vector<TReportRow> rows;
    for (int i : chosen)
        rows.push_back(ShownRow(static_cast<std::size_t>(i)));
    if (!rows.empty())
        CopyRows(rows, false);
}

void TFicheQuadrivel::actCopierToutClick() {
    std::vector<TReportRow> rows = ShownRows();
    for (const TReportRow& line : Totals.Lines())
        rows.push_back(line);
    CopyRows(rows, true);
}

bool TFicheQuadrivel::WriteExport(const QString& path, const QByteArray& bytes,
                                  const QString& failure) {
    QString error = failure;
    if (!bytes.isEmpty() && WriteWholeFile(path, bytes, &error))
        return true;
    toolkit::ShowMessage(QStringLiteral("Le fichier « %1 » n'a pas pu être écrit : %2.")
                             .arg(QDir::toNativeSeparators(path), error)
                             .toStdString());
    return false;
}

bool TFicheQuadrivel::ExportCsv(const QString& path) {
    return WriteExport(path, ReportCsv(ShownRows()), QString());
}

bool TFicheQuadrivel::ExportXlsx(const QString& path) {
    QString error;
    const QByteArray workbook =
        ReportXlsx(TableWorkbook(ShownRows(), Totals.Lines(), Context()), &error);
    return WriteExport(path, workbook, error);
}

void TFicheQuadrivel::btnExporterClick() {
    const QString proposed = QDir::home().filePath(ReportFileName(Context()));
    const QString path = AskFileName ? AskFileName(proposed) : QString();
    if (path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive))
        ExportXlsx(path);
    else if (!path.isEmpty())
        ExportCsv(path);
}

void TFicheQuadrivel::PaintReport(QPrinter* printer) const {
    PrintReport(printer, ShownRows(), Totals, Context());
}

bool TFicheQuadrivel::ExportPdf(const QString& path) const {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    SetA4Landscape(&printer);
    if (PrintReport(&printer, ShownRows(), Totals, Context()))
        return true;
    toolkit::ShowMessage(
        QStringLiteral("Le fichier « %1 » n'a pas pu être écrit (dossier absent ou accès refusé).")
            .arg(QDir::toNativeSeparators(path))
            .toStdString());
    return false;
}

void TFicheQuadrivel::btnImprimerClick() {
    QPrinter printer(QPrinter::HighResolution);
    SetA4Landscape(&printer);
    printer.setDocName(QStringLiteral("Tableau de suivi"));
    QPrintPreviewDialog preview(&printer, this);
    preview.setWindowTitle(QStringLiteral("Aperçu avant impression"));
    preview.resize(1000, 720);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this,
            [this](QPrinter* target) { PaintReport(target); });
    // A PDF straight from the preview, without going through a printer.
    if (auto* toolbar = preview.findChild<QToolBar*>()) {
        toolbar->addSeparator();
        QAction* pdf = toolbar->addAction(QStringLiteral("PDF…"));
        pdf->setToolTip(QStringLiteral("Enregistrer en PDF"));
        connect(pdf, &QAction::triggered, &preview, [this, &preview] {
            toolkit::Guard([&] {
                QString proposed = QDir::home().filePath(ReportFileName(Context()));
                proposed.chop(int(std::strlen(".csv")));
                proposed += QStringLiteral(".pdf");
                const QString path =
                    QFileDialog::getSaveFileName(&preview, QStringLiteral("Enregistrer en PDF"),
                                                 proposed, QStringLiteral("Fichiers PDF (*.pdf)"));
                if (path.isEmpty())
                    return;
                ExportPdf(path);
            });
        });
    }
    preview.exec();
}
