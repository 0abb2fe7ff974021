#pragma once

#include "testSupport.h"

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TdvFrmMain;
class TdvScriptedDialogs;

// The one window of a GUI test program, built once by the program's main().
TdvFrmMain* window();
// Answers for the next dialogs of the current test.
TdvScriptedDialogs* dialogs();
// Links and paths the window handed to the desktop during the current test.
QStringList& openedLinks();

// Questions the window asked during the current test, and the answers it gets, first to last; with no
// answer left it gets Cancel.
QStringList& askedQuestions();
QList<QMessageBox::StandardButton>& askAnswers();
// Messages the window showed during the current test (its ShowError).
QStringList& shownErrors();
// Notifications the window sent to the desktop ("summary|body") during the current test.
QStringList& notifications();

// Puts the window back to a fresh state: new project, empty list, fresh dialogs and link recorder.
void resetWindow();

// Drops local paths on a control as the desktop would: on the window, at the control's centre.
bool dropOn(QWidget* control, const QStringList& paths);

// Runs fn once the next modal loop has started (or soon), so a test can act inside a modal form.
void whenModal(std::function<void()> fn);

// Rows of the list in listing order as "state|source path|first line of the result".
QStringList rows();

// Processes events until pred holds or timeoutMs passes; answers pred().
bool waitFor(const std::function<bool()>& pred, int timeoutMs = 10000);

// Runs the GUI test program: the application, the singletons with convertorClass, the window, the tests.
int runGuiTests(int argc, char** argv, const TdvConvertorClass* convertorClass);
