#include "shell/dvStartup.h"

#include "discovery/dvFileUtils.h"
#include "discovery/dvMatch.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"

#include <QCoreApplication>

#include <cstdio>

void applyProductIdentity(const TdvConvertorClass* convertorClass)
{
    TdvProject* p = gProject;
    p->ConvertorClass = convertorClass;
    p->SourcePattern = QStringLiteral("*.ppt?");
    p->SourceFilter = QStringLiteral("PowerPoint Workbook (*.ppt;*.pptx)|*.ppt;*.pptx");
    p->TargetExt = QStringLiteral(".pdf");
    p->ShortName = QStringLiteral("vellum");
    p->ProjectExt = QStringLiteral(".batch-") + p->ShortName;
    p->ProjectFilter = QStringLiteral("Vellum Project|*") + p->ProjectExt;
    p->Title = QStringLiteral("Vellum Converter");
    QCoreApplication::setApplicationName(p->ShortName);
    SkipLockFiles = true;
    p->Version = QStringLiteral(VELLUM_VERSION);
}

const char* const usageText =
    "Usage: vellum [PROJECT | SOURCE | -P:OPTIONS | --help | --version]\n"
    "\n"
    "Converts presentations (*.ppt?) to PDF in batch.\n"
    "\n"
    "  PROJECT          a project file (*.batch-vellum) to open\n"
    "  SOURCE           a presentation, or a folder and pattern, to take as the source\n"
    "  -P:NAME=VALUE;.. options for this run, separated by \";\" or \",\" (quote the argument)\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "With PureConsole=True the project runs without a window, for example:\n"
    "  vellum '-P:Source=/home/me/talks/*.ppt?;Target=/home/me/pdf;Subdir=True;PureConsole=True'\n"
    "\n"
    "Options: Source, Target, Subdir, ThreadsCount (1), IsOverwrite (True, False or Skip),\n"
    "KeepTargetSubdirs (True), KeepFileTime, DeleteSource, RenameSource, SkipHidden, RegExt, Notes,\n"
    "ReadOnly, LogFile, PureConsole, RunAndClose, Daemon (0), Timeout (300 s), OfficeRestart (200),\n"
    "MaxImageResolution (0: keep images), PDFWriter, MultiInstance.\n"
    "\n"
    "Exit codes: 0 after a run (also when some files failed), 1 when the run could not go on,\n"
    "2 for an unknown option, 130/143 when stopped by SIGINT/SIGTERM.\n";

// Long options are answered before anything else: a default project must never run in place of --help.
static void handleLongOptions(const QString& arg)
{
    if (!arg.startsWith(QLatin1String("--")))
        return;
    if (arg == QLatin1String("--help")) {
        fputs(usageText, stdout);
        throw TdvExit(0);
    }
    if (arg == QLatin1String("--version")) {
        printf("%s %s\n", qPrintable(gProject->Title), qPrintable(gProject->Version));
        throw TdvExit(0);
    }
    fprintf(stderr, "vellum: unknown option %s (see vellum --help)\n", arg.toLocal8Bit().constData());
    throw TdvExit(2);
}

TdvProjectHost shellProjectHost()
{
    TdvProjectHost host;
    host.ProgramPath = [] { return gApp ? gApp->ProgramPath : currentProgramPath(); };
    host.FirstParam = [] { return gApp ? gApp->FirstParam : QString(); };
    host.OpenFileDialog = [](const QString& filter, QString& fileName) {
        return gApp && gApp->OpenFileDialog(filter, fileName, false);
    };
    host.SaveFileDialog = [](const QString& filter, const QString& defaultExt, QString& fileName) {
        return gApp && gApp->SaveFileDialog(filter, defaultExt, fileName);
    };
    host.OpenNotice = [](const QString& argument, const QString& extra) {
        if (gInfo)
            gInfo->OpenLink(QString(), argument, extra);
    };
    return host;
}

TdvStartup::TdvStartup(int argc, char** argv, const TdvConvertorClass* convertorClass)
{
    // Per-user folders are named after the application: set it before any of them is looked up.
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    gApp = new TdvApp(argc, argv);
    gInfo = new TdvInfo();
    gProject = new TdvProject(shellProjectHost());
    gMain = new TdvMain();
    applyProductIdentity(convertorClass);
    try {
        handleLongOptions(gApp->FirstParam);
        gProject->ParseCommandLine();
    } catch (...) {
        teardown();
        throw;
    }
    gMatch = new TdvMatch();
}

TdvStartup::~TdvStartup()
{
    teardown();
}

void TdvStartup::teardown()
{
    delete gMatch;
    gMatch = nullptr;
    delete gMain;
    gMain = nullptr;
    delete gProject;
    gProject = nullptr;
    delete gInfo;
    gInfo = nullptr;
    delete gApp;
    gApp = nullptr;
}

bool TdvStartup::IsConsoleMode()
{
    return gProject->PureConsole() && !gProject->Source().contains(QLatin1String("http"));
}

int runConsole()
{
    try {
        gMain->Run();
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
        return 1;
    }
    return 0;
}
