// The option store, control binding, project files and the command line.
#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "project/dvOptions.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "testSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLineEdit>
#include <functional>
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
    EXPECT_EQ(p.MaxImageResolution(), 0);
    p.SetOption(QStringLiteral("MaxImageResolution"), QStringLiteral("150"));
    EXPECT_EQ(p.MaxImageResolution(), 150);
    p.SetOption(QStringLiteral("MaxImageResolution"), QStringLiteral("-5"));
    EXPECT_EQ(p.MaxImageResolution(), 0);
}

// The option table is what the dialog and the help show: its defaults must be what a run gets.
TEST_F(ProjectTest, TheOptionTableSaysWhatTheGettersDo)
{
    const auto text = [](bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); };
    const QHash<QString, std::function<QString()>> getters = {
        {QStringLiteral("Subdir"), [&] { return text(p.Subdir()); }},
        {QStringLiteral("SkipHidden"), [&] { return text(p.SkipHidden()); }},
        {QStringLiteral("KeepTargetSubdirs"), [&] { return text(p.KeepTargetSubdirs()); }},
        {QStringLiteral("KeepFileTime"), [&] { return text(p.KeepFileTime()); }},
        {QStringLiteral("DeleteSource"), [&] { return text(p.DeleteSource()); }},
        {QStringLiteral("Notes"), [&] { return text(p.Notes()); }},
        {QStringLiteral("ReadOnly"), [&] { return text(p.ReadOnly()); }},
        {QStringLiteral("MultiInstance"), [&] { return text(p.MultiInstance()); }},
        {QStringLiteral("PureConsole"), [&] { return text(p.PureConsole()); }},
        {QStringLiteral("RunAndClose"), [&] { return text(p.RunAndClose()); }},
        {QStringLiteral("RetryFailed"), [&] { return text(p.RetryFailed()); }},
        {QStringLiteral("IsOverwrite"),
         [&] { return p.IsOverwrite() == TdvOverwrite::Overwrite ? QStringLiteral("True") : QString(); }},
        {QStringLiteral("ThreadsCount"), [&] { return QString::number(p.ThreadsCount()); }},
        {QStringLiteral("Timeout"), [&] { return QString::number(p.Timeout()); }},
        {QStringLiteral("OfficeRestart"), [&] { return QString::number(p.OfficeRestart()); }},
        {QStringLiteral("OfficeMemoryLimit"), [&] { return QString::number(p.OfficeMemoryLimit()); }},
        {QStringLiteral("ConnectTimeout"), [&] { return QString::number(p.ConnectTimeout()); }},
        {QStringLiteral("MaxImageResolution"), [&] { return QString::number(p.MaxImageResolution()); }},
        {QStringLiteral("ExportComments"), [&] { return text(p.ExportComments()); }},
        {QStringLiteral("MissingFonts"),
         [&] { return p.MissingFonts() == TdvMissingFonts::Warn ? QStringLiteral("Warn") : QString(); }},
        {QStringLiteral("Daemon"), [&] { return QString::number(p.Daemon()); }},
    };
    p.SetOptionLines({});
    int checked = 0;
    for (const TdvOptionInfo& info : dvOptionInfos()) {
        EXPECT_FALSE(info.meaning().isEmpty()) << info.Name;
        EXPECT_EQ(dvOptionInfo(info.name().toLower()), &info);
        if (info.Kind == TdvOptionKind::Choice) {
            EXPECT_TRUE(info.choices().contains(info.defaultValue())) << info.Name;
        }
        if (info.Kind == TdvOptionKind::Int) {
            EXPECT_LE(info.Min, info.Max) << info.Name;
            EXPECT_GE(info.defaultValue().toInt(), info.Min) << info.Name;
        }
        const auto getter = getters.find(info.name());
        if (getter == getters.end()) {
            EXPECT_TRUE(info.Kind == TdvOptionKind::Text || info.Kind == TdvOptionKind::Path) << info.Name;
            EXPECT_TRUE(info.defaultValue().isEmpty()) << info.Name;
            EXPECT_TRUE(p.GetOption(info.name()).isEmpty());
            continue;
        }
        EXPECT_EQ((*getter)(), info.defaultValue()) << info.Name;
        ++checked;
    }
    EXPECT_EQ(checked, getters.size());
    EXPECT_EQ(dvOptionInfo(QStringLiteral("NoSuchOption")), nullptr);
}

TEST_F(ProjectTest, ValueReadings)
{
    struct Case
    {
        const char* line;
        bool subdir;
    } bools[] = {{"subdir=TRUE", true}, {"Subdir=1", true},       {"Subdir=-1", true},
                 {"Subdir=0", false},   {"Subdir=yes", false},    {"Subdir=false", false},
                 {"Subdir=", false},    {"Subdir = True", false}, {"Subdir=$10", true}};
    for (const Case& c : bools) {
        setLines({c.line});
        EXPECT_EQ(p.Subdir(), c.subdir) << c.line;
    }
    struct IntCase
    {
        const char* value;
        int expected;
    } ints[] = {{"4", 4},  {"  7", 7}, {"-3", -3}, {"$1F", 31}, {"0x10", 16},      {"abc", 1},
                {"4 ", 1}, {"", 1},    {"+2", 2},  {"0x", 1},   {"99999999999", 1}};
    for (const IntCase& c : ints) {
        p.SetOptionLines({QStringLiteral("ThreadsCount=") + QString::fromUtf8(c.value)});
        EXPECT_EQ(p.IntOption(QStringLiteral("ThreadsCount"), 1), c.expected) << c.value;
    }
}

TEST_F(ProjectTest, MissingFontsReadsItsThreeWordsAndWarnsOtherwise)
{
    const std::pair<const char*, TdvMissingFonts> cases[] = {
        {"MissingFonts=Fail", TdvMissingFonts::Fail},   {"MissingFonts=ignore", TdvMissingFonts::Ignore},
        {"MissingFonts=WARN", TdvMissingFonts::Warn},   {"MissingFonts= Fail ", TdvMissingFonts::Fail},
        {"MissingFonts=strict", TdvMissingFonts::Warn}, {"MissingFonts=", TdvMissingFonts::Warn},
        {"ExportComments=True", TdvMissingFonts::Warn},
    };
    for (const auto& [line, rule] : cases) {
        setLines({line});
        EXPECT_EQ(p.MissingFonts(), rule) << line;
    }
    // Comments stay out of the PDF unless a line asks for them.
    EXPECT_TRUE(p.ExportComments());
    setLines({"ExportComments=0"});
    EXPECT_FALSE(p.ExportComments());
}

// A value a run cannot take never turns a limit off: the getter gives the default, and the run is told once.
TEST_F(ProjectTest, ValuesOutOfRangeGiveTheDefaultAndSaySo)
{
    struct Case
    {
        const char* line;
        std::function<int()> getter;
        int expected;
        const char* problem; // empty when the value is fine
    } cases[] = {
        {"Timeout=-5", [&] { return p.Timeout(); }, 300,
         "Timeout=-5 is not a number of seconds >= 0; 300 is used"},
        {"Timeout=0", [&] { return p.Timeout(); }, 0, ""},
        {"Timeout=0x10", [&] { return p.Timeout(); }, 16, ""},
        {"Timeout=", [&] { return p.Timeout(); }, 300, ""},
        {"timeout=5 min", [&] { return p.Timeout(); }, 300,
         "Timeout=5 min is not a number of seconds >= 0; 300 is used"},
        {"ThreadsCount=0", [&] { return p.ThreadsCount(); }, 1,
         "ThreadsCount=0 is not a number of workers >= 1; 1 is used"},
        {"ConnectTimeout=0", [&] { return p.ConnectTimeout(); }, 20,
         "ConnectTimeout=0 is not a number of seconds >= 1; 20 is used"},
        {"OfficeRestart=-1", [&] { return p.OfficeRestart(); }, 200,
         "OfficeRestart=-1 is not a number of files >= 0; 200 is used"},
        {"Daemon=-1000", [&] { return p.Daemon(); }, 0,
         "Daemon=-1000 is not a number of milliseconds >= 0; 0 is used"},
        {"MaxImageResolution=high", [&] { return p.MaxImageResolution(); }, 0,
         "MaxImageResolution=high is not a number of pixels per inch >= 0; 0 is used"},
        {"Subdir=yes", [&] { return int(p.Subdir()); }, 0, "Subdir=yes is not True or False; False is used"},
        {"Subdir=-1", [&] { return int(p.Subdir()); }, 1, ""},
        {"IsOverwrite=maybe", [&] { return int(p.IsOverwrite()); }, int(TdvOverwrite::Overwrite),
         "IsOverwrite=maybe is not one of True, False, Skip, Update; True is used"},
        {"IsOverwrite=SKIP", [&] { return int(p.IsOverwrite()); }, int(TdvOverwrite::Skip), ""},
        {"IsOverwrite=0", [&] { return int(p.IsOverwrite()); }, int(TdvOverwrite::Rename), ""},
        {"RegExt=[", [&] { return 0; }, 0, ""},
    };
    for (const Case& c : cases) {
        setLines({c.line});
        EXPECT_EQ(c.getter(), c.expected) << c.line;
        const QStringList expected = *c.problem ? QStringList({QString::fromUtf8(c.problem)}) : QStringList();
        EXPECT_EQ(p.OptionProblems(), expected) << c.line;
    }
    // Each is said once, in the table's order.
    setLines({"Timeout=-5", "Subdir=maybe", "Timeout=7"});
    EXPECT_EQ(p.OptionProblems(),
              QStringList({QStringLiteral("Subdir=maybe is not True or False; False is used"),
                           QStringLiteral("Timeout=-5 is not a number of seconds >= 0; "
                                          "300 is used")}));
}

TEST_F(ProjectTest, OnlyAnHttpOrHttpsSchemeMakesAWebAddress)
{
    struct Case
    {
        const char* text;
        bool web;
    } cases[] = {
        {"http://host/a.pptx", true},      {"HTTPS://host/decks/a.pptx", true},
        {"Http://127.0.0.1:8000/a", true}, {"/home/me/my-https-decks/*.ppt?", false},
        {"httpdecks/*.ppt?", false},       {"http-talks.pptx", false},
        {"/srv/http/a.pptx", false},       {"https:/host/a.pptx", false},
        {"ftp://host/a.pptx", false},      {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isWebAddress(QString::fromUtf8(c.text)), c.web) << c.text;
    // A folder whose name merely starts with "http" is a folder of this machine, made absolute like any.
    EXPECT_EQ(absolutePath(QStringLiteral("httpdecks/a.pptx")),
              QDir::currentPath() + QStringLiteral("/httpdecks/a.pptx"));
}

TEST_F(ProjectTest, OverwriteAndRunAndClose)
{
    setLines({"IsOverwrite=Skip"});
    EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Skip);
    for (const char* update : {"IsOverwrite=Update", "isoverwrite=UPDATE"}) {
        setLines({update});
        EXPECT_EQ(p.IsOverwrite(), TdvOverwrite::Update) << update;
    }
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

TEST_F(BindingTest, TypedRelativePathsAreCollectedAbsolute)
{
    eSource.setText(QStringLiteral("in/*.ppt?"));
    eTarget.setText(QStringLiteral(" ../pdf "));
    p.CollectOptions();
    const QString here = QDir::currentPath();
    EXPECT_EQ(p.Source(), here + QStringLiteral("/in/*.ppt?"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), QDir::cleanPath(here + QStringLiteral("/../pdf")));
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
    EXPECT_EQ(p.OptionLines(),
              QStringList({QStringLiteral("Source=/in/*.ppt?"), QStringLiteral("PureConsole=True"),
                           QStringLiteral("Target=/in/")}));
    EXPECT_TRUE(p.ProjectFile.isEmpty());
}

TEST_F(CommandLineTest, OptionSwitchSplitsAtCommaAndSemicolon)
{
    parse(QStringLiteral("-pSource=/a,b;c=d"));
    EXPECT_EQ(p.OptionLines(), QStringList({QStringLiteral("Source=/a"), QStringLiteral("b"),
                                            QStringLiteral("c=d"), QStringLiteral("Target=/")}));
}

// Runs in a folder of its own, as a person does who types relative paths.
class RelativePathTest : public CommandLineTest
{
protected:
    TempTree tree;
    QString previous = QDir::currentPath();
    void SetUp() override { QDir::setCurrent(tree.path()); }
    void TearDown() override { QDir::setCurrent(previous); }
};

TEST_F(RelativePathTest, PathsAreMadeAbsoluteWhenRead)
{
    const QString here = QDir::cleanPath(tree.path()) + QLatin1Char('/');
    parse(QStringLiteral("-P:Source=in/*.ppt?;LogFile=logs/../run.log;PureConsole=True"));
    EXPECT_EQ(p.Source(), here + QStringLiteral("in/*.ppt?"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), here + QStringLiteral("in/"));
    EXPECT_EQ(p.LogFile(), here + QStringLiteral("run.log"));

    p.SetOptionLines({});
    p.CmdOptions.clear();
    tree.write(QStringLiteral("in/talk.pptx"));
    parse(QStringLiteral("in/talk.pptx"));
    EXPECT_EQ(p.Source(), here + QStringLiteral("in/talk.pptx"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), here + QStringLiteral("in/"));

    // A folder stands for the presentations in it.
    parse(QStringLiteral("in"));
    EXPECT_EQ(p.Source(), here + QStringLiteral("in/*.ppt?"));

    // A project file's relative paths are taken from the current folder; the recent list holds its full path.
    tree.write(QStringLiteral("q3.batch-vellum"),
               "Source=decks/*.ppt?\r\nTarget=./pdf/\r\nLogFile=run.log\r\n");
    parse(QStringLiteral("q3.batch-vellum"));
    EXPECT_EQ(p.ProjectFile, here + QStringLiteral("q3.batch-vellum"));
    EXPECT_EQ(p.RecentProjects.first(), here + QStringLiteral("q3.batch-vellum"));
    EXPECT_EQ(p.Source(), here + QStringLiteral("decks/*.ppt?"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), here + QStringLiteral("pdf/"));
    EXPECT_EQ(p.LogFile(), here + QStringLiteral("run.log"));

    // Web and file addresses are not paths of this folder.
    p.SetOptionsText(QStringLiteral("Source=http://host/a.pptx\nTarget=file:///srv/out"));
    EXPECT_EQ(p.Source(), QStringLiteral("http://host/a.pptx"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), QStringLiteral("file:///srv/out"));
}

TEST_F(RelativePathTest, FileAddressTargetCreatesNothingOutsideIt)
{
    p.SetOption(QStringLiteral("Target"), QStringLiteral("file://") + tree.path(QStringLiteral("out%20pdf")));
    EXPECT_EQ(p.Target(), tree.path(QStringLiteral("out pdf/")));
    EXPECT_TRUE(QFileInfo(tree.path(QStringLiteral("out pdf"))).isDir());
    p.SetOption(QStringLiteral("Target"), QStringLiteral("file://server/share/out"));
    p.Target();
    EXPECT_EQ(QDir(tree.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("out pdf")}));
}

TEST_F(RelativePathTest, OnlySwitchFormsAreSwitches)
{
    tree.write(QStringLiteral("u"));
    struct Case
    {
        const char* arg;
        const char* outcome; // "options", "exit", "path" or the start of the error message
    } cases[] = {
        {"/P:Subdir=True", "options"},
        {"/PSubdir=True", "options"},
        {"-pSubdir=1", "options"},
        {"/u", "exit"},
        {"-Ihello", "exit"},
        {"u", "path"}, // a file of that name in the current folder
        {"/u01/talks/q3.pptx", "\"/u01/talks/q3.pptx\" is no switch"},
        {"/data/talks/q3.pptx", "\"/data/talks/q3.pptx\" is no switch"},
        {"/install.pptx/x", "\"/install.pptx/x\" is no switch"},
        {"-X", "\"-X\" is no switch"},
        {"/projects/q3.batch-vellum", "The project file \"/projects/q3.batch-vellum\" cannot be read"},
    };
    for (const Case& c : cases) {
        p.SetOptionLines({});
        p.ProjectFile.clear();
        p.CmdOptions.clear();
        const QString outcome = QString::fromUtf8(c.outcome);
        try {
            parse(QString::fromUtf8(c.arg));
            if (outcome == QLatin1String("options"))
                EXPECT_FALSE(p.CmdOptions.isEmpty()) << c.arg;
            else if (outcome == QLatin1String("path"))
                EXPECT_EQ(p.Source(), tree.path(QString::fromUtf8(c.arg))) << c.arg;
            else
                ADD_FAILURE() << c.arg << " was taken for " << p.OptionsText().toStdString();
        } catch (const TdvExit& e) {
            EXPECT_EQ(outcome, QStringLiteral("exit")) << c.arg;
        } catch (const TdvError& e) {
            EXPECT_TRUE(e.Message.startsWith(outcome)) << c.arg << ": " << e.Message.toStdString();
        }
    }
}

TEST_F(CommandLineTest, WebSourceNeverGivesTheTarget)
{
    parse(QStringLiteral("/P:Source=http://127.0.0.1:8000/a.pptx"));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), QString());
}

TEST_F(CommandLineTest, EmptyOrUnknownSwitchUsesTheDefaultProject)
{
    TempTree tree;
    for (const char* arg : {"-P", ""}) {
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
    writeTextLines(config + QStringLiteral("test_project.batch-vellum"),
                   {QStringLiteral("PureConsole=True")});
    parse(QString());
    EXPECT_TRUE(p.PureConsole());
    QFile::remove(config + QStringLiteral("test_project.batch-vellum"));
}

TEST_F(CommandLineTest, SourcePathAndProjectFileNames)
{
    TempTree tree;
    tree.write(QStringLiteral("decks/q3.pptx"));
    parse(tree.path(QStringLiteral("decks/q3.pptx")));
    EXPECT_EQ(p.Source(), tree.path(QStringLiteral("decks/q3.pptx")));
    EXPECT_EQ(p.GetOption(QStringLiteral("Target")), tree.path(QStringLiteral("decks/")));
    EXPECT_TRUE(p.ProjectFile.isEmpty());

    // Letter case matters for the project extension.
    p.SetOptionLines({});
    tree.write(QStringLiteral("A.BATCH-VELLUM"));
    parse(tree.path(QStringLiteral("A.BATCH-VELLUM")));
    EXPECT_EQ(p.Source(), tree.path(QStringLiteral("A.BATCH-VELLUM")));

    const QString project =
        tree.write(QStringLiteral("a.batch-vellum"), "Source=/x/*.ppt?\r\nThreadsCount=2\r\n");
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
    const QString name =
        tree.write(QStringLiteral("p.batch-vellum"),
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

TEST_F(CommandLineTest, WindowsProjectFilesKeepTheirCharacters)
{
    TempTree tree;
    // Windows-1252 without a mark: "é" and the euro sign are single bytes.
    const QByteArray ansi("Source=/in/caf\xE9/*.ppt?\r\nRenameSource=.\x80\r\n");
    p.ProjectFile = tree.write(QStringLiteral("old.batch-vellum"), ansi);
    p.OpenProject(false);
    EXPECT_EQ(p.Source(), QString::fromUtf8("/in/caf\xC3\xA9/*.ppt?"));
    EXPECT_EQ(p.RenameSource(), QString::fromUtf8(".\xE2\x82\xAC"));
    p.Save();
    EXPECT_EQ(readAll(p.ProjectFile), ansi);

    // A character Windows-1252 lacks turns the file into UTF-8 with a mark rather than being lost.
    p.SetOption(QStringLiteral("RenameSource"), QString::fromUtf8(".\xCE\xA9"));
    p.Save();
    EXPECT_EQ(readAll(p.ProjectFile),
              QByteArray("\xEF\xBB\xBFSource=/in/caf\xC3\xA9/*.ppt?\r\nRenameSource=.\xCE\xA9\r\n"));
    p.OpenProject(false);
    EXPECT_EQ(p.Source(), QString::fromUtf8("/in/caf\xC3\xA9/*.ppt?"));
    EXPECT_EQ(p.RenameSource(), QString::fromUtf8(".\xCE\xA9"));

    // A new file is written in UTF-8 without a mark.
    auto* dialogs = new TdvScriptedDialogs;
    gApp->Dialogs.reset(dialogs);
    dialogs->setNextFileName(tree.path(QStringLiteral("new.batch-vellum")));
    p.SaveAs();
    EXPECT_EQ(readAll(p.ProjectFile),
              QByteArray("Source=/in/caf\xC3\xA9/*.ppt?\r\nRenameSource=.\xCE\xA9\r\n"));
}

TEST_F(CommandLineTest, FailedSaveAsKeepsTheProjectFile)
{
    TempTree tree;
    auto* dialogs = new TdvScriptedDialogs;
    gApp->Dialogs.reset(dialogs);
    const QString good = tree.write(QStringLiteral("good.batch-vellum"), "Subdir=True\r\n");
    p.ProjectFile = good;
    p.OpenProject(false);
    // A file stands where the folder would have to be.
    tree.write(QStringLiteral("blocked"));
    dialogs->setNextFileName(tree.path(QStringLiteral("blocked/new.batch-vellum")));
    EXPECT_THROW(p.SaveAs(), TdvError);
    EXPECT_EQ(p.ProjectFile, good);
    EXPECT_EQ(p.RecentProjects, QStringList({good}));
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
    EXPECT_EQ(
        dialogs->LastFilter,
        QStringLiteral(
            "Vellum Project|*.batch-vellum|Presentations (*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;"
            "*.potx;*.potm;*.odp)|*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;*.potx;*.potm;*.odp"));
    EXPECT_EQ(p.Source(), QStringLiteral("/cmd/*.ppt?"));
    EXPECT_TRUE(p.ProjectFile.isEmpty());

    // The recent list survives the project object.
    p.WriteRecent();
    TdvProject other;
    EXPECT_EQ(other.RecentProjects, QStringList({saved}));
}

} // namespace
