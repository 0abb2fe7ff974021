// The main window, its dialogs and the about box, driven headless.
#include "guiSupport.h"

#include "discovery/dvFileUtils.h"
#include "engine/dvConvertor.h"
#include "engine/dvRepeat.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvFormMain.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
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

    void reset(int allowed)
    {
        std::lock_guard lock(Lock);
        Allowed = allowed;
        Started = 0;
        Arrived = 0;
        Calls = 0;
    }
    void allow(int allowed)
    {
        std::lock_guard lock(Lock);
        Allowed = allowed;
        Changed.notify_all();
    }
    void enter()
    {
        std::unique_lock lock(Lock);
        ++Arrived;
        // Bounded so that a broken test ends instead of hanging the suite.
        Changed.wait_for(lock, std::chrono::seconds(30), [this] { return Started < Allowed; });
        ++Started;
    }
};
Gate gate;

// Converts "decks" into small files; a name with "bad" fails with a text holding a "?" and a line break.
class TestConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        gate.enter();
        ++gate.Calls;
        if (extractFileName(item->Source).contains(QStringLiteral("bad"))) {
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
    void SetUp() override { resetWindow(); }
    TdvFrmMain* w = window();
    TempTree tree;
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

TEST_F(Gui, TabOrderFollowsTheTwoLines)
{
    const QList<QWidget*> order = {w->eSource, w->bSource, w->bSourceFile,    w->cSubdir, w->bSearch,
                                   w->eTarget, w->bTarget, w->bSearchConvert, w->bCreate, w->bView};
    // The focus chain holds every widget; the listed controls must come in this order within it.
    QStringList seen;
    QWidget* next = order.first();
    do {
        if (order.contains(next))
            seen.append(next->objectName());
        next = next->nextInFocusChain();
    } while (next != order.first() && seen.size() < order.size());
    QStringList expected;
    for (QWidget* control : order)
        expected.append(control->objectName());
    EXPECT_EQ(seen, expected);
}

TEST_F(Gui, IdleButtonsShowTheirActions)
{
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("&Convert"));
    EXPECT_TRUE(w->bCreate->isEnabled());
    EXPECT_FALSE(w->bSearchConvert->isVisible()); // Start is hidden until it turns into Stop
    EXPECT_EQ(w->bSearch->text(), QStringLiteral("Search"));
    EXPECT_EQ(w->bView->text(), QStringLiteral("View"));
    EXPECT_EQ(w->lViewer->columnCount(), 3);
    EXPECT_EQ(w->lViewer->columnWidth(0), 30);
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
    const int result = w->lViewer->columnWidth(2);
    resizeWindow(QSize(1600, 600));
    EXPECT_EQ(w->eSource->width(), edit + 400);
    EXPECT_EQ(w->eTarget->width(), edit + 400);
    EXPECT_EQ(w->lViewer->columnWidth(2), result + 400);
    EXPECT_EQ(w->lViewer->columnWidth(1), 370);
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
        QTest::keySequence(w, QKeySequence(QStringLiteral("Alt+U")));
        if (c.update) {
            EXPECT_TRUE(waitFor([] { return !openedLinks().isEmpty(); }, 2000));
        } else {
            QTest::qWait(200); // longer than a button's click animation
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
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - None"));

    const QString file = tree.path(QStringLiteral("q3.batch-vellum"));
    w->eSource->setText(QStringLiteral("/decks/q3/*.ppt?"));
    w->eTarget->setText(QStringLiteral("/pdf/q3/"));
    dialogs()->setNextFileName(file);
    w->aSaveAs->trigger();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + file);
    EXPECT_EQ(dialogs()->LastFilter, QStringLiteral("Vellum Project|*.batch-vellum"));
    EXPECT_EQ(dialogs()->LastDefaultExt, QStringLiteral(".batch-vellum"));
    EXPECT_EQ(projectText(file), QStringLiteral("Source=/decks/q3/*.ppt?\nSubdir=False\nTarget=/pdf/q3/"));
    ASSERT_FALSE(gProject->RecentProjects.isEmpty());
    EXPECT_EQ(gProject->RecentProjects.first(), file);

    // A cancelled Save As keeps the file and the title.
    w->aSaveAs->trigger();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + file);
}

TEST_F(Gui, TitlesAreShownAsTheFormsSetThem)
{
    EXPECT_EQ(shownTitle(w), QStringLiteral("Vellum Converter - None"));
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
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + file);
    EXPECT_EQ(
        dialogs()->LastFilter,
        QStringLiteral("Vellum Project|*.batch-vellum|PowerPoint Workbook (*.ppt;*.pptx)|*.ppt;*.pptx"));
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
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + kept);
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
        {w->aHelp, gInfo->HelpFile()},
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
    w->lViewer->topLevelItem(0)->setSelected(true);
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
    const QString folder = tree.mkdir(QStringLiteral("decks"));
    const QString project = tree.write(QStringLiteral("p.batch-vellum"), "Source=/from/project/*.ppt?\r\n");
    const QString bare = QString(folder).chopped(1); // a dropped folder comes without a delimiter

    struct Case
    {
        const char* name;
        QWidget* control;
        QStringList paths;
        bool taken;
        QString source, target;
        QStringList files; // the rows' file names
        QString title;
    };
    const QList<Case> cases = {
        {"two files on the source",
         w->eSource,
         {a, b},
         true,
         a,
         tree.path(QStringLiteral("in/")),
         {},
         QString()},
        {"folder on the target", w->eTarget, {bare}, true, QString(), bare, {}, QString()},
        // A folder on the source is searched with the product's pattern, as the Folder button sets it.
        {"folder on the source",
         w->eSource,
         {bare},
         true,
         folder + QStringLiteral("*.ppt?"),
         folder,
         {},
         QString()},
        {"files on the list",
         w->lViewer->viewport(),
         {b, a},
         true,
         QString(),
         tree.path(QStringLiteral("in/")),
         {b, a},
         QString()},
        {"file on a button", w->bSearch, {a}, false, QString(), QString(), {}, QString()},
        {"file on a panel", w->pOthers, {a}, false, QString(), QString(), {}, QString()},
        {"project alone on the list",
         w->lViewer->viewport(),
         {project},
         true,
         QStringLiteral("/from/project/*.ppt?"),
         QString(),
         {},
         project},
        {"project alone on the target",
         w->eTarget,
         {project},
         true,
         QStringLiteral("/from/project/*.ppt?"),
         QString(),
         {},
         project},
        {"project with a file on the list",
         w->lViewer->viewport(),
         {project, a},
         true,
         QString(),
         tree.path(QString()),
         {project, a},
         QString()},
    };
    for (const Case& c : cases) {
        resetWindow();
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dropOn(c.control, c.paths), c.taken);
        EXPECT_EQ(w->eSource->text(), c.source);
        EXPECT_EQ(w->eTarget->text(), c.target);
        QStringList files;
        for (const QString& row : rows())
            files.append(row.section(QLatin1Char('|'), 1, 1));
        EXPECT_EQ(files, c.files);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") +
                                        (c.title.isEmpty() ? QStringLiteral("None") : c.title));
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
    EXPECT_EQ(openedLinks(), QStringList({gInfo->HelpFile()}));
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
    EXPECT_NEAR(dvFrmAbout->windowOpacity(), 200.0 / 255.0, 0.01);
    EXPECT_TRUE(dvFrmAbout->windowFlags() & Qt::FramelessWindowHint);
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
    EXPECT_EQ(w->bCreate->text(), QStringLiteral("Pause"));
    EXPECT_TRUE(w->bCreate->isEnabled());
    EXPECT_TRUE(w->bSearchConvert->isVisible());
    EXPECT_EQ(w->bSearchConvert->text(), QStringLiteral("Sto&p"));
    EXPECT_FALSE(w->aSearch->isEnabled());
    EXPECT_FALSE(w->aConvert->isEnabled());
    EXPECT_FALSE(w->aSearchConvert->isEnabled());
    // The batch cannot be replaced under the workers.
    EXPECT_FALSE(w->bSourceFile->isEnabled());
    EXPECT_FALSE(dropOn(w->lViewer->viewport(), {in(QStringLiteral("a.pptx"))}));
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
    EXPECT_EQ(w->lblCount->text(), QStringLiteral("5 of 5, 2 failed"));
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
    ASSERT_NE(w->Batch(), nullptr);
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
    EXPECT_EQ(w->Batch(), nullptr); // released; its rows stay
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
    ASSERT_TRUE(waitFor([this] { return w->Batch() && w->Batch()->IsListed(); }));
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

TEST_F(Run, ClosingDuringARunSaysItIsStoppingRepaintsAndClosesWhenTheWorkersEnd)
{
    startHeldRun();
    ASSERT_TRUE(waitFor([] { return rows().size() == 4; }));
    ASSERT_TRUE(waitFor([] { return gate.Arrived == 2; }));

    class PaintWatch : public QObject
    {
    public:
        bool Painted = false;
        bool eventFilter(QObject*, QEvent* event) override
        {
            Painted = Painted || event->type() == QEvent::Paint;
            return false;
        }
    } watch;
    // Both workers still hold their files: the window stays open, says so and takes no more orders.
    w->close();
    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(w->IsRunning());
    EXPECT_EQ(w->lblCount->text(), QStringLiteral("Stopping: finishing 2 files"));
    EXPECT_FALSE(w->bSearchConvert->isEnabled());
    EXPECT_FALSE(w->bCreate->isEnabled());
    w->lblCount->installEventFilter(&watch);
    w->lblCount->update();
    EXPECT_TRUE(waitFor([&] { return watch.Painted; }));
    w->lblCount->removeEventFilter(&watch);
    // Closing again while it stops changes nothing.
    w->close();
    EXPECT_TRUE(w->isVisible());

    gate.allow(1); // one worker ends after its file, the other still holds one
    ASSERT_TRUE(waitFor([this] { return w->RunningWorkers() == 1; }));
    EXPECT_TRUE(
        waitFor([this] { return w->lblCount->text() == QStringLiteral("Stopping: finishing 1 file"); }));
    EXPECT_TRUE(w->isVisible());
    gate.allow(1 << 30);
    ASSERT_TRUE(waitFor([this] { return !w->isVisible(); }));
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(gate.Calls, 2); // each worker ended after its current item
    w->show();
}

TEST_F(Run, RowsOpenTheirPdfOrShowTheirMessageAndHintCutTexts)
{
    decks({QStringLiteral("a.pptx"), QStringLiteral("b-bad.pptx")});
    w->aConvert->trigger();
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }));
    openedLinks().clear();
    QTreeWidgetItem* good = nullptr;
    QTreeWidgetItem* bad = nullptr;
    for (int i = 0; i < w->lViewer->topLevelItemCount(); ++i) {
        QTreeWidgetItem* row = w->lViewer->topLevelItem(i);
        (row->text(1).contains(QStringLiteral("bad")) ? bad : good) = row;
    }
    ASSERT_TRUE(good && bad);
    const auto doubleClick = [this](QTreeWidgetItem* row) {
        const QPoint at = w->lViewer->visualItemRect(row).center();
        QTest::mouseClick(w->lViewer->viewport(), Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseDClick(w->lViewer->viewport(), Qt::LeftButton, Qt::NoModifier, at);
    };
    doubleClick(good);
    EXPECT_EQ(openedLinks(), QStringList({out(QStringLiteral("a.pdf"))}));
    EXPECT_TRUE(errors.isEmpty());
    doubleClick(bad);
    EXPECT_EQ(errors, QStringList({QStringLiteral("Broken deck?\nsecond line")}));
    // Enter on a row does the same.
    w->lViewer->setCurrentItem(good);
    QTest::keyClick(w->lViewer, Qt::Key_Return);
    EXPECT_EQ(openedLinks().size(), 2);

    // A cell that shows all of its text needs no hint; a cut name and a result with more lines show it all.
    w->lViewer->setColumnWidth(1, 370);
    EXPECT_EQ(w->CellHint(good, 1), QString());
    EXPECT_EQ(w->CellHint(good, 2), QString());
    EXPECT_EQ(w->CellHint(bad, 2), QStringLiteral("Broken deck?\nsecond line"));
    w->lViewer->setColumnWidth(1, 60);
    EXPECT_EQ(w->CellHint(good, 1), in(QStringLiteral("a.pptx")));
    // Hovering the cut cell shows the hint; hovering the list elsewhere shows the list's own.
    const QRect cell = w->lViewer->visualItemRect(good);
    const QPoint at(w->lViewer->header()->sectionViewportPosition(1) + 10, cell.center().y());
    QHelpEvent help(QEvent::ToolTip, at, w->lViewer->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w->lViewer->viewport(), &help);
    EXPECT_EQ(QToolTip::text(), in(QStringLiteral("a.pptx")));
    QToolTip::hideText();
    w->lViewer->setColumnWidth(1, 370);
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
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + old);
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
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + gone);
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

TEST_F(Run, RowsEndUpRightWhateverOrderTheirPostsArrive)
{
    w->NewBatch();
    TdvBatch* batch = w->Batch();
    std::vector<TdvNode> nodes(4);
    for (int i = 0; i < 4; ++i) {
        nodes[i].Index = i;
        nodes[i].Source = QStringLiteral("/in/%1.pptx").arg(i);
    }
    nodes[3].State = isDone;
    nodes[3].Result = QStringLiteral("/out/3.pdf");
    nodes[1].State = isFailed;
    nodes[1].Result = QStringLiteral("Damaged");
    // Results for items 3 and 1 reach the window before any listing, from another thread.
    std::thread worker([&] {
        TdvFrmMain::OnItemDone(w, batch, &nodes[3]);
        TdvFrmMain::OnItemDone(w, batch, &nodes[1]);
        for (TdvNode& node : nodes)
            TdvFrmMain::OnItemListed(w, batch, &node);
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

TEST_F(Run, ARunCutShortByClosingIsNotCountedAndFreesItsWorkers)
{
    startHeldRun();
    ASSERT_TRUE(waitFor([] { return rows().size() == 4; }));
    const int items = counter("A");
    ASSERT_TRUE(waitFor([] { return gate.Arrived == 2; }));
    w->close();
    gate.allow(1 << 30);
    ASSERT_TRUE(waitFor([this] { return !w->isVisible(); }));
    EXPECT_FALSE(w->IsRunning());
    EXPECT_EQ(w->Run(), nullptr);
    EXPECT_EQ(gate.Calls, 2);
    EXPECT_EQ(counter("A"), items);
    w->show();
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
    tree.write(QStringLiteral("in/4.pptx"));
    QTest::qWait(300);
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

} // namespace

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<TestConvertor> convertorClass;
    return runGuiTests(argc, argv, &convertorClass);
}
