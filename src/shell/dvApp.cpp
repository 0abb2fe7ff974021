#include "shell/dvApp.h"

#include "base/dvFileUtils.h"

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

namespace {

// The next scripted answer into `answer`; none left, or an empty one, cancels.
bool takeAnswer(QStringList& answers, QString& answer)
{
    if (answers.isEmpty())
        return false;
    const QString next = answers.takeFirst();
    if (next.isEmpty())
        return false;
    answer = next;
    return true;
}

} // namespace

bool TdvScriptedDialogs::OpenFileDialog(const QString& filter, QString& fileName, bool multiSelect)
{
    ++Calls;
    LastFilter = filter;
    LastFileName = fileName;
    LastMultiSelect = multiSelect;
    return takeAnswer(FileAnswers, fileName);
}

bool TdvScriptedDialogs::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& fileName)
{
    ++Calls;
    LastFilter = filter;
    LastFileName = fileName;
    LastDefaultExt = defaultExt;
    return takeAnswer(FileAnswers, fileName);
}

bool TdvScriptedDialogs::BrowseForFolder(QString& folder)
{
    ++Calls;
    LastFolder = folder;
    return takeAnswer(FolderAnswers, folder);
}
