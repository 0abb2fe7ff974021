#pragma once

#include <QCoreApplication>
#include <QIcon>
#include <QList>
#include <QPushButton>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolBar;
class QToolButton;
class QTreeView;
class TdvCellHints;
class TdvItemFilter;
class TdvNoticeBar;

// A push button that shows an action: caption, hint, enabled and visible state follow the action, and a
// click runs it. The window swaps the action a button shows while a batch runs. The button takes no key of
// its own: the actions carry the keys, so that a key reaches its command whichever button shows it.
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

// The main window's controls and how they are laid out. The window derives from it, builds it part by part
// and connects its commands; the controls keep their component names, by which the window, the project's
// option binding and the tests reach them. Building makes no connection to a command.
class TdvFrmMainForm
{
    // The captions stay in the window's context, where the translations have them.
    Q_DECLARE_TR_FUNCTIONS(TdvFrmMain)

public:
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
    TdvNoticeBar* pNotice = nullptr;
    QLabel* lblNotice = nullptr;
    QWidget* pFilter = nullptr;
    QComboBox* cbFilter = nullptr;
    QLineEdit* eFilter = nullptr;
    QTreeView* lViewer = nullptr;
    TdvCellHints* Hints = nullptr; // the whole text of a cell that shows only part of it
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
    QAction* aRetry = nullptr;
    QAction* aCopy = nullptr;
    QAction* aFilter = nullptr;

    // The list's menu, and the recent projects below Open.
    QMenu* pm1 = nullptr;
    QAction* BrowseFiles1 = nullptr;
    QAction* ViewSource1 = nullptr;
    QAction* OpenSource1 = nullptr;
    QAction* ViewOutput1 = nullptr;
    QAction* ExportList1 = nullptr;
    QMenu* pm2 = nullptr;

protected:
    TdvFrmMainForm() = default;
    ~TdvFrmMainForm() = default;
    TdvFrmMainForm(const TdvFrmMainForm&) = delete;
    TdvFrmMainForm& operator=(const TdvFrmMainForm&) = delete;

    // The parts, in this order, each into the window: the actions with their keys, the tool bar, the source
    // and target lines with the notice and status lines, the list over rows, its menu and the recent menu.
    void buildActions(QWidget* window);
    void buildToolBar(QWidget* window);
    void buildPanels(QWidget* window);
    void buildList(QWidget* window, TdvItemFilter* rows);
    void buildMenus(QWidget* window);
    // Every command stays on the bar: the window is never narrower than the bar's buttons.
    void fitToolBar();

private:
    QAction* newAction(QWidget* window, const char* name, const QString& caption, const QString& hint,
                       int image);
};
