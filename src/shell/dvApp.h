#pragma once

#include "base/dvPlaces.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// The open, save and folder dialogs. The core has no widgets: the window installs the real dialogs, tests
// install answers given in advance, and without either every dialog reports cancel.
class TdvDialogs
{
public:
    virtual ~TdvDialogs() = default;
    virtual bool OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect) = 0;
    virtual bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName) = 0;
    // folder holds the starting folder and, when the user chooses one, the choice; false on cancel.
    virtual bool BrowseForFolder(QString& folder) = 0;
};

// A dialog provider whose answers are set in advance: each call takes the next answer of its kind, and a
// call with no answer left cancels. The last call's arguments are kept for checks.
class TdvScriptedDialogs : public TdvDialogs
{
public:
    bool OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect) override;
    bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName) override;
    bool BrowseForFolder(QString& folder) override;

    void setNextFileName(const QString& answer) { FileAnswers.append(answer); }
    void setNextFolder(const QString& answer) { FolderAnswers.append(answer); }
    QStringList FileAnswers;   // an empty text cancels
    QStringList FolderAnswers; // an empty text cancels
    QString LastFilter, LastFileName, LastDefaultExt, LastFolder;
    bool LastMultiSelect = false;
    int Calls = 0;
};

// Application utilities: where the program is and what its first argument was.
class TdvApp
{
public:
    TdvApp(int argc = 0, char** argv = nullptr);

    QString ProgramPath;
    // The first argument that is not one of the toolkit's own options (-style, -reverse, -platform, ...),
    // which go to Qt and are never taken for a path or a switch.
    QString FirstParam;
    // Every such argument in order: a desktop hands several files to one program.
    QStringList Params;
    // --convert: the window converts the sources given as soon as it is up.
    bool ConvertOnStart = false;

    bool OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect);
    bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName);
    bool BrowseForFolder(QString& folder);

    std::unique_ptr<TdvDialogs> Dialogs;
};

// How many arguments from argv[i] on are one of Qt's own command-line options: 0 for none, 1 for an option
// alone ("-reverse", "-style=fusion"), 2 for an option and its value ("-style fusion").
int qtOptionLength(int argc, char** argv, int i);

extern TdvApp* gApp;
