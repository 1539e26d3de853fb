// Quadrivel: quadrivel DATABASE_FILE USER_CODE

#include "app/ficheprincipale.h"
#include "app/startup.h"

#include <QApplication>
#include <QGuiApplication>

#include <malloc.h>

#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    // A list of a million rows is a few blocks of tens of megabytes, read,
    // sorted and freed at each refresh. glibc's allocator would raise its
    // threshold for giving memory straight to the system to the largest
    // block freed, then keep up to twice that, unused, in the process: a
    // level of a million agencies held about 50 MB more at its peak. Fixed
    // thresholds give a large block back as soon as it is freed.
    mallopt(M_MMAP_THRESHOLD, 1 << 20);
    mallopt(M_TRIM_THRESHOLD, 4 << 20);
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
