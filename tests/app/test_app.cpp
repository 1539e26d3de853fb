// Start-up decisions, the main window, and the window behaviours of the
// toolkit, driven as a user would.

#include "app/ficheprincipale.h"
#include "app/startup.h"
#include "data/objectcode.h"
#include "testsupport.h"
#include "ui/toolkit.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>
#include <QtTest>

#include <stdexcept>

namespace {

// A window of the test's own that counts its activations.
class CountingForm : public TForm {
public:
    explicit CountingForm(QWidget* owner = nullptr)
        : TForm(owner) {}
    int activations = 0;

protected:
    void FormActivate() override { ++activations; }
};

// Notes, at each activation, whether the window was on screen then.
class ScreenForm : public TForm {
public:
    ScreenForm()
        : TForm(nullptr) {}
    std::vector<bool> onScreen;

protected:
    void FormActivate() override {
        onScreen.push_back(windowHandle() != nullptr && windowHandle()->isVisible());
    }
};

// Reads a control in its destruction handler, as the program's windows do.
class DestroyingForm : public TForm {
public:
    explicit DestroyingForm(std::string* seen)
        : TForm(nullptr)
        , seen(seen) {
        label = new QLabel("encore là", this);
    }
    ~DestroyingForm() override { FormDestroy(); }
    void FormDestroy() { *seen = label->text().toStdString(); }

private:
    QLabel* label;
    std::string* seen;
};

// A code item that counts its destructions.
class CountedCode : public TObjectCode {
public:
    CountedCode(const std::string& code, int* destroyed)
        : TObjectCode(code)
        , destroyed(destroyed) {}
    ~CountedCode() override { ++*destroyed; }

private:
    int* destroyed;
};

} // namespace

class TestApp : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { toolkit::SetMessageHook(nullptr); }

    void argumentsDecideTheMode_data();
    void argumentsDecideTheMode();
    void databasePathKeepsTheSystemsBytes();
    void wrongArgumentCountShowsMessageOnly();
    void mainWindowForAdministratorAndUser();
    void mainWindowButtonsFromTheKeyboard();

    void activationOnShowAndReturnFromProgramWindows();
    void changeHandlerFiresOnlyOnUserPick();
    void codeItemsStayWithTheirEntriesUntilCleared();
    void destructionHandlerSeesItsControls();
    void failingHandlerShowsMessageAndProgramGoesOn();
    void windowsAreOnScreenWhenActivatedAndIgnoreEscape();
    void boxesShowTextAsWritten();
    void doubleClickIsOneClick();
    void listCellsLookAsQtPaintsThem();
    void namesWithLineBreaksDrawnOnOneLine();
};

void TestApp::argumentsDecideTheMode_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("admin");
    QTest::addColumn<QString>("userCode");

    QTest::newRow("none") << QStringList{} << false << false << "";
    QTest::newRow("one") << QStringList{"base.db"} << false << false << "";
    QTest::newRow("three") << QStringList{"base.db", "KOVAR", "x"} << false << false << "";
    QTest::newRow("admin") << QStringList{"base.db", "KOVAR"} << true << true << "";
    QTest::newRow("lower case") << QStringList{"base.db", "kovar"} << true << false << "kovar";
    QTest::newRow("leading blank") << QStringList{"base.db", " KOVAR"} << true << false << " KOVAR";
    QTest::newRow("trailing blank")
        << QStringList{"base.db", "KOVAR "} << true << false << "KOVAR ";
    QTest::newRow("empty user") << QStringList{"base.db", ""} << true << false << "";
    QTest::newRow("user") << QStringList{"base.db", "MDUPONT"} << true << false << "MDUPONT";
    QTest::newRow("accents") << QStringList{"bâse.db", "Élodie"} << true << false << "Élodie";
}

void TestApp::argumentsDecideTheMode() {
    QFETCH(QStringList, args);
    QFETCH(bool, valid);
    QFETCH(bool, admin);
    QFETCH(QString, userCode);

    std::vector<std::string> given;
    for (const QString& arg : args)
        given.push_back(arg.toStdString());
    const StartupArguments parsed = ParseArguments(given);
    QCOMPARE(parsed.valid, valid);
    QCOMPARE(parsed.admin, admin);
    QCOMPARE(QString::fromStdString(parsed.userCode), userCode);
    if (valid)
        QCOMPARE(QString::fromStdString(parsed.databasePath), args[0]);
}

void TestApp::databasePathKeepsTheSystemsBytes() {
    // A file name that is not valid UTF-8 names the same file.
    const StartupArguments parsed = ParseArguments({"/srv/caf\xe9.db", "KOVAR"});
    QCOMPARE(parsed.databasePath, std::string("/srv/caf\xe9.db"));
    QVERIFY(parsed.admin);
}

void TestApp::wrongArgumentCountShowsMessageOnly() {
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b", "c"}}) {
        MessageRecorder recorder;
        bool ran = false;
        const int code = RunQuadrivel(args, [&](TFichePrincipale&) { ran = true; });
        QCOMPARE(code, 0);
        QVERIFY(!ran);
        QCOMPARE(recorder.messages.size(), std::size_t(1));
        QCOMPARE(recorder.messages[0].text,
                 std::string("Veuillez renseigner les paramètres (1)chemin de la base de "
                             "données (2)utilisateur"));
    }
}

void TestApp::mainWindowForAdministratorAndUser() {
    struct Case {
        std::vector<std::string> args;
        bool adminEnabled;
        std::string userCode;
    };
    // A path that names no file: the main window opens all the same.
    const Case cases[] = {
        {{"/nulle/part/base.db", "KOVAR"}, true, ""},
        {{"/nulle/part/base.db", "MDUPONT"}, false, "MDUPONT"},
        {{"/nulle/part/base.db", ""}, false, ""},
    };
    for (const Case& c : cases) {
        MessageRecorder recorder;
        bool ran = false;
        RunQuadrivel(c.args, [&](TFichePrincipale& window) {
            ran = true;
            QVERIFY(!window.btnParamNiveau->isEnabled());
            ShowForm(window);
            QCOMPARE(window.windowTitle(), QString("Quadrivel"));
            QCOMPARE(window.size(), QSize(673, 218));
            QCOMPARE(window.btnTableauSuivi->text(), QString("Tableau de suivi"));
            QCOMPARE(window.btnTableauSuivi->geometry(), QRect(17, 16, 424, 185));
            QCOMPARE(window.btnParamNiveau->text(), QString("Paramétrage Niveau"));
            QCOMPARE(window.btnParamNiveauAgence->text(), QString("Paramétrage Niveau Agence"));
            QVERIFY(window.btnTableauSuivi->isEnabled());
            QCOMPARE(window.btnParamNiveau->isEnabled(), c.adminEnabled);
            QCOMPARE(window.btnParamNiveauAgence->isEnabled(), c.adminEnabled);
            for (QPushButton* hidden : {window.Button1, window.Button3, window.Button4}) {
                QVERIFY(!hidden->isVisible());
                QVERIFY(hidden->y() >= 218);
            }
            QCOMPARE(window.IsAdmin(), c.adminEnabled);
            QCOMPARE(window.GetUserCode(), c.userCode);
            QCOMPARE(window.ABSDatabase1->DatabaseName, std::string("quadrivel"));
            QCOMPARE(window.ABSDatabase1->DatabaseFileName, std::string("/nulle/part/base.db"));
            QVERIFY(!window.ABSDatabase1->Connected());
        });
        QVERIFY(ran);
        QVERIFY(recorder.messages.empty());
    }
}

void TestApp::mainWindowButtonsFromTheKeyboard() {
    MessageRecorder recorder;
    RunQuadrivel({"/nulle/part/base.db", "KOVAR"}, [&](TFichePrincipale& window) {
        ShowForm(window);
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QStringList opened;
        auto expect = [&] {
            CloseNextModal([&](QWidget* modal) { opened << modal->objectName(); });
        };
        auto backToWindow = [&] {
            window.activateWindow();
            return QTest::qWaitForWindowActive(&window);
        };
        // Enter presses the button that has the focus, not the first one.
        window.btnParamNiveauAgence->setFocus();
        expect();
        QTest::keyClick(window.btnParamNiveauAgence, Qt::Key_Return);
        QVERIFY(backToWindow());
        // Tab goes on to the next button; Alt and an initial from anywhere.
        window.btnTableauSuivi->setFocus();
        QTest::keyClick(&window, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(window.btnParamNiveau));
        expect();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter);
        QVERIFY(backToWindow());
        expect();
        QTest::keyClick(&window, Qt::Key_A, Qt::AltModifier);
        // A button's shortcut presses it as an animated click, a moment later.
        QTRY_COMPARE(opened, QStringList({"FicheParamNiveauAgence", "FicheParamNiveau",
                                          "FicheParamNiveauAgence"}));
    });
}

void TestApp::activationOnShowAndReturnFromProgramWindows() {
    MessageRecorder recorder;
    CountingForm parent;
    ShowForm(parent);
    QCOMPARE(parent.activations, 1);

    // A window of the program opened from it, through a real nested loop.
    CountingForm child(&parent);
    CloseNextModal([&](QWidget* modal) { QCOMPARE(modal, &child); });
    child.ShowModal();
    QCOMPARE(child.activations, 1);
    QCOMPARE(parent.activations, 2);

    // The program's own boxes do not activate it again: a window that says
    // something, or asks, keeps what the user chose. Neither does the box
    // that reports an error.
    toolkit::ShowMessage("Bonjour");
    recorder.AnswerNext(true);
    QVERIFY(toolkit::MessageDlgYesNo("Vraiment ?"));
    QVERIFY(!toolkit::MessageDlgYesNo("Vraiment ?")); // no answer queued: No
    toolkit::Guard([] { throw std::runtime_error("échec"); });
    QCOMPARE(parent.activations, 2);
    QCOMPARE(recorder.Texts(toolkit::MessageKind::Error), std::vector<std::string>{"échec"});
    // Through real boxes, closed by the user.
    toolkit::SetMessageHook(nullptr);
    CloseNextModal();
    toolkit::ShowMessage("Bonjour");
    CloseNextModal();
    toolkit::MessageDlgYesNo("Vraiment ?");
    QCOMPARE(parent.activations, 2);

    // Qt's own activation events (a switch between applications) do not
    // count either.
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&parent, &activate);
    QCOMPARE(parent.activations, 2);
}

void TestApp::changeHandlerFiresOnlyOnUserPick() {
    struct Form : TForm {
        Form()
            : TForm(nullptr) {
            list = new QComboBox(this);
            list->addItems({"<Tous>", "Un", "Deux"});
            toolkit::OnChange(list, this, &Form::listChange);
        }
        void listChange() { picks.push_back(list->currentIndex()); }
        QComboBox* list;
        std::vector<int> picks;
    } form;
    ShowForm(form);

    form.list->setCurrentIndex(2);
    form.list->clear();
    form.list->addItems({"<Tous>", "Un", "Deux"});
    form.list->setCurrentIndex(0);
    QVERIFY(form.picks.empty());

    form.list->setFocus();
    QTest::keyClick(form.list, Qt::Key_Down);
    QTest::keyClick(form.list, Qt::Key_Down);
    QCOMPARE(form.picks, (std::vector<int>{1, 2}));
}

void TestApp::codeItemsStayWithTheirEntriesUntilCleared() {
    QComboBox list;
    QCOMPARE(GetComboCode(&list, -1), std::string());
    ClearComboCodes(&list); // empty list: nothing to do
    QCOMPARE(list.count(), 0);

    int destroyed = 0;
    list.addItem("<Tous>"); // no code item
    auto* first = new CountedCode("A01", &destroyed);
    AddComboItem(&list, "Lille", first);
    AddComboItem(&list, "Sans code", new CountedCode("", &destroyed));
    AddComboCode(&list, "Villeneuve-d'Ascq", "A'02");

    QCOMPARE(GetComboCode(&list, -1), std::string());
    QCOMPARE(GetComboCode(&list, 0), std::string()); // an entry without item
    QCOMPARE(GetComboCode(&list, 1), std::string("A01"));
    QCOMPARE(GetComboCode(&list, 2), std::string());
    QCOMPARE(GetComboCode(&list, 3), std::string("A'02"));
    QCOMPARE(GetComboCode(&list, 9), std::string());
    QCOMPARE(list.itemData(1).value<void*>(), static_cast<void*>(first));

    list.setCurrentIndex(3);
    list.removeItem(0); // the toolkit moves entries, never frees their items
    QCOMPARE(destroyed, 0);
    QCOMPARE(GetComboCode(&list, 0), std::string("A01"));

    ClearComboCodes(&list);
    QCOMPARE(destroyed, 2);
    QCOMPARE(list.count(), 0);
}

void TestApp::destructionHandlerSeesItsControls() {
    std::string seen;
    QPointer<QLabel> label;
    {
        DestroyingForm form(&seen);
        label = form.findChild<QLabel*>();
        QVERIFY(label);
    }
    QCOMPARE(seen, std::string("encore là"));
    QVERIFY(label.isNull());
}

void TestApp::failingHandlerShowsMessageAndProgramGoesOn() {
    MessageRecorder recorder;
    struct Form : TForm {
        Form()
            : TForm(nullptr) {
            button = new QPushButton("Go", this);
            toolkit::OnClick(button, this, &Form::buttonClick);
        }
        void buttonClick() {
            ++clicks;
            if (clicks == 1)
                throw std::runtime_error("no such table: data");
            throw 42; // not an exception class: an empty message
        }
        QPushButton* button;
        int clicks = 0;
    } form;
    ShowForm(form);
    QTest::mouseClick(form.button, Qt::LeftButton);
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(form.clicks, 2);
    QVERIFY(form.isVisible());
    QCOMPARE(recorder.Texts(toolkit::MessageKind::Error),
             (std::vector<std::string>{"no such table: data", ""}));
}

void TestApp::windowsAreOnScreenWhenActivatedAndIgnoreEscape() {
    // The first activation runs once the platform window is shown, so that a
    // box it opens stands over the window, never before it.
    ScreenForm form;
    ShowForm(form);
    QCOMPARE(form.onScreen, std::vector<bool>{true});

    // Shown again by the window system (restored from minimised): no new
    // activation.
    form.showMinimized();
    QCoreApplication::processEvents();
    form.showNormal();
    QCoreApplication::processEvents();
    QCOMPARE(form.onScreen.size(), std::size_t(1));

    // Escape loses nothing: the window and what was typed in it stay.
    auto* edit = new QLineEdit(&form);
    edit->setText("Secteur Nord");
    edit->show();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Escape);
    QVERIFY(form.isVisible());
    QCOMPARE(edit->text(), QString("Secteur Nord"));

    // The main window is a normal window of the desktop, that Escape does not
    // close either.
    MessageRecorder recorder;
    RunQuadrivel({"/nulle/part/base.db", "KOVAR"}, [](TFichePrincipale& window) {
        ShowForm(window);
        QCOMPARE(window.windowType(), Qt::Window);
        QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
        QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
    });
}

void TestApp::boxesShowTextAsWritten() {
    // Names from the database may look like markup: every box shows them as
    // plain text.
    const QString name = "<b>Nord</b> <a href=\"x\">lien</a>";
    const auto checkBox = [&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box);
        QCOMPARE(box->textFormat(), Qt::PlainText);
        QCOMPARE(box->text(), name);
    };
    CloseNextModal(checkBox);
    toolkit::ShowMessage(name.toStdString());
    CloseNextModal(checkBox);
    toolkit::MessageDlgYesNo(name.toStdString());
    CloseNextModal(checkBox);
    toolkit::ShowError(name);
}

void TestApp::doubleClickIsOneClick() {
    struct Form : TForm {
        Form()
            : TForm(nullptr) {
            button = new QPushButton("Ajouter", this);
            toolkit::OnClick(button, this, &Form::buttonClick);
        }
        void buttonClick() { ++clicks; }
        QPushButton* button;
        int clicks = 0;
    } form;
    ShowForm(form);
    // The events of a double click, as the window system sends them.
    const QPointF at = form.button->rect().center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, form.button->mapToGlobal(at), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(form.button, &event);
    }
    QCOMPARE(form.clicks, 1);
    QTest::mouseClick(form.button, Qt::LeftButton);
    QCOMPARE(form.clicks, 2);
}

void TestApp::listCellsLookAsQtPaintsThem() {
    // The lists draw their cells themselves, figures without text shaping:
    // pixel for pixel what Qt's own delegate draws, aligned left, right and
    // centred, chosen or not, cut off with an ellipsis where too wide.
    const std::vector<toolkit::ListColumn> columns = {{"Niveau", 90, Qt::AlignLeft},
                                                      {"Montant HT", 100, Qt::AlignRight},
                                                      {"Taux", 60, Qt::AlignRight},
                                                      {"Devis", 45, Qt::AlignHCenter},
                                                      {"Étroit", 30, Qt::AlignRight}};
    const std::vector<std::vector<std::string>> rows = {
        {"Villeneuve-d'Ascq", "1234567,89", "22,93", "17", "123456"},
        {"Total", "-0,50", "n.c.", "0", "1"},
        {"Chef de secteur très long nom", "9 876,01", "100,00", "1 234", "-7"},
        {"Île-de-France", "10\u202F000,00", "+3,10 %", "", "42"}};
    // Under the program's own style and style sheet.
    QVERIFY(ApplyVisualStyle(*qApp));
    const auto plainStyle = qScopeGuard([] { qApp->setStyleSheet(QString()); });
    QWidget window;
    window.resize(360, 140);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    window.setFont(font);
    QTreeWidget* ours = toolkit::CreateListView(&window, columns);
    QTreeWidget* qts = toolkit::CreateListView(&window, columns);
    qts->setItemDelegate(new QStyledItemDelegate(qts));
    for (QTreeWidget* list : {ours, qts}) {
        list->setGeometry(0, 0, 340, 120);
        list->setFocusPolicy(Qt::NoFocus); // neither one draws as focused
        toolkit::SetListRows(list, rows);
        list->setCurrentItem(list->topLevelItem(2));
    }
    qts->move(0, 0);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage mine = ours->viewport()->grab().toImage();
    const QImage reference = qts->viewport()->grab().toImage();
    QCOMPARE(mine.size(), reference.size());
    if (mine != reference) {
        mine.save(QDir::temp().filePath("quadrivel-list-ours.png"));
        reference.save(QDir::temp().filePath("quadrivel-list-qt.png"));
        QFAIL("the list's cells differ from Qt's painting (images in the temporary folder)");
    }
}

void TestApp::namesWithLineBreaksDrawnOnOneLine() {
    // A name read from the database may hold line breaks and tabs: a list
    // entry and a list row show it on one line, as if they were blanks.
    QWidget window;
    window.resize(420, 240);
    auto* broken = new QComboBox(&window);
    auto* straight = new QComboBox(&window);
    AddComboCode(broken, "Nord\nEst\r\n\tGrand", "N1");
    AddComboCode(straight, "Nord Est   Grand", "N1");
    const std::vector<toolkit::ListColumn> columns = {{"Niveau", 150, Qt::AlignLeft}};
    QTreeWidget* brokenList = toolkit::CreateListView(&window, columns);
    QTreeWidget* straightList = toolkit::CreateListView(&window, columns);
    toolkit::SetListRows(brokenList, {{"Nord\nEst\r\n\tGrand"}, {"Sud"}});
    toolkit::SetListRows(straightList, {{"Nord Est   Grand"}, {"Sud"}});
    int top = 20; // away from the mouse pointer
    for (QWidget* widget : {static_cast<QWidget*>(broken), static_cast<QWidget*>(straight)}) {
        widget->setGeometry(20, top, 200, 24);
        widget->setFocusPolicy(Qt::NoFocus); // neither one drawn as focused
        top += 30;
    }
    for (QTreeWidget* list : {brokenList, straightList}) {
        list->setGeometry(20, top, 200, 60);
        top += 65;
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(broken->grab().toImage(), straight->grab().toImage());
    QCOMPARE(brokenList->viewport()->grab().toImage(), straightList->viewport()->grab().toImage());
    QCOMPARE(GetComboCode(broken, 0), std::string("N1"));
}

QTEST_MAIN(TestApp)
#include "test_app.moc"
