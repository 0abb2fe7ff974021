#pragma once

#include "engine/dvRun.h"
#include "gui/dvFormBase.h"

#include <QIcon>
#include <QList>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TdvBatch;
class TdvConvertor;
class TdvFrmCfg;
struct TdvNode;

// A push button that shows an action: caption, hint, enabled and visible state follow the action, and a
// click runs it. The window swaps the action a button shows while a batch runs.
class TdvActionButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TdvActionButton(QWidget* parent = nullptr);
    void setAction(QAction* action);
    QAction* action() const { return FAction; }

private:
    void sync();
    QAction* FAction = nullptr;
};

// The main window: source, target and sub-folder controls bound to the project, the list of work items,
// the project, help and web commands, and the commands that run a batch.
class TdvFrmMain : public TdvFrmBase
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
    // A double-click on a row: a converted row opens its PDF, a failed one shows its message.
    void OpenRow(QTreeWidgetItem* row);
    // The whole text of a list cell when the cell shows only part of it; empty otherwise.
    QString CellHint(const QTreeWidgetItem* row, int column) const;

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
    void UpdateTitle();

    // Rows of the list. The callbacks run on the batch's search thread or on workers: they copy what the row
    // needs and hand it to the GUI thread without waiting, so no thread waits for the GUI while it holds
    // the batch lock.
    static void OnItemListed(void* context, TdvBatch* batch, TdvNode* item);
    QTreeWidgetItem* ShowItem(const QString& path, TdvBatch* batch, TdvNode* item);
    TdvBatch* Batch() const { return FBatch.get(); }

    // Running a batch.
    void aSearchExecute();
    void aConvertExecute();
    void aSearchConvertExecute();
    void aPauseExecute();
    void aStopExecute();
    static void OnItemDone(void* context, TdvBatch* batch, TdvNode* item);
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

    TdvFrmCfg* CfgForm() const { return FCfg; }

    // Controls, by their component names.
    QToolBar* ToolBar = nullptr;
    QWidget* pAction = nullptr;
    QWidget* pSource = nullptr;
    QWidget* pTarget = nullptr;
    QWidget* pOthers = nullptr;
    QWidget* pSpacer = nullptr;
    QWidget* pViewer = nullptr;
    QLabel* lblSource = nullptr;
    QLabel* lblTarget = nullptr;
    QLineEdit* eSource = nullptr;
    QLineEdit* eTarget = nullptr;
    QPushButton* bSource = nullptr;
    QPushButton* bSourceFile = nullptr;
    QPushButton* bTarget = nullptr;
    QCheckBox* cSubdir = nullptr;
    TdvActionButton* bSearch = nullptr;
    TdvActionButton* bView = nullptr;
    TdvActionButton* bSearchConvert = nullptr;
    TdvActionButton* bCreate = nullptr;
    QTreeWidget* lViewer = nullptr;
    QWidget* pStatus = nullptr;
    QProgressBar* pbRun = nullptr;
    QLabel* lblCount = nullptr;

    QToolButton* tbOpen = nullptr;
    QToolButton* tbNew = nullptr;
    QToolButton* tbConfig = nullptr;
    QToolButton* tbSave = nullptr;
    QToolButton* tbSaveAs = nullptr;
    QAction* tb1 = nullptr;
    QToolButton* tbUpdate = nullptr;
    QAction* tb2 = nullptr;
    QToolButton* tbHelp = nullptr;
    QToolButton* tbHomePage = nullptr;
    QToolButton* tbSupports = nullptr;
    QToolButton* tbAbout = nullptr;

    QList<QIcon> imgList;
    QList<QAction*> actList;
    QAction* aConvert = nullptr;
    QAction* aStop = nullptr;
    QAction* aOpen = nullptr;
    QAction* aNew = nullptr;
    QAction* aConfig = nullptr;
    QAction* aSave = nullptr;
    QAction* aSaveAs = nullptr;
    QAction* aUpdate = nullptr;
    QAction* aHelp = nullptr;
    QAction* aHomePage = nullptr;
    QAction* aSupports = nullptr;
    QAction* aAbout = nullptr;
    QAction* aSearch = nullptr;
    QAction* aView = nullptr;
    QAction* aSearchConvert = nullptr;
    QAction* aPause = nullptr;

    QMenu* pm1 = nullptr;
    QAction* BrowseFiles1 = nullptr;
    QAction* N1 = nullptr;
    QAction* ViewSource1 = nullptr;
    QAction* OpenSource1 = nullptr;
    QAction* N2 = nullptr;
    QAction* ViewOutput1 = nullptr;
    QAction* N3 = nullptr;
    QAction* ExportList1 = nullptr;
    QMenu* pm2 = nullptr;

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
    void createActions();
    void createToolBar();
    void createPanels();
    void createList();
    void createMenus();
    void fitToolBar();
    QAction* newAction(const char* name, const QString& caption, const QString& hint, int image,
                       void (TdvFrmMain::*handler)());

    // A row change as it reaches the GUI thread; reported is false for a listing, true for a result.
    void postRow(int index, int state, const QString& source, const QString& result, bool reported);
    void applyRow(quint64 serial, int index, int state, const QString& source, const QString& result,
                  bool reported);
    QTreeWidgetItem* rowAt(int index);
    void updateStatus();
    void releaseBatch();
    void setRunning(bool running);
    // The run is ending after the workers' current files: "Stopping" or "Pausing" on the status line.
    void showEnding(const QString& word);
    void endRun();

    std::unique_ptr<TdvBatch> FBatch;
    // Changes with every batch, so that rows still on their way from a dropped batch are not applied.
    std::atomic<quint64> FBatchSerial{0};
    bool FBatchFed = false; // a search was started or sources were added
    int FDoneCount = 0;
    int FFailedCount = 0;
    TdvFrmCfg* FCfg = nullptr;
    bool FShownOnce = false;
    std::unique_ptr<TdvRun> FRun;
    bool FStopped = false;
    bool FCloseWhenEnded = false; // the window was closed during a run: it closes once the run has ended
    QString FEnding;              // how the run is ending, while its workers finish
    class TdvRepeat* FRepeat = nullptr; // the periodic mode's repeats
};

// The target reduced until it names a folder: wildcards and an existing file name are cut back to the
// folder part, pass by pass, until a pass no longer shortens it. Local paths may hold ":".
QString reduceTarget(const QString& target);

extern TdvFrmMain* dvFrmMain;
