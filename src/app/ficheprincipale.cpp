#include "app/ficheprincipale.h"

#include "admin/ficheparamniveau.h"
#include "admin/ficheparamniveauagence.h"
#include "charts/democharts.h"
#include "data/ansistring.h"
#include "tracking/fichequadrivel.h"

#include <QFont>
#include <QKeySequence>

#include <memory>

namespace {

QPushButton* createButton(QWidget* parent, const char* caption, const QRect& geometry) {
    auto* button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setGeometry(geometry);
    return button;
}

} // namespace

TFichePrincipale::TFichePrincipale(QWidget* owner)
    : TForm(owner) {
    setObjectName("FichePrincipale");
    SetMainWindowFrame();
    setWindowTitle("Quadrivel");
    QFont designFont(QStringLiteral("Tahoma"));
    designFont.setPixelSize(11);
    setFont(designFont);
    SetClientSize(673, 218);

    Button1 = createButton(this, "Indicateur Nx Clients vs Clients supp.", {17, 255, 209, 185});
    btnTableauSuivi = createButton(this, "Tableau de suivi", {17, 16, 424, 185});
    Button3 = createButton(this, "Indicateur Nx Dossiers vs Dossiers supp.", {447, 255, 209, 185});
    Button4 = createButton(this, "Nb lignes Devis vs Nb lignes Commandes", {232, 255, 209, 185});
    btnParamNiveau = createButton(this, "Paramétrage Niveau", {447, 16, 209, 90});
    ABSDatabase1 = new TABSDatabase(this);
    btnParamNiveauAgence = createButton(this, "Paramétrage Niveau Agence", {447, 111, 209, 90});

    Button1->setObjectName("Button1");
    btnTableauSuivi->setObjectName("btnTableauSuivi");
    Button3->setObjectName("Button3");
    Button4->setObjectName("Button4");
    btnParamNiveau->setObjectName("btnParamNiveau");
    btnParamNiveauAgence->setObjectName("btnParamNiveauAgence");

    // The demonstration buttons lie below the window's area and stay hidden.
    Button1->hide();
    Button3->hide();
    Button4->hide();
    btnParamNiveau->setEnabled(false);
    btnParamNiveauAgence->setEnabled(false);

    setTabOrder(Button1, btnTableauSuivi);
    setTabOrder(btnTableauSuivi, Button3);
    setTabOrder(Button3, Button4);
    setTabOrder(Button4, btnParamNiveau);
    setTabOrder(btnParamNiveau, btnParamNiveauAgence);
    // Enter presses the button that has the focus; Alt and the initial of
    // its caption press it from anywhere in the window.
    for (QPushButton* button : {btnTableauSuivi, btnParamNiveau, btnParamNiveauAgence}) {
        button->setDefault(false);
        button->setAutoDefault(true);
    }
    btnTableauSuivi->setShortcut(QKeySequence(Qt::ALT | Qt::Key_T));
    btnParamNiveau->setShortcut(QKeySequence(Qt::ALT | Qt::Key_N));
    btnParamNiveauAgence->setShortcut(QKeySequence(Qt::ALT | Qt::Key_A));

    toolkit::OnClick(btnTableauSuivi, this, &TFichePrincipale::btnTableauSuiviClick);
    toolkit::OnClick(btnParamNiveau, this, &TFichePrincipale::btnParamNiveauClick);
    toolkit::OnClick(btnParamNiveauAgence, this, &TFichePrincipale::btnParamNiveauAgenceClick);
    toolkit::OnClick(Button1, this, &TFichePrincipale::Button1Click);
    toolkit::OnClick(Button3, this, &TFichePrincipale::Button3Click);
    toolkit::OnClick(Button4, this, &TFichePrincipale::Button4Click);
}

TFichePrincipale::~TFichePrincipale() = default;

void TFichePrincipale::SetDatabasePath(const std::string& path) {
    ABSDatabase1->DatabaseFileName = path;
}

void TFichePrincipale::SetAdmin(bool flag) {
    Admin = flag;
}

void TFichePrincipale::SetUserCode(const std::string& code) {
    UserCode = code;
}

void TFichePrincipale::FormActivate() {
    if (Admin) {
        btnParamNiveau->setEnabled(true);
        btnParamNiveauAgence->setEnabled(true);
    }
}

void TFichePrincipale::btnTableauSuiviClick() {
    auto window = std::make_unique<TFicheQuadrivel>(this);
    window->SetDatabase(ABSDatabase1);
    window->SetAdmin(Admin);
    window->SetUserCode(UserCode);
    window->ShowModal();
}

void TFichePrincipale::btnParamNiveauClick() {
    auto window = std::make_unique<TFicheParamNiveau>(this);
    window->SetDatabase(ABSDatabase1);
    window->SetLevelLabel("Chef de secteur");
    window->ShowModal();
}

void TFichePrincipale::btnParamNiveauAgenceClick() {
    auto window = std::make_unique<TFicheParamNiveauAgence>(this);
    window->SetDatabase(ABSDatabase1);
    window->SetLevelLabel("Chef de secteur");
    window->ShowModal();
}

void TFichePrincipale::Button1Click() {
    ShowNewClientsChart(this);
}

void TFichePrincipale::Button3Click() {
    ShowNewFilesChart(this);
}

void TFichePrincipale::Button4Click() {
    ShowQuoteLinesChart(this);
}
