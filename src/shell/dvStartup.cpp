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
    p->Version = QStringLiteral("2024.16.323.3707");
}

TdvStartup::TdvStartup(int argc, char** argv, const TdvConvertorClass* convertorClass)
{
    // Per-user folders are named after the application: set it before any of them is looked up.
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    gApp = new TdvApp(argc, argv);
    gInfo = new TdvInfo();
    gProject = new TdvProject();
    gMain = new TdvMain();
    applyProductIdentity(convertorClass);
    try {
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
