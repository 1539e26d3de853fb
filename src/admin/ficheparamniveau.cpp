#include "admin/ficheparamniveau.h"

TFicheParamNiveau::TFicheParamNiveau(QWidget* owner)
    : TForm(owner)
{
}
