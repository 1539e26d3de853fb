#include "tracking/fichequadrivel.h"

#include "data/absdatabase.h"
#include "data/account.h"
#include "data/accountsql.h"
#include "data/objectcode.h"
#include "data/schema.h"
#include "tracking/numberformat.h"

#include <QFont>
#include <QResizeEvent>

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

QLabel* createLabel(QWidget* parent, const char* name, const char* caption, int left, int top) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(left, top);
    label->adjustSize();
    return label;
}

// The row list of the tracking table and the filter lists share these
// statements.
std::string levelsStatement(bool admin, const std::string& userCode) {
    std::string sql = "SELECT code, libelle FROM dim_niveau";
    if (!admin)
        sql += " WHERE code = " + QuotedStr(userCode);
    sql += " ORDER BY libelle ASC";
    return sql;
}

std::string agenciesStatement(const std::string& level) {
    return "SELECT a.code as code, a.libelle as libelle"
           " FROM dim_agence a, niveau_agence n"
           " WHERE a.code = n.agence"
           " AND n.niveau = " +
           QuotedStr(level) + " ORDER BY libelle ASC";
}

std::string usersStatement(const std::string& agency, int year, int month) {
    return "SELECT distinct u.code, u.libelle"
           " FROM dim_utilisateur u, data d"
           " WHERE d.dim_agence = " +
           QuotedStr(agency) +
           " AND u.code  = d.dim_utilisateur"
           " AND d.period_year \t= " +
           std::to_string(year) + " AND d.period_month\t= " + std::to_string(month) +
           " ORDER BY u.libelle ASC";
}

std::string userStatement(const std::string& agency, const std::string& user) {
    return "SELECT distinct u.code, u.libelle"
           " FROM dim_utilisateur u, data d"
           " WHERE d.dim_agence = " +
           QuotedStr(agency) +
           " AND u.code  = d.dim_utilisateur"
           " AND u.code = " +
           QuotedStr(user) + " ORDER BY u.libelle ASC";
}

std::string suppliersStatement() {
    return "SELECT code, libelle"
           " FROM dim_fournisseur"
           " ORDER BY libelle ASC";
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
    lvData = toolkit::CreateListView(this, {
                                               {"Niveau", 150, Qt::AlignLeft},
                                               {"Montant HT", 100, Qt::AlignRight},
                                               {"TVA", 75, Qt::AlignRight},
                                               {"Montant TTC", 100, Qt::AlignRight},
                                               {"Marge €", 75, Qt::AlignRight},
                                               {"Marge %", 75, Qt::AlignRight},
                                               {"Nb Relance(s)", 90, Qt::AlignHCenter},
                                               {"Nb Devis", 100, Qt::AlignRight},
                                               {"Nb Commandes", 100, Qt::AlignRight},
                                               {"Transformation %", 120, Qt::AlignRight},
                                           });
    lvData->setObjectName("lvData");
    lvData->setAlternatingRowColors(true);
    lvData->setGeometry(16, 72, 1041, 574);
    Label4 = createLabel(this, "Label4", "Fournisseur", 640, 16);
    cblFournisseur = createList(this, "cblFournisseur", 640, 32, 202, {"<tous>"});
    cblFournisseur->setMaxVisibleItems(20);
    Label1 = createLabel(this, "Label1", "Mois", 848, 13);
    cblPeriode = createList(this, "cblPeriode", 848, 32, 202, {"Actuel", "Précédent"});

    setTabOrder(cblNiveau, cblAgence);
    setTabOrder(cblAgence, cblUtilisateur);
    setTabOrder(cblUtilisateur, lvData);
    setTabOrder(lvData, cblFournisseur);
    setTabOrder(cblFournisseur, cblPeriode);

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
    // The report grows and shrinks with the window.
    lvData->setGeometry(16, 72, width() - 32, height() - 88);
}

// --- Filter lists -----------------------------------------------------------

void TFicheQuadrivel::LoadNiveaux() {
    fillFilterList(cblNiveau, "<Tous>", Database, levelsStatement(Admin, UserCode));
    SelNiveau.clear();
}

void TFicheQuadrivel::LoadAgences() {
    const bool levelChosen = cblNiveau->currentIndex() > 0;
    fillFilterList(cblAgence, "<Toutes>", Database,
                   levelChosen ? agenciesStatement(SelNiveau) : std::string());
    SelAgence.clear();
}

void TFicheQuadrivel::LoadUtilisateurs() {
    std::string statement;
    if (cblAgence->currentIndex() > 0)
        statement = usersStatement(SelAgence, GetAnnee(), GetMois());
    fillFilterList(cblUtilisateur, "<Tous>", Database, statement);
    SelUtilisateur.clear();
}

void TFicheQuadrivel::LoadFournisseurs() {
    fillFilterList(cblFournisseur, "<Tous>", Database, suppliersStatement());
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
    BusyCursor busy(this);
    lvData->clear();

    const int mode = GetDisplayMode();
    const int year = GetAnnee();
    const int month = GetMois();

    std::string statement;
    switch (mode) {
    case dmAgences:
        statement = agenciesStatement(SelNiveau);
        break;
    case dmUtilisateurs:
        statement = usersStatement(SelAgence, year, month);
        break;
    case dmUtilisateur:
        statement = userStatement(SelAgence, SelUtilisateur);
        break;
    default:
        statement = levelsStatement(Admin, UserCode);
        break;
    }
    const auto rows = NewQuery(Database, statement);
    rows->Open();

    TAccount account;
    account.SetPeriod(year, month);
    TAccountSQL sums;
    sums.SetDatabase(Database);
    sums.SetAccount(&account);

    if (SelFournisseur.empty())
        account.ClearFournisseur();
    else
        account.SetFournisseur(SelFournisseur);

    while (!rows->Eof()) {
        const std::string code = rows->FieldByName("code").AsAnsiString();
        const std::string libelle = rows->FieldByName("libelle").AsAnsiString();

        switch (mode) {
        case dmNiveaux:
            account.SetNiveau(code);
            account.ClearAgence();
            account.ClearUtilisateur();
            break;
        case dmAgences:
            account.ClearNiveau();
            account.SetAgence(code);
            account.ClearUtilisateur();
            break;
        case dmUtilisateurs:
            account.ClearNiveau();
            account.SetAgence(SelAgence);
            account.SetUtilisateur(code);
            break;
        default:
            account.ClearNiveau();
            account.SetAgence(SelAgence);
            account.SetUtilisateur(SelUtilisateur);
            break;
        }

        auto sum = [&](const char* indicator) {
            account.SetCodeAccount(indicator);
            return sums.GetSomme();
        };
        const double ht = sum(schema::MontantDevisVenteHT);
        const double tva = sum(schema::MontantDevisTVA);
        const double ttc = ht + tva;
        const double margin = sum(schema::MargeDevisVenteHT);
        const double marginRate = ht == 0.0 ? 0.0 : margin / ht * 100.0;
        const int reminders = TruncateCount(sum(schema::NbRelances));
        const int quotes = TruncateCount(sum(schema::NbDossiersTraites));
        const int orders = TruncateCount(sum(schema::NbCommandesTraites));
        const double conversionRate =
            quotes == 0 ? 0.0 : static_cast<double>(orders) / static_cast<double>(quotes) * 100.0;

        toolkit::AddListRow(lvData, {
                                        libelle,
                                        FormatFixed(ht),
                                        FormatFixed(tva),
                                        FormatFixed(ttc),
                                        FormatFixed(margin),
                                        FormatRate(marginRate),
                                        IntToStr(reminders),
                                        IntToStr(quotes),
                                        IntToStr(orders),
                                        FormatRate(conversionRate),
                                    });
        rows->Next();
    }
    rows->Close();
    busy.Finish();
}
