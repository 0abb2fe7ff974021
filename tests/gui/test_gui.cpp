// The main window, its dialogs and the about box, driven headless.
#include "guiSupport.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "engine/dvConvertor.h"
#include "engine/dvRepeat.h"
#include "engine/dvWork.h"
#include "gui/dvDesktop.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvFormMain.h"
#include "gui/dvItemList.h"
#include "gui/dvRunStatus.h"
#include "gui/dvSession.h"
#include "gui/dvWindowed.h"
#include "project/dvOptions.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTranslator>
#include <QTreeView>
#include <QWindow>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// Lets a test hold the workers: each item waits until the gate allows one more item.
struct Gate
{
    std::mutex Lock;
    std::condition_variable Changed;
    int Allowed = 1 << 30;
    int Started = 0;
    std::atomic<int> Arrived{0}; // workers that reached the gate, let through or not
    std::atomic<int> Calls{0};
    std::atomic<bool> FailBad{true}; // decks named "bad" fail

    void reset(int allowed)
    {
        std::lock_guard lock(Lock);
        Allowed = allowed;
        Started = 0;
        Arrived = 0;
        Calls = 0;
        FailBad = true;
    }
    void allow(int allowed)
    {
        std::lock_guard lock(Lock);
        Allowed = allowed;
        Changed.notify_all();
    }
    // False when the worker was aborted while it waited, as a killed office ends the call in progress.
    bool enter(const std::function<bool()>& aborted)
    {
        std::unique_lock lock(Lock);
        ++Arrived;
        // Bounded so that a broken test ends instead of hanging the suite.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Started >= Allowed && std::chrono::steady_clock::now() < until) {
            if (aborted())
                return false;
            Changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        ++Started;
        return true;
    }
};
Gate gate;

// Converts "decks" into small files; a name with "bad" fails with a text holding a "?" and a line break.
class TestConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        if (!gate.enter([this] { return Aborted(); }))
            throw TdvError(QStringLiteral("The office process ended unexpectedly"));
        ++gate.Calls;
        if (gate.FailBad && extractFileName(item->Source).contains(QStringLiteral("bad"))) {
            item->State = isFailed;
            item->Result = QStringLiteral("Broken deck?\nsecond line");
            batch->AddFailure(QStringLiteral("Broken deck?"));
            return;
        }
        const QString target = BuildTargetPath(batch, item);
        if (!target.isEmpty()) {
            QFile file(target);
            if (!file.open(QIODevice::WriteOnly)) {
                item->State = isFailed;
                item->Result = file.errorString();
                batch->AddFailure(item->Result);
                return;
            }
            file.write("converted " + item->Source.toUtf8());
        }
        item->State = isDone;
        item->Result = target;
        batch->AddSuccess();
    }
};

class Gui : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetWindow();
        // The help the build makes, beside a program of the test's own.
        gApp->ProgramPath = tree.path(QStringLiteral("bin/vellum"));
        gInfo->ProgramPath = gApp->ProgramPath;
        help = tree.write(QStringLiteral("bin/vellum.html"), "<html><body>Help</body></html>");
    }
    void TearDown() override { gApp->ProgramPath = gInfo->ProgramPath = program; }
    TdvFrmMain* w = window();
    TempTree tree;
    QString help;
    const QString program = gApp->ProgramPath;
};

QString projectText(const QString& path)
{
    QStringList lines;
    readTextLines(path, lines);
    return lines.join(QLatin1Char('\n'));
}

// The title as the window system shows it. Qt's X11 and Wayland windows append the application's display
// name, once one is set, to every title that does not already end with it.
QString shownTitle(QWidget* form)
{
    const QString title = form->windowHandle() ? form->windowHandle()->title() : QString();
    const QString name = QGuiApplication::applicationDisplayName();
    if (name == QCoreApplication::applicationName() || title.endsWith(name))
        return title;
    return title + QStringLiteral(" \u2014 ") + name;
}

// The window's title for a project file (none: untitled), with Qt's place for the unsaved mark.
QString titleFor(const QString& file)
{
    const QString name = file.isEmpty() ? QStringLiteral("Untitled") : QFileInfo(file).fileName();
    return name + QStringLiteral("[*] \u2013 Vellum Converter");
}

// Closes the about box and the configuration dialog whenever one of them is up, for as long as it lives.
class ModalCloser
{
public:
    ModalCloser()
    {
        QObject::connect(&FTimer, &QTimer::timeout, [] {
            if (dvFrmAbout && dvFrmAbout->isVisible())
                dvFrmAbout->close();
            if (window()->CfgForm() && window()->CfgForm()->isVisible())
                window()->CfgForm()->close();
        });
        FTimer.start(5);
    }

private:
    QTimer FTimer;
};

// Sizes the window and lets its layouts follow.
void resizeWindow(const QSize& size)
{
    window()->resize(size);
    waitFor([&] { return window()->size() == size; }, 2000);
    window()->layout()->activate();
    QCoreApplication::processEvents();
}

bool activateWindow()
{
    window()->activateWindow();
    // Keys go where the window system's focus is, which follows a closed dialog a little later.
    return QTest::qWaitForWindowActive(window()) &&
           waitFor([] { return QGuiApplication::focusWindow() == window()->windowHandle(); }, 2000);
}

// Where Tab stops, from the Source field once round the window: what a person meets who presses Tab again
// and again.
QList<QWidget*> tabStops()
{
    QList<QWidget*> stops;
    window()->eSource->setFocus(Qt::TabFocusReason);
    for (QWidget* now = QApplication::focusWidget(); now && !stops.contains(now);
         now = QApplication::focusWidget()) {
        stops.append(now);
        QTest::keyClick(now, Qt::Key_Tab);
    }
    return stops;
}

// Tab stops only where something can be done: every stop is visible and enabled.
QList<QWidget*> usableTabStops()
{
    const QList<QWidget*> stops = tabStops();
    for (QWidget* stop : stops) {
        SCOPED_TRACE(stop->objectName().toStdString());
        EXPECT_TRUE(stop->isVisible());
        EXPECT_TRUE(stop->isEnabled());
    }
    return stops;
}

// Counts the presses of a key that reach a control as typed keys: those that no shortcut took.
class TypedKeys : public QObject
{
public:
    explicit TypedKeys(int key) : FKey(key) { QCoreApplication::instance()->installEventFilter(this); }
    int Count() const { return FCount; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == FKey)
            ++FCount;
        return QObject::eventFilter(watched, event);
    }

private:
    int FKey;
    int FCount = 0;
};

// ---- layout -------------------------------------------------------------------------------------------

TEST_F(Gui, BoundControlsKeepTheirPropertyOutOfTheHints)
{
    const QList<QPair<QWidget*, QString>> bound = {{w->eSource, QStringLiteral("Text")},
                                                   {w->cSubdir, QStringLiteral("Checked")},
                                                   {w->eTarget, QStringLiteral("Text")}};
    for (const auto& [control, property] : bound) {
        EXPECT_EQ(control->property("bindProperty").toString(), property)
            << control->objectName().toStdString();
        EXPECT_TRUE(control->toolTip().isEmpty()) << control->objectName().toStdString();
    }
    // The option store reaches the controls by their names: typed text becomes the option.
    w->eSource->setText(QStringLiteral("/decks/*.ppt?"));
    w->cSubdir->setChecked(true);
    gProject->StoreOptions(false);
    EXPECT_EQ(gProject->Source(), QStringLiteral("/decks/*.ppt?"));
    EXPECT_TRUE(gProject->Subdir());
}

TEST_F(Gui, TabGoesAlongEachLineThenToTheNextAndStopsOnlyWhereSomethingCanBeDone)
{
    ASSERT_TRUE(activateWindow());
    const QList<QWidget*> stops = usableTabStops();
    // Each line, its field first: Tab goes from the field through every control of the line that can be
    // used, left to right as they stand, and from the line's last to the next line's field.
    const QList<QList<QWidget*>> lines = {{w->eSource, w->bSource, w->bSourceFile, w->cSubdir, w->bSearch},
                                          {w->eTarget, w->bTarget, w->bView, w->bSearchConvert, w->bCreate}};
    const auto names = [](const QList<QWidget*>& controls) {
        QStringList list;
        for (const QWidget* control : controls)
            list.append(control->objectName());
        return list;
    };
    qsizetype lineStart = 0;
    for (const QList<QWidget*>& line : lines) {
        SCOPED_TRACE(line.first()->objectName().toStdString());
        QList<QWidget*> usable;
        for (QWidget* control : line)
            if (control->isVisible() && control->isEnabled())
                usable.append(control);
        ASSERT_GT(stops.size(), lineStart + 1);
        EXPECT_EQ(names(stops.mid(lineStart, usable.size())), names(usable));
        lineStart += usable.size();
    }
    // Beyond the lines, the list's filter and the list itself.
    EXPECT_TRUE(stops.contains(w->eFilter));
    EXPECT_TRUE(stops.contains(w->lViewer));
}

TEST_F(Gui, IdleButtonsShowTheirActions)
{
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("&Convert"));
    EXPECT_TRUE(w->bCreate->isEnabled());
    EXPECT_FALSE(w->bSearchConvert->isVisible()); // Start is hidden until it turns into Stop
    EXPECT_EQ(w->bSearch->text(), QStringLiteral("Search"));
    EXPECT_EQ(w->bView->text(), QStringLiteral("V&iew"));
    EXPECT_EQ(w->lViewer->model()->columnCount(), 4);
    // The state column shows its whole picture and its heading, and leaves the room to the names.
    w->AddSource(tree.write(QStringLiteral("in/a.pptx")));
    const QAbstractItemView* view = w->lViewer; // where the cells' width is asked publicly
    const int state = w->lViewer->columnWidth(TdvItemModel::ColState);
    EXPECT_GE(state, view->sizeHintForColumn(TdvItemModel::ColState));
    const QString heading =
        w->lViewer->model()->headerData(TdvItemModel::ColState, Qt::Horizontal).toString();
    EXPECT_GT(state, w->lViewer->header()->fontMetrics().horizontalAdvance(heading));
    EXPECT_LT(state, w->lViewer->columnWidth(TdvItemModel::ColName));
}

TEST_F(Gui, MinimumSizeCutsNothingAndTheEditsAndResultGrow)
{
    const QSize normal = w->size();
    resizeWindow(QSize(300, 200)); // held at the minimum
    const QSize minimum = w->size();
    EXPECT_EQ(minimum, w->minimumSize());
    const QRect inside = w->rect();
    // Every control of the two lines and every tool bar command lies wholly inside the window, and every
    // caption fits its control.
    QList<QWidget*> controls = {w->lblSource, w->eSource, w->bSource, w->bSourceFile, w->cSubdir, w->bSearch,
                                w->lblTarget, w->eTarget, w->bTarget, w->bView,       w->bCreate};
    for (QAction* action : w->ToolBar->actions())
        if (action->isVisible() && !action->isSeparator())
            controls.append(w->ToolBar->widgetForAction(action));
    for (QWidget* control : controls) {
        SCOPED_TRACE(control->objectName().toStdString());
        ASSERT_TRUE(control->isVisible());
        const QRect box(control->mapTo(w, QPoint(0, 0)), control->size());
        EXPECT_TRUE(inside.contains(box))
            << box.x() << "," << box.y() << " " << box.width() << "x" << box.height();
        if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            const QString caption = QString(button->text()).remove(QLatin1Char('&'));
            EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(caption));
        }
    }
    EXPECT_GE(w->eSource->width(), 100);
    EXPECT_GE(w->lViewer->height(), 80);
    // The columns of the two lines stay aligned, in the described order.
    EXPECT_EQ(w->eSource->x(), w->eTarget->x());
    EXPECT_EQ(w->bSource->x(), w->bTarget->x());
    EXPECT_EQ(w->bSourceFile->x(), w->bView->x());
    EXPECT_EQ(w->bSearch->x(), w->bCreate->x());
    EXPECT_LT(w->bSourceFile->geometry().right(), w->cSubdir->x());
    EXPECT_LT(w->cSubdir->geometry().right(), w->bSearch->x());

    // Wider, the edits take the extra width and the list's Result column reaches the list's right edge.
    resizeWindow(QSize(1200, 600));
    const int edit = w->eSource->width();
    EXPECT_EQ(w->lViewer->header()->length(), w->lViewer->viewport()->width());
    const int result = w->lViewer->columnWidth(TdvItemModel::ColResult);
    const int name = w->lViewer->columnWidth(TdvItemModel::ColName);
    resizeWindow(QSize(1600, 600));
    EXPECT_EQ(w->eSource->width(), edit + 400);
    EXPECT_EQ(w->eTarget->width(), edit + 400);
    EXPECT_EQ(w->lViewer->columnWidth(TdvItemModel::ColResult), result + 400);
    EXPECT_EQ(w->lViewer->columnWidth(TdvItemModel::ColName), name);
    resizeWindow(normal);
}

TEST_F(Gui, KeysReachEveryCommand)
{
    struct Case
    {
        QAction* action;
        QKeySequence keys;
    };
    const QList<Case> cases = {
        {w->aOpen, QKeySequence(QStringLiteral("Ctrl+O"))},
        {w->aNew, QKeySequence(QStringLiteral("Ctrl+N"))},
        {w->aSave, QKeySequence(QStringLiteral("Ctrl+S"))},
        {w->aSaveAs, QKeySequence(QStringLiteral("Ctrl+Shift+S"))},
        {w->aConfig, QKeySequence(QStringLiteral("Ctrl+,"))},
        {w->aHelp, QKeySequence(QStringLiteral("F1"))},
        {w->aAbout, QKeySequence(QStringLiteral("Shift+F1"))},
        // The captions' accelerators, on the tool bar and on the buttons.
        {w->aOpen, QKeySequence(QStringLiteral("Alt+O"))},
        {w->aNew, QKeySequence(QStringLiteral("Alt+N"))},
        {w->aSave, QKeySequence(QStringLiteral("Alt+V"))},
        {w->aSaveAs, QKeySequence(QStringLiteral("Alt+A"))},
        {w->aUpdate, QKeySequence(QStringLiteral("Alt+U"))},
        {w->aHelp, QKeySequence(QStringLiteral("Alt+H"))},
        {w->aConvert, QKeySequence(QStringLiteral("Alt+C"))},
    };
    ModalCloser closer;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys.toString().toStdString());
        ASSERT_TRUE(activateWindow());
        QSignalSpy triggered(c.action, &QAction::triggered);
        QTest::keySequence(w, c.keys);
        // An accelerator clicks its button after a short animation.
        EXPECT_TRUE(waitFor([&] { return triggered.count() == 1; }, 2000));
        // The tool tip names the keys.
        EXPECT_TRUE(c.action->toolTip().contains(c.keys.toString(QKeySequence::NativeText)))
            << c.action->toolTip().toStdString();
    }
    // The tool bar shows the accelerators it answers to.
    EXPECT_EQ(w->tbSaveAs->text(), QStringLiteral("Save &As"));
    EXPECT_EQ(w->tbConfig->text(), QStringLiteral("Config"));
    // Alt+S and Alt+T move to the edits through their labels.
    ASSERT_TRUE(activateWindow());
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+T")));
    EXPECT_EQ(QApplication::focusWidget(), w->eTarget);
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+S")));
    EXPECT_EQ(QApplication::focusWidget(), w->eSource);
}

// Every command of the window, found by walking its actions rather than from a list of its own, is reached
// without a mouse: by its keys, else by Tab to a button that shows it and Space, else from the list's menu
// opened with the menu key.
TEST_F(Gui, EveryCommandIsReachedFromTheKeyboard)
{
    gInfo->SiteRoot = QStringLiteral("https://vellum.example");
    gInfo->SupportMail = QStringLiteral("help@vellum.example");
    w->UpdateLinkCommands();
    w->AddSource(tree.write(QStringLiteral("in/a.pptx")));
    w->lViewer->setCurrentIndex(w->lViewer->model()->index(0, 0));
    QCoreApplication::processEvents();

    const auto shownBy = [this](QAction* action) -> QWidget* {
        for (QWidget* widget : w->findChildren<QWidget*>()) {
            const auto* tool = qobject_cast<QToolButton*>(widget);
            const auto* button = qobject_cast<TdvActionButton*>(widget);
            if (((tool && tool->defaultAction() == action) || (button && button->action() == action)) &&
                widget->isVisible())
                return widget;
        }
        return nullptr;
    };
    const auto byTab = [this](QWidget* target) {
        w->eSource->setFocus(Qt::TabFocusReason);
        const int widgets = int(w->findChildren<QWidget*>().size());
        for (int i = 0; i < widgets && QApplication::focusWidget() != target; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        if (QApplication::focusWidget() != target)
            return false;
        QTest::keyClick(target, Qt::Key_Space);
        return true;
    };
    const auto byMenu = [this](QAction* action) {
        w->lViewer->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(w->lViewer, Qt::Key_F10, Qt::ShiftModifier);
        if (!waitFor([this] { return QApplication::activePopupWidget() == w->pm1; }, 2000))
            return false;
        for (int i = 0; i <= w->pm1->actions().size() && w->pm1->activeAction() != action; ++i)
            QTest::keyClick(w->pm1, Qt::Key_Down);
        if (w->pm1->activeAction() != action) {
            w->pm1->close();
            return false;
        }
        QTest::keyClick(w->pm1, Qt::Key_Return);
        return true;
    };

    ModalCloser closer;
    QStringList walked;
    const QList<QAction*> actions = w->findChildren<QAction*>();
    for (QAction* action : actions) {
        if (action->isSeparator() || action->text().isEmpty() || action->menu() || !action->isVisible() ||
            (action->parent() != w && action->parent() != w->pm1))
            continue;
        const QString name = action->objectName();
        SCOPED_TRACE(name.toStdString());
        // The commands of a run are walked in every state of a run by the test of the run's keys.
        if (!action->isEnabled()) {
            EXPECT_FALSE(action->shortcut().isEmpty());
            continue;
        }
        ASSERT_TRUE(activateWindow());
        QSignalSpy triggered(action, &QAction::triggered);
        bool pressed = false;
        if (!action->shortcut().isEmpty()) {
            // A key of the list's own works where the list has the focus.
            if (action->shortcutContext() == Qt::WidgetWithChildrenShortcut)
                w->lViewer->setFocus(Qt::OtherFocusReason);
            QTest::keySequence(QApplication::focusWidget() ? QApplication::focusWidget() : w,
                               action->shortcut());
            pressed = true;
        } else if (QWidget* button = shownBy(action)) {
            pressed = byTab(button);
        } else if (w->pm1->actions().contains(action)) {
            pressed = byMenu(action);
        }
        EXPECT_TRUE(pressed) << "no key, button or menu reaches it";
        EXPECT_TRUE(waitFor([&] { return triggered.count() == 1; }, 2000));
        walked.append(name);
        QApplication::processEvents();
        openedLinks().clear();
    }
    // The walk met the commands of every kind of reach.
    for (const char* name : {"aOpen", "aConvert", "aHomePage", "aSupports", "BrowseFiles1", "ViewSource1",
                             "OpenSource1", "ViewOutput1", "ExportList1", "aCopy", "aFilter"})
        EXPECT_TRUE(walked.contains(QLatin1String(name))) << name;
}

TEST_F(Gui, LinkCommandsWithNowhereToGoAreHidden)
{
    struct Case
    {
        QString site, mail;
        bool update, home, support;
    };
    const QList<Case> cases = {
        {QString(), QString(), false, false, false},
        {QString(), QStringLiteral("help@vellum.example"), false, false, true},
        {QStringLiteral("https://vellum.example"), QString(), true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.site + QLatin1Char('|') + c.mail).toStdString());
        gInfo->SiteRoot = c.site;
        gInfo->SupportMail = c.mail;
        w->UpdateLinkCommands();
        QCoreApplication::processEvents(); // the tool bar lays its buttons out again
        EXPECT_EQ(w->tbUpdate->isVisible(), c.update);
        EXPECT_EQ(w->tb1->isVisible(), c.update); // no two separators side by side
        EXPECT_EQ(w->tbHomePage->isVisible(), c.home);
        EXPECT_EQ(w->tbSupports->isVisible(), c.support);
        EXPECT_TRUE(w->tbHelp->isVisible());
        EXPECT_TRUE(w->tbAbout->isVisible());
        // A hidden command's accelerator does nothing either.
        ASSERT_TRUE(activateWindow());
        const TypedKeys typed(Qt::Key_U);
        QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+U")));
        if (c.update) {
            EXPECT_EQ(typed.Count(), 0);
            EXPECT_TRUE(waitFor([] { return !openedLinks().isEmpty(); }, 2000));
        } else {
            // No shortcut took the key, so no click is on its way: it reached the window as a typed key.
            EXPECT_GT(typed.Count(), 0);
            EXPECT_TRUE(openedLinks().isEmpty());
        }
        openedLinks().clear();
    }
}

// ---- title and project commands -----------------------------------------------------------------------

TEST_F(Gui, TitleAfterNewAndAfterSaveAs)
{
    gProject->ProjectFile = tree.path(QStringLiteral("old.batch-vellum"));
    w->UpdateTitle();
    w->aNew->trigger();
    EXPECT_EQ(w->windowTitle(), titleFor(QString()));

    const QString file = tree.path(QStringLiteral("q3.batch-vellum"));
    w->eSource->setText(QStringLiteral("/decks/q3/*.ppt?"));
    w->eTarget->setText(QStringLiteral("/pdf/q3/"));
    dialogs()->setNextFileName(file);
    w->aSaveAs->trigger();
    EXPECT_EQ(w->windowTitle(), titleFor(file));
    EXPECT_EQ(dialogs()->LastFilter, QStringLiteral("Vellum Project|*.batch-vellum"));
    EXPECT_EQ(dialogs()->LastDefaultExt, QStringLiteral(".batch-vellum"));
    EXPECT_EQ(projectText(file), QStringLiteral("Source=/decks/q3/*.ppt?\nSubdir=False\nTarget=/pdf/q3/"));
    ASSERT_FALSE(gProject->RecentProjects.isEmpty());
    EXPECT_EQ(gProject->RecentProjects.first(), file);

    // A cancelled Save As keeps the file and the title.
    w->aSaveAs->trigger();
    EXPECT_EQ(w->windowTitle(), titleFor(file));
}

TEST_F(Gui, TitlesAreShownAsTheFormsSetThem)
{
    EXPECT_EQ(shownTitle(w), QStringLiteral("Untitled \u2013 Vellum Converter"));
    QString config;
    whenModal([&] {
        config = shownTitle(w->CfgForm());
        w->CfgForm()->close();
    });
    w->aConfig->trigger();
    EXPECT_EQ(config, QStringLiteral("Config"));
}

TEST_F(Gui, OpenThroughTheDialogAppliesTheProject)
{
    const QString file =
        tree.write(QStringLiteral("p.batch-vellum"), "Source=/in/*.ppt?\r\nSubdir=True\r\nTarget=/out/\r\n");
    dialogs()->setNextFileName(file);
    w->aOpen->trigger();
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/in/*.ppt?"));
    EXPECT_TRUE(w->cSubdir->isChecked());
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/out/"));
    EXPECT_EQ(w->windowTitle(), titleFor(file));
    EXPECT_EQ(
        dialogs()->LastFilter,
        QStringLiteral(
            "Vellum Project|*.batch-vellum|Presentations (*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;"
            "*.potx;*.potm;*.odp)|*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;*.potx;*.potm;*.odp"));
}

TEST_F(Gui, RecentMenuDisablesMissingProjects)
{
    const QString kept = tree.write(QStringLiteral("kept.batch-vellum"), "Source=/kept/*.ppt?\r\n");
    const QString gone = tree.write(QStringLiteral("gone & lost.batch-vellum"), "Source=/gone/*.ppt?\r\n");
    QFile::remove(gone);
    gProject->RecentProjects = {gone, kept};
    w->pm2Popup();
    const QList<QAction*> items = w->pm2->actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items[0]->data().toString(), gone);
    EXPECT_FALSE(items[0]->isEnabled());
    EXPECT_EQ(items[1]->data().toString(), kept);
    EXPECT_TRUE(items[1]->isEnabled());
    // The caption is the exact path: the ampersand is escaped, not made an accelerator.
    EXPECT_EQ(items[0]->text(), QString(gone).replace(QStringLiteral("&"), QStringLiteral("&&")));

    items[1]->trigger();
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/kept/*.ppt?"));
    EXPECT_EQ(w->windowTitle(), titleFor(kept));
    EXPECT_EQ(w->tbOpen->menu(), w->pm2);
}

TEST_F(Gui, SaveFailureIsCountedNotFatal)
{
    gProject->ProjectFile = QStringLiteral("/proc/no-such-place/x.batch-vellum");
    const int before = gInfo->Counter(QStringLiteral("E")).toInt();
    w->aSave->trigger();
    EXPECT_EQ(gInfo->Counter(QStringLiteral("E")).toInt(), before + 1);
    ASSERT_FALSE(openedLinks().isEmpty());
    EXPECT_TRUE(openedLinks().last().contains(QStringLiteral("a=err&e=Cannot create file")));
    EXPECT_FALSE(gProject->RecentProjects.contains(gProject->ProjectFile));
}

// An event handler that throws must not end the program: the application object counts it.
class Throwing : public QWidget
{
protected:
    void keyPressEvent(QKeyEvent*) override { throw TdvError(QStringLiteral("broken handler")); }
};

TEST_F(Gui, ExceptionFromAnEventHandlerIsCounted)
{
    Throwing widget;
    const int before = gInfo->Counter(QStringLiteral("E")).toInt();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
    QApplication::sendEvent(&widget, &key);
    EXPECT_EQ(gInfo->Counter(QStringLiteral("E")).toInt(), before + 1);
    ASSERT_FALSE(openedLinks().isEmpty());
    EXPECT_TRUE(openedLinks().last().contains(QStringLiteral("err&e=broken handler")));
}

// ---- information commands ----------------------------------------------------------------------------

TEST_F(Gui, InformationCommandsOpenTheirLinks)
{
    struct Case
    {
        QAction* action;
        QString expectedStart;
    };
    const QList<Case> cases = {
        {w->aUpdate, QStringLiteral("https://vellum.example/en/vellum/download.htm?")},
        {w->aHomePage, QStringLiteral("https://vellum.example?")},
        {w->aSupports,
         QStringLiteral("mailto:help@vellum.example?subject=Support required for Vellum Converter")},
        {w->aHelp, help},
    };
    for (const Case& c : cases) {
        openedLinks().clear();
        c.action->trigger();
        ASSERT_EQ(openedLinks().size(), 1) << c.action->objectName().toStdString();
        EXPECT_TRUE(openedLinks().first().startsWith(c.expectedStart)) << openedLinks().first().toStdString();
    }
    // Only the window's Help counts a help use.
    const int helps = gInfo->Counter(QStringLiteral("H")).toInt();
    w->aHelp->trigger();
    EXPECT_EQ(gInfo->Counter(QStringLiteral("H")).toInt(), helps + 1);

    // Help that is not there is said, not handed to the desktop to fail unseen.
    QFile::remove(help);
    openedLinks().clear();
    w->aHelp->trigger();
    EXPECT_TRUE(openedLinks().isEmpty());
    ASSERT_EQ(shownErrors().size(), 1);
    EXPECT_TRUE(shownErrors().first().contains(help)) << shownErrors().first().toStdString();
}

TEST_F(Gui, ADesktopWithoutAnOpenerIsSaidNotSilent)
{
    // The desktop's opener of the test's own, recording what it was asked to open.
    const QString record = tree.path(QStringLiteral("opened"));
    const QString opener =
        tree.write(QStringLiteral("bin/xdg-open"),
                   QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$1\" >>'%1'\n").arg(record).toUtf8());
    QFile::setPermissions(opener, QFile::permissions(opener) | QFileDevice::ExeOwner);
    const QByteArray path = qgetenv("PATH");
    const auto opener0 = gInfo->Opener;
    gInfo->Opener = openWithDesktop;

    qputenv("PATH", QFile::encodeName(tree.path(QStringLiteral("bin"))));
    w->aHelp->trigger();
    EXPECT_TRUE(waitFor([&] { return QFileInfo(record).size() > 0; }, 5000));
    EXPECT_TRUE(shownErrors().isEmpty());

    QFile::remove(opener);
    w->aHelp->trigger();
    ASSERT_EQ(shownErrors().size(), 1);
    EXPECT_TRUE(shownErrors().first().contains(QStringLiteral("xdg-open")))
        << shownErrors().first().toStdString();
    EXPECT_TRUE(shownErrors().first().contains(help));

    qputenv("PATH", path);
    gInfo->Opener = opener0;
}

// ---- source and target --------------------------------------------------------------------------------

TEST_F(Gui, SourceFolderSetsPatternAndFillsAnEmptyTarget)
{
    struct Case
    {
        QString source, target, answer;
        QString expectedSource, expectedTarget, expectedStart;
    };
    const QList<Case> cases = {
        // Cancelled: nothing changes, so an empty form never turns into a search of the whole file system.
        {QString(), QString(), QString(), QString(), QString(), QString()},
        {QStringLiteral("/in/a.pptx"), QString(), QString(), QStringLiteral("/in/a.pptx"), QString(),
         QStringLiteral("/in/")},
        {QStringLiteral("/in/old/*.ppt?"), QString(), QStringLiteral("/in/new"),
         QStringLiteral("/in/new/*.ppt?"), QStringLiteral("/in/new/"), QStringLiteral("/in/old/")},
        {QStringLiteral("/in/a.pptx"), QStringLiteral("/keep/"), QStringLiteral("/in/b/"),
         QStringLiteral("/in/b/*.ppt?"), QStringLiteral("/keep/"), QStringLiteral("/in/")},
    };
    for (const Case& c : cases) {
        resetWindow();
        w->eSource->setText(c.source);
        w->eTarget->setText(c.target);
        if (!c.answer.isEmpty())
            dialogs()->setNextFolder(c.answer);
        QTest::mouseClick(w->bSource, Qt::LeftButton);
        EXPECT_EQ(dialogs()->LastFolder, c.expectedStart);
        EXPECT_EQ(w->eSource->text(), c.expectedSource);
        EXPECT_EQ(w->eTarget->text(), c.expectedTarget);
        EXPECT_TRUE(rows().isEmpty());
    }
}

TEST_F(Gui, PickingFilesListsThemInDialogOrder)
{
    const QString a = tree.write(QStringLiteral("in/a.pptx"));
    const QString b = tree.write(QStringLiteral("in/b.ppt"));
    const QString c = tree.write(QStringLiteral("other/c.pptm"));

    w->eSource->setText(tree.path(QStringLiteral("in/*.ppt?")));
    dialogs()->setNextFileName(b + QStringLiteral("\r\n"));
    QTest::mouseClick(w->bSourceFile, Qt::LeftButton);
    EXPECT_TRUE(dialogs()->LastMultiSelect);
    EXPECT_EQ(dialogs()->LastFilter, gProject->SourceFilter);
    EXPECT_EQ(dialogs()->LastFileName, tree.path(QStringLiteral("in/*.ppt?")));
    EXPECT_EQ(w->eSource->text(), b);
    EXPECT_EQ(w->eTarget->text(), tree.path(QStringLiteral("in/")));
    EXPECT_EQ(rows(), QStringList({QStringLiteral("0|") + b + QLatin1Char('|')}));

    dialogs()->setNextFileName(c + QStringLiteral("\r\n") + a + QStringLiteral("\r\n") + b +
                               QStringLiteral("\r\n"));
    w->BrowseFiles1->trigger();
    EXPECT_EQ(w->eSource->text(), b); // several files leave the source as it was
    EXPECT_EQ(rows(), QStringList({QStringLiteral("0|") + c + QLatin1Char('|'),
                                   QStringLiteral("0|") + a + QLatin1Char('|'),
                                   QStringLiteral("0|") + b + QLatin1Char('|')}));

    // A cancelled dialog keeps the list.
    QTest::mouseDClick(w->eSource, Qt::LeftButton);
    EXPECT_EQ(rows().size(), 3);
}

TEST_F(Gui, TargetFolderGetsItsDelimiter)
{
    w->eTarget->setText(QStringLiteral("/out/a"));
    dialogs()->setNextFolder(QStringLiteral("/out/b"));
    QTest::mouseClick(w->bTarget, Qt::LeftButton);
    EXPECT_EQ(dialogs()->LastFolder, QStringLiteral("/out/a"));
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/out/b/"));
    w->eTarget->setText(QStringLiteral("/out/c"));
    QTest::mouseDClick(w->eTarget, Qt::LeftButton); // cancelled: the text stays as typed
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/out/c"));
}

TEST_F(Gui, FillTargetFillsOnlyAnEmptyTarget)
{
    struct Case
    {
        QString target, folder, expected;
    };
    const QList<Case> cases = {
        {QString(), QStringLiteral("/in/"), QStringLiteral("/in/")},
        {QStringLiteral("/mine/"), QStringLiteral("/in/"), QStringLiteral("/mine/")},
        {QString(), QStringLiteral("http://host/decks/"), QString()}, // never from a web address
    };
    for (const Case& c : cases) {
        w->eTarget->setText(c.target);
        w->FillTarget(c.folder);
        EXPECT_EQ(w->eTarget->text(), c.expected) << c.folder.toStdString();
    }
}

TEST_F(Gui, ViewOpensTheTargetOrFocusesAnEmptyOne)
{
    w->eSource->setFocus();
    w->eTarget->clear();
    w->aView->trigger();
    EXPECT_TRUE(openedLinks().isEmpty());
    EXPECT_EQ(w->focusWidget(), w->eTarget);

    w->eTarget->setText(QStringLiteral("/out/"));
    QTest::mouseClick(w->bView, Qt::LeftButton);
    EXPECT_EQ(openedLinks(), QStringList({QStringLiteral("/out/")}));
}

TEST_F(Gui, ListMenuOpensTheSelectedSource)
{
    const QString a = tree.write(QStringLiteral("in/a.pptx"));
    w->pm1Popup();
    EXPECT_FALSE(w->OpenSource1->isEnabled());
    EXPECT_FALSE(w->ViewSource1->isEnabled());
    w->OpenSource1->trigger(); // disabled: nothing
    EXPECT_TRUE(openedLinks().isEmpty());

    w->AddSource(a);
    w->lViewer->selectionModel()->select(w->lViewer->model()->index(0, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
    w->pm1Popup();
    ASSERT_TRUE(w->OpenSource1->isEnabled());
    w->OpenSource1->trigger();
    w->ViewSource1->trigger();
    EXPECT_EQ(openedLinks(), QStringList({a, tree.path(QStringLiteral("in/"))}));
}

// ---- drag and drop ------------------------------------------------------------------------------------

TEST_F(Gui, DropsFollowTheControlUnderTheMouse)
{
    const QString a = tree.write(QStringLiteral("in/a.pptx"));
    const QString b = tree.write(QStringLiteral("in/b.pptx"));
    const QString pdf = tree.write(QStringLiteral("in/old.pdf"));
    const QString folder = tree.mkdir(QStringLiteral("decks"));
    const QString x = tree.write(QStringLiteral("decks/x.pptx"));
    tree.write(QStringLiteral("decks/notes.txt"));
    const QString project = tree.write(QStringLiteral("p.batch-vellum"), "Source=/from/project/*.ppt?\r\n");
    const QString bare = QString(folder).chopped(1); // a dropped folder comes without a delimiter
    w->eTarget->clear();

    struct Case
    {
        const char* name;
        QWidget* control;
        QStringList paths;
        bool taken;
        QString source, target;
        QStringList files; // the rows' paths
        QString title;
        QString notice; // part of what the window says about the drop
    };
    const QList<Case> cases = {
        // Several files on the source are listed, as the Files button lists them.
        {"two files on the source",
         w->eSource,
         {a, b},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {a, b},
         QString(),
         QString()},
        {"one file on the source",
         w->eSource,
         {a},
         true,
         a,
         tree.path(QStringLiteral("in/")),
         {},
         QString(),
         QString()},
        {"folder on the target", w->eTarget, {bare}, true, QString(), bare, {}, QString(), QString()},
        // A folder on the source or the list is searched with the product's pattern, as the Folder button
        // sets it; on the list it is listed at once.
        {"folder on the source",
         w->eSource,
         {bare},
         true,
         folder + QStringLiteral("*.ppt?"),
         folder,
         {},
         QString(),
         QString()},
        {"folder on the list",
         w->lViewer->viewport(),
         {bare},
         true,
         folder + QStringLiteral("*.ppt?"),
         folder,
         {x},
         QString(),
         QString()},
        {"files on the list",
         w->lViewer->viewport(),
         {b, a},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {b, a},
         QString(),
         QString()},
        {"a folder and a file on the list",
         w->lViewer->viewport(),
         {a, bare},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {a, x},
         QString(),
         QString()},
        // Only presentations are taken; the others are named.
        {"a PDF and a deck on the list",
         w->lViewer->viewport(),
         {pdf, b},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {b},
         QString(),
         QStringLiteral("old.pdf is no presentation")},
        {"a PDF alone on the list",
         w->lViewer->viewport(),
         {pdf},
         false,
         QString(),
         QString(),
         {},
         QString(),
         QStringLiteral("old.pdf is no presentation")},
        {"file on a button", w->bSearch, {a}, false, QString(), QString(), {}, QString(), QString()},
        {"file on a panel", w->pOthers, {a}, false, QString(), QString(), {}, QString(), QString()},
        {"project alone on the list",
         w->lViewer->viewport(),
         {project},
         true,
         QStringLiteral("/from/project/*.ppt?"),
         QString(),
         {},
         project,
         QString()},
        {"project alone on the target",
         w->eTarget,
         {project},
         true,
         QStringLiteral("/from/project/*.ppt?"),
         QString(),
         {},
         project,
         QString()},
        {"project with a file on the list",
         w->lViewer->viewport(),
         {project, a},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {a},
         QString(),
         QStringLiteral("p.batch-vellum is no presentation")},
    };
    for (const Case& c : cases) {
        resetWindow();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dropOn(c.control, c.paths), c.taken);
        EXPECT_EQ(w->eSource->text(), c.source);
        EXPECT_EQ(w->eTarget->text(), c.target);
        // A folder is listed by the search's own thread.
        waitFor([&] { return rows().size() >= c.files.size(); }, 5000);
        QStringList files;
        for (const QString& row : rows())
            files.append(row.section(QLatin1Char('|'), 1, 1));
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(w->windowTitle(), titleFor(c.title));
        if (c.notice.isEmpty())
            EXPECT_EQ(w->NoticeText(), QString());
        else
            EXPECT_TRUE(w->NoticeText().contains(c.notice)) << w->NoticeText().toStdString();
    }
}

// ---- configuration dialog -----------------------------------------------------------------------------

TEST_F(Gui, ConfigDialogEditsTheOptions)
{
    struct Case
    {
        const char* name;
        std::function<QString(const QString&)> edit; // from the shown text to the new text
        bool ok;
        QString source;
        bool subdir;
        QString threads;
    };
    const QList<Case> cases = {
        {"Ok with more threads", [](const QString& t) { return t + QStringLiteral("\nThreadsCount=4"); },
         true, QStringLiteral("/in/*.ppt?"), false, QStringLiteral("4")},
        {"Cancel drops edits", [](const QString&) { return QStringLiteral("Source=/elsewhere/"); }, false,
         QStringLiteral("/in/*.ppt?"), false, QString()},
        {"deleted Source line",
         [](const QString& t) {
             QStringList lines = t.split(QLatin1Char('\n'));
             lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("Source=")); });
             return lines.join(QLatin1Char('\n'));
         },
         true, QString(), false, QString()},
        {"Subdir=True",
         [](const QString& t) {
             return QString(t).replace(QStringLiteral("Subdir=False"), QStringLiteral("Subdir=True"));
         },
         true, QStringLiteral("/in/*.ppt?"), true, QString()},
    };
    for (const Case& c : cases) {
        resetWindow();
        SCOPED_TRACE(c.name);
        w->eSource->setText(QStringLiteral("/in/*.ppt?"));
        w->eTarget->setText(QStringLiteral("/typed/target/"));
        QString shown;
        bool wasModal = false;
        whenModal([&] {
            TdvFrmCfg* cfg = w->CfgForm();
            wasModal = cfg->isVisible() && cfg->IsModal();
            shown = cfg->txtCfg->toPlainText();
            cfg->txtCfg->setPlainText(c.edit(shown));
            QTest::mouseClick(c.ok ? cfg->btnOk : cfg->btnCancel, Qt::LeftButton);
        });
        w->aConfig->trigger();
        EXPECT_TRUE(wasModal);
        EXPECT_TRUE(shown.contains(QStringLiteral("Target=/typed/target/"))) << shown.toStdString();
        EXPECT_FALSE(w->CfgForm()->isVisible());
        EXPECT_EQ(w->eSource->text(), c.source);
        EXPECT_EQ(w->cSubdir->isChecked(), c.subdir);
        EXPECT_EQ(w->eTarget->text(), QStringLiteral("/typed/target/"));
        EXPECT_EQ(gProject->GetOption(QStringLiteral("ThreadsCount")), c.threads);
        EXPECT_TRUE(gProject->ProjectFile.isEmpty()); // Ok never writes a file
    }
}

TEST_F(Gui, EscCancelsTheConfigDialog)
{
    w->eSource->setText(QStringLiteral("/in/*.ppt?"));
    bool closed = false;
    whenModal([&] {
        TdvFrmCfg* cfg = w->CfgForm();
        cfg->txtCfg->setPlainText(QStringLiteral("Source=/elsewhere/"));
        cfg->txtCfg->setFocus();
        QTest::keyClick(cfg->txtCfg, Qt::Key_Escape);
        closed = !cfg->isVisible();
        cfg->close(); // never leave the test waiting in the dialog
    });
    w->aConfig->trigger();
    EXPECT_TRUE(closed);
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/in/*.ppt?"));
    EXPECT_EQ(gProject->Source(), QStringLiteral("/in/*.ppt?"));
}

TEST_F(Gui, ConfigHelpOpensHelpWithoutCountingAndStaysOpen)
{
    const int helps = gInfo->Counter(QStringLiteral("H")).toInt();
    bool stillOpen = false;
    whenModal([&] {
        TdvFrmCfg* cfg = w->CfgForm();
        QTest::mouseClick(cfg->btnHelp, Qt::LeftButton);
        stillOpen = cfg->isVisible();
        cfg->close();
    });
    w->aConfig->trigger();
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(openedLinks(), QStringList({help}));
    EXPECT_EQ(gInfo->Counter(QStringLiteral("H")).toInt(), helps);
}

// ---- about box ----------------------------------------------------------------------------------------

TEST_F(Gui, AboutBoxShowsTitleAndVersionAndClosesOnClickOrKey)
{
    ASSERT_NE(dvFrmAbout, nullptr);
    EXPECT_FALSE(dvFrmAbout->isVisible()); // the start-up call shows nothing
    const QList<std::function<void()>> closers = {
        [] { QTest::mouseClick(dvFrmAbout, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5)); },
        [] {
            QTest::mouseClick(dvFrmAbout, Qt::LeftButton, Qt::NoModifier,
                              dvFrmAbout->lblVersion->geometry().center());
        },
        [] { QTest::keyClick(dvFrmAbout, Qt::Key_Space); },
    };
    for (const auto& closeIt : closers) {
        QString product, version;
        bool shown = false;
        whenModal([&] {
            shown = dvFrmAbout->isVisible();
            product = dvFrmAbout->lblProduct->text();
            version = dvFrmAbout->lblVersion->text();
            closeIt();
        });
        w->aAbout->trigger();
        EXPECT_TRUE(shown);
        EXPECT_EQ(product, QStringLiteral("Vellum Converter"));
        EXPECT_EQ(version, QStringLiteral("2024.16.323.3707"));
        EXPECT_FALSE(dvFrmAbout->isVisible());
    }
    // A window of the desktop's, with a title bar and the licences of what the program stands on.
    EXPECT_FALSE(dvFrmAbout->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(dvFrmAbout->windowOpacity(), 1.0);
    EXPECT_EQ(dvFrmAbout->windowTitle(), QStringLiteral("About Vellum Converter"));
    for (const char* credit :
         {"Licence", "LibreOffice", "Mozilla Public License 2.0", "Qt ", "GNU Lesser General Public License"})
        EXPECT_TRUE(dvFrmAbout->lblCredits->text().contains(QLatin1String(credit))) << credit;
    EXPECT_EQ(dvFrmAbout->btnAboutQt->text(), QStringLiteral("About &Qt"));
    ASSERT_NE(dvFrmAbout->img->pixmap().isNull(), true);
    EXPECT_EQ(dvFrmAbout->img->pixmap().size(), QSize(128, 128));
    EXPECT_EQ(w->windowOpacity(), 1.0); // no PureConsole: the window stays opaque
}

TEST_F(Gui, AboutBoxIsCentredOnEveryShowing)
{
    QList<QPoint> offsets;
    for (int showing = 0; showing < 2; ++showing) {
        whenModal([&] {
            const QRect screen = dvFrmAbout->screen()->availableGeometry();
            offsets.append(dvFrmAbout->frameGeometry().center() - screen.center());
            dvFrmAbout->close();
        });
        w->aAbout->trigger();
        dvFrmAbout->move(0, 0); // where a desktop may leave a box it hid
    }
    ASSERT_EQ(offsets.size(), 2);
    for (const QPoint& offset : offsets)
        EXPECT_LE(offset.manhattanLength(), 1) << offset.x() << "," << offset.y();
}

// ---- running a batch ----------------------------------------------------------------------------------

class Run : public Gui
{
protected:
    void SetUp() override
    {
        Gui::SetUp();
        gate.reset(1 << 30);
        errors.clear();
        w->ShowError = [this](const QString& message) { errors.append(message); };
    }
    void TearDown() override
    {
        gate.allow(1 << 30);
        EXPECT_TRUE(waitFor([this] { return !w->IsRunning(); }));
        gProject->NewProject();
        if (!w->isVisible())
            w->show();
        Gui::TearDown();
    }
    // A source folder with decks named as given; the target is out/ beside it.
    void decks(const QStringList& names)
    {
        for (const QString& name : names)
            tree.write(QStringLiteral("in/") + name);
        w->eSource->setText(tree.path(QStringLiteral("in/*.ppt?")));
        w->eTarget->setText(tree.path(QStringLiteral("out/")));
    }
    // Four decks on two workers, which hold their items until the gate opens.
    void startHeldRun()
    {
        decks({QStringLiteral("1.pptx"), QStringLiteral("2.pptx"), QStringLiteral("3.pptx"),
               QStringLiteral("4.pptx")});
        gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
        gate.reset(0);
        w->aConvert->trigger();
    }
    QString out(const QString& name) const { return tree.path(QStringLiteral("out/") + name); }
    QString in(const QString& name) const { return tree.path(QStringLiteral("in/") + name); }
    int counter(const char* name) const { return gInfo->Counter(QString::fromLatin1(name)).toInt(); }
    bool reported(int n) const
    {
        int done = 0;
        for (const QString& row : rows())
            if (!row.section(QLatin1Char('|'), 2).isEmpty() || !row.startsWith(QLatin1Char('0')))
                ++done;
        return done >= n;
    }
    QStringList errors;
};

TEST_F(Run, TwoWorkersConvertEveryRowAndTheButtonsFollowTheRun)
{
    decks({QStringLiteral("a.pptx"), QStringLiteral("b-bad.pptx"), QStringLiteral("c.ppt"),
           QStringLiteral("d-bad.pptm"), QStringLiteral("e.pptx"), QStringLiteral("notes.txt")});
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    const int runs = counter("C"), items = counter("A"), successes = counter("S"), failures = counter("F");
    gate.reset(0);

    QTest::mouseClick(w->bCreate, Qt::LeftButton);
    ASSERT_TRUE(w->IsRunning());
    EXPECT_EQ(w->RunningWorkers(), 2);
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("Paus&e"));
    EXPECT_TRUE(w->bCreate->isEnabled());
    EXPECT_TRUE(w->bSearchConvert->isVisible());
    EXPECT_EQ(w->bSearchConvert->text(), QStringLiteral("Sto&p"));
    EXPECT_FALSE(w->aSearch->isEnabled());
    EXPECT_FALSE(w->aConvert->isEnabled());
    EXPECT_FALSE(w->aSearchConvert->isEnabled());
    // The batch cannot be replaced under the workers.
    EXPECT_FALSE(w->bSourceFile->isEnabled());
    EXPECT_FALSE(dropOn(w->lViewer->viewport(), {in(QStringLiteral("a.pptx"))}));
    EXPECT_TRUE(w->NoticeText().contains(QStringLiteral("A conversion is running")))
        << w->NoticeText().toStdString();
    EXPECT_TRUE(waitFor([] { return rows().size() == 5; }));
    EXPECT_EQ(counter("C"), runs + 1);

    gate.allow(1 << 30);
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    const QString failure = QStringLiteral("2|%1|Broken deck?");
    QStringList expected = {
        QStringLiteral("1|%1|%2").arg(in(QStringLiteral("a.pptx")), out(QStringLiteral("a.pdf"))),
        failure.arg(in(QStringLiteral("b-bad.pptx"))),
        QStringLiteral("1|%1|%2").arg(in(QStringLiteral("c.ppt")), out(QStringLiteral("c.pdf"))),
        failure.arg(in(QStringLiteral("d-bad.pptm"))),
        QStringLiteral("1|%1|%2").arg(in(QStringLiteral("e.pptx")), out(QStringLiteral("e.pdf")))};
    QStringList listed = rows();
    std::sort(listed.begin(), listed.end(), [](const QString& x, const QString& y) {
        return x.section(QLatin1Char('|'), 1, 1) < y.section(QLatin1Char('|'), 1, 1);
    });
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(readAll(out(QStringLiteral("c.pdf"))), "converted " + in(QStringLiteral("c.ppt")).toUtf8());

    EXPECT_EQ(w->bCreate->text(), QStringLiteral("&Convert"));
    EXPECT_TRUE(w->bCreate->isEnabled());
    EXPECT_FALSE(w->bSearchConvert->isVisible());
    EXPECT_TRUE(w->aSearch->isEnabled());
    EXPECT_TRUE(w->bSourceFile->isEnabled());
    EXPECT_TRUE(w->lblCount->text().startsWith(QStringLiteral("5 of 5, 2 failed \u2013 took ")))
        << w->lblCount->text().toStdString();
    EXPECT_EQ(w->pbRun->value(), w->pbRun->maximum());
    EXPECT_EQ(counter("A"), items + 5);
    EXPECT_EQ(counter("S"), successes + 3);
    EXPECT_EQ(counter("F"), failures + 2);
    // Two failures with one text are reported once, "?" encoded.
    ASSERT_EQ(openedLinks().size(), 1);
    EXPECT_TRUE(openedLinks().first().contains(QStringLiteral("a=err&e=Broken deck%3F&")))
        << openedLinks().first().toStdString();
}

TEST_F(Run, PauseThenConvertResumesWithoutListingAgain)
{
    decks({QStringLiteral("1.pptx"), QStringLiteral("2.pptx"), QStringLiteral("3.pptx"),
           QStringLiteral("4.pptx")});
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
    gate.reset(1);
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return reported(1) && gate.Calls == 1; }));
    QTest::mouseClick(w->bCreate, Qt::LeftButton); // Pause
    EXPECT_FALSE(w->aPause->isEnabled());
    EXPECT_FALSE(w->aStop->isEnabled());
    EXPECT_FALSE(w->bCreate->isEnabled());
    gate.allow(2); // the worker ends after the item it holds
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(gate.Calls, 2);
    ASSERT_NE(w->Work(), nullptr);
    const QStringList paused = rows();
    EXPECT_TRUE(paused[2].startsWith(QStringLiteral("0|")));

    tree.write(QStringLiteral("in/0-new.pptx")); // not listed: the batch resumes
    gate.allow(1 << 30);
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(gate.Calls, 4);
    const QStringList resumed = rows();
    ASSERT_EQ(resumed.size(), 4);
    EXPECT_EQ(resumed.mid(0, 2), paused.mid(0, 2));
    for (const QString& row : resumed)
        EXPECT_TRUE(row.startsWith(QStringLiteral("1|"))) << row.toStdString();
}

TEST_F(Run, StopThenConvertListsAfresh)
{
    decks({QStringLiteral("1.pptx"), QStringLiteral("2.pptx"), QStringLiteral("3.pptx")});
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
    gate.reset(1);
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([] { return gate.Calls == 1; }));
    QTest::mouseClick(w->bSearchConvert, Qt::LeftButton); // Stop
    EXPECT_TRUE(w->Stopped());
    EXPECT_EQ(w->lblCount->text(), QStringLiteral("Stopping: finishing 1 file"));
    EXPECT_FALSE(w->bSearchConvert->isEnabled());
    EXPECT_FALSE(w->bCreate->isEnabled());
    gate.allow(2);
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(w->Work(), nullptr); // released; its rows stay
    EXPECT_EQ(rows().size(), 3);

    tree.write(QStringLiteral("in/4.pptx"));
    gate.reset(1 << 30);
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(gate.Calls, 4);
    EXPECT_EQ(rows().size(), 4);
    EXPECT_TRUE(reported(4));
}

TEST_F(Run, ConvertAfterAnEditedSourceListsAfresh)
{
    // A search that found nothing, then a source with decks: the first Convert converts them.
    tree.mkdir(QStringLiteral("empty"));
    w->eSource->setText(tree.path(QStringLiteral("empty/*.ppt?")));
    w->eTarget->setText(tree.path(QStringLiteral("out/")));
    w->aSearch->trigger();
    ASSERT_TRUE(waitFor([this] { return w->Work() && w->Work()->Listed(); }));
    decks({QStringLiteral("1.pptx"), QStringLiteral("2.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(rows().size(), 2);
    EXPECT_TRUE(reported(2));

    // An exhausted list after an edited source: the new folder's decks, not the old list again.
    tree.write(QStringLiteral("other/3.pptx"));
    w->eSource->setText(tree.path(QStringLiteral("other/*.ppt?")));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(rows(), QStringList({QStringLiteral("1|%1|%2").arg(tree.path(QStringLiteral("other/3.pptx")),
                                                                 out(QStringLiteral("3.pdf")))}));
}

TEST_F(Run, ClosingDuringARunAsksAndYesStopsAtOnce)
{
    startHeldRun();
    ASSERT_TRUE(waitFor([] { return rows().size() == 4; }));
    ASSERT_TRUE(waitFor([] { return gate.Arrived == 2; }));
    const int items = counter("A");

    // No: the run goes on and the window stays.
    askAnswers() = {QMessageBox::No};
    w->close();
    EXPECT_EQ(askedQuestions(), QStringList({QStringLiteral("A conversion is running. Stop it and quit?")}));
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->IsRunning());
    EXPECT_TRUE(w->aPause->isEnabled());

    // Asked again, Yes: the window goes at once, while both workers still hold their files.
    askAnswers() = {QMessageBox::Yes};
    w->close();
    EXPECT_EQ(askedQuestions().size(), 2);
    EXPECT_FALSE(w->isVisible());
    // The gate never opens: only the abort can end the workers.
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(gate.Calls, 0);
    // The files in hand ended as not done: nothing reported, nothing written, the run not counted.
    for (const QString& row : rows())
        EXPECT_TRUE(row.startsWith(QStringLiteral("0|"))) << row.toStdString();
    EXPECT_TRUE(QDir(out(QString())).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(counter("A"), items);
    EXPECT_EQ(w->Run(), nullptr);
    w->show();
}

TEST_F(Run, RowsOpenTheirPdfOrShowTheirMessageAndHintCutTexts)
{
    decks({QStringLiteral("a.pptx"), QStringLiteral("b-bad.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    openedLinks().clear();
    const int good = w->Items()->Source(0).contains(QStringLiteral("bad")) ? 1 : 0;
    const int bad = 1 - good;
    // Where a row of the batch is on screen.
    const auto shown = [this](int row, int column) {
        return w->Filter()->mapFromSource(w->Items()->index(row, column));
    };
    const auto doubleClick = [&](int row) {
        const QPoint at = w->lViewer->visualRect(shown(row, 1)).center();
        QTest::mouseClick(w->lViewer->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(w->lViewer->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    };
    doubleClick(good);
    EXPECT_EQ(openedLinks(), QStringList({out(QStringLiteral("a.pdf"))}));
    EXPECT_TRUE(errors.isEmpty());
    doubleClick(bad);
    EXPECT_EQ(errors, QStringList({QStringLiteral("Broken deck?\nsecond line")}));
    // Enter on a row does the same.
    w->lViewer->setCurrentIndex(shown(good, 1));
    QTest::keyClick(w->lViewer, Qt::Key_Return);
    EXPECT_EQ(openedLinks().size(), 2);

    // The name column tells the whole path; a result shown whole needs no hint, one with more lines does.
    const int result = TdvItemModel::ColResult;
    w->lViewer->setColumnWidth(TdvItemModel::ColName, 240);
    EXPECT_EQ(w->CellHint(good, TdvItemModel::ColName), in(QStringLiteral("a.pptx")));
    EXPECT_EQ(w->CellHint(good, result), QString());
    EXPECT_EQ(w->CellHint(bad, result), QStringLiteral("Broken deck?\nsecond line"));
    w->lViewer->setColumnWidth(TdvItemModel::ColFolder, 20);
    w->Items()->SetSourceFolder(QString()); // the whole folder, cut
    EXPECT_EQ(w->CellHint(good, TdvItemModel::ColFolder), tree.path(QStringLiteral("in/")));
    // Hovering the cut cell shows the hint.
    const QPoint at = w->lViewer->visualRect(shown(good, TdvItemModel::ColFolder)).center();
    QHelpEvent hover(QEvent::ToolTip, at, w->lViewer->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w->lViewer->viewport(), &hover);
    EXPECT_EQ(QToolTip::text(), tree.path(QStringLiteral("in/")));
    QToolTip::hideText();
    w->lViewer->setColumnWidth(TdvItemModel::ColFolder, 200);
}

TEST_F(Run, ConvertAfterAFinishedRunPicksUpNewFiles)
{
    decks({QStringLiteral("1.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    tree.write(QStringLiteral("in/2.pptx"));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(rows().size(), 2);
    EXPECT_TRUE(reported(2));
}

TEST_F(Run, ConvertWithoutTargetOrSourceStartsNothing)
{
    const int runs = counter("C");
    w->eSource->setText(tree.path(QStringLiteral("in/*.ppt?")));
    w->eTarget->clear();
    w->aConvert->trigger();
    EXPECT_EQ(w->focusWidget(), w->eTarget);

    // An exhausted batch with an empty source: Search only focuses the source, and nothing runs again.
    decks({QStringLiteral("1.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    w->eSource->clear();
    w->aConvert->trigger();
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(w->focusWidget(), w->eSource);
    EXPECT_EQ(counter("C"), runs + 1);
    EXPECT_EQ(rows().size(), 1);
}

TEST_F(Run, TargetIsReducedToAFolder)
{
    const QString existing = tree.write(QStringLiteral("t/file.pdf"));
    struct Case
    {
        QString target, expected;
    };
    const QList<Case> cases = {
        {tree.path(QStringLiteral("t/*.pdf")), tree.path(QStringLiteral("t/"))},
        {existing, tree.path(QStringLiteral("t/"))},
        {existing + QLatin1Char('/'), tree.path(QStringLiteral("t/"))},
        {tree.path(QStringLiteral("a?/b*/c.pdf")), tree.path(QString())},
        {tree.path(QStringLiteral("t")), tree.path(QStringLiteral("t"))},
        // A colon is part of a Linux name, far along or not.
        {tree.path(QStringLiteral("reports:2024/q3")), tree.path(QStringLiteral("reports:2024/q3"))},
        {QStringLiteral("*.pdf"), QString()},
        {QStringLiteral("/"), QStringLiteral("/")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(reduceTarget(c.target), c.expected) << c.target.toStdString();

    // Convert shows the reduced folder with its delimiter and converts into it.
    decks({QStringLiteral("1.pptx")});
    w->eTarget->setText(tree.path(QStringLiteral("made/here/*.pdf")));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(w->eTarget->text(), tree.path(QStringLiteral("made/here/")));
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("made/here/1.pdf"))));
}

TEST_F(Run, SearchWithoutTargetFocusesTheTarget)
{
    decks({QStringLiteral("1.pptx")});
    w->eTarget->clear();
    w->eSource->setFocus();
    w->aSearch->trigger();
    EXPECT_EQ(w->focusWidget(), w->eTarget);
    EXPECT_TRUE(rows().isEmpty());
}

// The current folder is the test's for the length of a scope.
struct CurrentFolder
{
    explicit CurrentFolder(const QString& folder) { QDir::setCurrent(folder); }
    ~CurrentFolder() { QDir::setCurrent(Saved); }
    QString Saved = QDir::currentPath();
};

TEST_F(Run, AFileAddressAsTargetIsItsFolderAndMakesNothingElse)
{
    CurrentFolder here(tree.path());
    decks({QStringLiteral("1.pptx")});
    w->eTarget->setText(QStringLiteral("file://") + tree.path(QStringLiteral("addressed")));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(w->eTarget->text(), tree.path(QStringLiteral("addressed/")));
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("addressed/1.pdf"))));
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("file:"))));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();

    // A file on another computer cannot be reached: refused before anything is made or run.
    const int runs = counter("C");
    w->eTarget->setText(QStringLiteral("file://server/share/out"));
    w->aConvert->trigger();
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(counter("C"), runs);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(QStringLiteral("server"))) << errors[0].toStdString();
    EXPECT_EQ(w->focusWidget(), w->eTarget);
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("file:"))));
}

TEST_F(Run, AnOptionTheRunCannotStartWithIsShownAndNothingRuns)
{
    decks({QStringLiteral("1.pptx")});
    const int runs = counter("C");
    gProject->SetOption(QStringLiteral("OfficeServers"), QStringLiteral("local nowhere"));
    w->aConvert->trigger();
    gProject->SetOption(QStringLiteral("OfficeServers"), QString());
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(counter("C"), runs);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0],
              QStringLiteral("OfficeServers: \"nowhere\" is neither host:port, unix:PATH nor local"));
    EXPECT_TRUE(w->aConvert->isEnabled());
    // Mended, the same list runs.
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_TRUE(QFile::exists(out(QStringLiteral("1.pdf"))));
}

// Without a report page (the default build) a failed save is shown in the window, and the project stays on
// the file it had: the title, the recent list and that file are as before.
TEST_F(Run, FailedSaveAndSaveAsAreShownAndKeepTheOldFile)
{
    gInfo->SiteRoot.clear();
    const QString old = tree.write(QStringLiteral("old.batch-vellum"), "Source=/old/*.ppt?\r\n");
    gProject->ProjectFile = old;
    w->UpdateTitle();
    w->eSource->setText(QStringLiteral("/new/*.ppt?"));

    const QString nowhere = QStringLiteral("/proc/no-such-place/new.batch-vellum");
    dialogs()->setNextFileName(nowhere);
    w->aSaveAs->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains(nowhere)) << errors[0].toStdString();
    EXPECT_EQ(gProject->ProjectFile, old);
    EXPECT_EQ(w->windowTitle(), titleFor(old));
    EXPECT_FALSE(gProject->RecentProjects.contains(nowhere));
    EXPECT_EQ(projectText(old), QStringLiteral("Source=/old/*.ppt?"));

    // Save onto a project file whose folder has gone.
    const QString gone = QStringLiteral("/proc/no-such-place/old.batch-vellum");
    gProject->ProjectFile = gone;
    w->UpdateTitle();
    w->aSave->trigger();
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[1].contains(gone)) << errors[1].toStdString();
    EXPECT_EQ(gProject->ProjectFile, gone);
    EXPECT_EQ(w->windowTitle(), titleFor(gone));
    EXPECT_FALSE(gProject->RecentProjects.contains(gone));
    EXPECT_TRUE(openedLinks().filter(QStringLiteral("err&e=")).isEmpty());
}

TEST_F(Run, ExportWritesOneBracketedLinePerRow)
{
    decks({QStringLiteral("1.pptx"), QStringLiteral("2-bad.pptx"), QStringLiteral("3.pptx"),
           QStringLiteral("4.pptx")});
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
    gate.reset(2);
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return reported(2) && rows().size() == 4; }));
    w->aPauseExecute();
    gate.allow(3); // the item in hand is finished, the last one is never reported
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));

    const QString log = tree.path(QStringLiteral("list.log"));
    dialogs()->setNextFileName(log);
    w->ExportList1->trigger();
    EXPECT_EQ(dialogs()->LastFilter, QStringLiteral("Log File|*.log"));
    EXPECT_EQ(dialogs()->LastDefaultExt, QStringLiteral(".log"));
    // Rows come in listing order (the folder's order); the last row is the one never reported.
    QMap<QString, QString> results = {
        {QStringLiteral("1.pptx"), QStringLiteral("[Success] => %1 => ") + out(QStringLiteral("1.pdf"))},
        {QStringLiteral("2-bad.pptx"), QStringLiteral("[Failure] => %1 => Broken deck?")},
        {QStringLiteral("3.pptx"), QStringLiteral("[Success] => %1 => ") + out(QStringLiteral("3.pdf"))},
        {QStringLiteral("4.pptx"), QStringLiteral("[Success] => %1 => ") + out(QStringLiteral("4.pdf"))}};
    QString expected;
    const QStringList listed = rows();
    ASSERT_EQ(listed.size(), 4);
    for (int i = 0; i < listed.size(); ++i) {
        const QString source = listed[i].section(QLatin1Char('|'), 1, 1);
        const QString line =
            i == 3 ? QStringLiteral("[Running] => %1 => ") : results.value(extractFileName(source));
        expected += line.arg(source) + QStringLiteral("\r\n");
    }
    EXPECT_EQ(QString::fromUtf8(readAll(log)), expected);
    EXPECT_TRUE(errors.isEmpty());

    // A place that cannot be written is told to the user.
    dialogs()->setNextFileName(QStringLiteral("/proc/no-such-place/list.log"));
    w->ExportList1->trigger();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().contains(QStringLiteral("/proc/no-such-place/list.log")));
}

// The list is exported by the run log's rules: never through a link, never over the batch's own decks or
// PDFs, and a name cannot split its line.
TEST_F(Run, ExportNeverWritesThroughALinkNorOverTheRunsFiles)
{
    decks({QStringLiteral("1.pptx"), QStringLiteral("two\nlines.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && reported(2); }));
    const QString victim = tree.write(QStringLiteral("elsewhere/victim.txt"), "precious");
    const QString link = tree.path(QStringLiteral("list.log"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(link).constData()), 0);
    const QByteArray pdf = readAll(out(QStringLiteral("1.pdf")));
    ASSERT_FALSE(pdf.isEmpty());
    struct Case
    {
        QString path;
        QString reason;
    } cases[] = {
        {link, QStringLiteral("it is a symbolic link, which is not followed")},
        {in(QStringLiteral("1.pptx")), QStringLiteral("it is one of the presentations the run converts")},
        {out(QStringLiteral("1.pdf")), QStringLiteral("it may be one of the PDF files the run writes")},
    };
    for (const Case& c : cases) {
        errors.clear();
        dialogs()->setNextFileName(c.path);
        w->ExportList1->trigger();
        EXPECT_EQ(
            errors,
            QStringList({QStringLiteral("The list cannot be written to %1: %2").arg(c.path, c.reason)}));
    }
    EXPECT_EQ(readAll(victim), QByteArray("precious"));
    EXPECT_EQ(readAll(in(QStringLiteral("1.pptx"))), QByteArray("x"));
    EXPECT_EQ(readAll(out(QStringLiteral("1.pdf"))), pdf);

    errors.clear();
    const QString list = tree.path(QStringLiteral("lists/run.log"));
    dialogs()->setNextFileName(list);
    w->ExportList1->trigger();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char(' ')).toStdString();
    QStringList lines;
    ASSERT_TRUE(readTextLines(list, lines));
    lines.sort();
    EXPECT_EQ(lines, QStringList({QStringLiteral("[Success] => %1 => %2")
                                      .arg(in(QStringLiteral("1.pptx")), out(QStringLiteral("1.pdf"))),
                                  QStringLiteral("[Success] => %1 => %2")
                                      .arg(in(QStringLiteral("two\\nlines.pptx")),
                                           out(QStringLiteral("two\\nlines.pdf")))}));
    // Nothing of the writing is left beside it.
    EXPECT_EQ(QDir(tree.path(QStringLiteral("lists"))).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("run.log")}));
}

TEST_F(Run, RowsEndUpRightWhateverOrderTheirPostsArrive)
{
    w->NewBatch();
    std::vector<TdvItemEvent> items(4);
    for (int i = 0; i < 4; ++i) {
        items[i].Index = i;
        items[i].Source = QStringLiteral("/in/%1.pptx").arg(i);
    }
    items[3].State = isDone;
    items[3].Result = QStringLiteral("/out/3.pdf");
    items[1].State = isFailed;
    items[1].Result = QStringLiteral("Damaged");
    // Results for items 3 and 1 reach the window before any listing, from another thread.
    std::thread worker([&] {
        w->ItemDone(items[3]);
        w->ItemDone(items[1]);
        for (const TdvItemEvent& item : items)
            w->ItemListed(item);
    });
    worker.join();
    ASSERT_TRUE(
        waitFor([] { return rows().size() == 4 && !rows()[0].section(QLatin1Char('|'), 1, 1).isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(rows(),
              QStringList({QStringLiteral("0|/in/0.pptx|"), QStringLiteral("2|/in/1.pptx|Damaged"),
                           QStringLiteral("0|/in/2.pptx|"), QStringLiteral("1|/in/3.pptx|/out/3.pdf")}));
    EXPECT_EQ(w->lblCount->text(), QStringLiteral("2 of 4, 1 failed"));
}

TEST_F(Run, RunAndCloseWritesTheLogAndCloses)
{
    decks({QStringLiteral("1.pptx"), QStringLiteral("2-bad.pptx")});
    const QString log = tree.path(QStringLiteral("logs/run.log"));
    gProject->SetOption(QStringLiteral("RunAndClose"), QStringLiteral("True"));
    gProject->SetOption(QStringLiteral("LogFile"), log);
    w->AutoConvert();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && !w->isVisible(); }));
    EXPECT_EQ(w->ExitCode, 0);
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    EXPECT_EQ(lines,
              QStringList(
                  {QStringLiteral("[Success] => %1 => %2")
                       .arg(in(QStringLiteral("1.pptx")), out(QStringLiteral("1.pdf"))),
                   QStringLiteral("[Failure] => %1 => Broken deck?").arg(in(QStringLiteral("2-bad.pptx")))}));

    // A log that cannot be written ends an unattended run with a failure code.
    w->show();
    gProject->SetOption(QStringLiteral("LogFile"), QStringLiteral("/proc/no-such-place/run.log"));
    w->AutoConvert();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && !w->isVisible(); }));
    EXPECT_EQ(w->ExitCode, 1);
    w->ExitCode = 0;

    // A log that is a link is refused before any item runs, and nothing is written through it.
    w->show();
    const QString victim = tree.write(QStringLiteral("elsewhere/victim.txt"), "precious");
    const QString link = tree.path(QStringLiteral("logs/link.log"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(link).constData()), 0);
    gProject->SetOption(QStringLiteral("LogFile"), link);
    errors.clear();
    const int calls = gate.Calls;
    w->AutoConvert();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && !w->isVisible(); }));
    EXPECT_EQ(w->ExitCode, 1);
    EXPECT_EQ(gate.Calls, calls);
    EXPECT_EQ(errors,
              QStringList({QStringLiteral("The list cannot be written to %1: it is a symbolic link, which "
                                          "is not followed")
                               .arg(link)}));
    EXPECT_EQ(readAll(victim), QByteArray("precious"));
    w->ExitCode = 0;
}

TEST_F(Run, OptionValuesTheRunCannotTakeAreSaidOnce)
{
    decks({QStringLiteral("1.pptx")});
    gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("-5"));
    for (int run = 0; run < 2; ++run) {
        w->aConvert->trigger();
        ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    }
    EXPECT_EQ(errors,
              QStringList({QStringLiteral("Timeout=-5 is not a number of seconds >= 0; 300 is used")}));
    EXPECT_EQ(gate.Calls, 2);
}

TEST_F(Run, PeriodicModeConvertsArrivingDecksUntilStop)
{
    // Decks here are whole once written; the repeat need not wait for them to settle.
    TdvRepeat::DefaultSettleMs = 0;
    decks({QStringLiteral("1.pptx")});
    // A polling interval far beyond the test: arriving decks start the repeats.
    gProject->SetOption(QStringLiteral("Daemon"), QStringLiteral("600000"));
    const int runs = counter("C");
    w->AutoConvert();
    ASSERT_TRUE(waitFor([&] { return counter("C") == runs + 1 && !w->IsRunning() && reported(1); }));

    // A repeat converts only the deck that arrived.
    tree.write(QStringLiteral("in/2.pptx"));
    ASSERT_TRUE(waitFor([&] { return counter("C") >= runs + 2 && !w->IsRunning() && reported(1); }));
    EXPECT_EQ(rows(), QStringList({QStringLiteral("1|%1|%2").arg(in(QStringLiteral("2.pptx")),
                                                                 out(QStringLiteral("2.pdf")))}));

    // Stopped during a repeat, the window starts no further run, whatever arrives.
    gate.reset(0);
    tree.write(QStringLiteral("in/3.pptx"));
    ASSERT_TRUE(waitFor([&] { return w->IsRunning() && gate.Arrived > 0; }));
    w->aStopExecute();
    gate.allow(1 << 30);
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    const int after = counter("C");
    // Nothing is left to start one: a disarmed repeat only notes that its folder changed.
    EXPECT_FALSE(w->Repeat()->Armed());
    tree.write(QStringLiteral("in/4.pptx"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(w->Repeat()->Armed());
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(counter("C"), after);
    EXPECT_TRUE(w->isVisible());
    TdvRepeat::DefaultSettleMs = 2000;
}

TEST_F(Run, WebAddressIsTheSingleItem)
{
    w->eSource->setText(QStringLiteral("http://127.0.0.1:9/decks/q3.pptx"));
    w->aSearch->trigger();
    EXPECT_EQ(rows(), QStringList({QStringLiteral("0|http://127.0.0.1:9/decks/q3.pptx|")}));
    EXPECT_TRUE(w->eTarget->text().isEmpty()); // never a folder from a web address
}

// ---- what a desktop user met ----------------------------------------------------------------------------

TEST_F(Run, TabDuringARunStopsOnTheRunsCommandsAndSkipsWhatTheRunHolds)
{
    startHeldRun();
    ASSERT_TRUE(w->IsRunning());
    ASSERT_TRUE(activateWindow());
    const QList<QWidget*> stops = usableTabStops();
    // Stop and Pause are reached; the buttons that would change what the run converts are not.
    EXPECT_TRUE(stops.contains(w->bSearchConvert));
    EXPECT_TRUE(stops.contains(w->bCreate));
    for (QWidget* held : QList<QWidget*>{w->bSource, w->bSourceFile, w->cSubdir, w->bTarget})
        EXPECT_FALSE(stops.contains(held)) << held->objectName().toStdString();
    w->aStopExecute();
}

TEST_F(Run, KeysOfTheRunReachTheirCommandsInEveryStateAndNeverAField)
{
    const QString source = tree.path(QStringLiteral("in/*.ppt?"));
    startHeldRun();
    ASSERT_TRUE(w->IsRunning());
    ASSERT_TRUE(activateWindow());
    // Alt+S focuses the source; Convert cannot run now, and its key must not replace the source with "c".
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+S")));
    ASSERT_EQ(QApplication::focusWidget(), w->eSource);
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+C")));
    QTest::keyClicks(w->eSource, QStringLiteral("x"));
    EXPECT_EQ(w->eSource->text(), source);
    EXPECT_TRUE(w->eSource->isReadOnly());
    EXPECT_TRUE(w->eTarget->isReadOnly());
    EXPECT_FALSE(w->cSubdir->isEnabled());

    // Pause has a key of its own; after the pause the button says Resume, and Convert's key resumes. Both
    // workers hold a file first: a worker that had none yet would rightly take none after the pause.
    ASSERT_TRUE(waitFor([] { return gate.Arrived == 2; }));
    QSignalSpy paused(w->aPause, &QAction::triggered);
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+E")));
    EXPECT_EQ(paused.count(), 1);
    gate.allow(2);
    // The last row's outcome is a queued call that may come after the run has ended.
    const QString pausedText = QStringLiteral("Paused: 2 of 4, 0 failed.");
    EXPECT_TRUE(waitFor([&] { return !w->IsRunning() && w->lblCount->text().startsWith(pausedText); }))
        << w->lblCount->text().toStdString();
    ASSERT_FALSE(w->IsRunning());
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("&Resume"));
    EXPECT_FALSE(w->eSource->isReadOnly());
    gate.reset(0);
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+C")));
    ASSERT_TRUE(waitFor([this] { return w->IsRunning(); }));
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("Paus&e"));
    // Stop's key, on the other button.
    QSignalSpy stopped(w->aStop, &QAction::triggered);
    QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+P")));
    EXPECT_EQ(stopped.count(), 1);
    EXPECT_TRUE(w->Stopped());
}

TEST_F(Run, EveryConvertSaysWhatHappenedAndMakesNoFolderForNothing)
{
    tree.mkdir(QStringLiteral("empty"));
    tree.write(QStringLiteral("notes/readme.txt"));
    CurrentFolder here(tree.path());
    struct Case
    {
        const char* name;
        QString source, target;
        QString notice;   // part of what the window says
        QWidget* focused; // the field to mend
    };
    const QList<Case> cases = {
        {"nothing at all", QString(), QString(), QStringLiteral("the Source field is empty"), w->eSource},
        {"no target", tree.path(QStringLiteral("empty/*.ppt?")), QString(),
         QStringLiteral("the Target field is empty"), w->eTarget},
        {"a folder that is not there", tree.path(QStringLiteral("gone/*.ppt?")),
         tree.path(QStringLiteral("out")),
         QStringLiteral("The source folder %1 does not exist.").arg(tree.path(QStringLiteral("gone/"))),
         w->eSource},
        // A mistyped letter is a relative path to nothing, not a folder to convert into.
        {"a stray letter", QStringLiteral("c"), tree.path(QStringLiteral("out")),
         QStringLiteral("The source %1 does not exist.").arg(tree.path(QStringLiteral("c"))), w->eSource},
        {"a folder without decks", tree.path(QStringLiteral("notes/*.ppt?")),
         tree.path(QStringLiteral("out")),
         QStringLiteral("No presentations found in %1 (pattern *.ppt?).")
             .arg(tree.path(QStringLiteral("notes/"))),
         nullptr},
    };
    const int runs = counter("C");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetWindow();
        w->ShowError = [this](const QString& message) { errors.append(message); };
        w->eSource->setText(c.source);
        w->eTarget->setText(c.target);
        w->eTarget->setFocus();
        w->aConvert->trigger();
        ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && !w->NoticeText().isEmpty(); }));
        EXPECT_TRUE(w->NoticeText().contains(c.notice)) << w->NoticeText().toStdString();
        if (c.focused) {
            EXPECT_EQ(w->focusWidget(), c.focused);
        }
        EXPECT_TRUE(rows().isEmpty());
        // Nothing was converted, so nothing was made.
        EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("out")))) << "target folder made";
        EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("out/c"))))
            << "folder of the stray letter made";
    }
    EXPECT_EQ(counter("C"), runs + 1); // only the run over the folder without decks started
    // A search alone says so too.
    w->eSource->setText(tree.path(QStringLiteral("notes/*.ppt?")));
    w->aSearch->trigger();
    EXPECT_TRUE(
        waitFor([this] { return w->NoticeText().startsWith(QStringLiteral("No presentations found")); }));
}

TEST_F(Run, TheListSortsFiltersAndTellsEveryStateApart)
{
    tree.write(QStringLiteral("in/b/deck 10.pptx"));
    tree.write(QStringLiteral("in/a/deck 9-bad.pptx"));
    tree.write(QStringLiteral("in/deck 2.pptx"));
    tree.write(QStringLiteral("out/deck 2.pdf"), "kept");
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("Skip"));
    w->cSubdir->setChecked(true);
    w->eSource->setText(tree.path(QStringLiteral("in/*.ppt?")));
    w->eTarget->setText(tree.path(QStringLiteral("out/")));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    TdvItemModel* items = w->Items();
    ASSERT_EQ(items->rowCount(), 3);

    // The name alone, and the folder below the source beside it; long paths are cut in the middle.
    QMap<QString, QString> folders;
    QMap<QString, TdvRowState> states;
    for (int row = 0; row < 3; ++row) {
        const QString name = items->index(row, TdvItemModel::ColName).data().toString();
        folders[name] = items->index(row, TdvItemModel::ColFolder).data().toString();
        states[name] = items->RowState(row);
    }
    EXPECT_EQ(folders, (QMap<QString, QString>{{QStringLiteral("deck 10.pptx"), QStringLiteral("b/")},
                                               {QStringLiteral("deck 9-bad.pptx"), QStringLiteral("a/")},
                                               {QStringLiteral("deck 2.pptx"), QString()}}));
    EXPECT_EQ(w->lViewer->textElideMode(), Qt::ElideMiddle);
    EXPECT_EQ(states[QStringLiteral("deck 10.pptx")], TdvRowState::Converted);
    EXPECT_EQ(states[QStringLiteral("deck 9-bad.pptx")], TdvRowState::Failed);
    EXPECT_EQ(states[QStringLiteral("deck 2.pptx")], TdvRowState::Skipped);

    // Sorted by name, numbers as numbers; the header's third click brings the listing order back.
    const auto shownNames = [this] {
        QStringList names;
        for (int row = 0; row < w->lViewer->model()->rowCount(); ++row)
            names.append(w->lViewer->model()->index(row, TdvItemModel::ColName).data().toString());
        return names;
    };
    const QStringList listed = shownNames();
    QHeaderView* header = w->lViewer->header();
    const QPoint nameHeader(header->sectionViewportPosition(TdvItemModel::ColName) + 10,
                            header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, nameHeader);
    EXPECT_EQ(shownNames(), QStringList({QStringLiteral("deck 2.pptx"), QStringLiteral("deck 9-bad.pptx"),
                                         QStringLiteral("deck 10.pptx")}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, nameHeader);
    EXPECT_EQ(shownNames().first(), QStringLiteral("deck 10.pptx"));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, nameHeader);
    EXPECT_EQ(shownNames(), listed);

    // The failures alone, then the converted ones, then rows holding a text.
    w->cbFilter->setCurrentIndex(w->cbFilter->findData(int(TdvItemFilter::ShowFailed)));
    EXPECT_EQ(shownNames(), QStringList({QStringLiteral("deck 9-bad.pptx")}));
    w->cbFilter->setCurrentIndex(w->cbFilter->findData(int(TdvItemFilter::ShowConverted)));
    EXPECT_EQ(shownNames().size(), 2);
    w->cbFilter->setCurrentIndex(w->cbFilter->findData(int(TdvItemFilter::ShowAll)));
    QTest::keySequence(w, QKeySequence(QStringLiteral("Ctrl+F")));
    EXPECT_EQ(QApplication::focusWidget(), w->eFilter);
    QTest::keyClicks(w->eFilter, QStringLiteral("broken"));
    EXPECT_EQ(shownNames(), QStringList({QStringLiteral("deck 9-bad.pptx")}));
    w->eFilter->clear();

    // Ctrl+C copies the selected rows, as lines of the exported list.
    w->lViewer->setFocus();
    w->lViewer->selectAll();
    QTest::keySequence(w->lViewer, QKeySequence::Copy);
    QStringList lines;
    for (int row = 0; row < 3; ++row)
        lines.append(items->ResultLine(row));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    EXPECT_TRUE(QGuiApplication::clipboard()->text().contains(
        QStringLiteral("[Failure] => ") + tree.path(QStringLiteral("in/a/deck 9-bad.pptx"))));

    // Every state has an icon of its own.
    QSet<qint64> icons;
    for (const TdvRowState state : {TdvRowState::Waiting, TdvRowState::Converting, TdvRowState::Converted,
                                    TdvRowState::Failed, TdvRowState::Skipped, TdvRowState::NotDone}) {
        TdvItemModel model(w->imgList);
        model.Listed(0, QStringLiteral("/in/a.pptx"));
        if (state == TdvRowState::Converting)
            model.Started(0);
        else if (state == TdvRowState::NotDone)
            model.MarkUnfinished(TdvRowState::NotDone);
        else if (state != TdvRowState::Waiting)
            model.Reported(0, state == TdvRowState::Failed ? isFailed : isDone, state == TdvRowState::Skipped,
                           QStringLiteral("/in/a.pptx"), QStringLiteral("/out/a.pdf"));
        ASSERT_EQ(model.RowState(0), state);
        const QImage image =
            model.index(0, 0).data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        icons.insert(qHashBits(image.constBits(), image.sizeInBytes()));
    }
    EXPECT_EQ(icons.size(), 6);
}

TEST_F(Run, RowsInHandShowConvertingAndAStoppedRunLeavesTheRestNotDone)
{
    startHeldRun();
    ASSERT_TRUE(waitFor([] { return rows().size() == 4 && gate.Arrived == 2; }));
    ASSERT_TRUE(waitFor([this] { return w->Items()->Count(TdvRowState::Converting) == 2; }));
    EXPECT_EQ(w->Items()->Count(TdvRowState::Waiting), 2);
    w->aStopExecute();
    gate.allow(2); // the two files in hand finish; the others are never taken
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_EQ(w->Items()->Count(TdvRowState::Converted), 2);
    EXPECT_EQ(w->Items()->Count(TdvRowState::NotDone), 2);
    EXPECT_EQ(w->lblCount->text(),
              QStringLiteral(
                  "Stopped: 2 of 4, 0 failed, 2 not done. Convert lists the source again and starts over."));
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("&Convert"));
}

TEST_F(Run, RetryFailedConvertsTheFailedFilesAgainIntoTheirPlaces)
{
    tree.write(QStringLiteral("in/ok.pptx"));
    tree.write(QStringLiteral("in/sub/flaky-bad.pptx"));
    w->cSubdir->setChecked(true);
    w->eSource->setText(tree.path(QStringLiteral("in/*.ppt?")));
    w->eTarget->setText(tree.path(QStringLiteral("out/")));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    ASSERT_EQ(w->Items()->Failed(), 1);
    gate.FailBad = false; // mended meanwhile
    const int calls = gate.Calls;
    QTest::keySequence(w, QKeySequence(QStringLiteral("Ctrl+R")));
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning() && w->Items()->Done() == 1; }));
    EXPECT_EQ(gate.Calls, calls + 1); // the failed file only
    EXPECT_EQ(rows(),
              QStringList({QStringLiteral("1|%1|%2").arg(tree.path(QStringLiteral("in/sub/flaky-bad.pptx")),
                                                         out(QStringLiteral("sub/flaky-bad.pdf")))}));
    EXPECT_TRUE(QFile::exists(out(QStringLiteral("sub/flaky-bad.pdf"))));
}

TEST(RunStatus, SaysElapsedAndLeftTimeAndHowARunEnded)
{
    using End = TdvRunStatus::End;
    struct Case
    {
        TdvRunStatus status;
        QString text;
    };
    const auto make = [](int total, int done, int failed, bool running, bool listed, qint64 ms, End end) {
        TdvRunStatus s;
        s.Total = total;
        s.Done = done;
        s.Failed = failed;
        s.Running = running;
        s.Listed = listed;
        s.ElapsedMs = ms;
        s.LastEnd = end;
        return s;
    };
    const QList<Case> cases = {
        {make(40, 10, 1, true, true, 42000, End::None),
         QStringLiteral("10 of 40, 1 failed \u2013 0:42 elapsed, about 2:06 left")},
        // While the listing goes on the total still grows: no guess.
        {make(40, 10, 0, true, false, 42000, End::None),
         QStringLiteral("10 of 40, 0 failed \u2013 0:42 elapsed")},
        {make(5000, 1, 0, true, true, 3723000, End::None),
         QStringLiteral("1 of 5000, 0 failed \u2013 1:02:03 elapsed, about 5169:47:57 left")},
        {make(4, 4, 0, false, true, 61000, End::Finished),
         QStringLiteral("4 of 4, 0 failed \u2013 took 1:01")},
        {make(0, 0, 0, false, false, 0, End::None), QStringLiteral("0 of 0, 0 failed")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.status.Text(), c.text);
}

TEST_F(Run, ARunThatEndsInTheBackgroundIsToldAndItsProgressReachesTheTaskBar)
{
    QList<QPair<double, bool>> progress;
    w->Desktop->ProgressShower = [&](double fraction, bool visible) { progress.append({fraction, visible}); };
    decks({QStringLiteral("1.pptx"), QStringLiteral("2-bad.pptx")});
    // Another window has the focus: the person looks elsewhere.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    ASSERT_EQ(notifications().size(), 1);
    EXPECT_EQ(notifications().first(),
              QStringLiteral("Conversion ended with failures|2 listed, 1 converted, 0 skipped, 1 failed"));
    ASSERT_FALSE(progress.isEmpty());
    using Shown = QPair<double, bool>;
    EXPECT_TRUE(progress.contains(Shown(0.5, true)));
    EXPECT_EQ(progress.last(), Shown(1.0, false)); // hidden once the run is over
    elsewhere.close();

    // In front, the window itself shows the end: no notification.
    ASSERT_TRUE(activateWindow());
    notifications().clear();
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    EXPECT_TRUE(notifications().isEmpty());
}

TEST_F(Gui, WhatWasOnScreenComesBackAtTheNextStartAndNamedChangesAreAskedFor)
{
    // An untitled project: typed fields, an option set in Config, a moved and resized window; closed without
    // a word.
    w->eSource->setText(QStringLiteral("/talks/*.ppt?"));
    w->eTarget->setText(QStringLiteral("/pdf/"));
    w->cSubdir->setChecked(true);
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    waitFor([] { return false; }, 50); // the title follows the edits
    EXPECT_TRUE(w->isWindowModified());
    EXPECT_EQ(shownTitle(w), QStringLiteral("Untitled* \u2013 Vellum Converter"));
    const QRect place(30, 40, w->minimumSizeHint().width() + 40, w->minimumSizeHint().height() + 60);
    w->setGeometry(place);
    w->close();
    EXPECT_TRUE(askedQuestions().isEmpty());
    ASSERT_TRUE(QFile::exists(TdvSession::FileName()));

    // The next start (the same window, emptied) shows it all again.
    gProject->NewProject();
    w->setGeometry(0, 0, 400, 300);
    w->RestoreSession();
    w->show();
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/talks/*.ppt?"));
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/pdf/"));
    EXPECT_TRUE(w->cSubdir->isChecked());
    EXPECT_EQ(gProject->ThreadsCount(), 2);
    EXPECT_EQ(w->geometry(), place);

    // A named project with changes asks before it goes: Cancel keeps the window, Discard keeps the file.
    const QString file = tree.write(QStringLiteral("weekly.batch-vellum"), "Source=/weekly/*.ppt?\r\n");
    gProject->ProjectFile = file;
    gProject->OpenProject(false);
    w->MarkSaved();
    EXPECT_EQ(w->windowTitle(), titleFor(file));
    EXPECT_FALSE(w->isWindowModified());
    w->eSource->setText(QStringLiteral("/changed/*.ppt?"));
    w->UpdateTitle();
    EXPECT_EQ(shownTitle(w), QStringLiteral("weekly.batch-vellum* \u2013 Vellum Converter"));
    askAnswers() = {QMessageBox::Cancel};
    w->close();
    EXPECT_TRUE(w->isVisible());
    ASSERT_EQ(askedQuestions().size(), 1);
    EXPECT_EQ(
        askedQuestions().first(),
        QStringLiteral(
            "The project weekly.batch-vellum has changes that are not saved. Save them before closing?"));
    askAnswers() = {QMessageBox::Discard};
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_EQ(projectText(file), QStringLiteral("Source=/weekly/*.ppt?"));
    w->show();
    // Save writes the file, and the window closes.
    w->eSource->setText(QStringLiteral("/changed/*.ppt?"));
    askAnswers() = {QMessageBox::Save};
    w->close();
    EXPECT_FALSE(w->isVisible());
    EXPECT_TRUE(projectText(file).startsWith(QStringLiteral("Source=/changed/*.ppt?")))
        << projectText(file).toStdString();
    w->show();
}

TEST_F(Gui, TheFirstSizeFitsTheScreenAndTheWindowHasItsIcon)
{
    QFile::remove(TdvSession::FileName());
    w->resize(3000, 2000);
    w->RestoreSession(); // no session: the first size
    const QRect screen = w->screen()->availableGeometry();
    EXPECT_LE(w->width(), screen.width());
    EXPECT_LE(w->height(), screen.height());
    EXPECT_GE(w->width(), w->minimumSizeHint().width());
    EXPECT_FALSE(w->windowIcon().isNull());
    // Every command is still on the tool bar, by its picture.
    for (QAction* action : w->ToolBar->actions())
        if (action->isVisible() && !action->isSeparator()) {
            QWidget* button = w->ToolBar->widgetForAction(action);
            EXPECT_TRUE(QRect(QPoint(0, 0), w->size())
                            .contains(QRect(button->mapTo(w, QPoint(0, 0)), button->size())))
                << action->objectName().toStdString();
        }
    w->ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    w->resize(1200, 600);
}

TEST_F(Gui, FormsFollowTheDesktopsFontAndTheTranslationIsComplete)
{
    // No form sets a font of its own: the desktop's, at any size, is the one shown.
    TdvFrmCfg cfg;
    for (QWidget* form : std::initializer_list<QWidget*>{w, &cfg, dvFrmAbout}) {
        EXPECT_FALSE(form->testAttribute(Qt::WA_SetFont)) << form->objectName().toStdString();
        EXPECT_EQ(form->font(), QApplication::font()) << form->objectName().toStdString();
    }

    // German: Qt's own texts and the program's, in a form made after the translators are in.
    installTranslators(QLocale(QLocale::German, QLocale::Germany),
                       {QStringLiteral(VELLUM_BUILD_DIR "/translations")});
    {
        TdvFrmCfg german;
        EXPECT_EQ(german.btnCancel->text(), QStringLiteral("Abbrechen"));
        EXPECT_EQ(german.windowTitle(), QStringLiteral("Einstellungen"));
        // The main form's captions are the window's texts.
        EXPECT_EQ(TdvFrmMainForm::tr("&Convert"), QStringLiteral("&Konvertieren"));
        EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Open"), QStringLiteral("\u00d6ffnen"));
    }
    for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    EXPECT_EQ(TdvFrmCfg().btnCancel->text(), QStringLiteral("Cancel"));

    // Every text of the program has its German: no message left unfinished.
    const QByteArray ts = readAll(QStringLiteral(VELLUM_SOURCE_DIR "/translations/vellum_de.ts"));
    ASSERT_FALSE(ts.isEmpty());
    EXPECT_EQ(ts.count("<message"), ts.count("<translation>"));
    EXPECT_EQ(ts.count("type=\"unfinished\""), 0);
}

TEST_F(Gui, TheHelpIsBuiltBesideTheProgramAndNamesEveryOption)
{
    const QString page = QStringLiteral(VELLUM_BUILD_DIR "/vellum.html");
    const QString html = QString::fromUtf8(readAll(page));
    ASSERT_FALSE(html.isEmpty()) << page.toStdString();
    for (const TdvOptionInfo& info : dvOptionInfos())
        EXPECT_TRUE(html.contains(info.name())) << info.Name;
}

TEST_F(Gui, ConfigShowsEveryOptionWithItsKindDefaultAndMeaningBesideTheText)
{
    w->eSource->setText(QStringLiteral("/in/*.ppt?"));
    gProject->SetOptionLines({QStringLiteral("ThreadsCount=abc"), QStringLiteral("Custom=kept as it is")});
    QStringList missing;
    QString threads, textAfterEdits;
    bool resizable = false;
    int spinValue = -1;
    whenModal([&] {
        TdvFrmCfg* cfg = w->CfgForm();
        resizable = cfg->minimumSize() != cfg->maximumSize();
        for (const TdvOptionInfo& info : dvOptionInfos()) {
            QWidget* editor = cfg->Editor(info.name());
            if (!editor || editor->toolTip().indexOf(info.meaning()) < 0)
                missing.append(info.name());
        }
        // A malformed value shows the default; the line stays as written until its own editor changes.
        auto* spin = qobject_cast<QSpinBox*>(cfg->Editor(QStringLiteral("ThreadsCount")));
        spinValue = spin ? spin->value() : -1;
        qobject_cast<QCheckBox*>(cfg->Editor(QStringLiteral("Notes")))->setChecked(true);
        auto* overwrite = qobject_cast<QComboBox*>(cfg->Editor(QStringLiteral("IsOverwrite")));
        overwrite->setCurrentText(QStringLiteral("Skip"));
        textAfterEdits = cfg->txtCfg->toPlainText();
        // Typed as text, the editors follow.
        cfg->txtCfg->setPlainText(textAfterEdits + QStringLiteral("\nTimeout=60"));
        threads = QString::number(qobject_cast<QSpinBox*>(cfg->Editor(QStringLiteral("Timeout")))->value());
        QTest::mouseClick(cfg->btnOk, Qt::LeftButton);
    });
    w->aConfig->trigger();
    EXPECT_TRUE(resizable);
    EXPECT_TRUE(missing.isEmpty()) << missing.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(spinValue, 1);
    EXPECT_TRUE(textAfterEdits.contains(QStringLiteral("ThreadsCount=abc")));
    EXPECT_TRUE(textAfterEdits.contains(QStringLiteral("Custom=kept as it is")));
    EXPECT_EQ(threads, QStringLiteral("60"));
    EXPECT_EQ(gProject->GetOption(QStringLiteral("Notes")), QStringLiteral("True"));
    EXPECT_EQ(gProject->IsOverwrite(), TdvOverwrite::Skip);
    EXPECT_EQ(gProject->Timeout(), 60);
    EXPECT_EQ(gProject->GetOption(QStringLiteral("Custom")), QStringLiteral("kept as it is"));
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/in/*.ppt?"));
    // Each group has its page, and the text its own.
    QStringList pages;
    for (int i = 0; i < w->CfgForm()->tabCfg->count(); ++i)
        pages.append(w->CfgForm()->tabCfg->tabText(i));
    EXPECT_EQ(pages, QStringList({QStringLiteral("Source"), QStringLiteral("Target"),
                                  QStringLiteral("Conversion"), QStringLiteral("Offices"),
                                  QStringLiteral("Unattended runs"), QStringLiteral("As text")}));
}

TEST_F(Gui, EveryFileTheDesktopHandsOverIsListedAndConvertConvertsThemAtOnce)
{
    const QString a = tree.write(QStringLiteral("in/a.pptx"));
    const QString b = tree.write(QStringLiteral("in/b.ppsx"));
    const QString pdf = tree.write(QStringLiteral("in/c.pdf"));
    const QStringList saved = gApp->Params;
    gApp->Params = {a, b, pdf};
    w->ListStartupSources();
    EXPECT_EQ(rows(), QStringList({QStringLiteral("0|%1|").arg(a), QStringLiteral("0|%1|").arg(b)}));
    EXPECT_TRUE(w->NoticeText().contains(QStringLiteral("c.pdf is no presentation")))
        << w->NoticeText().toStdString();
    // One path alone is the source, as it always was: nothing more is listed.
    resetWindow();
    gApp->Params = {a};
    w->ListStartupSources();
    EXPECT_TRUE(rows().isEmpty());
    gApp->Params = saved;
}

} // namespace

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<TestConvertor> convertorClass;
    return runGuiTests(argc, argv, &convertorClass);
}
