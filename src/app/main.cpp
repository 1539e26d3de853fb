// Quadrivel: quadrivel DATABASE_FILE USER_CODE

#include "app/ficheprincipale.h"
#include "app/startup.h"

#include <QApplication>
#include <QGuiApplication>

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // The arguments are the program's own: Qt is handed only the program's
    // name, so that no user argument is ever taken as a Qt option.
    const std::vector<std::string> args(argv + 1, argv + argc);

    if (!DisplayAvailable("quadrivel", "quadrivel FICHIER UTILISATEUR"))
        return 1;

    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    PrepareApplication(app);

    return RunQuadrivel(args, [](TFichePrincipale& mainWindow) {
        mainWindow.show();
        QApplication::exec();
    });
}
