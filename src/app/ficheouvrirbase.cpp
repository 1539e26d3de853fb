#include "app/ficheouvrirbase.h"

#include "data/absdatabase.h"
#include "data/ansistring.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QUrl>
#include <QUrlQuery>
#include <QVBoxLayout>

TFicheOuvrirBase::TFicheOuvrirBase(QWidget* owner)
    : TForm(owner) {
    setObjectName("FicheOuvrirBase");
    setWindowTitle(QStringLiteral("Ouvrir une base"));

    lblProbleme = new QLabel(this);
    lblProbleme->setObjectName("lblProbleme");
    lblProbleme->setTextFormat(Qt::PlainText);
    lblProbleme->setWordWrap(true);
    lblProbleme->setMinimumWidth(460);

    rbFichier = new QRadioButton(QStringLiteral("&Fichier de base de données"), this);
    rbFichier->setObjectName("rbFichier");
    edtFichier = new QLineEdit(this);
    edtFichier->setObjectName("edtFichier");
    btnParcourir = new QPushButton(QStringLiteral("&Parcourir…"), this);
    btnParcourir->setObjectName("btnParcourir");

    rbServeur = new QRadioButton(QStringLiteral("&Serveur PostgreSQL"), this);
    rbServeur->setObjectName("rbServeur");
    edtServeur = new QLineEdit(this);
    edtServeur->setObjectName("edtServeur");
    edtServeur->setPlaceholderText(QStringLiteral("serveur.exemple.fr/quadrivel"));
    edtMotDePasse = new QLineEdit(this);
    edtMotDePasse->setObjectName("edtMotDePasse");
    edtMotDePasse->setEchoMode(QLineEdit::Password);
    edtMotDePasse->setPlaceholderText(QStringLiteral("jamais enregistré"));

    edtCode = new QLineEdit(this);
    edtCode->setObjectName("edtCode");

    btnOuvrir = new QPushButton(QStringLiteral("&Ouvrir"), this);
    btnOuvrir->setObjectName("btnOuvrir");
    btnOuvrir->setDefault(true);
    btnAnnuler = new QPushButton(QStringLiteral("&Annuler"), this);
    btnAnnuler->setObjectName("btnAnnuler");

    auto* kinds = new QButtonGroup(this);
    kinds->addButton(rbFichier);
    kinds->addButton(rbServeur);
    rbFichier->setChecked(true);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(edtFichier, 1);
    fileRow->addWidget(btnParcourir);
    auto* fields = new QFormLayout;
    fields->addRow(rbFichier);
    fields->addRow(fileRow);
    fields->addRow(rbServeur);
    fields->addRow(QStringLiteral("Adresse :"), edtServeur);
    fields->addRow(QStringLiteral("Mot de passe :"), edtMotDePasse);
    fields->addRow(QStringLiteral("&Code utilisateur :"), edtCode);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOuvrir);
    buttons->addWidget(btnAnnuler);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblProbleme);
    layout->addLayout(fields);
    layout->addLayout(buttons);

    connect(rbFichier, &QRadioButton::toggled, this, [this] { showKind(); });
    toolkit::OnClick(btnOuvrir, this, &TFicheOuvrirBase::btnOuvrirClick);
    toolkit::OnClick(btnParcourir, this, &TFicheOuvrirBase::btnParcourirClick);
    connect(btnAnnuler, &QPushButton::clicked, this, &QDialog::reject);
    showKind();
}

void TFicheOuvrirBase::SetChoice(const StartChoice& choice) {
    edtCode->setText(FromAnsi(choice.userCode));
    if (!IsServerUri(choice.database)) {
        rbFichier->setChecked(true);
        edtFichier->setText(FromAnsi(choice.database));
        return;
    }
    rbServeur->setChecked(true);
    edtServeur->setText(FromAnsi(WithoutPassword(choice.database)));
    const QUrl url(FromAnsi(choice.database));
    QString password = url.password(QUrl::FullyDecoded);
    const QUrlQuery query(url);
    if (query.hasQueryItem(QStringLiteral("password")))
        password = query.queryItemValue(QStringLiteral("password"), QUrl::FullyDecoded);
    edtMotDePasse->setText(password);
}

void TFicheOuvrirBase::SetProblem(const std::string& text) {
    lblProbleme->setText(FromAnsi(text));
}

StartChoice TFicheOuvrirBase::Choice() const {
    StartChoice choice;
    choice.userCode = ToAnsi(edtCode->text().trimmed());
    if (rbFichier->isChecked()) {
        choice.database = ToAnsi(edtFichier->text().trimmed());
        return choice;
    }
    QString address = edtServeur->text().trimmed();
    if (!IsServerUri(ToAnsi(address)))
        address.prepend(QStringLiteral("postgresql://"));
    if (!edtMotDePasse->text().isEmpty())
        address += (address.contains(QLatin1Char('?')) ? QStringLiteral("&password=")
                                                       : QStringLiteral("?password=")) +
                   QString::fromLatin1(QUrl::toPercentEncoding(edtMotDePasse->text()));
    choice.database = ToAnsi(address);
    return choice;
}

std::string TFicheOuvrirBase::fieldsRefusal() const {
    if (rbFichier->isChecked()) {
        if (edtFichier->text().trimmed().isEmpty())
            return "Choisissez le fichier de la base de données.";
    } else {
        if (edtServeur->text().trimmed().isEmpty())
            return "Indiquez l'adresse du serveur et le nom de la base, par exemple "
                   "serveur.exemple.fr/quadrivel.";
    }
    if (edtCode->text().trimmed().isEmpty())
        return "Saisissez votre code utilisateur.";
    return std::string();
}

void TFicheOuvrirBase::btnOuvrirClick() {
    std::string problem = fieldsRefusal();
    if (problem.empty() && OnOpen) {
        // A server may take a few seconds to answer.
        struct BusyCursor {
            BusyCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
            ~BusyCursor() { QApplication::restoreOverrideCursor(); }
        } busy;
        problem = OnOpen(Choice());
    }
    if (!problem.empty()) {
        SetProblem(problem);
        return;
    }
    accept();
}

void TFicheOuvrirBase::btnParcourirClick() {
    const QString start = QFileInfo(edtFichier->text().trimmed()).absolutePath();
    const QString path = QFileDialog::getOpenFileName(
        this, QStringLiteral("Choisir la base de données"), start,
        QStringLiteral("Bases de données (*.db *.sqlite *.sqlite3);;Tous les fichiers (*)"));
    if (!path.isEmpty())
        edtFichier->setText(path);
}

void TFicheOuvrirBase::showKind() {
    const bool file = rbFichier->isChecked();
    edtFichier->setEnabled(file);
    btnParcourir->setEnabled(file);
    edtServeur->setEnabled(!file);
    edtMotDePasse->setEnabled(!file);
}
