#include "shell/dvApp.h"

#include "discovery/dvFileUtils.h"

#include <QFile>
#include <QFileInfo>

#include <climits>
#include <unistd.h>

TdvApp* gApp = nullptr;

QString currentProgramPath()
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0)
        return QString();
    return QFile::decodeName(QByteArray(buffer, int(n)));
}

QString changeFileExt(const QString& path, const QString& ext)
{
    const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    // A dot at the very start of the name is a hidden file's mark, not an extension.
    if (dot > nameStart)
        return path.left(dot) + ext;
    return path + ext;
}

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
