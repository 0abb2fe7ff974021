#include "engine/dvPrintJob.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvConvertor.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <ctime>
#include <dlfcn.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// A name reduced to what survives a queue's renaming: lower-case letters and digits, the rest one mark.
QString nameKey(const QString& name)
{
    QString key;
    for (const QChar c : name.toLower())
        key += c.isLetterOrNumber() ? c : QLatin1Char('_');
    return key;
}

// The deck's name without folder and extension: "/in/Q3 review.pptx" gives "Q3 review".
QString deckName(const QString& deck)
{
    QString name = deck.section(QLatin1Char('/'), -1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

QString fileState(const QFileInfo& info)
{
    return QStringLiteral("%1 %2").arg(info.size()).arg(info.lastModified().toMSecsSinceEpoch());
}

QString cupsPdfConfiguration()
{
    const QByteArray env = qgetenv("VELLUM_CUPS_PDF_CONF");
    QFile file(env.isEmpty() ? QStringLiteral("/etc/cups/cups-pdf.conf") : QString::fromLocal8Bit(env));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

TdvPrintedFile::TdvPrintedFile(QString printer, QString out, QString deck)
    : FPrinter(std::move(printer)), FOut(std::move(out)), FDeck(std::move(deck))
{
}

bool TdvPrintedFile::isQueue() const
{
    return FPrinter != virtualPdfPrinter();
}

QString TdvPrintedFile::CupsPdfFolder(const QString& configuration, const QString& home, const QString& user)
{
    QString folder = QStringLiteral("${HOME}/PDF");
    static const QRegularExpression out(QStringLiteral("^\\s*Out\\s+(\\S.*?)\\s*$"));
    for (const QString& line : configuration.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = out.match(line);
        if (m.hasMatch())
            folder = m.captured(1);
    }
    return folder.replace(QLatin1String("${HOME}"), home).replace(QLatin1String("${USER}"), user);
}

int TdvPrintedFile::ActiveJobs(const QString& queue)
{
    // libcups comes with every office that prints; it is loaded only when a queue is printed to, so that the
    // program needs it nowhere else. The job record as libcups 2 lays it out.
    struct Job
    {
        int id;
        char* dest;
        char* title;
        char* user;
        char* format;
        int state;
        int size;
        int priority;
        time_t completed;
        time_t created;
        time_t processing;
    };
    using GetJobs = int (*)(Job**, const char*, int, int);
    using FreeJobs = void (*)(int, Job*);
    static void* const library = dlopen("libcups.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!library)
        return -1;
    static const auto getJobs = reinterpret_cast<GetJobs>(dlsym(library, "cupsGetJobs"));
    static const auto freeJobs = reinterpret_cast<FreeJobs>(dlsym(library, "cupsFreeJobs"));
    if (!getJobs || !freeJobs)
        return -1;
    Job* jobs = nullptr;
    const QByteArray name = queue.toUtf8();
    // This user's jobs that are not yet completed, cancelled or aborted.
    const int count = getJobs(&jobs, name.constData(), 1, 0);
    if (count > 0)
        freeJobs(count, jobs);
    return count;
}

void TdvPrintedFile::Begin()
{
    FStarted = QDateTime::currentMSecsSinceEpoch();
    if (!isQueue())
        return;
    // Workers look at once: the reentrant lookup, with a buffer of this call's own.
    struct passwd entry = {};
    struct passwd* account = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &account) != 0)
        account = nullptr;
    const QString home = account ? QFile::decodeName(account->pw_dir) : QDir::homePath();
    const QString user = account ? QFile::decodeName(account->pw_name) : QString();
    FFolder = CupsPdfFolder(cupsPdfConfiguration(), home, user);
    for (const QFileInfo& info : QDir(FFolder).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files))
        FBefore.insert(info.fileName(), fileState(info));
}

bool TdvPrintedFile::Poll()
{
    if (isQueue())
        return pollQueue();
    // The office's own printer writes the file whole before the office's print call returns; the size must
    // hold still between two looks all the same, for a printer command that writes after it.
    const qint64 size = fileSize(FOut);
    const bool done = size > 0 && size == FLastSize;
    FLastSize = size;
    return done;
}

bool TdvPrintedFile::pollQueue()
{
    FJobs = ActiveJobs(FPrinter);
    if (FJobs > 0)
        return false;
    // The queue's new files: not there before the job, or changed since, and not older than the job.
    QFileInfoList fresh;
    for (const QFileInfo& info : QDir(FFolder).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files)) {
        const auto before = FBefore.constFind(info.fileName());
        if ((before == FBefore.constEnd() || *before != fileState(info)) &&
            info.lastModified().toMSecsSinceEpoch() >= FStarted - 2000)
            fresh.append(info);
    }
    // The queue names its file after the deck; any other new file is taken only when it is the one new file.
    const QString key = nameKey(deckName(FDeck));
    QFileInfoList named;
    for (const QFileInfo& info : std::as_const(fresh))
        if (!key.isEmpty() && nameKey(info.completeBaseName()).startsWith(key))
            named.append(info);
    const QFileInfoList& candidates = named.isEmpty() ? fresh : named;
    FCandidates = int(candidates.size());
    if (candidates.size() != 1)
        return false;
    const QFileInfo& file = candidates.first();
    // A finished job says the file is whole; where CUPS cannot be asked, a size that holds still says it.
    const bool still = file.absoluteFilePath() == FLastFile && file.size() == FLastSize;
    FLastFile = file.absoluteFilePath();
    FLastSize = file.size();
    if (FLastSize <= 0 || (FJobs < 0 && !still))
        return false;
    QFile::remove(FOut);
    QFile taken(FLastFile);
    if (!taken.rename(FOut)) {
        FMoveProblem = QStringLiteral("%1 cannot be moved: %2").arg(FLastFile, taken.errorString());
        return false;
    }
    return true;
}

QString TdvPrintedFile::Failure(int seconds) const
{
    QString failure =
        QStringLiteral("The printer %1 did not write a file within %2 s").arg(FPrinter).arg(seconds);
    if (!isQueue())
        return failure;
    if (!FMoveProblem.isEmpty())
        return failure + QStringLiteral(": ") + FMoveProblem;
    if (FJobs > 0)
        return failure + QStringLiteral(": its job is not finished");
    if (FCandidates > 1)
        return failure +
               QStringLiteral(": %1 holds several new PDF files, none named after the deck").arg(FFolder);
    return failure + QStringLiteral(" into %1, where a cups-pdf queue writes").arg(FFolder);
}
