#include "tracking/fichequadrivel.h"

TFicheQuadrivel::TFicheQuadrivel(QWidget* owner)
    : TForm(owner)
{
}
TFicheQuadrivel::~TFicheQuadrivel() = default;
void TFicheQuadrivel::resizeEvent(QResizeEvent* event)
{
    TForm::resizeEvent(event);
}
void TFicheQuadrivel::FormActivate() {}
