// The option store, control binding, project files and the command line.
#include "discovery/dvFileUtils.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "testSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

class ProjectTest : public ::testing::Test
{
protected:
    TestSingletons singletons;
    TdvProject& p = *gProject;
    void setLines(std::initializer_list<const char*> lines)
    {
        QStringList list;
        for (const char* line : lines)
            list.append(QString::fromUtf8(line));
        p.SetOptionLines(list);
    }
};

TEST_F(ProjectTest, EmptyProjectGivesTheDefaults)
{
    EXPECT_FALSE(p.Subdir());
    EXPECT_EQ(p.ThreadsCount(), 1);
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Overwrite);
    EXPECT_TRUE(p.KeepTargetSubdirs());
    EXPECT_FALSE(p.RunAndClose());
    EXPECT_EQ(p.Target(), QString());
    EXPECT_EQ(p.Timeout(), 300);
    EXPECT_EQ(p.OfficeRestart(), 200);
}

TEST_F(ProjectTest, ValueReadings)
{
    struct Case
    {
        const char* line;
        bool subdir;
    } bools[] = {{"subdir=TRUE", true}, {"Subdir=1", true},    {"Subdir=-1", true}, {"Subdir=0", false},
                 {"Subdir=yes", false}, {"Subdir=false", false}, {"Subdir=", false}, {"Subdir = True", false},
                 {"Subdir=$10", true}};
    for (const Case& c : bools) {
        setLines({c.line});
        EXPECT_EQ(p.Subdir(), c.subdir) << c.line;
    }
    struct IntCase
    {
        const char* value;
        int expected;
    } ints[] = {{"4", 4},   {"  7", 7},  {"-3", -3}, {"$1F", 31}, {"0x10", 16}, {"abc", 1},
                {"4 ", 1}, {"", 1},     {"+2", 2},  {"0x", 1},   {"99999999999", 1}};
    for (const IntCase& c : ints) {
        p.SetOptionLines({QStringLiteral("ThreadsCount=") + QString::fromUtf8(c.value)});
        EXPECT_EQ(p.ThreadsCount(), c.expected) << c.value;
    }
}

TEST_F(ProjectTest, OverwriteAndRunAndClose)
{
    setLines({"IsOverwrite=Skip"});
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Skip);
    setLines({"IsOverwrite=False"});
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Rename);
    setLines({"IsOverwrite="});
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Overwrite);
    p.DefaultOverwrite = false;
    setLines({"IsOverwrite=maybe"});
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Rename);

    setLines({"Daemon=500", "RunAndClose=False"});
    EXPECT_TRUE(p.RunAndClose());
    setLines({"PureConsole=True"});
    EXPECT_TRUE(p.RunAndClose());
    setLines({"RunAndClose=1"});
    EXPECT_TRUE(p.RunAndClose());
    setLines({"Daemon=0", "RunAndClose=0"});
    EXPECT_FALSE(p.RunAndClose());
}

TEST_F(ProjectTest, FirstLineWinsAndSetOptionEditsIt)
{
    setLines({"no equals here", "Source=a", "Source=b"});
    EXPECT_EQ(p.Source(), QStringLiteral("a"));
    p.SetOption(QStringLiteral("source"), QStringLiteral("c"));
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("no equals here"), QStringLiteral("source=c"),
                                            QStringLiteral("Source=b")}));
    p.SetOption(QStringLiteral("Target"), QStringLiteral("/t"));
    EXPECT_EQ(p.OptionLines().last(), QStringLiteral("Target=/t"));
    p.SetOption(QStringLiteral("Target"), QString());
    EXPECT_EQ(p.Target(), QString());
    EXPECT_FALSE(p.OptionsText().contains(QStringLiteral("Target")));
    // A value keeps its blanks and "=" signs.
    p.SetOption(QStringLiteral("RegExt"), QStringLiteral(" a=b "));
    EXPECT_EQ(p.RegExt(), QStringLiteral(" a=b "));
}

TEST_F(ProjectTest, OptionsTextRoundTrip)
{
    p.SetOptionsText(QStringLiteral("A=1\r\nB=2\rC=3\nD=4"));
    EXPECT_EQ(p.OptionLines().size(), 4);
    EXPECT_EQ(p.OptionsText(), QStringLiteral("A=1\r\nB=2\r\nC=3\r\nD=4\r\n"));
}

TEST_F(ProjectTest, TargetGetterCreatesTheFolderAndEndsWithDelimiter)
{
    TempTree tree;
    const QString folder = tree.path(QStringLiteral("out/deep"));
    p.SetOption(QStringLiteral("Target"), folder);
    EXPECT_EQ(p.Target(), folder + QLatin1Char('/'));
    EXPECT_TRUE(QFileInfo(folder).isDir());
}

// Binding with real widgets.
class BindingTest : public ProjectTest
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "test_project";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            new QApplication(argc, argv);
    }
    QLineEdit eSource, eTarget;
    QCheckBox cSubdir;
    void SetUp() override
    {
        eSource.setObjectName(QStringLiteral("eSource"));
        eSource.setProperty("bindProperty", QStringLiteral("Text"));
        cSubdir.setObjectName(QStringLiteral("cSubdir"));
        cSubdir.setProperty("bindProperty", QStringLiteral("Checked"));
        eTarget.setObjectName(QStringLiteral("eTarget"));
        eTarget.setProperty("bindProperty", QStringLiteral("Text"));
        p.BindControl(&eSource);
        p.BindControl(&cSubdir);
        p.BindControl(&eTarget);
    }
};

TEST_F(BindingTest, ApplyAndCollect)
{
    setLines({"Source=/in/*.ppt?", "Subdir=True", "Other=kept"});
    eTarget.setText(QStringLiteral("stale"));
    p.ApplyOptions();
    EXPECT_EQ(eSource.text(), QStringLiteral("/in/*.ppt?"));
    EXPECT_TRUE(cSubdir.isChecked());
    EXPECT_EQ(eTarget.text(), QString()); // an absent option empties its edit

    // A numeric boolean ticks the box too, so collecting never turns Subdir=1 into False.
    setLines({"Subdir=1"});
    p.ApplyOptions();
    EXPECT_TRUE(cSubdir.isChecked());

    eSource.setText(QString());
    eTarget.setText(QStringLiteral("/out/"));
    cSubdir.setChecked(false);
    setLines({"Source=old", "Other=kept"});
    p.CollectOptions();
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("Other=kept"), QStringLiteral("Subdir=False"),
                                            QStringLiteral("Target=/out/")}));
}

TEST_F(BindingTest, OlderControlLinesAreReadOnceAndDropped)
{
    setLines({"eTarget.Text=/old/out"});
    p.ApplyOptions();
    EXPECT_EQ(eTarget.text(), QStringLiteral("/old/out"));
    EXPECT_FALSE(p.OptionsText().contains(QStringLiteral("eTarget.Text")));
    p.CollectOptions();
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), QStringLiteral("/old/out"));

    // A current line wins over the older one, which is dropped all the same.
    setLines({"Target=/new", "eTarget.Text=/old"});
    p.ApplyOptions();
    EXPECT_EQ(eTarget.text(), QStringLiteral("/new"));
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("Target=/new")}));
}

// ---- project files and the command line ----------------------------------------------------------------

class CommandLineTest : public ProjectTest
{
protected:
    void parse(const QString& arg)
    {
        gApp->FirstParam = arg;
        p.ParseCommandLine();
    }
};

TEST_F(CommandLineTest, OptionSwitch)
{
    parse(QStringLiteral("-P:Source=/in/*.ppt?,PureConsole=True"));
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("Source=/in/*.ppt?"), QStringLiteral("PureConsole=True"),
                                            QStringLiteral("Target=/in/")}));
    EXPECT_TRUE(p.ProjectFile.isEmpty());
}

TEST_F(CommandLineTest, OptionSwitchSplitsAtCommaAndSemicolon)
{
    parse(QStringLiteral("-pSource=a,b;c=d"));
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("Source=a"), QStringLiteral("b"),
                                            QStringLiteral("c=d")}));
}

TEST_F(CommandLineTest, WebSourceNeverGivesTheTarget)
{
    parse(QStringLiteral("/P:Source=http://127.0.0.1:8000/a.pptx"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), QString());
}

TEST_F(CommandLineTest, EmptyOrUnknownSwitchUsesTheDefaultProject)
{
    TempTree tree;
    for (const char* arg : {"-P", "-X", "", "a"}) {
        p.SetOptionLines({});
        p.ProjectFile.clear();
        parse(QString::fromUtf8(arg));
        EXPECT_EQ(p.ProjectFile, p.DefaultProject()) << arg;
        EXPECT_TRUE(p.OptionLines().isEmpty()) << arg;
        EXPECT_TRUE(p.RecentProjects.isEmpty()) << arg;
    }
}

TEST_F(CommandLineTest, DefaultProjectIsReadWhenItExists)
{
    const QString config = testHome() + QStringLiteral("/.config/vellum/");
    QDir().mkpath(config);
    writeTextLines(config + QStringLiteral("test_project.batch-vellum"), {QStringLiteral("PureConsole=True")});
    parse(QString());
    EXPECT_TRUE(p.PureConsole());
    QFile::remove(config + QStringLiteral("test_project.batch-vellum"));
}

TEST_F(CommandLineTest, SourcePathAndProjectFileNames)
{
    TempTree tree;
    parse(tree.path(QStringLiteral("decks/q3.pptx")));
    EXPECT_EQ(p.Source(), tree.path(QStringLiteral("decks/q3.pptx")));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), tree.path(QStringLiteral("decks/")));
    EXPECT_TRUE(p.ProjectFile.isEmpty());

    // Letter case matters for the project extension.
    p.SetOptionLines({});
    parse(tree.path(QStringLiteral("A.BATCH-VELLUM")));
    EXPECT_EQ(p.Source(), tree.path(QStringLiteral("A.BATCH-VELLUM")));

    const QString project = tree.write(QStringLiteral("a.batch-vellum"), "Source=/x/*.ppt?\r\nThreadsCount=2\r\n");
    parse(project);
    EXPECT_EQ(p.ThreadsCount(), 2);
    EXPECT_EQ(p.RecentProjects, QStringList({project}));
}

TEST_F(CommandLineTest, NoticesEndTheProgramAfterTheirLink)
{
    gInfo->SiteRoot = QStringLiteral("http://site.test");
    for (const char* arg : {"-Ifrom-installer", "/u"}) {
        gApp->FirstParam = QString::fromUtf8(arg);
        try {
            p.ParseCommandLine();
            ADD_FAILURE() << "no exit for " << arg;
        } catch (const TdvExit& e) {
            EXPECT_EQ(e.Code, 0);
        }
    }
    ASSERT_EQ(singletons.OpenedLinks.size(), 2);
    EXPECT_TRUE(singletons.OpenedLinks[0].startsWith(QStringLiteral("http://site.test/net/?a=ins&p=vellum")));
    EXPECT_TRUE(singletons.OpenedLinks[0].endsWith(QStringLiteral("&from-installer")));
    EXPECT_TRUE(singletons.OpenedLinks[1].startsWith(QStringLiteral("http://site.test/net/?a=uni&")));
}

TEST_F(CommandLineTest, ProjectFilesKeepEveryLineAndAreWrittenWithoutMark)
{
    TempTree tree;
    // UTF-8 with a mark, mixed line ends, an unknown line and a line without "=".
    const QString name = tree.write(QStringLiteral("p.batch-vellum"),
                                    "\xEF\xBB\xBFSource=/in/\xC3\xA9t\xC3\xA9/*.ppt?\r\nfree text\nUnknown=1\r");
    p.ProjectFile = name;
    p.OpenProject(false);
    EXPECT_EQ(p.Source(), QString::fromUtf8("/in/\xC3\xA9t\xC3\xA9/*.ppt?"));
    p.Save();
    EXPECT_EQ(readAll(name), QByteArray("Source=/in/\xC3\xA9t\xC3\xA9/*.ppt?\r\nfree text\r\nUnknown=1\r\n"));

    // UTF-16 little-endian with its mark.
    const QString wide = QStringLiteral("ThreadsCount=3\r\n");
    QByteArray utf16("\xFF\xFE");
    utf16.append(reinterpret_cast<const char*>(wide.utf16()), wide.size() * 2);
    p.ProjectFile = tree.write(QStringLiteral("w.batch-vellum"), utf16);
    p.OpenProject(false);
    EXPECT_EQ(p.ThreadsCount(), 3);

    // Opening again keeps one entry in its place; a missing file changes nothing.
    p.ProjectFile = name;
    p.OpenProject(false);
    EXPECT_EQ(p.RecentProjects, QStringList({tree.path(QStringLiteral("w.batch-vellum")), name}));
    const QStringList before = p.OptionLines();
    p.ProjectFile = tree.path(QStringLiteral("missing.batch-vellum"));
    p.OpenProject(false);
    EXPECT_EQ(p.OptionLines(), before);
}

TEST_F(CommandLineTest, SaveAsAndOpenDialogsAndRecentFile)
{
    TempTree tree;
    auto* dialogs = new TdvScriptedDialogs;
    gApp->Dialogs.reset(dialogs);
    p.SetOptionLines({QStringLiteral("Source=/a/*.ppt?")});
    p.Save(); // no file yet: asks, and a cancel writes nothing
    EXPECT_EQ(dialogs->Calls, 1);
    EXPECT_TRUE(p.ProjectFile.isEmpty());

    const QString saved = tree.path(QStringLiteral("new.batch-vellum"));
    dialogs->setNextFileName(saved);
    p.SaveAs();
    EXPECT_EQ(dialogs->LastFilter, QStringLiteral("Vellum Project|*.batch-vellum"));
    EXPECT_EQ(dialogs->LastDefaultExt, QStringLiteral(".batch-vellum"));
    EXPECT_EQ(p.ProjectFile, saved);
    EXPECT_EQ(p.RecentProjects.first(), saved);
    EXPECT_EQ(readAll(saved), QByteArray("Source=/a/*.ppt?\r\n"));

    // With -P options, a presentation picked in Open brings the command-line options back.
    p.CmdOptions = QStringLiteral("Source=/cmd/*.ppt?");
    dialogs->setNextFileName(tree.path(QStringLiteral("deck.pptx")));
    p.OpenProject(true);
    EXPECT_EQ(dialogs->LastFilter,
              QStringLiteral("Vellum Project|*.batch-vellum|PowerPoint Workbook (*.ppt;*.pptx)|*.ppt;*.pptx"));
    EXPECT_EQ(p.Source(), QStringLiteral("/cmd/*.ppt?"));
    EXPECT_TRUE(p.ProjectFile.isEmpty());

    // The recent list survives the project object.
    p.WriteRecent();
    TdvProject other;
    EXPECT_EQ(other.RecentProjects, QStringList({saved}));
}

} // namespace
