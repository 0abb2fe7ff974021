// Where a converter puts its PDF: the target path and its claim, the source rules (overwrite, skip, keep
// times, delete or rename the source), the commit of a finished PDF through a part file that a journal
// names, and the worker's own folder.
#include "engine/dvConvertor.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvRecord.h"
#include "engine/dvRegistry.h"
#include "project/dvProject.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

void TdvConvertor::ItemTaken(TdvNode* item)
{
    try {
        BuildTargetPath(FBatch, item);
    } catch (...) {
        // Claimed again when the item's conversion asks for its target; a failure shows there.
    }
}

namespace {

QString renamedTarget(const QString& folder, const QString& path, const QString& shortName)
{
    return folder + QLatin1Char('-') + shortName + QLatin1Char('-') + extractFileName(path);
}

// The first folder below the target folder on the way to `folder` that is a symbolic link, or empty text. The
// person named the target folder; a link that others planted inside it could lead anywhere.
QString linkBelow(const QString& root, const QString& folder)
{
    if (root.isEmpty() || !folder.startsWith(root))
        return QString();
    QString path = root;
    for (const QString& part : folder.mid(root.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path += part;
        struct stat st;
        if (::lstat(encodeFileName(path).constData(), &st) != 0)
            return QString(); // the rest is made by the run
        if (S_ISLNK(st.st_mode))
            return path;
        path += QLatin1Char('/');
    }
    return QString();
}

QString linkProblem(const QString& target, const QString& link)
{
    return QStringLiteral(
               "The PDF file cannot be written to %1: %2 is a symbolic link, which is not followed")
        .arg(target, link);
}

} // namespace

QString TdvConvertor::BuildTargetPath(TdvBatch* batch, TdvNode* item)
{
    // Choosing and claiming are one step under the batch's lock, so that two workers never pick one file.
    TdvBatchLock lock(batch);
    if (item->Claimed)
        return item->Target;

    const bool web = isWebAddress(item->Source);
    QString name;
    if (web) {
        // A web address keeps everything after its scheme's colon, made into one file name.
        name = item->Source.mid(item->Source.indexOf(QLatin1Char(':')) + 1);
        name.replace(QLatin1Char(':'), QLatin1Char('_'));
        name.replace(QLatin1Char('/'), QLatin1Char('_'));
    } else if (Options().KeepTargetSubdirs && !batch->FSourceFolder.isEmpty() &&
               item->Source.startsWith(batch->FSourceFolder)) {
        name = item->Source.mid(batch->FSourceFolder.size());
    } else {
        name = extractFileName(item->Source);
    }
    QString path = batch->FTargetFolder + name;
    const QString ext = Options().TargetExt;
    if (!ext.isEmpty()) {
        const int nameStart = path.lastIndexOf(QLatin1Char('/')) + 1;
        const int dot = path.lastIndexOf(QLatin1Char('.'));
        if (dot >= nameStart)
            path.truncate(dot);
        path += ext;
    }
    path = AdjustTargetName(path);

    item->Claimed = true;
    if (!web)
        item->SourceFound = TdvFileId::Of(item->Source);
    const TdvOverwrite asked = Options().IsOverwrite;
    // A deck that failed before as it is now fails the same way again: an update run leaves it out until it
    // changes, unless asked to try again.
    if (asked == TdvOverwrite::Update && FRecord && !web && !Options().RetryFailed) {
        const QString earlier = FRecord->FailedBefore(item->Source, item->SourceFound, OutputSettings());
        if (!earlier.isEmpty()) {
            item->State = isFailed;
            item->Result = earlier;
            item->Note =
                QStringLiteral("failed before and unchanged since; not tried again (RetryFailed=True "
                               "tries it)");
            item->Target.clear();
            batch->AddFailure(earlier);
            return QString();
        }
    }
    const QString folder = extractFilePath(path);
    QString reason;
    QStringList made;
    const QString link = web ? QString() : linkBelow(batch->FTargetFolder, folder);
    if (!link.isEmpty())
        item->Problem = linkProblem(path, link);
    else if (!folder.isEmpty() && !makeFolder(folder, &reason, &made))
        item->Problem = QStringLiteral("CreateDir Failed: %1 (%2)").arg(folder, reason);
    batch->NoteFolders(item, folder, made);

    // A file of an earlier run follows the overwrite rule; one that an item of this run claimed is never
    // replaced: the later item takes the renamed form, or is skipped.
    TdvFileId found = TdvFileId::Of(path);
    const bool claimed = batch->IsClaimed(path);
    bool mayReplace = false;
    if (found.Exists || claimed) {
        TdvOverwrite rule = asked;
        if (rule == TdvOverwrite::Update && !claimed && upToDate(path, found, item)) {
            skipUpToDate(batch, item, path);
            return QString();
        }
        if ((rule == TdvOverwrite::Overwrite || rule == TdvOverwrite::Update) && claimed)
            rule = TdvOverwrite::Rename;
        switch (rule) {
        case TdvOverwrite::Skip:
            item->State = isDone;
            item->Skipped = true;
            item->Target.clear();
            return QString();
        case TdvOverwrite::Overwrite:
        case TdvOverwrite::Update:
            mayReplace = true;
            break;
        case TdvOverwrite::Rename:
            path = renamedTarget(folder, path, Options().ShortName);
            while (batch->IsClaimed(path))
                path = renamedTarget(folder, path, Options().ShortName);
            // The renamed form is not tested against older files: one of an earlier run is replaced, unless
            // an update run finds it up to date.
            found = TdvFileId::Of(path);
            if (asked == TdvOverwrite::Update && upToDate(path, found, item)) {
                skipUpToDate(batch, item, path);
                return QString();
            }
            mayReplace = found.Exists;
            break;
        }
    }
    batch->Claim(path);
    item->Target = path;
    item->TargetFound = found;
    item->MayReplace = mayReplace;
    return path;
}

bool TdvConvertor::upToDate(const QString& path, const TdvFileId& found, const TdvNode* item) const
{
    return FRecord && found.Exists &&
           FRecord->UpToDate(path, found, item->Source, item->SourceFound, OutputSettings());
}

void TdvConvertor::skipUpToDate(TdvBatch* batch, TdvNode* item, const QString& path)
{
    item->State = isDone;
    item->Skipped = true;
    item->Note = QStringLiteral("up to date");
    item->Target.clear();
    // Still this deck's: a later item of the run with the same name takes the renamed form, as it would
    // have when the PDF was written.
    batch->Claim(path);
}

QString TdvConvertor::TargetProblem(const TdvNode* item) const
{
    if (!item->Problem.isEmpty())
        return item->Problem;
    // A link put in place of a sub-folder since the target was claimed is not followed either.
    if (FBatch && !isWebAddress(item->Source)) {
        const QString link = linkBelow(FBatch->FTargetFolder, extractFilePath(item->Target));
        if (!link.isEmpty())
            return linkProblem(item->Target, link);
    }
    QString reason;
    if (item->MayReplace && !userMayWrite(item->Target, &reason))
        return QStringLiteral("%1 cannot be replaced: %2").arg(item->Target, reason);
    // A folder that takes no file is known before the office spends its time on the item.
    reason = writeProblem(extractFilePath(item->Target));
    if (!reason.isEmpty())
        return QStringLiteral("The PDF file cannot be written to %1: %2").arg(item->Target, reason);
    return QString();
}

namespace {

// Renames without ever replacing a file that is there, also on file systems without RENAME_NOREPLACE.
int renameNoReplace(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (::link(from.constData(), to.constData()) != 0)
        return errno;
    ::unlink(from.constData());
    return 0;
}

int moveFile(const QByteArray& from, const QByteArray& to, bool replace)
{
    if (!replace)
        return renameNoReplace(from, to);
    return ::rename(from.constData(), to.constData()) == 0 ? 0 : errno;
}

// Part files being moved into place, listed in a file of this process, so that a run killed in the middle of
// a copy has its part file removed by the next run.
class TdvPartJournal
{
public:
    ~TdvPartJournal()
    {
        if (!FFile.isEmpty())
            QFile::remove(FFile);
    }
    void Add(const QString& part)
    {
        std::lock_guard guard(FLock);
        try {
            if (FFile.isEmpty())
                FFile =
                    userFolder(QStandardPaths::AppDataLocation) + QStringLiteral("/parts-%1").arg(getpid());
        } catch (const std::exception&) {
            return;
        }
        QFile file(FFile);
        if (file.open(QIODevice::Append))
            file.write(encodeFileName(part) + '\n');
    }

private:
    std::mutex FLock;
    QString FFile;
};
TdvPartJournal partJournal;
std::atomic<int> partCounter{0};

// Copies `from` into a new hidden file beside the target, listed first in the journal so that a run killed
// in the middle leaves nothing behind; answers 0 or the errno of the failing step.
int copyToPart(const QString& from, const QString& part)
{
    partJournal.Add(part);
    return copyFileContents(from, part, true);
}

} // namespace

bool TdvConvertor::CommitTarget(const TdvNode* item, const QString& written, QString& failure)
{
    const QString& target = item->Target;
    if (!isRegularFile(written) || fileSize(written) <= 0) {
        failure = QStringLiteral("No PDF file was written");
        return false;
    }
    const QString problem = TargetProblem(item);
    if (!problem.isEmpty()) {
        failure = problem;
        return false;
    }
    // Only the file the claim found may be replaced; one that appeared or changed since is somebody's.
    const TdvFileId now = TdvFileId::Of(target);
    if (now.Exists && (!item->MayReplace || now != item->TargetFound)) {
        failure = item->TargetFound.Exists
                      ? QStringLiteral("%1 was changed by another program during the conversion; it was kept")
                      : QStringLiteral("%1 was made by another program during the conversion; it was kept");
        failure = failure.arg(target);
        return false;
    }
    const bool replace = now.Exists;
    const QByteArray to = encodeFileName(target);
    int error = moveFile(encodeFileName(written), to, replace);
    if (error == EXDEV) {
        // Another file system: a hidden part file beside the target first, so that the target appears whole.
        const QString part =
            extractFilePath(target) + QStringLiteral(".vellum-%1-%2.part").arg(getpid()).arg(++partCounter);
        error = copyToPart(written, part);
        if (error == 0) {
            error = moveFile(encodeFileName(part), to, replace);
            if (error != 0)
                ::unlink(encodeFileName(part).constData());
        }
    }
    if (error == EEXIST) {
        failure =
            QStringLiteral("%1 was made by another program during the conversion; it was kept").arg(target);
        return false;
    }
    if (error != 0) {
        failure =
            QStringLiteral("The PDF file cannot be written to %1: %2").arg(target, systemMessage(error));
        return false;
    }
    return true;
}

static bool isReadOnly(const QByteArray& path)
{
    struct stat st;
    return stat(path.constData(), &st) == 0 && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void TdvConvertor::AfterConvert(TdvBatch* batch, TdvNode* item, const QString& target)
{
    (void)batch;
    const QByteArray source = encodeFileName(item->Source);
    const QByteArray targetName = encodeFileName(target);
    if (Options().KeepFileTime) {
        struct stat st;
        if (stat(source.constData(), &st) == 0) {
            const struct timespec times[2] = {st.st_atim, st.st_mtim};
            utimensat(AT_FDCWD, targetName.constData(), times, 0);
        }
    }
    const bool deleteSource = Options().DeleteSource;
    const QString suffix = Options().RenameSource;
    if (!deleteSource && suffix.isEmpty())
        return;
    // The source is touched only once its target is really there, and only when it is still the file that
    // was converted: a newer version saved over it meanwhile is the user's work.
    if (!isRegularFile(target) || fileSize(target) <= 0)
        return;
    // Notes of the conversion itself come first.
    QStringList notes;
    if (!item->Note.isEmpty())
        notes << item->Note;
    if (item->SourceFound.Exists) {
        const TdvFileId now = TdvFileId::Of(item->Source);
        if (!now.Exists || now != item->SourceFound) {
            notes << (now.Exists ? QStringLiteral("The source was kept: it changed during the conversion")
                                 : QStringLiteral("The source was moved or deleted during the conversion"));
            item->Note = notes.join(QStringLiteral("; "));
            return;
        }
    }
    if (deleteSource) {
        if (isReadOnly(source))
            notes << QStringLiteral("The source was not deleted: it is read-only");
        else if (::unlink(source.constData()) != 0)
            notes << QStringLiteral("The source was not deleted: %1").arg(systemMessage(errno));
        else {
            item->Note = notes.join(QStringLiteral("; "));
            return; // gone: there is nothing left to rename
        }
    }
    if (!suffix.isEmpty()) {
        const QByteArray renamed = encodeFileName(item->Source + suffix);
        const int error = renameNoReplace(source, renamed);
        if (error == EEXIST)
            notes << QStringLiteral("The source was not renamed: %1 exists").arg(item->Source + suffix);
        else if (error != 0)
            notes << QStringLiteral("The source was not renamed: %1").arg(systemMessage(error));
    }
    item->Note = notes.join(QStringLiteral("; "));
}

QString TdvConvertor::WorkFile(const QString& name)
{
    if (FWorkFolder.isEmpty()) {
        QByteArray pattern =
            encodeFileName(QDir::tempPath() + QStringLiteral("/vellum-work-%1-XXXXXX").arg(getpid()));
        if (!::mkdtemp(pattern.data()))
            throw TdvError(QStringLiteral("No work folder can be made in %1: %2")
                               .arg(QDir::tempPath(), systemMessage(errno)));
        FWorkFolder = decodeFileName(pattern);
    }
    return FWorkFolder + QLatin1Char('/') + name;
}

void TdvConvertor::removeWorkFolder()
{
    if (!FWorkFolder.isEmpty())
        QDir(FWorkFolder).removeRecursively();
    FWorkFolder.clear();
}

void removeLeftoversOfDeadRuns()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const auto ownerOf = [](const QString& name, int section) {
            bool number = false;
            const pid_t pid = pid_t(name.section(QLatin1Char('-'), section, section).toInt(&number));
            return number ? pid : pid_t(0);
        };
        const QDir temp(QDir::tempPath());
        for (const QString& name :
             temp.entryList({QStringLiteral("vellum-work-*-*")}, QDir::Dirs | QDir::NoSymLinks)) {
            const pid_t owner = ownerOf(name, 2);
            if (owner > 0 && owner != getpid() && !processAlive(owner))
                QDir(temp.filePath(name)).removeRecursively();
        }
        QString data;
        try {
            data = userFolder(QStandardPaths::AppDataLocation);
        } catch (const std::exception&) {
            return;
        }
        for (const QString& name : QDir(data).entryList({QStringLiteral("parts-*")}, QDir::Files)) {
            const pid_t owner = ownerOf(name, 1);
            if (owner <= 0 || owner == getpid() || processAlive(owner))
                continue;
            QFile journal(data + QLatin1Char('/') + name);
            if (journal.open(QIODevice::ReadOnly)) {
                // Only the dead run's own part files: their names carry its process id.
                const QString prefix = QStringLiteral(".vellum-%1-").arg(owner);
                for (const QByteArray& line : journal.readAll().split('\n')) {
                    const QString part = decodeFileName(line);
                    const QString file = extractFileName(part);
                    if (file.startsWith(prefix) && file.endsWith(QLatin1String(".part")))
                        removeFile(part);
                }
            }
            QFile::remove(data + QLatin1Char('/') + name);
        }
    });
}
