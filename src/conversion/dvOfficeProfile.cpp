#include "conversion/dvOfficeProfile.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "conversion/dvFonts.h"
#include "conversion/dvOffice.h"
#include "conversion/dvOfficeProcess.h"
#include "engine/dvConvertor.h"
#include "engine/dvProcesses.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Bumped when the template profile's settings change, so an old template is not reused.
constexpr int kProfileFormat = 7;

// Added to the profile copy of an office that strangers reach: no macro runs, whatever a document or its
// location says.
const char kNoMacros[] =
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"DisableMacrosExecution\" oor:op=\"fuse\"><value>true</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop "
    "oor:name=\"MacroSecurityLevel\" oor:op=\"fuse\"><value>3</value></prop></item>\n";

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
        } else if (const int error = copyFileContents(path, target, false); error != 0) {
            return systemMessage(error);
        }
    }
    return QString();
}

QString officeTemplateKey()
{
    return templateKeyWith(fontReplacementSettings());
}

QByteArray noMacrosSettings()
{
    return kNoMacros;
}

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

QByteArray acceptSetting(const QString& pipe)
{
    return "<item oor:path=\"/org.openoffice.Setup/Office\"><prop oor:name=\"ooSetupConnectionURL\" "
           "oor:op=\"fuse\"><value>pipe,name=" +
           pipe.toLatin1() + ";urp;</value></prop></item>\n";
}

// Profile copies of programs that were killed (a signal ends the program without its clean-up) are
// removed by the next run: each copy's name carries the process id of its program.
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
                QString dir = officeProfileRoot() + QLatin1Char('/') + name;
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

// ---- template profile ------------------------------------------------------------------------------------

QString officeTemplateProfile()
{
    static std::mutex lock;
    std::lock_guard guard(lock);

    const QString cache = userFolder(QStandardPaths::CacheLocation);
    // Read once: the key and the settings must name the same table.
    const QByteArray fontTable = fontReplacementSettings();
    const QString name = QStringLiteral("office-profile-") + templateKeyWith(fontTable);
    QString dir = cache + QLatin1Char('/') + name;
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
