// "Ouvrir une base": the database (a file, or a PostgreSQL server) and the user
// code that quadrivel-start opens when its settings do not name them, or name
// a database or a code that is refused.
#pragma once

#include "app/launcher.h"
#include "ui/toolkit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <functional>
#include <string>

class TFicheOuvrirBase : public TForm {
    Q_OBJECT
public:
    explicit TFicheOuvrirBase(QWidget* owner = nullptr);

    // Fills the fields with what is known: a postgresql:// URI chooses the
    // server, its password (if any) goes to the masked field.
    void SetChoice(const StartChoice& choice);
    // What went wrong, shown above the fields.
    void SetProblem(const std::string& text);
    // What the fields say: the server's URI carries the password typed.
    StartChoice Choice() const;

    // Tries the choice: the empty text when it opens, otherwise why not. The
    // window closes only when it opens.
    std::function<std::string(const StartChoice&)> OnOpen;

    QLabel* lblProbleme;
    QRadioButton* rbFichier;
    QLineEdit* edtFichier;
    QPushButton* btnParcourir;
    QRadioButton* rbServeur;
    QLineEdit* edtServeur;
    QLineEdit* edtMotDePasse;
    QLineEdit* edtCode;
    QPushButton* btnOuvrir;
    QPushButton* btnAnnuler;

    void btnOuvrirClick();
    void btnParcourirClick();

private:
    // Why the fields cannot be tried as they are, or the empty text.
    std::string fieldsRefusal() const;
    void showKind();
};
