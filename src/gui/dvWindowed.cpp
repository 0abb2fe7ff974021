#include "gui/dvWindowed.h"

#include "gui/dvFormBase.h"
#include "gui/dvFormMain.h"
#include "gui/dvVellumAbout.h"
#include "project/dvProject.h"

#include <cstdio>
#include <memory>

namespace {
// Qt ends the process when its platform cannot start, so look before creating the application.
bool displayAvailable()
{
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (platform.isEmpty())
        return x11 || wayland;
    if (platform.startsWith(QLatin1String("xcb")))
        return x11;
    if (platform.startsWith(QLatin1String("wayland")))
        return wayland;
    return true; // offscreen, vnc, eglfs and the like need no display server
}
} // namespace

int runWindowed(int argc, char** argv)
{
    if (gProject->PureConsole()) {
        // A PureConsole run with a web source goes through the window; nothing may appear.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!displayAvailable()) {
        fputs("Vellum Converter: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
              "Set PureConsole=True to convert without a window.\n",
              stderr);
        return 1;
    }
    TdvApplication app(argc, argv);
    app.setApplicationDisplayName(gProject->Title);
    installWindowServices();

    auto window = std::make_unique<TdvFrmMain>();
    auto about = std::make_unique<TdvFrmVellumAbout>();
    dvFrmAbout = about.get();
    about->ShowAbout();
    window->show();
    int code = app.exec();
    if (code == 0)
        code = window->ExitCode;

    dvFrmAbout = nullptr;
    about.reset();
    window.reset(); // stops a run that is still going and waits for its workers
    return code;
}
