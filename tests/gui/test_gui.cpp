// The main window, its dialogs and the about box, driven headless.
#include "guiSupport.h"

#include "discovery/dvFileUtils.h"
#include "engine/dvConvertor.h"
#include "gui/dvFormAbout.h"
#include "gui/dvFormCfg.h"
#include "gui/dvFormMain.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

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

// ---- layout -------------------------------------------------------------------------------------------

TEST_F(Gui, BoundControlsKeepTheirPropertyOutOfTheHints)
{
    const QList<QPair<QWidget*, QString>> bound = {
        {w->eSource, QStringLiteral("Text")}, {w->cSubdir, QStringLiteral("Checked")}, {w->eTarget, QStringLiteral("Text")}};
    for (const auto& [control, property] : bound) {
        EXPECT_EQ(control->property("bindProperty").toString(), property) << control->objectName().toStdString();
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
    const QList<QWidget*> order = {w->eSource, w->bSource, w->bSourceFile, w->cSubdir, w->bSearch, w->eTarget,
                                   w->bTarget, w->bSearchConvert, w->bCreate, w->bView};
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

TEST_F(Gui, OpenThroughTheDialogAppliesTheProject)
{
    const QString file = tree.write(QStringLiteral("p.batch-vellum"), "Source=/in/*.ppt?\r\nSubdir=True\r\nTarget=/out/\r\n");
    dialogs()->setNextFileName(file);
    w->aOpen->trigger();
    EXPECT_EQ(w->eSource->text(), QStringLiteral("/in/*.ppt?"));
    EXPECT_TRUE(w->cSubdir->isChecked());
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/out/"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Vellum Converter - ") + file);
    EXPECT_EQ(dialogs()->LastFilter,
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
        {w->aSupports, QStringLiteral("mailto:help@vellum.example?subject=Support required for Vellum Converter")},
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
        // Cancelled with nothing to start from: the bare delimiter and the pattern.
        {QString(), QString(), QString(), QStringLiteral("/*.ppt?"), QStringLiteral("/"), QString()},
        {QStringLiteral("/in/old/*.ppt?"), QString(), QStringLiteral("/in/new"), QStringLiteral("/in/new/*.ppt?"),
         QStringLiteral("/in/new/"), QStringLiteral("/in/old/")},
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

    dialogs()->setNextFileName(c + QStringLiteral("\r\n") + a + QStringLiteral("\r\n") + b + QStringLiteral("\r\n"));
    w->BrowseFiles1->trigger();
    EXPECT_EQ(w->eSource->text(), b); // several files leave the source as it was
    EXPECT_EQ(rows(), QStringList({QStringLiteral("0|") + c + QLatin1Char('|'), QStringLiteral("0|") + a + QLatin1Char('|'),
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
    QTest::mouseDClick(w->eTarget, Qt::LeftButton); // cancelled: the starting text with its delimiter
    EXPECT_EQ(w->eTarget->text(), QStringLiteral("/out/b/"));
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
        {"two files on the source", w->eSource, {a, b}, true, a, tree.path(QStringLiteral("in/")), {}, QString()},
        {"folder on the target", w->eTarget, {bare}, true, QString(), bare, {}, QString()},
        {"files on the list", w->lViewer->viewport(), {b, a}, true, QString(), tree.path(QStringLiteral("in/")), {b, a},
         QString()},
        {"file on a button", w->bSearch, {a}, false, QString(), QString(), {}, QString()},
        {"file on a panel", w->pOthers, {a}, false, QString(), QString(), {}, QString()},
        {"project alone on the list", w->lViewer->viewport(), {project}, true, QStringLiteral("/from/project/*.ppt?"),
         QString(), {}, project},
        {"project alone on the target", w->eTarget, {project}, true, QStringLiteral("/from/project/*.ppt?"), QString(),
         {}, project},
        {"project with a file on the list", w->lViewer->viewport(), {project, a}, true, QString(), tree.path(QString()),
         {project, a}, QString()},
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
        EXPECT_EQ(w->windowTitle(),
                  QStringLiteral("Vellum Converter - ") + (c.title.isEmpty() ? QStringLiteral("None") : c.title));
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
        {"Ok with more threads", [](const QString& t) { return t + QStringLiteral("\nThreadsCount=4"); }, true,
         QStringLiteral("/in/*.ppt?"), false, QStringLiteral("4")},
        {"Cancel drops edits", [](const QString&) { return QStringLiteral("Source=/elsewhere/"); }, false,
         QStringLiteral("/in/*.ppt?"), false, QString()},
        {"deleted Source line", [](const QString& t) {
             QStringList lines = t.split(QLatin1Char('\n'));
             lines.removeIf([](const QString& l) { return l.startsWith(QStringLiteral("Source=")); });
             return lines.join(QLatin1Char('\n'));
         },
         true, QString(), false, QString()},
        {"Subdir=True", [](const QString& t) { return QString(t).replace(QStringLiteral("Subdir=False"), QStringLiteral("Subdir=True")); },
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
        [] { QTest::mouseClick(dvFrmAbout, Qt::LeftButton, Qt::NoModifier, dvFrmAbout->lblVersion->geometry().center()); },
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

} // namespace

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<TdvConvertor> convertorClass;
    return runGuiTests(argc, argv, &convertorClass);
}
