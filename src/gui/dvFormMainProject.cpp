// The window's opening and closing, its title and session, and the project and information commands.
#include "gui/dvFormMain.h"

#include "engine/dvRepeat.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvSession.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLayout>
#include <QMenu>
#include <QScreen>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

// ---- opening and closing ---------------------------------------------------------------------------------

void TdvFrmMain::FormCreate()
{
    RegisterControls();
    UpdateLinkCommands();
    gProject->OpenStartupProject();
    RestoreSession();
    ListStartupSources();
    UpdateTitle();
    updateStatus();
}

void TdvFrmMain::ListStartupSources()
{
    // A desktop hands every file it was asked to open to one program: beyond the first, the paths given are
    // listed as if dropped on the list.
    QStringList paths;
    if (gApp && (gApp->Params.size() > 1 || gApp->ConvertOnStart))
        for (const QString& param : std::as_const(gApp->Params))
            if (!param.startsWith(QLatin1Char('-')))
                paths.append(absolutePath(param));
    if (!paths.isEmpty())
        takeDrop(lViewer, paths);
}

void TdvFrmMain::setFirstSize()
{
    // The described size, but never more than the screen holds: at 150 % a 1200-pixel window would put
    // Convert beyond the screen's edge.
    QSize size(1200, 600);
    if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
        const QSize room = s->availableGeometry().size() * 9 / 10;
        // A narrow screen gets the tool bar's pictures alone (their names are in their hints), so that the
        // whole window fits on it.
        if (minimumSizeHint().width() > room.width()) {
            ToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
            fitToolBar();
            layout()->activate();
        }
        size = size.boundedTo(room).expandedTo(minimumSizeHint());
    }
    resize(size);
}

void TdvFrmMain::showEvent(QShowEvent* event)
{
    TdvFrmBase::showEvent(event);
    guarded(this, [this] { FormShow(); });
}

void TdvFrmMain::FormShow()
{
    if (FShownOnce)
        return;
    FShownOnce = true;
    // After the window is up, so a run-and-close start shows its rows and may close the window.
    QMetaObject::invokeMethod(
        this, [this] { guarded(this, [this] { AutoConvert(); }); }, Qt::QueuedConnection);
}

bool TdvFrmMain::closeAsked()
{
    if (FRun && Ask &&
        Ask(tr("A conversion is running. Stop it and quit?"), QMessageBox::Yes | QMessageBox::No,
            QMessageBox::No) != QMessageBox::Yes)
        return false;
    // Nobody watches an unattended run: its window closes without a question.
    const bool unattended = gProject->RunAndClose();
    const bool named = !gProject->ProjectFile.isEmpty() && QFileInfo::exists(gProject->ProjectFile);
    if (!unattended && named && IsModified() && Ask) {
        const QMessageBox::StandardButton answer =
            Ask(tr("The project %1 has changes that are not saved. Save them before closing?")
                    .arg(QFileInfo(gProject->ProjectFile).fileName()),
                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
        if (answer == QMessageBox::Cancel)
            return false;
        if (answer == QMessageBox::Save) {
            guarded(this, [this] { aSaveExecute(); });
            if (IsModified())
                return false; // the save failed and said why: the window stays
        } else {
            // Thrown away: the next start shows the project as its file holds it.
            gProject->SetOptionLines(FSavedOptions);
            gProject->ApplyOptions();
        }
    }
    return true;
}

void TdvFrmMain::closeEvent(QCloseEvent* event)
{
    if (!FCloseConfirmed) {
        bool asked = false;
        guarded(this, [&] { asked = closeAsked(); });
        if (!asked) {
            event->ignore();
            return;
        }
        FCloseConfirmed = true;
    }
    FRepeat->Disarm();
    if (FRun) {
        // Stopped at once: the files in hand end as not done and their offices are ended. The window goes
        // now; the workers let go of the batch within moments, and the program waits for them on its way out.
        FCloseWhenEnded = true;
        FStopped = true;
        FRun->Abort();
    }
    guarded(this, [this] { SaveSession(); });
    FCloseConfirmed = false;
    event->accept();
}

void TdvFrmMain::FormDestroy()
{
    FRepeat->Disarm();
    FTick->stop();
    FListWatch->stop();
    // Freed here, the run stops and waits for its workers; their events for this window are dropped.
    if (FRun)
        FRun->Abort();
    FRun.reset();
    try {
        releaseBatch();
    } catch (...) {
        // Freeing a batch is a side operation at the end.
    }
    setAcceptDrops(false);
}

// ---- title and session -----------------------------------------------------------------------------------

void TdvFrmMain::UpdateTitle()
{
    const QString file = gProject->ProjectFile;
    // The default project that was never written is no file of the person's: the project is untitled.
    const bool untitled = file.isEmpty() || (file == gProject->DefaultProject() && !QFileInfo::exists(file));
    const QString name = untitled ? tr("Untitled") : QFileInfo(file).fileName();
    setWindowTitle(name + QStringLiteral("[*] \u2013 ") + gProject->Title);
    setWindowModified(IsModified());
}

namespace {
// The option lines as collecting the controls would make them, the project's own left as they are: a line
// that collecting adds early would change the order of the lines a later Save writes.
QStringList collectedLines()
{
    const QStringList before = gProject->OptionLines();
    gProject->CollectOptions();
    QStringList lines = gProject->OptionLines();
    gProject->SetOptionLines(before);
    return lines;
}
} // namespace

bool TdvFrmMain::IsModified()
{
    return collectedLines() != FSavedOptions;
}

void TdvFrmMain::MarkSaved()
{
    FSavedOptions = collectedLines();
    UpdateTitle();
}

void TdvFrmMain::SaveSession()
{
    // An unattended run must not become the next start's project.
    if (gProject->RunAndClose())
        return;
    TdvSession session;
    session.ProjectFile = gProject->ProjectFile;
    session.Options = collectedLines();
    session.SavedOptions = FSavedOptions;
    session.Geometry = saveGeometry();
    session.ListColumns = lViewer->header()->saveState();
    const QString problem = session.Save();
    if (!problem.isEmpty() && ShowError)
        ShowError(tr("The window's state is not kept for the next start: %1").arg(problem));
}

void TdvFrmMain::RestoreSession()
{
    const TdvSession session = TdvSession::Load();
    if (session.Geometry.isEmpty() || !restoreGeometry(session.Geometry))
        setFirstSize();
    else
        KeepPlace();
    if (!session.ListColumns.isEmpty())
        lViewer->header()->restoreState(session.ListColumns);
    // What was on screen comes back when the program starts without being told what to open.
    const bool plainStart = !gApp || gApp->FirstParam.isEmpty();
    if (!plainStart || !session.Found) {
        MarkSaved();
        return;
    }
    if (gProject->IsProjectFile(session.ProjectFile) && QFileInfo::exists(session.ProjectFile)) {
        // Read first, so that a later Save keeps the file's encoding.
        gProject->ProjectFile = session.ProjectFile;
        gProject->OpenProject(false);
    } else {
        gProject->ProjectFile = session.ProjectFile;
    }
    gProject->SetOptionLines(session.Options);
    gProject->ApplyOptions();
    FSavedOptions = session.SavedOptions;
}

// ---- project commands ------------------------------------------------------------------------------------

void TdvFrmMain::aOpenExecute()
{
    const QString before = gProject->ProjectFile;
    const QStringList lines = gProject->OptionLines();
    gProject->OpenProject(true);
    if (gProject->ProjectFile != before || gProject->OptionLines() != lines)
        MarkSaved();
    UpdateTitle();
}

void TdvFrmMain::aNewExecute()
{
    gProject->NewProject();
    MarkSaved();
}

void TdvFrmMain::aConfigExecute()
{
    if (!FCfg)
        FCfg = new TdvFrmCfg(this);
    FCfg->ShowModal();
    UpdateTitle();
}

void TdvFrmMain::aSaveExecute()
{
    const QString file = gProject->ProjectFile;
    // The default project that was never written is untitled: it is saved where the person says.
    if (file.isEmpty() || (file == gProject->DefaultProject() && !QFileInfo::exists(file)))
        gProject->SaveAs();
    else
        gProject->Save();
    if (!gProject->ProjectFile.isEmpty() && QFileInfo::exists(gProject->ProjectFile))
        MarkSaved();
    UpdateTitle();
}

void TdvFrmMain::aSaveAsExecute()
{
    const QString before = gProject->ProjectFile;
    gProject->SaveAs();
    if (gProject->ProjectFile != before || QFileInfo::exists(gProject->ProjectFile))
        MarkSaved();
    UpdateTitle();
}

void TdvFrmMain::pm2Popup()
{
    pm2->clear();
    for (const QString& path : std::as_const(gProject->RecentProjects)) {
        // An ampersand in a path is shown as such, not taken as an accelerator.
        QAction* item = pm2->addAction(QString(path).replace(QLatin1Char('&'), QLatin1String("&&")));
        item->setData(path);
        item->setEnabled(QFileInfo::exists(path));
        connect(item, &QAction::triggered, this,
                [this, path] { guarded(this, [this, path] { RecentProjectClick(path); }); });
    }
}

void TdvFrmMain::RecentProjectClick(const QString& path)
{
    gProject->ProjectFile = path;
    gProject->OpenProject(false);
    MarkSaved();
}

// ---- information commands --------------------------------------------------------------------------------

void TdvFrmMain::UpdateLinkCommands()
{
    // A build without a site or a support address has nowhere to send these: hide them rather than leave
    // commands that do nothing.
    const bool site = !gInfo->SiteRoot.isEmpty();
    aUpdate->setVisible(site);
    tb1->setVisible(site);
    aHomePage->setVisible(site);
    aSupports->setVisible(!gInfo->SupportMail.isEmpty());
    fitToolBar();
}

void TdvFrmMain::aUpdateExecute()
{
    gInfo->OpenLink(QStringLiteral("download"), QString(), QString());
}

void TdvFrmMain::aHelpExecute()
{
    const QString help = gInfo->HelpFile();
    if (!QFileInfo::exists(help)) {
        if (ShowError)
            ShowError(tr("The help is not installed: %1 is missing.").arg(help));
        return;
    }
    gInfo->OpenLink(QStringLiteral("h"), QString(), QString());
    gInfo->IncCounter(QStringLiteral("H"), 0, 1);
}

void TdvFrmMain::aHomePageExecute()
{
    gInfo->OpenLink(QString(), QString(), QString());
}

void TdvFrmMain::aSupportsExecute()
{
    gInfo->OpenLink(QStringLiteral("supports"), QString(), QString());
}

void TdvFrmMain::aAboutExecute()
{
    if (dvFrmAbout)
        dvFrmAbout->ShowAbout();
}
