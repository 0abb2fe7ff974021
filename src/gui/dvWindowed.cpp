#include "gui/dvWindowed.h"

#include "gui/dvFormBase.h"
#include "gui/dvFormMain.h"
#include "gui/dvVellumAbout.h"
#include "project/dvProject.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

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
// Documentation screenshots (VELLUM_SCREENSHOT=<folder>): the window, the Config dialog, the about box, the
// window during a run and after it; then the window closes.
void takeScreenshots(TdvFrmMain* window, TdvFrmAbout* about, const QString& folder)
{
    QDir().mkpath(folder);
    const auto save = [folder](QWidget* widget, const char* name) {
        widget->grab().save(folder + QLatin1Char('/') + QLatin1String(name));
    };
    QTimer::singleShot(1000, window, [=] {
        save(window, "main-window.png");
        // Config is modal: it is taken and closed from within its own event loop.
        QTimer::singleShot(700, window, [=] {
            if (QWidget* cfg = QApplication::activeModalWidget()) {
                save(cfg, "config-dialog.png");
                cfg->close();
            }
        });
        window->aConfig->trigger();
        QTimer::singleShot(700, about, [=] {
            save(about, "about-box.png");
            about->close();
        });
        about->ShowAbout();
        window->aConvert->trigger();
        auto* poll = new QTimer(window);
        auto during = std::make_shared<bool>(false);
        QObject::connect(poll, &QTimer::timeout, window, [=] {
            if (!*during && window->IsRunning() && window->DoneCount() > 0) {
                *during = true;
                save(window, "window-running.png");
            } else if (!window->IsRunning()) {
                poll->stop();
                QTimer::singleShot(500, window, [=] {
                    save(window, "window-after-run.png");
                    window->close();
                });
            }
        });
        poll->start(20);
    });
}

} // namespace

QStringList translationFolders()
{
    // Beside the program in a build tree, else in the installation the program belongs to, else where this
    // build installs them.
    const QString program = QCoreApplication::applicationDirPath();
    return {program + QStringLiteral("/translations"),
            QDir::cleanPath(program + QStringLiteral("/../share/vellum/translations")),
            QStringLiteral(VELLUM_DATADIR "/vellum/translations")};
}

void installTranslators(const QLocale& locale, const QStringList& folders)
{
    // Qt's own texts (its dialogs, About Qt) and ours, each in the person's language where there is one.
    auto* qt = new QTranslator(QCoreApplication::instance());
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
    for (const QString& folder : folders) {
        auto* own = new QTranslator(QCoreApplication::instance());
        if (own->load(locale, QStringLiteral("vellum"), QStringLiteral("_"), folder)) {
            QCoreApplication::installTranslator(own);
            break;
        }
        delete own;
    }
}

int runWindowed(int argc, char** argv)
{
    if (gProject->PureConsole()) {
        // A PureConsole run with a web source goes through the window; nothing may appear.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!displayAvailable()) {
        fputs(
            "Vellum Converter: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are not set).\n"
            "Set PureConsole=True to convert without a window.\n",
            stderr);
        return 1;
    }
    TdvApplication app(argc, argv);
    installTranslators(QLocale());
    installWindowServices();

    auto window = std::make_unique<TdvFrmMain>();
    auto about = std::make_unique<TdvFrmVellumAbout>();
    dvFrmAbout = about.get();
    about->ShowAbout();
    window->show();
    const QString screenshots = qEnvironmentVariable("VELLUM_SCREENSHOT");
    if (!screenshots.isEmpty())
        takeScreenshots(window.get(), about.get(), screenshots);
    int code = app.exec();
    if (code == 0)
        code = window->ExitCode;

    dvFrmAbout = nullptr;
    about.reset();
    window.reset(); // stops a run that is still going and waits for its workers
    return code;
}
