#include "shell/dvApp.h"

#include "discovery/dvFileUtils.h"

TdvApp* gApp = nullptr;

TdvApp::TdvApp(int argc, char** argv)
{
    ProgramPath = currentProgramPath();
    // The shell has already split the arguments and removed their quotes. A path's bytes must survive even
    // when they are not UTF-8.
    if (argc > 1 && argv)
        FirstParam = decodeFileName(QByteArray(argv[1]));
}

bool TdvApp::OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect)
{
    return Dialogs && Dialogs->OpenFileDialog(filter, fileName, multiSelect);
}

bool TdvApp::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName)
{
    return Dialogs && Dialogs->SaveFileDialog(filter, defaultExt, fileName);
}

bool TdvApp::BrowseForFolder(QString& folder)
{
    return Dialogs && Dialogs->BrowseForFolder(folder);
}

bool TdvScriptedDialogs::OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect)
{
    ++Calls;
    LastFilter = filter;
    LastFileName = fileName;
    LastMultiSelect = multiSelect;
    if (FileAnswers.isEmpty())
        return false;
    const QString answer = FileAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    fileName = answer;
    return true;
}

bool TdvScriptedDialogs::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName)
{
    ++Calls;
    LastFilter = filter;
    LastFileName = fileName;
    LastDefaultExt = defaultExt;
    if (FileAnswers.isEmpty())
        return false;
    const QString answer = FileAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    fileName = answer;
    return true;
}

bool TdvScriptedDialogs::BrowseForFolder(QString& folder)
{
    ++Calls;
    LastFolder = folder;
    if (FolderAnswers.isEmpty())
        return false;
    const QString answer = FolderAnswers.takeFirst();
    if (answer.isEmpty())
        return false;
    folder = answer;
    return true;
}
