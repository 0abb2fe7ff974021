#include "shell/dvApp.h"

#include "base/dvFileUtils.h"

TdvApp* gApp = nullptr;

int qtOptionLength(int argc, char** argv, int i)
{
    static const char* const withValue[] = {"platform",
                                            "platformpluginpath",
                                            "platformtheme",
                                            "plugin",
                                            "qwindowgeometry",
                                            "qwindowtitle",
                                            "qwindowicon",
                                            "style",
                                            "stylesheet",
                                            "session",
                                            "display",
                                            "name",
                                            "visual",
                                            "ncols",
                                            "cmap",
                                            "geometry",
                                            "title"};
    static const char* const alone[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};
    QByteArray arg(argv[i]);
    if (!arg.startsWith('-') || arg.size() < 2)
        return 0;
    arg.remove(0, arg.startsWith("--") ? 2 : 1);
    const qsizetype eq = arg.indexOf('=');
    const QByteArray name = eq >= 0 ? arg.left(eq) : arg;
    for (const char* option : withValue)
        if (name == option)
            return eq >= 0 || i + 1 >= argc ? 1 : 2;
    for (const char* option : alone)
        if (arg == option)
            return 1;
    return arg.startsWith("qmljsdebugger=") ? 1 : 0;
}

TdvApp::TdvApp(int argc, char** argv)
{
    ProgramPath = currentProgramPath();
    // The shell has already split the arguments and removed their quotes. A path's bytes must survive even
    // when they are not UTF-8.
    for (int i = 1; argv && i < argc; ++i) {
        const int qt = qtOptionLength(argc, argv, i);
        if (qt > 0) {
            i += qt - 1;
            continue;
        }
        Params.append(decodeFileName(QByteArray(argv[i])));
    }
    if (!Params.isEmpty())
        FirstParam = Params.first();
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
