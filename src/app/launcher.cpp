#include "app/launcher.h"

#include "app/ficheouvrirbase.h"
#include "app/ficheprincipale.h"
#include "app/startup.h"
#include "data/absdatabase.h"
#include "data/ansistring.h"
#include "tracking/report.h"
#include "ui/toolkit.h"

#include <QSettings>

#include <exception>
#include <memory>

namespace {

constexpr const char* kDatabaseKey = "database";
constexpr const char* kUserKey = "user";

// Qt's settings of the program: the user's file, then the organisation's one
// as its fallback.
std::unique_ptr<QSettings> settings() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("quadrivel"), QStringLiteral("quadrivel"));
}

} // namespace

StartChoice ReadStartChoice() {
    const auto store = settings();
    StartChoice choice;
    choice.database = ToAnsi(store->value(QLatin1String(kDatabaseKey)).toString().trimmed());
    choice.userCode = ToAnsi(store->value(QLatin1String(kUserKey)).toString());
    return choice;
}

std::string WithoutPassword(const std::string& database) {
    TABSDatabase named;
    named.DatabaseFileName = database;
    return named.DisplayName();
}

void SaveStartChoice(const StartChoice& choice) {
    const auto store = settings();
    store->setValue(QLatin1String(kDatabaseKey), FromAnsi(WithoutPassword(choice.database)));
    store->setValue(QLatin1String(kUserKey), FromAnsi(choice.userCode));
    store->sync();
}

std::string OpenChoice(TABSDatabase* database, const StartChoice& choice) {
    database->Close();
    database->DatabaseFileName = choice.database;
    try {
        // One statement proves the database opens and holds Quadrivel's
        // tables, and finds the code among the users and the heads of levels.
        const auto query = NewQuery(database, KnownUserStatement(choice.userCode));
        query->Open();
        const bool known = !query->Eof();
        query->Close();
        if (known || ParseArguments({choice.database, choice.userCode}).admin)
            return std::string();
        database->Close();
        return "Le code utilisateur « " + choice.userCode +
               " » n'est ni un utilisateur ni un chef de secteur de cette base : vérifiez-le ou "
               "demandez-le à l'administrateur.";
    } catch (const std::exception& error) {
        database->Close();
        return error.what();
    }
}

int RunStart(const std::function<void(TFichePrincipale&)>& runLoop) {
    try {
        auto mainWindow = std::make_unique<TFichePrincipale>();
        StartChoice choice = ReadStartChoice();
        std::string problem =
            choice.database.empty() || choice.userCode.empty()
                ? std::string("Aucune base n'est encore choisie : indiquez le fichier ou le "
                              "serveur, et votre code utilisateur.")
                : OpenChoice(mainWindow->ABSDatabase1, choice);
        if (!problem.empty()) {
            TFicheOuvrirBase dialog(nullptr);
            dialog.SetChoice(choice);
            dialog.SetProblem(problem);
            dialog.OnOpen = [&](const StartChoice& typed) {
                return OpenChoice(mainWindow->ABSDatabase1, typed);
            };
            if (dialog.ShowModal() != QDialog::Accepted)
                return 0;
            choice = dialog.Choice();
            SaveStartChoice(choice);
        }
        // The main window receives what the command line would give it.
        const StartupArguments arguments = ParseArguments({choice.database, choice.userCode});
        if (arguments.admin)
            mainWindow->SetAdmin(true);
        else
            mainWindow->SetUserCode(arguments.userCode);
        runLoop(*mainWindow);
    } catch (const std::exception& error) {
        toolkit::ShowError(QString::fromStdString(error.what()));
    } catch (...) {
        toolkit::ShowError(QString());
    }
    return 0;
}
