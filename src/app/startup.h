// Start-up: the command line, the visual style, the main window.
#pragma once

#include "tracking/report.h"

#include <functional>
#include <string>
#include <vector>

class QApplication;
class QIcon;
class TFichePrincipale;

inline constexpr const char* kMissingArgumentsMessage =
    "Veuillez renseigner les paramètres (1)chemin de la base de données (2)utilisateur";

// What the command line asks for: a database path and either the
// administrator mode or a user code.
struct StartupArguments {
    bool valid = false;
    std::string databasePath;
    bool admin = false;
    std::string userCode;
};

// args: the arguments as given, without the program's name, as the system
// gives them. The database path keeps those bytes (a file name need not be
// valid UTF-8); the user code is read in the system's encoding.
StartupArguments ParseArguments(const std::vector<std::string>& args);

// Applies the visual style "Smokey Quartz Kamri"; false when it could not be
// applied (start-up goes on with the standard look).
bool ApplyVisualStyle(QApplication& app);

// The program's icon in every size rendered from its drawing.
QIcon ProgramIcon();

// Loads the French texts of Qt's own dialogs; false when they are missing.
bool LoadFrenchTranslations(QApplication& app);

// What the program sets up before its first window: its name, version and
// icon, the French texts of Qt's dialogs and its visual style.
void PrepareApplication(QApplication& app);

// Whether a window can be shown: false, after saying so in French on the
// standard error with the command to use without a screen (xvfb-run -a
// commandLine), when the platform needs a display and none is set.
bool DisplayAvailable(const char* program, const char* commandLine);

// Creates the main window, hands it the arguments and runs it with runLoop
// (show and exec in the program); with a wrong argument count shows the
// message instead. Any exception is shown. Always returns 0.
int RunQuadrivel(const std::vector<std::string>& args,
                 const std::function<void(TFichePrincipale&)>& runLoop);
