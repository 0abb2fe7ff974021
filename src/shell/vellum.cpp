// The program entry: start-up with this product's converter class, then the mode of the run.
#include "base/dvError.h"
#include "engine/dvConvertor.h"
#include "engine/dvProcesses.h"
#include "project/dvProject.h"
#include "shell/dvStartup.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>

#ifdef VELLUM_HAS_OFFICE
#include "conversion/dvOffice.h"
#include "conversion/dvOfficeServer.h"
#include "conversion/dvSandbox.h"
#include "conversion/dvVellum.h"
using ProductConvertor = TdvVellum;
#else
using ProductConvertor = TdvConvertor;
#endif

#ifdef VELLUM_HAS_GUI
int runWindowed(int argc, char** argv);
#endif

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<ProductConvertor> productClass;
#ifdef VELLUM_HAS_OFFICE
    registerOfficeAutomation();
#endif
    std::unique_ptr<TdvStartup> startup;
    try {
        startup = std::make_unique<TdvStartup>(argc, argv, &productClass);
    } catch (const TdvExit& e) {
        return e.Code;
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
        return 1;
    }

    // A closed terminal, a logout or a service manager's stop end the offices with the program, in every
    // mode.
    installTerminationHandlers();
    int code = 0;
    if (startup->OfficeServer().Given()) {
#ifdef VELLUM_HAS_OFFICE
        // Its OfficeRestart is checked as a run's options are.
        for (const QString& problem : gProject->OptionProblems())
            fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        QCoreApplication app(argc, argv);
        TdvOfficeServerSettings settings;
        settings.Host = startup->OfficeServer().Host;
        settings.Port = startup->OfficeServer().Port;
        settings.SocketPath = startup->OfficeServer().SocketPath;
        settings.RestartAfter = gProject->OfficeRestart();
        settings.CallLimit = gProject->Timeout();
        settings.MemoryLimitMiB = officeMemoryLimitMiB(gProject->OfficeMemoryLimit(), 1);
        code = runOfficeServer(settings);
#else
        fputs("This build has no office and cannot run one for other machines\n", stderr);
        code = 1;
#endif
    } else if (TdvStartup::IsConsoleMode()) {
#ifdef VELLUM_HAS_OFFICE
        QCoreApplication app(argc, argv);
        code = runConsole();
#else
        fputs("This build has no office and cannot convert presentations\n", stderr);
        code = 1;
#endif
    } else {
#ifdef VELLUM_HAS_GUI
        code = runWindowed(argc, argv);
#else
        fputs("This build has no window; run with PureConsole=True\n", stderr);
        code = 1;
#endif
    }
    startup.reset();
    killAllChildGroups();
    return code;
}
