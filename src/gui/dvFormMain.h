#pragma once

#include "engine/dvRun.h"
#include "gui/dvFormBase.h"
#include "gui/dvFormMainForm.h"
#include "gui/dvRunStatus.h"

#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class TdvRepeat;
class TdvWork;
class TdvDesktop;
class TdvItemFilter;
class TdvItemModel;
class TdvFrmCfg;

// The main window: source, target and sub-folder controls bound to the project, the list of work items,
// the project, help and web commands, and the commands that run a batch. Its controls are the form's
// (TdvFrmMainForm); the window builds the form and connects the controls to its commands.
class TdvFrmMain : public TdvFrmBase, public TdvFrmMainForm, public TdvItemObserver
{
    Q_OBJECT
public:
    explicit TdvFrmMain(QWidget* parent = nullptr);
    ~TdvFrmMain() override;

    virtual void RegisterControls();

    // Source and target.
    void bSourceClick();
    // The source becomes folder with the product's pattern; an empty target follows it.
    void SetSourceFolder(QString folder);
    void bSourceFileClick();
    void bTargetClick();
    void aViewExecute();
    void ViewSource1Click();
    void OpenSource1Click();
    void OpenSelected(bool folderOnly);
    // A double-click on a row (its number in the batch): a converted row opens its PDF, a failed one shows
    // its message.
    void OpenRow(int row);
    // The whole text of a list cell (by its row in the batch) when the cell shows only part of it.
    QString CellHint(int row, int column) const;
    // The rows selected, in the order the list shows them, by their number in the batch.
    QList<int> SelectedRows() const;
    // Ctrl+C: the selected rows as lines of the exported list.
    void aCopyExecute();
    // Lists the failed rows' files again and converts them.
    void aRetryExecute();

    // Project commands.
    void aOpenExecute();
    void aNewExecute();
    void aConfigExecute();
    void aSaveExecute();
    void aSaveAsExecute();
    void RecentProjectClick(const QString& path);

    // Information commands.
    void aUpdateExecute();
    void aHelpExecute();
    void aHomePageExecute();
    void aSupportsExecute();
    void aAboutExecute();
    // Shows the web and mail commands only when this build has somewhere to send them.
    void UpdateLinkCommands();

    void pm1Popup();
    void pm2Popup();

    // Drops paths on the control under pos (window coordinates); answers whether the drop was taken.
    bool WMDropFiles(const QPoint& pos, const QStringList& paths);

    void NewBatch();
    void FillTarget(const QString& folder);
    void AddSource(const QString& path);
    // "name – Vellum Converter", with the unsaved mark while the options differ from the project file's.
    void UpdateTitle();
    // The options on screen differ from those the project file holds (or a new project began with).
    bool IsModified();
    // The options on screen are those the project file holds now.
    void MarkSaved();
    // The window's state for the next start: project, options, place and columns.
    void SaveSession();
    void RestoreSession();
    // The sources named on the command line beyond the first (or all of them for --convert), listed.
    void ListStartupSources();

    // A word to the person about the last command (why nothing started, what a drop refused), shown above
    // the list until the next command; unattended runs also write it to standard error.
    void Notice(const QString& text);
    QString NoticeText() const;

    // Rows of the list. The callbacks run on the batch's search thread or on workers: they copy what the row
    // needs and hand it to the GUI thread without waiting, so no thread waits for the GUI while it holds
    // the batch lock.
    void ItemListed(const TdvItemEvent& item) override;
    void ItemStarted(const TdvItemEvent& item) override;
    // The batch being listed and converted, or none.
    TdvWork* Work() const { return FWork.get(); }
    // The periodic mode's repeats: armed while the window waits to list the source again.
    const TdvRepeat* Repeat() const { return FRepeat; }
    TdvItemModel* Items() const { return FItems; }
    TdvItemFilter* Filter() const { return FFilter; }

    // Running a batch.
    void aSearchExecute();
    void aConvertExecute();
    void aSearchConvertExecute();
    void aPauseExecute();
    void aStopExecute();
    // Runs on the worker that handled the item.
    void ItemDone(const TdvItemEvent& item) override;
    // A worker of the run has ended; `running` of them are left.
    void OnWorkerEnded(int running);
    void SaveList(const QString& fileName);
    void ExportList1Click();
    void AutoConvert();
    void CheckRunAndClose();
    bool IsRunning() const { return FRun != nullptr; }
    TdvRun* Run() const { return FRun.get(); }
    int RunningWorkers() const { return FRun ? FRun->Running() : 0; }
    bool Stopped() const { return FStopped; }
    int DoneCount() const { return FDoneCount; }

    // The exit code of the program: 1 when an unattended run could not write its log.
    int ExitCode = 0;
    // Shows a failure to the user; tests replace it so no message box waits for a click.
    std::function<void(const QString&)> ShowError;
    // Asks the person; tests replace it with answers given in advance.
    std::function<QMessageBox::StandardButton(const QString& text, QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)>
        Ask;
    // Notification, urgency and task bar progress.
    TdvDesktop* Desktop = nullptr;

    TdvFrmCfg* CfgForm() const { return FCfg; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    void FormCreate();
    void FormShow();
    void FormDestroy();

private:
    enum class RowChange { Listed, Started, Reported };

    // Each part of the form, built and connected to the window's commands.
    void createActions();
    void createToolBar();
    void createPanels();
    void createList();
    void createMenus();
    // The list's menu at a point of the list (the mouse's, or the current row's from the keyboard).
    void showListMenu(const QPoint& pos);
    void setFirstSize();

    // A row change as it reaches the GUI thread.
    void postRow(RowChange change, int index, int state, bool skipped, const QString& source,
                 const QString& result);
    void applyRow(quint64 serial, RowChange change, int index, int state, bool skipped, const QString& source,
                  const QString& result);
    void updateStatus();
    // Why a Convert or Search cannot start with what the fields hold (and the field to mend), or empty.
    QString sourceProblem(QWidget** field);
    QString nothingFoundText() const;
    bool takeDrop(QWidget* target, const QStringList& paths);
    bool closeAsked();
    void releaseBatch();
    void setRunning(bool running);
    void setResume(bool resume);
    // The run is ending after the workers' current files: "Stopping" or "Pausing" on the status line.
    void showEnding(const QString& word);
    void endRun();
    // Before a run: the option values it cannot take, said once, and an unattended run's LogFile, which
    // must be one the list can be written to (false: said, and the run does not start).
    void tellOptionProblems();
    bool logFileUsable();
    QStringList FToldOptionProblems;

    std::unique_ptr<TdvWork> FWork;
    // Changes with every batch, so that rows still on their way from a dropped batch are not applied.
    std::atomic<quint64> FBatchSerial{0};
    int FDoneCount = 0;
    int FStandInCount = 0; // PDFs of this batch with text in stand-in fonts
    TdvFrmCfg* FCfg = nullptr;
    bool FShownOnce = false;
    bool FShownConverted = false; // the sources of --convert were converted
    std::unique_ptr<TdvRun> FRun;
    bool FStopped = false;
    bool FCloseWhenEnded = false; // the window was closed during a run: it closes once the run has ended
    bool FCloseConfirmed = false; // the person has answered the closing questions
    QString FEnding;              // how the run is ending, while its workers finish
    TdvRunStatus::End FRunEnd = TdvRunStatus::End::None;
    bool FPausing = false;
    QElapsedTimer FClock; // since the run started
    qint64 FLastElapsed = 0;
    class QTimer* FTick = nullptr;       // the status line's clock during a run
    class QTimer* FListWatch = nullptr;  // a search's end, to say when it found nothing
    class QTimer* FTitleTimer = nullptr; // the title after an edit, once the edit's own changes are done
    QStringList FSavedOptions;           // the options as the project file holds them
    TdvItemModel* FItems = nullptr;
    TdvItemFilter* FFilter = nullptr;
    TdvRepeat* FRepeat = nullptr; // the periodic mode's repeats
};

// The target reduced until it names a folder: wildcards and an existing file name are cut back to the
// folder part, pass by pass, until a pass no longer shortens it. Local paths may hold ":".
QString reduceTarget(const QString& target);

extern TdvFrmMain* dvFrmMain;
