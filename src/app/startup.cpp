#include "app/startup.h"

#include "app/ficheprincipale.h"
#include "data/ansistring.h"
#include "quadrivel_version.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QFile>
#include <QIcon>
#include <QLibraryInfo>
#include <QPalette>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>

StartupArguments ParseArguments(const std::vector<std::string>& args) {
    StartupArguments result;
    if (args.size() != 2)
        return result;
    result.valid = true;
    result.databasePath = args[0];
    const QString userCode = QString::fromLocal8Bit(args[1]);
    // Exact, case-sensitive comparison of the whole text.
    if (userCode == QLatin1String(kAdminCode))
        result.admin = true;
    else
        result.userCode = ToAnsi(userCode);
    return result;
}

// The style's resources live in the core library, a static one: register them
// explicitly, since the linker may drop their automatic registration.
static void initStyleResources() {
    Q_INIT_RESOURCE(resources);
}

bool ApplyVisualStyle(QApplication& app) {
    initStyleResources();
    QFile sheet(QStringLiteral(":/style/smokeyquartzkamri.qss"));
    if (!sheet.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    if (QStyle* style = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(style);

    // Smoky greys with a quartz-pink highlight.
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(0x4a, 0x48, 0x4c));
    palette.setColor(QPalette::WindowText, QColor(0xec, 0xe8, 0xe6));
    palette.setColor(QPalette::Base, QColor(0x36, 0x34, 0x38));
    palette.setColor(QPalette::AlternateBase, QColor(0x40, 0x3e, 0x42));
    palette.setColor(QPalette::Text, QColor(0xf2, 0xee, 0xec));
    palette.setColor(QPalette::Button, QColor(0x5a, 0x57, 0x5c));
    palette.setColor(QPalette::ButtonText, QColor(0xf2, 0xee, 0xec));
    palette.setColor(QPalette::Highlight, QColor(0xb8, 0x8a, 0x94));
    palette.setColor(QPalette::HighlightedText, QColor(0x1e, 0x1c, 0x20));
    palette.setColor(QPalette::ToolTipBase, QColor(0x5a, 0x57, 0x5c));
    palette.setColor(QPalette::ToolTipText, QColor(0xf2, 0xee, 0xec));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x8e, 0x8a, 0x90));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x8e, 0x8a, 0x90));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x8e, 0x8a, 0x90));
    QApplication::setPalette(palette);
    app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
    return true;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/quadrivel-%1.png").arg(size), QSize(size, size));
    return icon;
}

bool DisplayAvailable(const char* program, const char* commandLine) {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool needsDisplay = !platform || std::strncmp(platform, "xcb", 3) == 0;
    if (!needsDisplay || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY"))
        return true;
    std::cerr << program
              << " : aucun affichage graphique (DISPLAY n'est pas défini). Sans écran, "
                 "lancez : xvfb-run -a "
              << commandLine << std::endl;
    return false;
}

bool LoadFrenchTranslations(QApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QStringLiteral("qtbase_fr"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QApplication::installTranslator(translator);
    return true;
}

void PrepareApplication(QApplication& app) {
    QApplication::setApplicationName(QStringLiteral("Quadrivel"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quadrivel"));
    QApplication::setApplicationVersion(QStringLiteral(QUADRIVEL_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("fr.quadrivel.quadrivel"));
    QApplication::setWindowIcon(ProgramIcon());
    LoadFrenchTranslations(app);
    ApplyVisualStyle(app);
}

int RunQuadrivel(const std::vector<std::string>& args,
                 const std::function<void(TFichePrincipale&)>& runLoop) {
    try {
        auto mainWindow = std::make_unique<TFichePrincipale>();
        const StartupArguments arguments = ParseArguments(args);
        if (arguments.valid) {
            mainWindow->SetDatabasePath(arguments.databasePath);
            if (arguments.admin)
                mainWindow->SetAdmin(true);
            else
                mainWindow->SetUserCode(arguments.userCode);
            runLoop(*mainWindow);
        } else {
            std::cerr << kMissingArgumentsMessage << std::endl;
            toolkit::ShowMessage(kMissingArgumentsMessage);
        }
    } catch (const std::exception& error) {
        toolkit::ShowError(QString::fromStdString(error.what()));
    } catch (...) {
        toolkit::ShowError(QString());
    }
    return 0;
}
