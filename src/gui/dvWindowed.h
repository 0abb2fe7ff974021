#pragma once

#include <QStringList>

class QLocale;

// The windowed mode: the application, the main window, the about box and the event loop. Answers the exit
// code: 1 when no display can be used or an unattended run could not write its log, else 0.
int runWindowed(int argc, char** argv);

// Where the program's translations are looked for: beside the program, then where the package installs them.
QStringList translationFolders();
// Loads Qt's translation and the program's for the locale, where there are such files; the program's from the
// first of the folders that has one.
void installTranslators(const QLocale& locale, const QStringList& folders = translationFolders());
