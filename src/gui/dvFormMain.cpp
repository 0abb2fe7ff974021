// The main window: its creation, the batch and its rows, and the commands that run it.
#include "gui/dvFormMain.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "engine/dvRepeat.h"
#include "engine/dvRun.h"
#include "engine/dvWork.h"
#include "gui/dvDesktop.h"
#include "gui/dvIcons.h"
#include "gui/dvItemList.h"
#include "gui/dvNotice.h"
#include "gui/dvRunStatus.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>

TdvFrmMain* dvFrmMain = nullptr;

// ---- creation --------------------------------------------------------------------------------------------

TdvFrmMain::TdvFrmMain(QWidget* parent) : TdvFrmBase(parent)
{
    setObjectName(QStringLiteral("dvFrmMain"));
    dvFrmMain = this;
    imgList = makeImageList();
    setWindowIcon(productIcon());
    FItems = new TdvItemModel(imgList, this);
    FFilter = new TdvItemFilter(this);
    FFilter->setSourceModel(FItems);
    Desktop = new TdvDesktop(this);
    createActions();
    createToolBar();
    createPanels();
    createList();
    createMenus();
    fitToolBar(); // after the menus: Open's drop-down arrow widens the bar

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar);
    layout->addWidget(pAction);
    layout->addWidget(pSpacer);
    layout->addWidget(pNotice);
    layout->addWidget(pViewer, 1);
    layout->addWidget(pStatus);

    FRepeat = new TdvRepeat([this] { guarded(this, [this] { AutoConvert(); }); }, this);
    FTick = new QTimer(this);
    FTick->setInterval(1000);
    connect(FTick, &QTimer::timeout, this, &TdvFrmMain::updateStatus);
    FTitleTimer = new QTimer(this);
    FTitleTimer->setSingleShot(true);
    connect(FTitleTimer, &QTimer::timeout, this, &TdvFrmMain::UpdateTitle);
    FListWatch = new QTimer(this);
    FListWatch->setInterval(100);
    connect(FListWatch, &QTimer::timeout, this, [this] {
        if (!FWork) {
            FListWatch->stop();
        } else if (FWork->Listed()) {
            FListWatch->stop();
            if (FWork->Count() == 0)
                Notice(nothingFoundText());
        }
    });
    ShowError = [this](const QString& message) { QMessageBox::warning(this, gProject->Title, message); };
    Ask = [this](const QString& text, QMessageBox::StandardButtons buttons,
                 QMessageBox::StandardButton defaultButton) {
        return QMessageBox::question(this, gProject->Title, text, buttons, defaultButton);
    };
    // Unexpected errors that no report page receives are shown through the same replaceable hook.
    gInfo->ShowError = [this](const QString& message) {
        if (ShowError)
            ShowError(message);
    };

    setAcceptDrops(true);
    guarded(this, [this] { FormCreate(); });
}

TdvFrmMain::~TdvFrmMain()
{
    FormDestroy();
    if (gInfo)
        gInfo->ShowError = printError;
    if (dvFrmMain == this)
        dvFrmMain = nullptr;
}

// ---- batch and rows --------------------------------------------------------------------------------------

void TdvFrmMain::releaseBatch()
{
    // Never under the workers of a run: they draw items from it until they end.
    if (!FWork || FRun)
        return;
    // Rows of a batch being freed are no longer wanted; its search thread only posts, so the wait is short.
    ++FBatchSerial;
    FWork.reset();
}

void TdvFrmMain::NewBatch()
{
    if (FRun)
        return;
    try {
        releaseBatch();
    } catch (...) {
        // A batch that failed to free is left behind rather than freed twice.
        FWork.release(); // NOLINT(bugprone-unused-return-value)
    }
    ++FBatchSerial;
    FWork = std::make_unique<TdvWork>(this, gProject->RegExt(), gProject->SkipHidden());
    FRunEnd = TdvRunStatus::End::None;
    setResume(false);
    FItems->Clear();
    FItems->SetSourceFolder(QString());
    FDoneCount = 0;
    FStandInCount = 0;
    updateStatus();
}

void TdvFrmMain::AddSource(const QString& path)
{
    FillTarget(extractFilePath(path));
    if (!FWork)
        NewBatch();
    FWork->Add(path);
}

void TdvFrmMain::ItemListed(const TdvItemEvent& item)
{
    // Only the index and the source: the state and result may be a worker's already.
    postRow(RowChange::Listed, item.Index, 0, false, item.Source, QString());
}

void TdvFrmMain::ItemStarted(const TdvItemEvent& item)
{
    postRow(RowChange::Started, item.Index, 0, false, QString(), QString());
}

void TdvFrmMain::postRow(RowChange change, int index, int state, bool skipped, const QString& source,
                         const QString& result)
{
    const quint64 serial = FBatchSerial.load();
    if (QThread::currentThread() == thread()) {
        applyRow(serial, change, index, state, skipped, source, result);
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, serial, change, index, state, skipped, source, result] {
            applyRow(serial, change, index, state, skipped, source, result);
        },
        Qt::QueuedConnection);
}

void TdvFrmMain::applyRow(quint64 serial, RowChange change, int index, int state, bool skipped,
                          const QString& source, const QString& result)
{
    if (serial != FBatchSerial.load() || index < 0)
        return;
    switch (change) {
    case RowChange::Listed:
        FItems->Listed(index, source);
        break;
    case RowChange::Started:
        FItems->Started(index);
        break;
    case RowChange::Reported:
        FItems->Reported(index, state, skipped, source, result);
        break;
    }
    FDoneCount = FItems->Done();
    updateStatus();
}

// ---- running a batch -------------------------------------------------------------------------------------

void TdvFrmMain::aSearchExecute()
{
    if (FRun)
        return;
    Notice(QString());
    if (eSource->text().trimmed().isEmpty()) {
        Notice(tr("Choose what to convert: the Source field is empty."));
        eSource->setFocus();
        CheckRunAndClose();
        return;
    }
    QString source = absolutePath(eSource->text().trimmed());
    if (isWebAddress(source)) {
        NewBatch();
        AddSource(source);
        return;
    }
    QWidget* field = nullptr;
    const QString problem = sourceProblem(&field);
    if (!problem.isEmpty()) {
        Notice(problem);
        field->setFocus();
        CheckRunAndClose();
        return;
    }
    // A folder typed without a pattern stands for the presentations in it.
    if (isDirectory(normalizePath(source))) {
        if (!source.endsWith(QLatin1Char('/')))
            source += QLatin1Char('/');
        source += gProject->SourcePattern;
    }
    // The edits show the absolute paths the run uses, not the current folder they depended on.
    const QString target = absolutePath(eTarget->text().trimmed());
    if (source != eSource->text())
        eSource->setText(source);
    if (target != eTarget->text())
        eTarget->setText(target);
    NewBatch();
    std::function<bool(const QString&)> filter;
    if (gProject->Daemon() > 0)
        filter = [repeat = FRepeat](const QString& path) { return repeat->Take(path); };
    FWork->List(source, target, cSubdir->isChecked(), std::move(filter));
    FItems->SetSourceFolder(FWork->SourceFolder());
    FListWatch->start();
}

void TdvFrmMain::aSearchConvertExecute()
{
    aSearchExecute();
    aConvertExecute();
}

void TdvFrmMain::aConvertExecute()
{
    if (FRun)
        return; // a periodic start while the user's own run goes on
    Notice(QString());
    const auto targetMissing = [this] {
        Notice(tr("Choose where the PDF files go: the Target field is empty."));
        eTarget->setFocus();
        CheckRunAndClose();
    };
    // With nothing at all, what to convert comes first.
    if (eSource->text().trimmed().isEmpty() && eTarget->text().trimmed().isEmpty() &&
        (!FWork || !FWork->Fed())) {
        aSearchExecute();
        return;
    }
    if (eTarget->text().trimmed().isEmpty()) {
        targetMissing();
        return;
    }
    // A "file:" address is read as its local path before anything is made: taken as it stands it would
    // become a "file:" folder in the current folder.
    QString local = eTarget->text();
    if (!isWebAddress(local)) {
        try {
            local = normalizePath(local);
        } catch (const std::exception& e) {
            eTarget->setFocus();
            if (ShowError)
                ShowError(errorMessage(e));
            return;
        }
    }
    const QString reduced = reduceTarget(local);
    if (reduced != eTarget->text())
        eTarget->setText(reduced);
    if (reduced.isEmpty()) {
        targetMissing();
        return;
    }
    // The folder is made by the first file converted into it: a run that converts nothing makes nothing.
    QString target = reduced;
    if (!target.endsWith(QLatin1Char('/'))) {
        target += QLatin1Char('/');
        eTarget->setText(target);
    }
    gProject->StoreOptions(false);

    // A list that is spent or found nothing is listed afresh, so an edited source is picked up at once.
    if (!FWork || !FWork->Fed() || FWork->Exhausted() || (FWork->Listed() && FWork->Count() == 0))
        aSearchExecute();
    // No source: Search has said why and run the unattended step. An exhausted batch is not run again: its
    // workers would find nothing and its tallies would be counted twice.
    if (!FWork || !FWork->Fed() || FWork->Exhausted())
        return;

    tellOptionProblems();
    if (!logFileUsable())
        return;
    try {
        FRun = FWork->NewRun(gProject->RunOptions(), target, gInfo);
    } catch (const TdvError& e) {
        // An option the run cannot start with (a malformed OfficeServers entry) is the user's to mend.
        if (ShowError)
            ShowError(errorMessage(e));
        return;
    }
    FCloseWhenEnded = false;
    FRun->SetOnWorkerEnded(this, [this](int running) { guarded(this, [&] { OnWorkerEnded(running); }); });
    FItems->MarkUnfinished(TdvRowState::Waiting);
    FClock.start();
    setRunning(true);
    FRun->Start();
    gInfo->IncCounter(QStringLiteral("C"), 0, 1);
    FStopped = false;
}

void TdvFrmMain::aPauseExecute()
{
    if (!FRun)
        return;
    showEnding(tr("Pausing"));
    FPausing = true;
    FRun->Pause();
    aStop->setData(0);
}

void TdvFrmMain::aStopExecute()
{
    if (!FRun)
        return;
    FStopped = true;
    FPausing = false;
    showEnding(tr("Stopping"));
    FRun->Stop();
    aStop->setData(1);
}

void TdvFrmMain::ItemDone(const TdvItemEvent& item)
{
    // What the run adds (a source it kept, and why) stands beside the result, where the person looks.
    const QString result =
        item.Note.isEmpty() ? item.Result : QStringLiteral("%1 (%2)").arg(item.Result, item.Note);
    postRow(RowChange::Reported, item.Index, item.State, item.Skipped, item.Source, result);
    if (item.State == isDone && item.StandInFonts) {
        const quint64 serial = FBatchSerial.load();
        QMetaObject::invokeMethod(
            this,
            [this, serial] {
                if (serial != FBatchSerial.load())
                    return;
                ++FStandInCount;
                updateStatus();
            },
            Qt::QueuedConnection);
    }
}

void TdvFrmMain::OnWorkerEnded(int running)
{
    updateStatus();
    if (running == 0)
        endRun();
}

void TdvFrmMain::endRun()
{
    if (!FRun)
        return;
    // Every worker has ended; freeing the run only joins their threads.
    std::unique_ptr<TdvRun> run = std::move(FRun);
    FLastElapsed = FClock.isValid() ? FClock.elapsed() : 0;
    const bool paused = FPausing;
    FPausing = false;
    setRunning(false);
    if (FCloseWhenEnded) {
        // A run cut short by closing the window is not counted; the window has gone already.
        FCloseWhenEnded = false;
        return;
    }
    gInfo->RunEnded(*run);
    const TdvTallies tallies = run->Tallies();
    const bool exhausted = FWork->Exhausted();
    if (gProject->Daemon() > 0)
        FRepeat->RunEnded(&FWork->Batch());
    run.reset();
    if (aStop->data().toInt() == 1) {
        // The files the run did not reach are not done; the next Convert lists afresh.
        FItems->MarkUnfinished(TdvRowState::NotDone);
        FRunEnd = TdvRunStatus::End::Stopped;
        releaseBatch();
        aStop->setData(0);
    } else if (paused && !exhausted) {
        FRunEnd = TdvRunStatus::End::Paused;
        setResume(true);
    } else {
        FRunEnd = TdvRunStatus::End::Finished;
    }
    if (tallies.Listed == 0 && FRunEnd == TdvRunStatus::End::Finished)
        Notice(nothingFoundText());
    updateStatus();
    // Someone who looks elsewhere learns that the run is over.
    if (!isActiveWindow() && isVisible())
        Desktop->Notify(tallies.Failed > 0 ? tr("Conversion ended with failures") : tr("Conversion finished"),
                        tallies.Summary());
    CheckRunAndClose();
}
