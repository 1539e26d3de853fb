// The main window: owns the program's database component and opens every
// other window.
#pragma once

#include "data/absdatabase.h"
#include "ui/toolkit.h"

#include <QPushButton>

#include <string>

class TFichePrincipale : public TForm {
    Q_OBJECT
public:
    explicit TFichePrincipale(QWidget* owner = nullptr);
    ~TFichePrincipale() override;

    void SetDatabasePath(const std::string& path);
    void SetAdmin(bool flag);
    void SetUserCode(const std::string& code);

    bool IsAdmin() const { return Admin; }
    std::string GetUserCode() const { return UserCode; }

    QPushButton* Button1;
    QPushButton* btnTableauSuivi;
    QPushButton* Button3;
    QPushButton* Button4;
    QPushButton* btnParamNiveau;
    TABSDatabase* ABSDatabase1;
    QPushButton* btnParamNiveauAgence;

    void btnTableauSuiviClick();
    void btnParamNiveauClick();
    void btnParamNiveauAgenceClick();
    void Button1Click();
    void Button3Click();
    void Button4Click();

protected:
    void FormActivate() override;

private:
    std::string UserCode;
    bool Admin = false;
};
