// quadrivel-start: the menu entry's command. Opens the main window on the
// database and user code of the settings, or asks for them first.

#include "app/ficheprincipale.h"
#include "app/launcher.h"
#include "app/startup.h"

#include <QApplication>

int main(int, char* argv[]) {
    if (!DisplayAvailable("quadrivel-start", "quadrivel-start"))
        return 1;
    // Arguments are not the program's: Qt is handed only the program's name.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    PrepareApplication(app);

    return RunStart([](TFichePrincipale& mainWindow) {
        mainWindow.show();
        QApplication::exec();
    });
}
