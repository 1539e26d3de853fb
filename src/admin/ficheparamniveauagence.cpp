#include "admin/ficheparamniveauagence.h"

TFicheParamNiveauAgence::TFicheParamNiveauAgence(QWidget* owner)
    : TForm(owner)
{
}
