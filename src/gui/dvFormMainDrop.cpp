// The window's source and target: the buttons beside the fields, and what is dropped on the window.
#include "gui/dvFormMain.h"

#include "base/dvFileUtils.h"
#include "gui/dvSources.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QCheckBox>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QTreeView>
#include <QUrl>

namespace {

QStringList localPaths(const QMimeData* mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    return paths;
}

// Names for a message: the first few, then how many more.
QString someNames(const QStringList& paths)
{
    QStringList names;
    for (const QString& path : paths.mid(0, 3))
        names.append(extractFileName(path).isEmpty() ? path : extractFileName(path));
    if (paths.size() > 3)
        names.append(QStringLiteral("\u2026"));
    return names.join(QLatin1String(", "));
}

} // namespace

// ---- source and target -----------------------------------------------------------------------------------

void TdvFrmMain::FillTarget(const QString& folder)
{
    // A web address has no folder of ours to write into.
    if (gProject->TargetFollowsSource && eTarget->text().isEmpty() && !isWebAddress(folder))
        eTarget->setText(folder);
}

void TdvFrmMain::bSourceClick()
{
    // A cancelled dialog changes nothing: an empty form must not end up searching the whole file system.
    QString folder = extractFilePath(eSource->text());
    if (gApp->BrowseForFolder(folder))
        SetSourceFolder(folder);
}

void TdvFrmMain::SetSourceFolder(QString folder)
{
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    eSource->setText(folder + gProject->SourcePattern);
    FillTarget(folder);
}

void TdvFrmMain::bSourceFileClick()
{
    // The batch cannot be replaced under the workers of a run.
    if (FRun)
        return;
    QString answer = eSource->text();
    if (!gApp->OpenFileDialog(gProject->SourceFilter, answer, true))
        return;
    answer = answer.trimmed();
    if (!answer.contains(QLatin1Char('\n')))
        eSource->setText(answer);
    NewBatch();
    for (const QString& line : splitLines(answer)) {
        const QString path = line.trimmed();
        if (!path.isEmpty())
            AddSource(path);
    }
}

void TdvFrmMain::bTargetClick()
{
    QString folder = eTarget->text();
    if (!gApp->BrowseForFolder(folder))
        return;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    eTarget->setText(folder);
}

void TdvFrmMain::aViewExecute()
{
    if (eTarget->text().isEmpty()) {
        eTarget->setFocus();
        return;
    }
    gInfo->Opener(eTarget->text());
}

// ---- drops -----------------------------------------------------------------------------------------------

void TdvFrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TdvFrmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (!localPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TdvFrmMain::dropEvent(QDropEvent* event)
{
    const QStringList paths = localPaths(event->mimeData());
    const QPoint pos = event->position().toPoint();
    bool taken = false;
    guarded(this, [&] { taken = WMDropFiles(pos, paths); });
    if (taken)
        event->acceptProposedAction();
    else
        event->ignore();
}

bool TdvFrmMain::WMDropFiles(const QPoint& pos, const QStringList& paths)
{
    if (paths.isEmpty())
        return false;
    for (QWidget* w = childAt(pos); w && w != this; w = w->parentWidget())
        if (w == eSource || w == eTarget || w == lViewer || w == pFilter)
            return takeDrop(w == pFilter ? lViewer : w, paths);
    return false;
}

bool TdvFrmMain::takeDrop(QWidget* target, const QStringList& paths)
{
    Notice(QString());
    if (paths.size() == 1 && gProject->IsProjectFile(paths.first())) {
        gProject->ProjectFile = paths.first();
        gProject->OpenProject(false);
        MarkSaved();
        return true;
    }
    if (FRun) {
        // Its workers still draw from the list, and the fields are the run's.
        Notice(tr("A conversion is running: drop the files again once it has ended."));
        return false;
    }
    if (target == eTarget) {
        // A file stands for its folder.
        const QString folder =
            QFileInfo(paths.first()).isDir() ? paths.first() : extractFilePath(paths.first());
        eTarget->setText(folder);
        if (paths.size() > 1)
            Notice(tr("There is one target folder: %1 was taken, the other paths were not.").arg(folder));
        return true;
    }
    const TdvSources sources = sortSources(paths);
    // One folder is searched as the source, with the product's pattern, as the Folder button sets it.
    if (sources.Folders.size() == 1 && sources.Files.isEmpty() && sources.Refused.isEmpty()) {
        SetSourceFolder(sources.Folders.first());
        if (target == lViewer)
            aSearchExecute();
        return true;
    }
    if (target == eSource && paths.size() == 1 && sources.Files.size() == 1) {
        eSource->setText(sources.Files.first());
        FillTarget(extractFilePath(sources.Files.first()));
        return true;
    }
    // Several paths: the presentations among them, and those in the folders, become the list.
    QStringList files = sources.Files;
    for (const QString& folder : sources.Folders)
        files +=
            presentationsIn(folder, gProject->SourcePattern, cSubdir->isChecked(), gProject->SkipHidden());
    QString refused;
    if (sources.Refused.size() == 1)
        refused = tr("%1 is no presentation; it was not listed.").arg(someNames(sources.Refused));
    else if (!sources.Refused.isEmpty())
        refused = tr("%1 files are no presentations and were not listed: %2")
                      .arg(sources.Refused.size())
                      .arg(someNames(sources.Refused));
    if (files.isEmpty()) {
        Notice(refused.isEmpty() ? tr("No presentations found in what was dropped.") : refused);
        return !sources.Folders.isEmpty();
    }
    NewBatch();
    for (const QString& path : std::as_const(files))
        AddSource(path);
    Notice(refused);
    return true;
}
