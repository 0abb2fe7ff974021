#include "conversion/dvOffice.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvOfficePipe.h"
#include "conversion/dvSandbox.h"
#include "conversion/dvUno.h"
#include "engine/dvConvertor.h"
#include "engine/dvProcesses.h"

#include <com/sun/star/awt/PrinterServer.hpp>
#include <com/sun/star/awt/Toolkit.hpp>
#include <com/sun/star/awt/XFontMappingUse.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/frame/Desktop.hpp>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

namespace {

constexpr int kStartLimitMs = 60000;
constexpr int kQuitLimitMs = 15000;
// What the allocation hook loaded into every office says when an allocation fails.
constexpr char kOutOfMemory[] = "vellum-office-memory: an allocation failed";
// Bumped when the template profile's settings change, so an old template is not reused.
constexpr int kProfileFormat = 7;

} // namespace

QString officeProgramFolder()
{
    const QByteArray env = qgetenv("VELLUM_OFFICE_PROGRAM");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral(VELLUM_OFFICE_PROGRAM);
}

namespace {

QString sofficePath()
{
    return officeProgramFolder() + QStringLiteral("/soffice");
}

QString profileUrl(const QString& dir)
{
    return QUrl::fromLocalFile(dir).toString(QUrl::FullyEncoded);
}

// The flags every office of ours runs with: no window, no dialogs, no recovery, no lock check. The cache of
// the system's shared extensions is the profile's own too: an office of root's would otherwise fill the
// system's (/var/spool/libreoffice) with folders only root may read, and every other user's office would
// then fail to start.
QStringList officeArguments(const QString& profile)
{
    return {QStringLiteral("-env:UserInstallation=") + profileUrl(profile),
            QStringLiteral("-env:UNO_SHARED_PACKAGES_CACHE=") + profileUrl(profile) +
                QStringLiteral("/shared-extensions"),
            QStringLiteral("--headless"),
            QStringLiteral("--invisible"),
            QStringLiteral("--nocrashreport"),
            QStringLiteral("--nodefault"),
            QStringLiteral("--nologo"),
            QStringLiteral("--nofirststartwizard"),
            QStringLiteral("--norestore"),
            QStringLiteral("--nolockcheck")};
}

// The allocation hook of the offices: installed beside the program (bin/../lib/vellum), or in the build tree.
QString memoryHook()
{
    const QString program = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    const QStringList candidates = {QFileInfo(program).absolutePath() +
                                        QStringLiteral("/../lib/vellum/libvellum-office-memory.so"),
                                    QString::fromLocal8Bit(VELLUM_MEMORY_HOOK_INSTALLED),
                                    QString::fromLocal8Bit(VELLUM_MEMORY_HOOK_BUILT)};
    for (const QString& path : candidates)
        if (QFileInfo::exists(path))
            return QDir::cleanPath(path);
    return QString();
}

// How one office process starts: where its temporary files and its output go, and what isolates it.
struct OfficeStart
{
    QString TempDir;
    QString LogFile;
    bool Isolated = false;
    QString Root; // the profile folder: its tmp/ becomes the office's /tmp
    QStringList Writable;
    QString PrintJob;
    bool Network = false;
    qint64 MemoryLimit = 0; // bytes
};

// Starts the office launcher in a session (and so a process group) of its own, registered for the
// program's exit and signal handlers. Orphaned members of the group come back to this process (subreaper),
// so that every one of them is reaped here. The child gets default signal handling back (no SIGPIPE ignored).
// `how.PrintJob` is the file its PDF printer takes its output path from.
// Answers 0, with `isolationFailure` saying why, when the office was to be isolated and cannot be.
pid_t spawnOffice(const QStringList& arguments, const OfficeStart& how, QString* isolationFailure = nullptr)
{
    static std::once_flag once;
    std::call_once(once, [] {
        adoptOrphans();
        // A write to the pipe of an office that has just died must fail with an error the bridge turns
        // into an exception, not end this program.
        signal(SIGPIPE, SIG_IGN);
    });

    TdvSpawn spawn;
    spawn.Program = sofficePath();
    spawn.Arguments = arguments;
    spawn.LogFile = how.LogFile; // what the office says goes into its profile folder, for a failed start
    spawn.MemoryLimit = how.MemoryLimit;
    spawn.Isolated = how.Isolated;
    spawn.Root = how.Root;
    spawn.Writable = how.Writable;
    spawn.Network = how.Network;
    if (how.Isolated) {
        spawn.Readable = userFontFolders();
        // An office installed outside /usr brings its own folder.
        const QString installation = QDir::cleanPath(officeProgramFolder() + QStringLiteral("/.."));
        if (!installation.startsWith(QLatin1String("/usr/")))
            spawn.Readable << installation;
    }

    // The office's own temporary files go into its profile folder, so they go with it, also after a kill.
    bool arenas = false;
    for (char** e = environ; *e; ++e) {
        arenas = arenas || strncmp(*e, "MALLOC_ARENA_MAX=", 17) == 0;
        if ((how.TempDir.isEmpty() || strncmp(*e, "TMPDIR=", 7) != 0) &&
            strncmp(*e, "VELLUM_PRINT_JOB=", 17) != 0 && strncmp(*e, "SHELL=", 6) != 0)
            spawn.Environment << QString::fromLocal8Bit(*e);
    }
    if (!how.TempDir.isEmpty())
        spawn.Environment << QStringLiteral("TMPDIR=") + how.TempDir;
    // The printer's command runs in the shell SHELL names, whatever the user's login shell is.
    spawn.Environment << QStringLiteral("SHELL=/bin/sh");
    if (!how.PrintJob.isEmpty())
        spawn.Environment << QStringLiteral("VELLUM_PRINT_JOB=") + how.PrintJob;
    // The office serves our calls on threads of a pool, and the C library gives each new thread a heap of
    // its own: freed memory then stays spread over many heaps, and the office grows by megabytes per deck.
    // Its document work runs under one lock anyway, so one heap costs no time and keeps it at the size of
    // an office that converts on its main thread.
    if (!arenas)
        spawn.Environment << QStringLiteral("MALLOC_ARENA_MAX=1");
    // Under a memory limit, the office's log tells when an allocation failed.
    const QString hook = memoryHook();
    if (how.MemoryLimit > 0 && !hook.isEmpty()) {
        QString preload = QStringLiteral("LD_PRELOAD=") + hook;
        for (qsizetype i = 0; i < spawn.Environment.size(); ++i)
            if (spawn.Environment[i].startsWith(QLatin1String("LD_PRELOAD=")))
                preload += QLatin1Char(' ') + spawn.Environment.takeAt(i).mid(11);
        spawn.Environment << preload;
        spawn.Readable << hook;
    }

    // The group is registered before any signal can find it unregistered.
    sigset_t all;
    sigfillset(&all);
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &all, &old);
    pid_t pid = 0;
    try {
        pid = spawnProcess(spawn, isolationFailure);
        if (pid > 0)
            registerChildGroup(pid);
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return pid;
}

bool hasExited(pid_t pid, int* code = nullptr)
{
    siginfo_t info = {};
    if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return errno == ECHILD;
    if (info.si_pid != pid)
        return false;
    if (code)
        *code = info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
    return true;
}

// Waits up to boundMs for the launcher to end, then kills the group, then reaps every member. Answers the
// launcher's exit code (128 + signal when a signal ended it), or -1 when it had to be killed.
int endGroup(pid_t group, int boundMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    int code = -1;
    while (!hasExited(group, &code) && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // The launcher is not reaped yet, so the group id cannot have been given to anyone else.
    ::kill(-group, SIGKILL);
    const auto reapUntil = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int status = 0;
        const pid_t got = waitpid(-group, &status, WNOHANG);
        if (got < 0 && errno == ECHILD)
            break;
        if (got > 0)
            continue;
        if (std::chrono::steady_clock::now() > reapUntil)
            break; // a member stuck in the kernel; it is reaped whenever it ends, never waited for here
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    unregisterChildGroup(group);
    return code;
}

// The last lines an office printed, for the message of a failed start.
QString officeSaid(const QString& logFile)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    file.seek(std::max<qint64>(0, file.size() - 2000));
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    while (lines.size() > 3)
        lines.removeFirst();
    return lines.join(QLatin1Char(' ')).simplified();
}

// How an office's end reads to a person: its exit code, or the signal that ended it.
QString exitMeaning(int code)
{
    if (code > 128 && code < 128 + 65)
        return QStringLiteral("ended by signal %1, %2")
            .arg(code - 128)
            .arg(QString::fromLocal8Bit(strsignal(code - 128)));
    if (code < 0)
        return QStringLiteral("it did not end within %1 s").arg(kStartLimitMs / 1000);
    return QStringLiteral("exit code %1").arg(code);
}

QString startFailure(const QString& what, int code, const QString& logFile)
{
    QString message = QStringLiteral("%1 (%2)").arg(what, exitMeaning(code));
    const QString said = officeSaid(logFile);
    if (!said.isEmpty())
        message += QStringLiteral(": ") + said;
    return message;
}

// Copies a file (a link as the file it names); answers 0 or the errno of the step that failed.
int copyFile(const QString& from, const QString& to)
{
    const int in = ::open(encodeFileName(from).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return errno;
    struct stat st;
    const mode_t mode = ::fstat(in, &st) == 0 ? (st.st_mode & 0777) : 0600;
    const int out = ::open(encodeFileName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = copyDescriptor(in, out);
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    return error;
}

// Copies a folder tree; answers empty text, or what failed in the system's words ("Too many open files").
QString copyTree(const QString& from, const QString& to)
{
    QDir source(from);
    const auto madeFolder = [](const QString& path) {
        QString reason;
        return makeFolder(path, &reason) ? QString() : reason;
    };
    if (QString reason = madeFolder(to); !reason.isEmpty())
        return reason;
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(path);
        const QFileInfo info = it.fileInfo();
        if (info.isDir() && !info.isSymLink()) {
            if (QString reason = madeFolder(target); !reason.isEmpty())
                return reason;
        } else if (const int error = copyFile(path, target); error != 0) {
            return systemMessage(error);
        }
    }
    return QString();
}

const char kSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    // No lock files beside the user's documents, also after a crash.
    "<item oor:path=\"/org.openoffice.Office.Common/Misc\"><prop oor:name=\"UseLocking\" oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    // Load VBA code, so that a macro deck shows its libraries; load settings never run macros.
    "<item oor:path=\"/org.openoffice.Office.Impress/Filter/Import/VBA\"><prop oor:name=\"Load\" "
    "oor:op=\"fuse\">"
    "<value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"MacroSecurityLevel\""
    " oor:op=\"fuse\"><value>3</value></prop></item>\n"
    // Nothing to recover in a converter's office: saving recovery data only costs time.
    "<item oor:path=\"/org.openoffice.Office.Recovery/AutoSave\"><prop oor:name=\"Enabled\" oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Recovery/RecoveryInfo\"><prop oor:name=\"Enabled\" "
    "oor:op=\"fuse\">"
    "<value>false</value></prop></item>\n"
    // Per-document work a hidden conversion never shows: the recent-documents list with a thumbnail rendered
    // from the first slide of each deck, and the slide sorter's previews in the view each load makes.
    "<item oor:path=\"/org.openoffice.Office.Common/History\"><prop oor:name=\"PickListSize\" "
    "oor:op=\"fuse\"><value>0</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/History\"><prop oor:name=\"RecentDocsThumbnail\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Impress/MultiPaneGUI/SlideSorterBar/Visible\"><prop "
    "oor:name=\"ImpressView\" oor:op=\"fuse\"><value>false</value></prop></item>\n"
    // Printing: a slide larger than the paper is fitted onto it instead of cropped, and hidden slides are
    // left out, as the export leaves them out.
    "<item oor:path=\"/org.openoffice.Office.Impress/Print/Page\"><prop oor:name=\"PageSize\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Impress/Print/Other\"><prop oor:name=\"HiddenPage\" "
    "oor:op=\"fuse\"><value>false</value></prop></item>\n"
    // The office's font replacement table is on; its entries depend on the machine's fonts.
    "<item oor:path=\"/org.openoffice.Office.Common/Font/Substitution\"><prop oor:name=\"Replacement\" "
    "oor:op=\"fuse\"><value>true</value></prop></item>\n"
    // Where an office cannot be isolated, settings stop what they can of a deck's reach: links of an
    // untrusted document are not followed, and the office's own web access goes to a proxy that is not
    // there, so that it fails at once instead of reaching any address a deck names.
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"BlockUntrustedRefererLinks\" oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetProxyType\" "
    "oor:op=\"fuse\"><value>2</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetHTTPProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetHTTPProxyPort\" "
    "oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetHTTPSProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetHTTPSProxyPort\" "
    "oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetFTPProxyName\" "
    "oor:op=\"fuse\"><value>127.0.0.1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetFTPProxyPort\" "
    "oor:op=\"fuse\"><value>1</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Inet/Settings\"><prop oor:name=\"ooInetNoProxy\" "
    "oor:op=\"fuse\"><value></value></prop></item>\n";

// The office's font replacement table, for names that a shipped font matches by design but that the office
// would set in its default font. The office applies only entries marked "Always", and those also to a font
// the machine has: so the table names only fonts the machine lacks, and the template's key follows it.
QByteArray fontReplacementSettings()
{
    QByteArray text;
    int n = 0;
    for (const auto& [font, replacement] : fontReplacements(installedFontFamilies())) {
        text += "<item oor:path=\"/org.openoffice.Office.Common/Font/Substitution/FontPairs\"><node "
                "oor:name=\"_" +
                QByteArray::number(n++) +
                "\" oor:op=\"replace\">"
                "<prop oor:name=\"Always\" oor:op=\"fuse\"><value>true</value></prop>"
                "<prop oor:name=\"OnScreenOnly\" oor:op=\"fuse\"><value>false</value></prop>"
                "<prop oor:name=\"ReplaceFont\" oor:op=\"fuse\"><value>" +
                font.toHtmlEscaped().toUtf8() +
                "</value></prop>"
                "<prop oor:name=\"SubstituteFont\" oor:op=\"fuse\"><value>" +
                replacement.toHtmlEscaped().toUtf8() + "</value></prop></node></item>\n";
    }
    return text;
}

// The virtual PDF printer of every office: a command printer whose PDF goes to the path written in the
// office's job file, which the printer route sets before each job (VELLUM_PRINT_JOB names that file in the
// office's environment). Without a job file the command writes nothing.
QByteArray pdfPrinterSettings()
{
    return "[" + virtualPdfPrinter().toUtf8() +
           "]\n"
           "Printer=SGENPRT/" +
           virtualPdfPrinter().toUtf8() +
           "\n"
           "DefaultPrinter=0\n"
           "Location=\n"
           "Comment=PDF files for Vellum Converter\n"
           "Command=cat > \"$(cat \"$VELLUM_PRINT_JOB\")\"\n"
           "QuickCommand=\n"
           "Features=pdf=\n"
           "Copies=1\n";
}

// An office whose profile has not yet seen its version takes itself for freshly upgraded, and runs its
// graphics self-tests on every start: seconds of CPU per office before the first deck. The template records
// the office's version as seen, so no copy of it runs them.
QByteArray seenVersionSetting()
{
    QFile settings(officeProgramFolder() + QStringLiteral("/../share/registry/main.xcd"));
    if (!settings.open(QIODevice::ReadOnly))
        return {};
    static const QRegularExpression pattern(
        QStringLiteral("<prop oor:name=\"ooSetupVersion\">\\s*<value>([0-9.]+)</value>"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(settings.readAll()));
    if (!match.hasMatch())
        return {};
    return "<item oor:path=\"/org.openoffice.Setup/Product\"><prop oor:name=\"ooSetupLastVersion\" "
           "oor:op=\"fuse\"><value>" +
           match.captured(1).toLatin1() + "</value></prop></item>\n";
}

// What tells two builds of one office version apart: the regular build and the one without a printer
// manager (-nogui) share the program folder and the build id, but not their main library.
QByteArray officeFlavour()
{
    for (const char* name : {"/libmergedlo.so", "/soffice.bin"}) {
        struct stat st;
        const QByteArray path = QFile::encodeName(officeProgramFolder() + QLatin1String(name));
        if (::stat(path.constData(), &st) == 0)
            return QByteArray(name) + ' ' + QByteArray::number(qint64(st.st_size)) + ' ' +
                   QByteArray::number(qint64(st.st_mtim.tv_sec)) + '.' +
                   QByteArray::number(qint64(st.st_mtim.tv_nsec));
    }
    return {};
}

QString templateKeyWith(const QByteArray& fontTable)
{
    // A new office build gets a new template: a profile made by another version, or by another build of
    // it, may not fit it, and starts slower when it does not.
    const QSettings version(officeProgramFolder() + QStringLiteral("/versionrc"), QSettings::IniFormat);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(officeProgramFolder().toUtf8());
    hash.addData(version.value(QStringLiteral("Version/buildid")).toString().toUtf8());
    hash.addData(officeFlavour());
    hash.addData(QByteArray::number(kProfileFormat));
    // Installing a font the table stands in for gives a new template, which leaves that font alone.
    hash.addData(fontTable);
    return QString::fromLatin1(hash.result().toHex().left(12));
}

} // namespace

QString officeTemplateKey()
{
    return templateKeyWith(fontReplacementSettings());
}

namespace {

// Added to the profile copy of an office that strangers reach: no macro runs, whatever a document or its
// location says.
const char kNoMacros[] =
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value></prop></item>\n";

// Adds settings to a profile copy's registrymodifications.xcu.
bool addSettings(const QString& profile, const QByteArray& items)
{
    QFile settings(profile + QStringLiteral("/user/registrymodifications.xcu"));
    if (!settings.open(QIODevice::ReadWrite))
        return false;
    QByteArray text = settings.readAll();
    const qsizetype end = text.lastIndexOf("</oor:items>");
    if (end < 0)
        return false;
    text.insert(end, items);
    return settings.seek(0) && settings.write(text) == text.size();
}

// The pipe an office accepts our bridge on, read by the office from its profile at its start.
QByteArray acceptSetting(const QString& pipe)
{
    return "<item oor:path=\"/org.openoffice.Setup/Office\"><prop oor:name=\"ooSetupConnectionURL\" "
           "oor:op=\"fuse\"><value>pipe,name=" +
           pipe.toLatin1() + ";urp;</value></prop></item>\n";
}

// Profile copies of programs that were killed (a signal ends the program without its clean-up) are
// removed by the next run: each copy's name carries the process id of its program.
// Offices of this user's programs that died without ending them (a kill, a crash): recognised by a profile
// copy of ours in their command line whose owner is gone. Another program's office, or another user's, is
// never touched.
void killOrphanedOffices()
{
    const QByteArray prefix = "-env:UserInstallation=" +
                              profileUrl(officeProfileRoot() + QStringLiteral("/vellum-office-")).toUtf8();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        struct stat st;
        const QByteArray dir = "/proc/" + entry.toLatin1();
        if (!number || pid == getpid() || ::stat(dir.constData(), &st) != 0 || st.st_uid != getuid())
            continue;
        QFile cmdline(QString::fromLatin1(dir) + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& argument : cmdline.readAll().split('\0')) {
            if (!argument.startsWith(prefix))
                continue;
            const pid_t owner = pid_t(argument.mid(prefix.size()).split('-').value(0).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner)) {
                const pid_t group = ::getpgid(pid);
                if (group > 1 && group != ::getpgrp())
                    ::kill(-group, SIGKILL);
                ::kill(pid, SIGKILL);
            }
            break;
        }
    }
}

void removeStaleProfiles()
{
    static std::once_flag once;
    std::call_once(once, [] {
        killOrphanedOffices();
        const QStringList copies =
            QDir(officeProfileRoot())
                .entryList({QStringLiteral("vellum-office-*-*")}, QDir::Dirs | QDir::NoSymLinks);
        for (const QString& name : copies) {
            bool number = false;
            const pid_t owner = pid_t(name.section(QLatin1Char('-'), 2, 2).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner)) {
                const QString dir = officeProfileRoot() + QLatin1Char('/') + name;
                QFile::remove(officeInstancePipe(dir));
                QDir(dir).removeRecursively();
            }
        }
        const QString pipePrefix = QFileInfo(officePipeFile(QStringLiteral("vellum-"))).fileName();
        const QStringList pipes =
            QDir(QStringLiteral("/tmp")).entryList({pipePrefix + QLatin1Char('*')}, QDir::System);
        for (const QString& name : pipes) {
            bool number = false;
            const pid_t owner =
                pid_t(name.mid(pipePrefix.size()).section(QLatin1Char('-'), 0, 0).toInt(&number));
            if (number && owner > 0 && owner != getpid() && !processAlive(owner))
                QFile::remove(QStringLiteral("/tmp/") + name);
        }
    });
}

// The office of each worker thread.
struct ThreadSlot
{
    std::shared_ptr<TdvOffice> office;
    ~ThreadSlot()
    {
        if (office)
            office->Kill();
    }
};
thread_local ThreadSlot slot;
thread_local QString threadServer;
thread_local QString threadWorkFolder;
thread_local int threadMemoryLimitMiB = 0;
thread_local int threadConnectLimit = 20;
thread_local const std::atomic<bool>* threadCancel = nullptr;

} // namespace

// ---- template profile ------------------------------------------------------------------------------------

QString officeProfileRoot()
{
    return QDir::tempPath();
}

QString officeTemplateProfile()
{
    static std::mutex lock;
    std::lock_guard guard(lock);

    const QString cache = userFolder(QStandardPaths::CacheLocation);
    // Read once: the key and the settings must name the same table.
    const QByteArray fontTable = fontReplacementSettings();
    const QString name = QStringLiteral("office-profile-") + templateKeyWith(fontTable);
    const QString dir = cache + QLatin1Char('/') + name;
    const QString ready = dir + QStringLiteral("/.vellum-ready");
    if (QFileInfo::exists(ready))
        return dir;

    // Other copies of the program may make the same template at the same time.
    QLockFile fileLock(dir + QStringLiteral(".lock"));
    fileLock.setStaleLockTime(2 * kStartLimitMs);
    if (!fileLock.tryLock(kStartLimitMs + 10000)) {
        if (fileLock.error() == QLockFile::LockFailedError)
            throw TdvError(QStringLiteral("The office profile %1 is locked by another process").arg(dir));
        throw TdvError(
            QStringLiteral("The office profile cannot be made in %1: %2")
                .arg(cache, systemMessage(fileLock.error() == QLockFile::PermissionError ? EACCES : EIO)));
    }
    if (QFileInfo::exists(ready))
        return dir;

    QTemporaryDir staging(dir + QStringLiteral("-XXXXXX"));
    if (!staging.isValid() || !QDir().mkpath(staging.path() + QStringLiteral("/user")))
        throw TdvError(
            QStringLiteral("The office profile cannot be made in %1: %2").arg(cache, staging.errorString()));
    QFile settings(staging.path() + QStringLiteral("/user/registrymodifications.xcu"));
    const QByteArray text = kSettings + fontTable + seenVersionSetting() + "</oor:items>\n";
    if (!settings.open(QIODevice::WriteOnly) || settings.write(text) != text.size())
        throw TdvError(QStringLiteral("The office profile cannot be written in %1").arg(staging.path()));
    settings.close();
    QFile printers(staging.path() + QStringLiteral("/user/psprint/psprint.conf"));
    const QByteArray printer = pdfPrinterSettings();
    if (!QDir().mkpath(staging.path() + QStringLiteral("/user/psprint")) ||
        !printers.open(QIODevice::WriteOnly) || printers.write(printer) != printer.size())
        throw TdvError(QStringLiteral("The office profile cannot be written in %1").arg(staging.path()));
    printers.close();

    // The first start of a new profile fills it in; the copies then start at once.
    QStringList arguments = officeArguments(staging.path());
    arguments << QStringLiteral("--terminate_after_init");
    const QString log = staging.path() + QStringLiteral("/office.log");
    OfficeStart how;
    how.LogFile = log;
    const pid_t pid = spawnOffice(arguments, how);
    const int code = endGroup(pid, kStartLimitMs);
    if (code != 0)
        throw TdvError(startFailure(
            QStringLiteral("The office could not make its profile in %1").arg(staging.path()), code, log));
    QFile::remove(log);

    QFile marker(staging.path() + QStringLiteral("/.vellum-ready"));
    if (!marker.open(QIODevice::WriteOnly))
        throw TdvError(QStringLiteral("The office profile cannot be written in %1: %2")
                           .arg(staging.path(), marker.errorString()));
    marker.close();
    QDir(dir).removeRecursively();
    if (!QDir().rename(staging.path(), dir))
        throw TdvError(QStringLiteral("The office profile cannot be moved to %1").arg(dir));
    staging.setAutoRemove(false);
    return dir;
}

// ---- one office ------------------------------------------------------------------------------------------

void TdvOffice::Uno::release()
{
    connection.clear();
    desktop.clear();
    manager.clear();
    context.clear();
    bridge.clear();
}

TdvOffice::TdvOffice() : FUno(std::make_unique<Uno>()) {}

TdvOffice::~TdvOffice()
{
    // Only a kill may happen here: this can run on a thread that never used the bridge.
    Kill();
    reap(0);
    try {
        FUno->release();
    } catch (...) {
        // The bridge is gone with the process; dropping proxies cannot matter any more.
    }
    removeProfile();
}

QString TdvOffice::DeadMessage()
{
    return QStringLiteral("The office process ended unexpectedly");
}

QString TdvOffice::LostMessage() const
{
    if (IsRemote()) {
        const QString fault = FUno->fault->Reason();
        if (!fault.isEmpty())
            return QStringLiteral("The connection to the office at %1 was dropped: %2").arg(FServer, fault);
        return QStringLiteral("The connection to the office at %1 was lost").arg(FServer);
    }
    return DeadMessage();
}

QString TdvOffice::ProgramFolder() const
{
    return officeProgramFolder();
}

QStringList TdvOffice::PrinterNames() const
{
    QStringList names;
    try {
        const Reference<awt::XPrinterServer2> server = awt::PrinterServer::create(FUno->context);
        for (const OUString& name : server->getPrinterNames())
            names.append(toQString(name));
    } catch (const uno::Exception& e) {
        throw TdvError(Alive() ? toQString(e.Message) : LostMessage());
    }
    return names;
}

std::shared_ptr<TdvOffice> TdvOffice::Start(bool forStrangers)
{
    const QString templ = officeTemplateProfile();
    std::shared_ptr<TdvOffice> office(new TdvOffice());

    removeStaleProfiles();
    QTemporaryDir profile(officeProfileRoot() + QStringLiteral("/vellum-office-%1-XXXXXX").arg(getpid()));
    if (!profile.isValid())
        throw TdvError(QStringLiteral("No folder for the office profile in %1: %2")
                           .arg(officeProfileRoot(), profile.errorString()));
    profile.setAutoRemove(false);
    office->FProfile = profile.path();
    QString reason = copyTree(templ, office->FProfile);
    if (reason.isEmpty() && !makeFolder(office->FProfile + QStringLiteral("/tmp"), &reason) &&
        reason.isEmpty())
        reason = QStringLiteral("its tmp folder cannot be made");
    if (!reason.isEmpty()) {
        // Nothing of a copy that cannot start an office is kept.
        QDir(office->FProfile).removeRecursively();
        throw TdvError(
            QStringLiteral("The office profile cannot be copied to %1: %2").arg(office->FProfile, reason));
    }
    if (forStrangers && !addSettings(office->FProfile, kNoMacros))
        throw TdvError(
            QStringLiteral("The office profile in %1 cannot be locked against macros").arg(office->FProfile));

    // The pipe's name stands in no command line: the office reads it from its profile, which only this user
    // can read, so no other program can learn it and take it first.
    QString pipe = QStringLiteral("vellum-%1-").arg(getpid());
    for (int i = 0; i < 2; ++i)
        pipe +=
            QString::number(QRandomGenerator::system()->generate(), 16).rightJustified(8, QLatin1Char('0'));
    if (!addSettings(office->FProfile, acceptSetting(pipe)))
        throw TdvError(QStringLiteral("The office profile in %1 cannot be written").arg(office->FProfile));
    office->FPipe = pipe;

    OfficeStart how;
    how.TempDir = office->FProfile + QStringLiteral("/tmp");
    how.LogFile = office->FProfile + QStringLiteral("/office.log");
    how.Root = office->FProfile;
    how.PrintJob = office->PrintJobFile();
    if (!threadWorkFolder.isEmpty())
        how.Writable << threadWorkFolder;
    how.MemoryLimit = qint64(threadMemoryLimitMiB) << 20;
    how.Isolated = isolationWanted(&office->FNotIsolated);
    // A listener's office, too, is reached only through its pipe: the listener relays its clients there.
    how.Network = false;
    const auto arguments = [&] { return officeArguments(office->FProfile); };
    QString failure;
    office->FGroup = spawnOffice(arguments(), how, &failure);
    if (office->FGroup == 0) {
        isolationFailed(failure);
        office->FNotIsolated = failure;
        how.Isolated = false;
        office->FGroup = spawnOffice(arguments(), how);
    }
    office->FIsolated = how.Isolated;
    office->FWritable = how.Writable;
    office->FMemoryLimitMiB = threadMemoryLimitMiB;
    const QString log = how.LogFile;

    try {
        const Reference<uno::XComponentContext> local = localUnoContext();
        const Reference<bridge::XBridgeFactory2> bridges = bridge::BridgeFactory::create(local);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        Reference<connection::XConnection> connection;
        for (;;) {
            int code = 0;
            if (hasExited(office->FGroup, &code))
                throw TdvError(startFailure(QStringLiteral("The office ended during its start"), code, log));
            connection = connectOfficePipe(office->pipeFile(), office->FGroup);
            if (connection.is())
                break;
            if (std::chrono::steady_clock::now() > until)
                throw TdvError(QStringLiteral("The office did not accept a connection within %1 s")
                                   .arg(kStartLimitMs / 1000));
            if (threadCancel && *threadCancel)
                throw TdvError(QStringLiteral("The office start was cancelled"));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const Reference<bridge::XBridge> link =
            bridges->createBridge(OUString(), OUString("urp"), connection, {});
        Uno& u = *office->FUno;
        u.bridge.set(link, UNO_QUERY_THROW);
        u.bridge->addEventListener(disposeFlagListener(u.disposed));
        u.context.set(link->getInstance(OUString("StarOffice.ComponentContext")), UNO_QUERY_THROW);
        u.manager = u.context->getServiceManager();
        u.desktop = frame::Desktop::create(u.context);
    } catch (const uno::Exception& e) {
        office->Kill();
        throw TdvError(QStringLiteral("The office could not be reached: ") + toQString(e.Message));
    } catch (...) {
        office->Kill();
        throw;
    }
    return office;
}

bool TdvOffice::OutOfMemory() const
{
    if (FMemoryLimitMiB <= 0 || IsRemote() || FProfile.isEmpty())
        return false;
    QFile log(FProfile + QStringLiteral("/office.log"));
    if (!log.open(QIODevice::ReadOnly))
        return false;
    log.seek(std::max<qint64>(0, log.size() - 65536));
    return log.readAll().contains(kOutOfMemory);
}

bool TdvOffice::CanWrite(const QString& path) const
{
    if (IsRemote())
        return false;
    if (!FIsolated)
        return true;
    for (const QString& folder : FWritable)
        if (path.startsWith(folder + QLatin1Char('/')))
            return true;
    return false;
}

QString TdvOffice::InstancePipe() const
{
    const QString pipe = officeInstancePipe(FProfile);
    return FIsolated ? FProfile + QStringLiteral("/tmp/") + QFileInfo(pipe).fileName() : pipe;
}

QString TdvOffice::pipeFile() const
{
    // An isolated office's /tmp is the tmp folder of its profile.
    const QString name = QFileInfo(officePipeFile(FPipe)).fileName();
    return FIsolated ? FProfile + QStringLiteral("/tmp/") + name : officePipeFile(FPipe);
}

bool TdvOffice::Alive() const
{
    if (*FUno->disposed || FKilled || FExited)
        return false;
    if (IsRemote())
        return true;
    std::lock_guard guard(FLock);
    if (FGroup <= 0)
        return false;
    if (hasExited(FGroup)) {
        FExited = true;
        return false;
    }
    return true;
}

void TdvOffice::Kill()
{
    std::lock_guard guard(FLock);
    FKilled = true;
    if (FGroup > 0)
        ::kill(-FGroup, SIGKILL);
    // A remote office cannot be killed from here: closing the socket ends every call waiting on it.
    if (IsRemote() && FUno->connection.is()) {
        try {
            FUno->connection->close();
        } catch (...) {
        }
    }
}

void TdvOffice::reap(int boundMs)
{
    pid_t group;
    {
        std::lock_guard guard(FLock);
        group = FGroup;
    }
    if (group <= 0)
        return;
    endGroup(group, boundMs);
    std::lock_guard guard(FLock);
    FGroup = 0;
    FExited = true;
}

void TdvOffice::Terminate()
{
    if (IsRemote()) {
        // The listener's office serves others too: only this connection ends.
        try {
            if (FUno->bridge.is())
                FUno->bridge->dispose();
        } catch (...) {
        }
        Kill();
        try {
            FUno->release();
        } catch (...) {
        }
        return;
    }
    if (Alive()) {
        // A frozen office must not hold its worker: past the limit the group is killed, which also
        // releases the call below.
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        std::thread guard([&] {
            std::unique_lock l(m);
            if (!cv.wait_for(l, std::chrono::milliseconds(kQuitLimitMs), [&] { return done; }))
                Kill();
        });
        try {
            FUno->desktop->terminate();
        } catch (const uno::Exception&) {
            // The office often goes before its answer does.
        }
        {
            std::lock_guard l(m);
            done = true;
        }
        cv.notify_all();
        guard.join();
    }
    try {
        FUno->release();
    } catch (...) {
    }
    reap(kQuitLimitMs);
    removeProfile();
}

namespace {

Reference<awt::XFontMappingUse> fontMapping(const TdvOffice::Uno& u)
{
    return Reference<awt::XFontMappingUse>(awt::Toolkit::create(u.context), UNO_QUERY_THROW);
}

} // namespace

void TdvOffice::StartFontTracking()
{
    fontMapping(*FUno)->startTrackingFontMappingUse();
}

QList<TdvFontUse> TdvOffice::FinishFontTracking()
{
    QList<TdvFontUse> uses;
    for (const awt::XFontMappingUseItem& item : fontMapping(*FUno)->finishTrackingFontMappingUse()) {
        TdvFontUse use;
        use.Requested = toQString(item.originalFont);
        for (const OUString& font : item.usedFonts)
            use.Used.append(toQString(font));
        use.Count = item.count;
        uses.append(use);
    }
    return uses;
}

QString TdvOffice::PipeSocket() const
{
    return pipeFile();
}

QString officePipeFile(const QString& pipeName)
{
    // Where the office's pipe acceptor puts its socket, whatever the temporary folder.
    return QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(getuid()).arg(pipeName);
}

// The office's single-instance pipe, named after its profile's address: MD5 over the UTF-16 text,
// each byte in hexadecimal without leading zeros. An office that is killed leaves it behind.
QString officeInstancePipe(const QString& profile)
{
    const QString url = profileUrl(profile);
    QByteArray utf16;
    for (const QChar c : url) {
        utf16.append(char(c.unicode() & 0xff));
        utf16.append(char(c.unicode() >> 8));
    }
    QString name = QStringLiteral("SingleOfficeIPC_");
    for (const char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
        name += QString::number(quint8(byte), 16);
    return officePipeFile(name);
}

void TdvOffice::removeProfile()
{
    if (FGroup != 0)
        return;
    if (!FPipe.isEmpty()) {
        QFile::remove(pipeFile());
        FPipe.clear();
    }
    if (!FProfile.isEmpty())
        QFile::remove(InstancePipe());
    if (!FProfile.isEmpty()) {
        QDir(FProfile).removeRecursively();
        FProfile.clear();
    }
}

// ---- item watch -----------------------------------------------------------------------------------------

TdvOfficeWatch::~TdvOfficeWatch()
{
    {
        std::lock_guard guard(FLock);
        FStop = true;
        FOffice.reset();
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TdvOfficeWatch::Arm(std::shared_ptr<TdvOffice> office, std::chrono::milliseconds limit)
{
    {
        std::lock_guard guard(FLock);
        FOffice = std::move(office);
        FDeadline = std::chrono::steady_clock::now() + limit;
        FArmed = true;
        ++FArming;
        if (!FThread.joinable())
            FThread = std::thread([this] { run(); });
    }
    FWake.notify_all();
}

void TdvOfficeWatch::Disarm()
{
    std::lock_guard guard(FLock);
    FArmed = false;
    FOffice.reset();
}

void TdvOfficeWatch::run()
{
    using std::chrono::steady_clock;
    // The watch wakes every slice while armed. A wake far later than it slept means that this program
    // itself was stopped meanwhile (SIGSTOP, a suspended job): that time is not the office's, and the
    // deadline moves by it.
    constexpr auto kSlice = std::chrono::milliseconds(250);
    constexpr auto kLate = std::chrono::seconds(2);
    std::unique_lock guard(FLock);
    while (!FStop) {
        if (!FArmed) {
            FWake.wait(guard);
            continue;
        }
        const int armed = FArming;
        const auto before = steady_clock::now();
        const auto wake = std::min(FDeadline, before + kSlice);
        FWake.wait_until(guard, wake);
        const auto after = steady_clock::now();
        const auto meant = std::max(wake - before, steady_clock::duration::zero());
        if (FArmed && armed == FArming && after - before > meant + kLate)
            FDeadline += (after - before) - meant;
        if (FArmed && after >= FDeadline) {
            FArmed = false;
            FFired = true;
            if (std::shared_ptr<TdvOffice> office = FOffice.lock())
                office->Kill();
            FOffice.reset();
        }
    }
}

// ---- the worker's office ---------------------------------------------------------------------------------

std::shared_ptr<TdvOffice> threadOffice()
{
    return slot.office;
}

std::shared_ptr<TdvOffice> ensureThreadOffice()
{
    if (slot.office && slot.office->Alive())
        return slot.office;
    if (slot.office) {
        std::shared_ptr<TdvOffice> dead = std::move(slot.office);
        dead->Terminate(); // kills and reaps what is left of it
    }
    slot.office =
        threadServer.isEmpty() ? TdvOffice::Start() : TdvOffice::Connect(threadServer, threadConnectLimit);
    return slot.office;
}

void setThreadOfficeServer(const QString& server)
{
    threadServer = server;
}

void setThreadOfficeCancel(const std::atomic<bool>* cancel)
{
    threadCancel = cancel;
}

void setThreadOfficeWorkFolder(const QString& folder)
{
    threadWorkFolder = folder;
}

void setThreadOfficeMemoryLimit(int mib)
{
    threadMemoryLimitMiB = std::max(mib, 0);
}

void setThreadOfficeConnectLimit(int seconds)
{
    threadConnectLimit = std::max(seconds, 1);
}

void endThreadOffice()
{
    std::shared_ptr<TdvOffice> office = std::move(slot.office);
    if (office)
        office->Terminate();
}
