// How the form's controls reach the window's commands: actions, buttons, menus, keys and the project's
// binding of the fields.
#include "gui/dvFormMain.h"

#include "gui/dvItemList.h"
#include "project/dvProject.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include <utility>

namespace {

// A signal that runs one of the window's commands; what the command throws is shown, not lost.
template <class Sender, class Signal>
void runOn(TdvFrmMain* window, const Sender* sender, Signal signal, void (TdvFrmMain::*command)())
{
    QObject::connect(sender, signal, window,
                     [window, command] { guarded(window, [window, command] { (window->*command)(); }); });
}

} // namespace

void TdvFrmMain::createActions()
{
    buildActions(this);
    const std::pair<QAction*, void (TdvFrmMain::*)()> commands[] = {
        {aConvert, &TdvFrmMain::aConvertExecute},
        {aStop, &TdvFrmMain::aStopExecute},
        {aOpen, &TdvFrmMain::aOpenExecute},
        {aNew, &TdvFrmMain::aNewExecute},
        {aConfig, &TdvFrmMain::aConfigExecute},
        {aSave, &TdvFrmMain::aSaveExecute},
        {aSaveAs, &TdvFrmMain::aSaveAsExecute},
        {aUpdate, &TdvFrmMain::aUpdateExecute},
        {aHelp, &TdvFrmMain::aHelpExecute},
        {aHomePage, &TdvFrmMain::aHomePageExecute},
        {aSupports, &TdvFrmMain::aSupportsExecute},
        {aAbout, &TdvFrmMain::aAboutExecute},
        {aSearch, &TdvFrmMain::aSearchExecute},
        {aView, &TdvFrmMain::aViewExecute},
        {aSearchConvert, &TdvFrmMain::aSearchConvertExecute},
        {aPause, &TdvFrmMain::aPauseExecute},
        {aRetry, &TdvFrmMain::aRetryExecute},
        {aCopy, &TdvFrmMain::aCopyExecute},
    };
    for (const auto& [action, command] : commands)
        runOn(this, action, &QAction::triggered, command);
    connect(aFilter, &QAction::triggered, this, [this] {
        eFilter->setFocus(Qt::ShortcutFocusReason);
        eFilter->selectAll();
    });
    aStop->setData(0);
}

void TdvFrmMain::createToolBar()
{
    // Its buttons show the actions, whose commands are connected already.
    buildToolBar(this);
}

void TdvFrmMain::createPanels()
{
    buildPanels(this);
    runOn(this, bSource, &QPushButton::clicked, &TdvFrmMain::bSourceClick);
    runOn(this, bSourceFile, &QPushButton::clicked, &TdvFrmMain::bSourceFileClick);
    runOn(this, bTarget, &QPushButton::clicked, &TdvFrmMain::bTargetClick);
    // The unsaved mark follows the edits, once the project has finished setting them: collecting the
    // controls in the middle of that would write their old values back.
    for (QLineEdit* edit : {eSource, eTarget}) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, [this] { FTitleTimer->start(0); });
    }
    connect(cSubdir, &QCheckBox::toggled, this, [this] { FTitleTimer->start(0); });
}

void TdvFrmMain::createList()
{
    buildList(this, FFilter);
    eFilter->installEventFilter(this);
    connect(lViewer, &QTreeView::doubleClicked, this, [this](const QModelIndex& index) {
        guarded(this, [this, index] { OpenRow(FFilter->mapToSource(index).row()); });
    });
    lViewer->installEventFilter(this);
}

void TdvFrmMain::createMenus()
{
    buildMenus(this);
    runOn(this, BrowseFiles1, &QAction::triggered, &TdvFrmMain::bSourceFileClick);
    runOn(this, ViewSource1, &QAction::triggered, &TdvFrmMain::ViewSource1Click);
    runOn(this, OpenSource1, &QAction::triggered, &TdvFrmMain::OpenSource1Click);
    connect(ViewOutput1, &QAction::triggered, aView, &QAction::trigger);
    runOn(this, ExportList1, &QAction::triggered, &TdvFrmMain::ExportList1Click);
    runOn(this, pm1, &QMenu::aboutToShow, &TdvFrmMain::pm1Popup);
    connect(lViewer, &QWidget::customContextMenuRequested, this, &TdvFrmMain::showListMenu);
    runOn(this, pm2, &QMenu::aboutToShow, &TdvFrmMain::pm2Popup);
}

void TdvFrmMain::showListMenu(const QPoint& pos)
{
    // The window system may follow a menu key with a context-menu request of its own: one menu is enough.
    if (!pm1->isVisible())
        pm1->popup(lViewer->viewport()->mapToGlobal(pos));
}

void TdvFrmMain::RegisterControls()
{
    const auto bind = [](QWidget* control, const char* property) {
        control->setProperty("bindProperty", QString::fromLatin1(property));
        gProject->BindControl(control);
    };
    bind(eSource, "Text");
    bind(cSubdir, "Checked");
    bind(eTarget, "Text");
}

bool TdvFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // An Alt key that no command took is never typed into a field: Alt+C while Convert cannot run must
        // not replace the source with "c".
        if ((watched == eSource || watched == eTarget || watched == eFilter) &&
            (key->modifiers() & Qt::AltModifier) && !(key->modifiers() & Qt::ControlModifier) &&
            !key->text().isEmpty())
            return true;
        // The menu key and Shift+F10 open the list's menu at the current row, whatever the platform makes
        // of them.
        if (watched == lViewer && (key->key() == Qt::Key_Menu ||
                                   (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier))) {
            const QRect row = lViewer->visualRect(lViewer->currentIndex());
            showListMenu(row.isValid() ? row.bottomLeft() : QPoint());
            return true;
        }
        // Enter on a row does what a double-click does.
        if (watched == lViewer && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            lViewer->currentIndex().isValid()) {
            guarded(this, [this] { OpenRow(FFilter->mapToSource(lViewer->currentIndex()).row()); });
            return true;
        }
    }
    if (event->type() == QEvent::MouseButtonDblClick && !FRun) {
        if (watched == eSource) {
            guarded(this, [this] { bSourceFileClick(); });
            return true;
        }
        if (watched == eTarget) {
            guarded(this, [this] { bTargetClick(); });
            return true;
        }
    }
    return TdvFrmBase::eventFilter(watched, event);
}
