// The menu entry's start-up (quadrivel-start): the database and user code come
// from the settings, or from the user through the "Ouvrir une base" dialog.
#pragma once

#include <functional>
#include <string>

class TABSDatabase;
class TFichePrincipale;

// A database (a file path or a postgresql:// URI) and the code of the user who
// opens it.
struct StartChoice {
    std::string database;
    std::string userCode;
};

// database and user from the user's settings (~/.config/quadrivel/
// quadrivel.conf), each one else from the organisation's (/etc/xdg/quadrivel/
// quadrivel.conf): Qt's settings of organisation and application "quadrivel".
StartChoice ReadStartChoice();

// The database name without any password (a URI's user information or
// password parameter), as it may be shown or written.
std::string WithoutPassword(const std::string& database);

// Writes the choice into the user's settings; the database name is written
// without any password.
void SaveStartChoice(const StartChoice& choice);

// Opens the choice's database in the component and looks the user code up:
// the empty text when the main window can open on it, otherwise what went
// wrong, in French. The administrator's code needs no entry; any other code
// must be a user's or a level's head's, as for quadrivel-report. On a refusal the component is left
// closed.
std::string OpenChoice(TABSDatabase* database, const StartChoice& choice);

// Runs the main window (through runLoop, as RunQuadrivel does) on the settings'
// choice when both are known and the database opens; otherwise asks with the
// "Ouvrir une base" dialog first, and remembers what opened for this user.
// Giving up in the dialog ends the program. Always returns 0.
int RunStart(const std::function<void(TFichePrincipale&)>& runLoop);
