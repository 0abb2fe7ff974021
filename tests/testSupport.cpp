#include "testSupport.h"

#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"
#include "shell/dvStartup.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>
#include <cstdlib>

namespace {
// Tests never touch the real user's folders.
struct HomeRedirect
{
    QTemporaryDir dir;
    HomeRedirect()
    {
        const QByteArray home = QFile::encodeName(dir.path());
        setenv("HOME", home.constData(), 1);
        setenv("XDG_DATA_HOME", (home + "/.local/share").constData(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").constData(), 1);
        setenv("XDG_CACHE_HOME", (home + "/.cache").constData(), 1);
    }
};
HomeRedirect& homeRedirect()
{
    static HomeRedirect redirect;
    return redirect;
}
const bool redirected = (homeRedirect(), true);
} // namespace

QString testHome()
{
    return homeRedirect().dir.path();
}

QString withoutIsolationNote(QString text)
{
    static const QRegularExpression note(QStringLiteral(
        "(; )?Offices are not isolated here: .*?; a deck can reach the network and the user's files"));
    text.remove(note);
    text.replace(QStringLiteral(" ()"), QString());
    if (text.startsWith(QStringLiteral("; ")))
        text.remove(0, 2);
    return text;
}

QString corpusDir()
{
    const QByteArray env = qgetenv("VELLUM_CORPUS");
    return env.isEmpty() ? QDir::cleanPath(QStringLiteral(VELLUM_CORPUS)) : QString::fromLocal8Bit(env);
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

TempTree::TempTree() = default;

QString TempTree::path(const QString& relative) const
{
    return relative.isEmpty() ? FDir.path() + QLatin1Char('/') : FDir.path() + QLatin1Char('/') + relative;
}

QString TempTree::write(const QString& relative, const QByteArray& content)
{
    const QString full = path(relative);
    QDir().mkpath(QFileInfo(full).absolutePath());
    QFile file(full);
    if (file.open(QIODevice::WriteOnly))
        file.write(content);
    return full;
}

QString TempTree::mkdir(const QString& relative)
{
    const QString full = path(relative);
    QDir().mkpath(full);
    return full.endsWith(QLatin1Char('/')) ? full : full + QLatin1Char('/');
}

TestSingletons::TestSingletons(const TdvConvertorClass* convertorClass, bool withInfo)
{
    (void)redirected;
    // Every test starts with no recent list, usage record or default project of an earlier one.
    for (const char* sub : {"/.local/share", "/.config"})
        QDir(testHome() + QLatin1String(sub)).removeRecursively();
    gApp = new TdvApp();
    if (withInfo) {
        gInfo = new TdvInfo(gApp->ProgramPath, productName());
        gInfo->Opener = [this](const QString& link) { OpenedLinks.append(link); };
    }
    gProject = new TdvProject(shellProjectHost());
    gMain = new TdvMain(*gProject, gInfo);
    gMain->ShowProgress = false;
    applyProductIdentity(convertorClass);
}

TestSingletons::~TestSingletons()
{
    delete gMain;
    gMain = nullptr;
    delete gProject;
    gProject = nullptr;
    delete gInfo;
    gInfo = nullptr;
    delete gApp;
    gApp = nullptr;
}

QList<qint64> processesNaming(const QByteArray& marker)
{
    QList<qint64> found;
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && pid != QCoreApplication::applicationPid() &&
            readAll(QStringLiteral("/proc/%1/cmdline").arg(entry)).contains(marker))
            found << pid;
    }
    return found;
}

bool waitUntil(const std::function<bool()>& pred, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred() && clock.elapsed() < ms)
        QThread::msleep(50);
    return pred();
}

TdvRunOptions projectRunOptions()
{
    return gProject ? gProject->RunOptions() : TdvRunOptions();
}
