// What the window says about a run: the notice and status lines, the checks before a run, the controls
// while it goes on, and how an unattended run ends.
#include "gui/dvFormMain.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvItemEvents.h"
#include "engine/dvRepeat.h"
#include "engine/dvRunLog.h"
#include "engine/dvWork.h"
#include "gui/dvDesktop.h"
#include "gui/dvItemList.h"
#include "gui/dvNotice.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include <cerrno>
#include <cstdio>

void TdvFrmMain::Notice(const QString& text)
{
    pNotice->SetText(text);
    if (!text.isEmpty() && gProject->RunAndClose())
        printError(text); // nobody watches an unattended run
}

QString TdvFrmMain::NoticeText() const
{
    return pNotice->Text();
}

void TdvFrmMain::updateStatus()
{
    TdvRunStatus status;
    status.Total = FItems->rowCount();
    status.Done = FItems->Done();
    status.Failed = FItems->Failed();
    status.NotDone = FItems->Count(TdvRowState::NotDone);
    status.Running = FRun != nullptr;
    status.Listed = FWork && FWork->Listed();
    status.Ending = FEnding;
    status.Finishing = RunningWorkers();
    status.ElapsedMs = FRun && FClock.isValid() ? FClock.elapsed() : FLastElapsed;
    status.LastEnd = FRunEnd;
    status.StandIns = FStandInCount;
    lblCount->setText(status.Text());
    pbRun->setRange(0, std::max(status.Total, 1));
    pbRun->setValue(std::min(status.Done, std::max(status.Total, 1)));
    Desktop->SetProgress(status.Total > 0 ? double(status.Done) / status.Total : 0, status.Running);
}

// ---- before a run ----------------------------------------------------------------------------------------

QString reduceTarget(const QString& target)
{
    QString text = target;
    for (;;) {
        QString bare = text;
        while (bare.size() > 1 && bare.endsWith(QLatin1Char('/')))
            bare.chop(1);
        const bool web = isWebAddress(text);
        const bool wildcards = text.contains(QLatin1Char('?')) || text.contains(QLatin1Char('*'));
        // The colon test guarded drive letters; on Linux only a web address can have a colon out of place.
        const bool colon = web && text.indexOf(QLatin1Char(':')) >= 10;
        const QFileInfo info(bare);
        const bool file = !web && !bare.isEmpty() && info.exists() && !info.isDir();
        if (!wildcards && !colon && !file)
            break;
        const QString folder = extractFilePath(bare);
        if (folder.size() >= text.size())
            break;
        text = folder;
    }
    return text;
}

QString TdvFrmMain::sourceProblem(QWidget** field)
{
    *field = eSource;
    if (eSource->text().trimmed().isEmpty())
        return tr("Choose what to convert: the Source field is empty.");
    *field = eTarget;
    if (eTarget->text().trimmed().isEmpty())
        return tr("Choose where the PDF files go: the Target field is empty.");
    *field = eSource;
    QString source;
    try {
        source = normalizePath(absolutePath(eSource->text().trimmed()));
    } catch (const std::exception& e) {
        return errorMessage(e);
    }
    if (isDirectory(source))
        return QString(); // a folder stands for the presentations in it
    const QString name = extractFileName(source);
    const bool pattern = name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
    const QString folder = extractFilePath(source);
    if (!isDirectory(folder.isEmpty() ? QStringLiteral("/") : folder))
        return tr("The source folder %1 does not exist.").arg(folder);
    if (!pattern && !fileExists(source))
        return tr("The source %1 does not exist.").arg(source);
    return QString();
}

QString TdvFrmMain::nothingFoundText() const
{
    const QString folder = FWork ? FWork->SourceFolder() : FItems->SourceFolder();
    const QString mask = FWork ? FWork->Mask() : gProject->SourcePattern;
    return FWork && FWork->Subdirs()
               ? tr("No presentations found in %1 or its sub-folders (pattern %2).").arg(folder, mask)
               : tr("No presentations found in %1 (pattern %2).").arg(folder, mask);
}

void TdvFrmMain::tellOptionProblems()
{
    const QStringList problems = gProject->OptionProblems();
    // Said once, not at every run of a periodic or repeated start, and again once they change.
    if (problems == FToldOptionProblems)
        return;
    FToldOptionProblems = problems;
    if (problems.isEmpty())
        return;
    const QString text = problems.join(QLatin1Char('\n'));
    if (gProject->RunAndClose())
        fprintf(stderr, "%s\n", text.toLocal8Bit().constData()); // nobody may be there to close a box
    else if (ShowError)
        ShowError(text);
}

bool TdvFrmMain::logFileUsable()
{
    const QString logFile = gProject->LogFile();
    if (!gProject->RunAndClose() || logFile.isEmpty())
        return true;
    QString reason = runFileRefusal(logFile, FWork ? &FWork->Batch() : nullptr, gProject->TargetExt);
    const QString folder = extractFilePath(logFile);
    if (reason.isEmpty() && !folder.isEmpty() && !makeFolder(folder, &reason) && reason.isEmpty())
        reason = systemMessage(ENOTDIR);
    if (reason.isEmpty() && !folder.isEmpty())
        reason = writeProblem(folder);
    if (reason.isEmpty())
        return true;
    // Found before any file is converted, as the console finds it: the run does not start.
    const QString message =
        QStringLiteral("The list cannot be written to %1: %2").arg(escapeControls(logFile), reason);
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    if (!gProject->PureConsole() && ShowError)
        ShowError(message);
    ExitCode = 1;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    return false;
}

// ---- while a run goes on ---------------------------------------------------------------------------------

void TdvFrmMain::setRunning(bool running)
{
    FEnding.clear();
    aConvert->setEnabled(!running);
    aSearchConvert->setEnabled(!running);
    aSearch->setEnabled(!running);
    aRetry->setEnabled(!running);
    bSourceFile->setEnabled(!running);
    BrowseFiles1->setEnabled(!running);
    // The fields are the run's while it goes on: nothing typed can change what it converts.
    eSource->setReadOnly(running);
    eTarget->setReadOnly(running);
    cSubdir->setEnabled(!running);
    bSource->setEnabled(!running);
    bTarget->setEnabled(!running);
    if (running) {
        FRunEnd = TdvRunStatus::End::None;
        setResume(false);
        aStop->setEnabled(true);
        aPause->setEnabled(true);
        bCreate->setAction(aPause);
        bSearchConvert->setAction(aStop);
        FTick->start();
    } else {
        bCreate->setAction(aConvert);
        bSearchConvert->setAction(aSearchConvert);
        FTick->stop();
    }
    updateStatus();
}

void TdvFrmMain::setResume(bool resume)
{
    // After a pause the button says what Convert does then; Resume answers its own letter and Convert's,
    // which the person may have learnt.
    const QString convert = tr("&Convert");
    aConvert->setText(resume ? tr("&Resume") : convert);
    QList<QKeySequence> keys = {QKeySequence::mnemonic(convert)};
    if (resume)
        keys.append(QKeySequence::mnemonic(aConvert->text()));
    aConvert->setShortcuts(keys);
}

void TdvFrmMain::showEnding(const QString& word)
{
    // Workers end only after their current files, which may take a while: say so, and take no more orders.
    FEnding = word;
    aPause->setEnabled(false);
    aStop->setEnabled(false);
    updateStatus();
}

// ---- unattended runs -------------------------------------------------------------------------------------

void TdvFrmMain::AutoConvert()
{
    // --convert starts once, with the files it was given; the window then stays with their outcome.
    const bool convertNow = !FShownConverted && gApp && gApp->ConvertOnStart;
    FShownConverted = true;
    if (gProject->RunAndClose() || convertNow)
        aConvertExecute();
}

void TdvFrmMain::CheckRunAndClose()
{
    if (!gProject->RunAndClose())
        return;
    const QString logFile = gProject->LogFile();
    // A repeat that found nothing new keeps the list of the last one that did.
    const bool emptyRepeat = gProject->Daemon() > 0 && FItems->rowCount() == 0;
    if (!logFile.isEmpty() && !emptyRepeat) {
        try {
            SaveList(logFile);
        } catch (const std::exception& e) {
            // Nobody watches an unattended run: say it where its caller looks and end with a failure code.
            fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
            ExitCode = 1;
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
            return;
        }
    }
    if (gProject->Daemon() < 1) {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        return;
    }
    // The periodic mode waits on a timer, so every cycle starts afresh from the event loop.
    if (!FStopped)
        FRepeat->Arm(gProject->Daemon());
}
