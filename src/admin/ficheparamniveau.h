// Level management window (to be completed).
#pragma once

#include "app/toolkit.h"

#include <string>

class TABSDatabase;

class TFicheParamNiveau : public TForm {
    Q_OBJECT
public:
    explicit TFicheParamNiveau(QWidget* owner);
    void SetDatabase(TABSDatabase* database) { Database = database; }
    void SetLevelLabel(const std::string& label) { LevelLabel = label; }

private:
    TABSDatabase* Database = nullptr;
    std::string LevelLabel = "Niveau";
};
