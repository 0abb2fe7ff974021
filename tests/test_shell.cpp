// Product information, start-up and the console runner.
#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"
#include "shell/dvStartup.h"
#include "testSupport.h"
#ifdef VELLUM_HAS_OFFICE
#include "testOfficeClient.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Converts nothing: a deck whose name holds "bad" fails with a fixed text, any other gets a small file.
class FakeConvertor : public TdvConvertor
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override
    {
        const QString target = BuildTargetPath(batch, item);
        if (target.isEmpty())
            return;
        if (item->Source.contains(QLatin1String("bad"))) {
            item->Result = QStringLiteral("Cannot open? \"really\"");
            item->State = isFailed;
            batch->AddFailure(item->Result);
            return;
        }
        QFile out(target);
        out.open(QIODevice::WriteOnly);
        out.write("%PDF");
        out.close();
        item->Result = target;
        item->State = isDone;
        batch->AddSuccess();
    }
};
const TdvConvertorClassOf<FakeConvertor> fakeClass;

class InfoTest : public ::testing::Test
{
protected:
    TestSingletons singletons{&fakeClass};
};

TEST_F(InfoTest, LinksAndCounterString)
{
    TdvInfo& info = *gInfo;
    EXPECT_EQ(info.Counter(QStringLiteral("R")), QStringLiteral("1"));
    EXPECT_EQ(info.Counter(QStringLiteral("v")), QStringLiteral("2"));

    // No site configured: web links are not opened at all.
    info.OpenLink(QString(), QString(), QString());
    info.OpenLink(QStringLiteral("download"), QString(), QString());
    info.OpenLink(QStringLiteral("supports"), QString(), QString());
    EXPECT_TRUE(singletons.OpenedLinks.isEmpty());

    info.SiteRoot = QStringLiteral("http://site.test");
    info.SupportMail = QStringLiteral("help@site.test");
    info.Record = {QStringLiteral("R=12"), QStringLiteral("v=2"), QStringLiteral("C=3"),
                   QStringLiteral("H=1")};
    info.InstallStamp = 1234;
    EXPECT_EQ(info.CounterString(), QStringLiteral("r12c3h1"));
    EXPECT_EQ(info.LinkFor(QString(), QString(), QString()),
              QStringLiteral("http://site.test?p=vellum&v=2024.16.323.3707&c=r12c3h1&i=1234"));
    EXPECT_EQ(info.LinkFor(QStringLiteral("download"), QString(), QString()),
              QStringLiteral(
                  "http://site.test/en/vellum/download.htm?p=vellum&v=2024.16.323.3707&c=r12c3h1&i=1234"));
    EXPECT_EQ(info.LinkFor(QString(), QStringLiteral("err&e=say \"hi\""), QStringLiteral("x=1")),
              QStringLiteral(
                  "http://site.test/net/?a=err&e=say hi&p=vellum&v=2024.16.323.3707&c=r12c3h1&i=1234&x=1"));
    TdvInfo titled(gApp->ProgramPath,
                   {QStringLiteral("A & B & C"), QStringLiteral("vellum"), productName().Version});
    titled.SupportMail = info.SupportMail;
    titled.InstallStamp = info.InstallStamp;
    EXPECT_EQ(titled.LinkFor(QStringLiteral("supports"), QString(), QString()),
              QStringLiteral(
                  "mailto:help@site.test?subject=Support required for A And B & C 2024.16.323.3707 - 1234"));

    info.AppException(QStringLiteral("sender"), QStringLiteral("boom"));
    EXPECT_EQ(info.Counter(QStringLiteral("E")), QStringLiteral("1"));
    ASSERT_FALSE(singletons.OpenedLinks.isEmpty());
    EXPECT_TRUE(
        singletons.OpenedLinks.last().startsWith(QStringLiteral("http://site.test/net/?a=err&e=boom&")));
}

TEST_F(InfoTest, ErrorsAreShownWhenNoReportPageReceivesThem)
{
    QStringList shown;
    gInfo->ShowError = [&](const QString& message) { shown.append(message); };
    gInfo->AppException(QStringLiteral("sender"), QStringLiteral("Cannot create file \"/x\""));
    EXPECT_EQ(shown, QStringList({QStringLiteral("Cannot create file \"/x\"")}));
    EXPECT_TRUE(singletons.OpenedLinks.isEmpty());

    // With a site the report page takes it instead.
    gInfo->SiteRoot = QStringLiteral("http://site.test");
    gInfo->AppException(QStringLiteral("sender"), QStringLiteral("boom"));
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(singletons.OpenedLinks.size(), 1);
    EXPECT_EQ(gInfo->Counter(QStringLiteral("E")), QStringLiteral("2"));
}

TEST_F(InfoTest, HelpFileAndCountingWritesOnlyOnChange)
{
    TempTree tree;
    const auto helpOf = [&](const char* program) {
        return TdvInfo(tree.path(QString::fromUtf8(program)), productName()).HelpFile();
    };
    // Nothing there: the help the build makes is named, so that a message can say what is missing.
    EXPECT_EQ(helpOf("bin/vellum"), tree.path(QStringLiteral("bin/vellum.html")));
    tree.write(QStringLiteral("bin/vellum.pdf"));
    EXPECT_EQ(helpOf("bin/vellum"), tree.path(QStringLiteral("bin/vellum.pdf")));
    tree.write(QStringLiteral("bin/vellum.html"));
    EXPECT_EQ(helpOf("bin/vellum"), tree.path(QStringLiteral("bin/vellum.html")));
    tree.write(QStringLiteral("bin/vellum.chm"));
    EXPECT_EQ(helpOf("bin/vellum"), tree.path(QStringLiteral("bin/vellum.chm")));
    // An installation under any prefix keeps its help in its own documentation folder.
    tree.write(QStringLiteral("opt/usr/share/doc/vellum/vellum.pdf"));
    EXPECT_EQ(helpOf("opt/usr/bin/vellum"), tree.path(QStringLiteral("opt/usr/share/doc/vellum/vellum.pdf")));
    tree.write(QStringLiteral("opt/usr/share/doc/vellum/vellum.html"));
    EXPECT_EQ(helpOf("opt/usr/bin/vellum"),
              tree.path(QStringLiteral("opt/usr/share/doc/vellum/vellum.html")));
    {
        TdvInfo installed(tree.path(QStringLiteral("bin/vellum")), productName());
        installed.Opener = gInfo->Opener;
        installed.OpenLink(QStringLiteral("h"), QString(), QString());
    }
    EXPECT_EQ(singletons.OpenedLinks, QStringList({tree.path(QStringLiteral("bin/vellum.chm"))}));

    const QString record = gInfo->RecordFileName();
    gInfo->IncCounter(QStringLiteral("W"), 7, 1);
    ASSERT_TRUE(QFile::exists(record));
    QFile::remove(record);
    gInfo->IncCounter(QStringLiteral("W"), 7, 1); // same value: nothing written
    EXPECT_FALSE(QFile::exists(record));
    gInfo->IncCounter(QStringLiteral("A"), 0, 5);
    gInfo->IncCounter(QStringLiteral("A"), 0, 5);
    EXPECT_EQ(gInfo->Counter(QStringLiteral("A")), QStringLiteral("10"));

    // The record survives, scrambled, and a damaged one starts afresh.
    TdvInfo reread(gApp->ProgramPath, productName());
    EXPECT_EQ(reread.Counter(QStringLiteral("A")), QStringLiteral("10"));
    EXPECT_FALSE(readAll(record).contains("A=10"));
    QFile damaged(record);
    damaged.open(QIODevice::WriteOnly);
    damaged.write("garbage");
    damaged.close();
    TdvInfo fresh(gApp->ProgramPath, productName());
    EXPECT_EQ(fresh.Counter(QStringLiteral("R")), QStringLiteral("1"));
}

TEST_F(InfoTest, WorkersCountingAtOnceLoseNoCount)
{
    // Each worker's session start counts the office version while the owner counts the run.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 300; ++i) {
                gInfo->IncCounter(QStringLiteral("N"), 0, 1);
                gInfo->IncCounter(QStringLiteral("W"), 7 + (i + t) % 2, 1);
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(gInfo->Counter(QStringLiteral("N")), QStringLiteral("1200"));
    TdvInfo reread(gApp->ProgramPath, productName());
    EXPECT_EQ(reread.Counter(QStringLiteral("N")), QStringLiteral("1200"));
}

TEST(UserFolders, WithoutAUsableHomeAPrivateFolderIsUsed)
{
    TempTree tree;
    const QByteArray savedHome = qgetenv("HOME");
    const QByteArray savedTemp = qgetenv("TMPDIR");
    const QByteArray savedCache = qgetenv("XDG_CACHE_HOME");
    qunsetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QFile::encodeName(tree.path(QStringLiteral("tmp"))));
    QDir().mkpath(tree.path(QStringLiteral("tmp")));
    const QString priv = tree.path(QStringLiteral("tmp/vellum-%1").arg(getuid()));
    // No home, a home that is not there, a home that is a file: never "/" or the missing folder.
    for (const QByteArray& home :
         {QByteArray(), QByteArray("/nonexistent"), QFile::encodeName(tree.write(QStringLiteral("file")))}) {
        SCOPED_TRACE(home.toStdString());
        if (home.isEmpty())
            qunsetenv("HOME");
        else
            qputenv("HOME", home);
        const QString folder = userFolder(QStandardPaths::CacheLocation);
        EXPECT_TRUE(folder.startsWith(priv + QLatin1Char('/'))) << folder.toStdString();
        EXPECT_TRUE(QFileInfo(folder).isDir());
        struct stat st;
        ASSERT_EQ(::stat(QFile::encodeName(priv).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    // A folder of that name made by someone else first, open to all, is made private before use; a file
    // in its place is refused with a message that names it.
    QDir(priv).removeRecursively();
    ::mkdir(QFile::encodeName(priv).constData(), 0777);
    ::chmod(QFile::encodeName(priv).constData(), 0777);
    userFolder(QStandardPaths::CacheLocation);
    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(priv).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    QDir(priv).removeRecursively();
    tree.write(QStringLiteral("tmp/vellum-%1").arg(getuid()), "planted");
    try {
        userFolder(QStandardPaths::CacheLocation);
        ADD_FAILURE() << "a file was taken for the private folder";
    } catch (const TdvError& e) {
        EXPECT_TRUE(e.Message.contains(priv)) << e.Message.toStdString();
    }
    qputenv("HOME", savedHome);
    qputenv("TMPDIR", savedTemp);
    if (!savedCache.isEmpty())
        qputenv("XDG_CACHE_HOME", savedCache);
}

TEST(CommandLine, QtsOwnOptionsAreNeverTakenForPathsOrSwitches)
{
    struct Case
    {
        std::vector<const char*> argv;
        QString first;
        QStringList params;
    };
    const QList<Case> cases = {
        {{"vellum", "-style", "fusion", "/in/a.pptx"},
         QStringLiteral("/in/a.pptx"),
         {QStringLiteral("/in/a.pptx")}},
        {{"vellum", "-reverse"}, QString(), {}},
        // "-platform" would otherwise read as the -P switch with the options "latform".
        {{"vellum", "-platform", "offscreen", "-P:Subdir=True"},
         QStringLiteral("-P:Subdir=True"),
         {QStringLiteral("-P:Subdir=True")}},
        {{"vellum", "-style=fusion", "--reverse", "a.pptx", "b.pptx"},
         QStringLiteral("a.pptx"),
         {QStringLiteral("a.pptx"), QStringLiteral("b.pptx")}},
        {{"vellum", "-qwindowgeometry", "800x600+0+0", "-session", "1234_5", "-stylesheet", "x.qss",
          "deck.pptx"},
         QStringLiteral("deck.pptx"),
         {QStringLiteral("deck.pptx")}},
        {{"vellum", "-P:Source=/in/*.ppt?", "/in/extra.pptx"},
         QStringLiteral("-P:Source=/in/*.ppt?"),
         {QStringLiteral("-P:Source=/in/*.ppt?"), QStringLiteral("/in/extra.pptx")}},
        {{"vellum", "-style"}, QString(), {}}, // its value missing at the end
    };
    for (const Case& c : cases) {
        std::vector<char*> argv;
        for (const char* arg : c.argv)
            argv.push_back(const_cast<char*>(arg));
        TdvApp app(int(argv.size()), argv.data());
        EXPECT_EQ(app.FirstParam, c.first) << c.argv.at(1);
        EXPECT_EQ(app.Params, c.params) << c.argv.at(1);
    }
}

TEST(CommaText, QuotesWhereNeeded)
{
    EXPECT_EQ(commaText({QStringLiteral("plain"), QStringLiteral("two words"), QStringLiteral("a,b"),
                         QStringLiteral("say \"x\"")}),
              QStringLiteral("plain,\"two words\",\"a,b\",\"say \"\"x\"\"\""));
}

class ConsoleTest : public InfoTest
{
protected:
    TempTree tree;
};

TEST_F(ConsoleTest, RunWritesTheLogCountsAndReportsFailuresOnce)
{
    tree.write(QStringLiteral("in/a.pptx"));
    tree.write(QStringLiteral("in/sub/b.ppt"));
    tree.write(QStringLiteral("in/bad1.pptx"));
    tree.write(QStringLiteral("in/bad2.pptx"));
    tree.write(QStringLiteral("in/skip.pdf"));
    const QString log = tree.path(QStringLiteral("run.log"));
    gInfo->SiteRoot = QStringLiteral("http://site.test");
    gProject->SetOptionLines({QStringLiteral("Source=") + tree.path(QStringLiteral("in/*.ppt?")),
                              QStringLiteral("Subdir=True"), QStringLiteral("ThreadsCount=3"),
                              QStringLiteral("Target=") + tree.path(QStringLiteral("out")),
                              QStringLiteral("LogFile=") + log});
    gMain->Run();

    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    lines.sort();
    ASSERT_EQ(lines.size(), 4);
    const QString bad = QStringLiteral("Failure => ") + tree.path(QStringLiteral("in/bad1.pptx")) +
                        QStringLiteral(" => Cannot open? \"really\"");
    EXPECT_EQ(lines[0], bad);
    EXPECT_EQ(lines[2], QStringLiteral("Success => ") + tree.path(QStringLiteral("in/a.pptx")) +
                            QStringLiteral(" => ") + tree.path(QStringLiteral("out/a.pdf")));
    EXPECT_TRUE(readAll(log).endsWith("\r\n"));
    EXPECT_TRUE(QFile::exists(tree.path(QStringLiteral("out/sub/b.pdf"))));

    EXPECT_EQ(gInfo->Counter(QStringLiteral("C")), QStringLiteral("1"));
    EXPECT_EQ(gInfo->Counter(QStringLiteral("A")), QStringLiteral("4"));
    EXPECT_EQ(gInfo->Counter(QStringLiteral("S")), QStringLiteral("2"));
    EXPECT_EQ(gInfo->Counter(QStringLiteral("F")), QStringLiteral("2"));
    ASSERT_EQ(singletons.OpenedLinks.size(), 1);
    EXPECT_TRUE(singletons.OpenedLinks[0].startsWith(
        QStringLiteral("http://site.test/net/?a=err&e=Cannot open%3F really&p=vellum")))
        << singletons.OpenedLinks[0].toStdString();
}

TEST_F(ConsoleTest, EmptySourceWritesAnEmptyLogAndNoReport)
{
    const QString log = tree.path(QStringLiteral("empty.log"));
    gInfo->SiteRoot = QStringLiteral("http://site.test");
    gProject->SetOptionLines({QStringLiteral("Source=") + tree.path(QStringLiteral("none/*.ppt?")),
                              QStringLiteral("ThreadsCount=0"),
                              QStringLiteral("Target=") + tree.path(QStringLiteral("out")),
                              QStringLiteral("LogFile=") + log});
    gMain->Run();
    EXPECT_TRUE(QFile::exists(log));
    EXPECT_EQ(QFileInfo(log).size(), 0);
    EXPECT_TRUE(singletons.OpenedLinks.isEmpty());
}

// The real program: exit codes and messages of console runs that need no office. A build without the office
// refuses every console run, which ABuildWithoutAPartSaysSoAndFails checks instead.
#define SKIP_WITHOUT_BINARY()                                                                                \
    if (qgetenv("VELLUM_BINARY").isEmpty())                                                                  \
    GTEST_SKIP() << "VELLUM_BINARY not set"
#ifdef VELLUM_HAS_OFFICE
#define SKIP_WITHOUT_CONSOLE_RUN() SKIP_WITHOUT_BINARY()
#else
#define SKIP_WITHOUT_CONSOLE_RUN() GTEST_SKIP() << "this build has no office"
#endif

class ProgramTest : public ::testing::Test
{
protected:
    TempTree tree;
    QStringList prefix; // a command the program runs under (another user, a namespace of its own)
    QString binary = QString::fromLocal8Bit(qgetenv("VELLUM_BINARY"));
    int run(const QStringList& args, QString* err = nullptr, QString* out = nullptr,
            const QString& folder = {})
    {
        QProcess process;
        if (!folder.isEmpty())
            process.setWorkingDirectory(folder);
        process.setProcessEnvironment(environment());
        if (prefix.isEmpty())
            process.start(binary, args);
        else
            process.start(prefix.first(), prefix.mid(1) + QStringList{binary} + args);
        process.waitForFinished(60000);
        if (err)
            *err = QString::fromLocal8Bit(process.readAllStandardError());
        if (out)
            *out = QString::fromLocal8Bit(process.readAllStandardOutput());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), tree.path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), tree.path(QStringLiteral("home/data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.path(QStringLiteral("home/config")));
        env.insert(QStringLiteral("PATH"),
                   tree.mkdir(QStringLiteral("bin")) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        // The system's texts are compared in English.
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        return env;
    }
};

TEST_F(ProgramTest, EmptyTargetEndsWithMessageAndCodeOne)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    QString err;
    // No source gives no target to follow, and an empty target is refused.
    EXPECT_EQ(run({QStringLiteral("-P:PureConsole=True")}, &err), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("Unable to create directory"))) << err.toStdString();
}

TEST_F(ProgramTest, NoticesOpenNothingWithoutSiteAndExitZero)
{
    SKIP_WITHOUT_BINARY();
    // A recording opener first on PATH proves that nothing is opened.
    const QString marker = tree.path(QStringLiteral("opened"));
    tree.write(QStringLiteral("bin/xdg-open"),
               QStringLiteral("#!/bin/sh\necho \"$@\" >> %1\n").arg(marker).toUtf8());
    QFile::setPermissions(tree.path(QStringLiteral("bin/xdg-open")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(run({QStringLiteral("-Ihello")}), 0);
    EXPECT_EQ(run({QStringLiteral("-u")}), 0);
    EXPECT_FALSE(QFile::exists(marker));
}

TEST_F(ProgramTest, LongOptionsAnswerAndNeverRunTheDefaultProject)
{
    SKIP_WITHOUT_BINARY();
    // A default project that would run must not be touched by --help.
    const QString config = tree.mkdir(QStringLiteral("home/config/vellum"));
    tree.write(QStringLiteral("home/config/vellum/vellum.batch-vellum"),
               "Source=*.ppt?\r\nPureConsole=True\r\n");
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("--help")}, &err, &out), 0);
    EXPECT_TRUE(out.startsWith(QStringLiteral("Usage: vellum"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Timeout (300 s)")));
    EXPECT_EQ(run({QStringLiteral("--version")}, &err, &out), 0);
    EXPECT_EQ(out, QStringLiteral("Vellum Converter 2024.16.323.3707\n"));
    EXPECT_EQ(run({QStringLiteral("--frobnicate")}, &err, &out), 2);
    EXPECT_TRUE(err.contains(QStringLiteral("unknown option --frobnicate")));
#ifdef VELLUM_HAS_OFFICE
    // Without an argument that default project does run, and fails for want of a target.
    EXPECT_EQ(run({}, &err, &out), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("Unable to create directory")));
#endif
}

// A build without the office or without the window says what it lacks and fails, rather than doing nothing.
TEST_F(ProgramTest, ABuildWithoutAPartSaysSoAndFails)
{
    SKIP_WITHOUT_BINARY();
    // The mode that needs the missing part, and what the program says about it.
    QList<std::pair<QString, QString>> missing;
#ifndef VELLUM_HAS_OFFICE
    missing.append({QStringLiteral("True"), QStringLiteral("no office")});
#endif
#ifndef VELLUM_HAS_GUI
    missing.append({QStringLiteral("False"), QStringLiteral("no window")});
#endif
    if (missing.isEmpty())
        GTEST_SKIP() << "this build has every part";
    tree.write(QStringLiteral("in/talk.pptx"));
    for (const auto& [console, message] : missing) {
        QString err;
        EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Target=%2;PureConsole=%3")
                           .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.mkdir(QStringLiteral("out")),
                                console)},
                      &err),
                  1)
            << console.toStdString();
        EXPECT_TRUE(err.contains(message)) << err.toStdString();
    }
}

TEST_F(ProgramTest, RelativePathsAreTakenFromTheCurrentFolder)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    tree.write(QStringLiteral("work/in/talk.pptx"));
    tree.write(QStringLiteral("work/out/talk.pdf"), "%PDF");
    QString err, out;
    EXPECT_EQ(run({QStringLiteral(
                      "-P:Source=in/*.ppt?;Target=out;IsOverwrite=Skip;LogFile=run.log;PureConsole=True")},
                  &err, &out, tree.path(QStringLiteral("work"))),
              0)
        << err.toStdString();
    QStringList lines;
    ASSERT_TRUE(readTextLines(tree.path(QStringLiteral("work/run.log")), lines)) << out.toStdString();
    EXPECT_EQ(lines, QStringList({QStringLiteral("Success => ") +
                                  tree.path(QStringLiteral("work/in/talk.pptx")) + QStringLiteral(" => ")}));
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("work/file:"))));
}

TEST_F(ProgramTest, ArgumentsThatAreNoSwitchAreCheckedPaths)
{
    SKIP_WITHOUT_BINARY();
    // A default project that must never run in place of the path the person named.
    tree.mkdir(QStringLiteral("home/config/vellum"));
    tree.write(QStringLiteral("home/config/vellum/vellum.batch-vellum"),
               "Source=/nowhere/*.ppt?\r\nPureConsole=True\r\n");
    struct Case
    {
        const char* arg;
        const char* message;
    } cases[] = {
        {"/u01/talks/q3.pptx",
         "\"/u01/talks/q3.pptx\" is no switch (-P:options, -I, -U) and no existing file"},
        {"/data/talks/q3.pptx", "\"/data/talks/q3.pptx\" is no switch"},
        {"/projects/q3.batch-vellum", "The project file \"/projects/q3.batch-vellum\" cannot be read: "},
    };
    for (const Case& c : cases) {
        QString err;
        EXPECT_EQ(run({QString::fromUtf8(c.arg)}, &err), 1) << c.arg;
        EXPECT_TRUE(err.startsWith(QString::fromUtf8(c.message))) << c.arg << ": " << err.toStdString();
    }
}

TEST_F(ProgramTest, WindowsProjectFileFindsItsFolder)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    // The folder was made on Linux (UTF-8); the project file comes from the Windows program (Windows-1252).
    tree.write(QString::fromUtf8("caf\xC3\xA9/talk.pptx"));
    tree.write(QStringLiteral("out/talk.pdf"), "%PDF");
    QByteArray project =
        "Source=" + QFile::encodeName(tree.path()) +
        "/caf\xE9/*.ppt?\r\nTarget=" + QFile::encodeName(tree.path(QStringLiteral("out"))) +
        "\r\nIsOverwrite=Skip\r\nLogFile=" + QFile::encodeName(tree.path(QStringLiteral("run.log"))) +
        "\r\nPureConsole=True\r\n";
    const QString file = tree.write(QStringLiteral("old.batch-vellum"), project);
    QString err;
    EXPECT_EQ(run({file}, &err), 0) << err.toStdString();
    QStringList lines;
    ASSERT_TRUE(readTextLines(tree.path(QStringLiteral("run.log")), lines));
    EXPECT_EQ(lines,
              QStringList({QStringLiteral("Success => ") +
                           tree.path(QString::fromUtf8("caf\xC3\xA9/talk.pptx")) + QStringLiteral(" => ")}));
}

// The summary adds up to what was listed, and no progress line names a total before the listing has one.
TEST_F(ProgramTest, SkippedItemsAreCountedAndProgressShowsNoEarlyTotal)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    const int decks = 40;
    for (int i = 0; i < decks; ++i) {
        tree.write(QStringLiteral("in/d%1.pptx").arg(i));
        tree.write(QStringLiteral("out/d%1.pdf").arg(i), "%PDF");
    }
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Target=%2;IsOverwrite=Skip;ThreadsCount=2;PureConsole=True")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")))},
                  &err, &out),
              0)
        << err.toStdString();
    QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), decks + 1) << out.toStdString();
    EXPECT_EQ(lines.takeLast(), QStringLiteral("%1 listed, 0 converted, %1 skipped, 0 failed").arg(decks));
    static const QRegularExpression progress(
        QStringLiteral("^\\[(\\d+)(/(\\d+))?\\] Success .* => \\(skipped, target exists\\)$"));
    for (int i = 0; i < lines.size(); ++i) {
        const QRegularExpressionMatch m = progress.match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(m.captured(1).toInt(), i + 1);
        if (m.hasCaptured(3)) {
            EXPECT_EQ(m.captured(3).toInt(), decks) << lines[i].toStdString();
        }
    }
}

// A watched folder in console mode: a deck that arrives is taken by the next repeat, long before the polling
// interval, and a signal ends the program with 128 + the signal.
TEST_F(ProgramTest, ConsoleDaemonTakesArrivingDecksUntilASignal)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    tree.mkdir(QStringLiteral("in"));
    const QString log = tree.path(QStringLiteral("run.log"));
    QProcess process;
    process.setProcessEnvironment(environment());
    process.start(binary,
                  {QStringLiteral("-P:Source=%1;Target=%2;PureConsole=True;Daemon=600000;LogFile=%3")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log)});
    QByteArray out;
    const auto readUntil = [&](const QByteArray& text) {
        return waitUntil(
            [&] {
                process.waitForReadyRead(50);
                out += process.readAllStandardOutput();
                return out.contains(text);
            },
            30000);
    };
    ASSERT_TRUE(readUntil("Watching " + tree.path(QStringLiteral("in/")).toUtf8())) << out.toStdString();
    // An empty deck fails before any office is asked, so the repeat shows without one.
    const QString deck = tree.write(QStringLiteral("in/empty.pptx"), "");
    ASSERT_TRUE(readUntil("1 listed, 0 converted, 0 skipped, 1 failed")) << out.toStdString();
    EXPECT_TRUE(out.contains("] Failure " + deck.toUtf8() + " => The presentation could not be opened"))
        << out.toStdString();
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("Failure => ") + deck)) << lines[0].toStdString();

    ::kill(pid_t(process.processId()), SIGTERM);
    ASSERT_TRUE(process.waitForFinished(20000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 143);
}

// A sub-folder of the target that cannot be made fails its item once, before any office is started.
TEST_F(ProgramTest, ASubFolderThatCannotBeMadeFailsItsItemOnce)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    const QString source = tree.write(QStringLiteral("in/sub/talk.pptx"));
    tree.write(QStringLiteral("out/sub"), "a file where the folder would go");
    const QString log = tree.path(QStringLiteral("run.log"));
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Subdir=True;Target=%2;LogFile=%3;PureConsole=True")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log)},
                  &err, &out),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral("1 listed, 0 converted, 0 skipped, 1 failed\n")))
        << out.toStdString();
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    EXPECT_EQ(lines, QStringList({QStringLiteral("Failure => %1 => CreateDir Failed: %2 (Not a directory)")
                                      .arg(source, tree.path(QStringLiteral("out/sub/")))}));
}

// File-system failures reach the person as the system's cause with the path, not as office internals. The
// suite runs as root, for whom rights are not enforced: a read-only mount in a namespace of the run's own
// stands for a folder that takes no file, and the user nobody for a person who may not read a deck.
TEST_F(ProgramTest, FileSystemFailuresAreToldInTheSystemsWords)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    const QString source = tree.write(QStringLiteral("in/talk.pptx"));
    const QString target = tree.mkdir(QStringLiteral("out"));
    const QString log = tree.path(QStringLiteral("logs/run.log"));
    tree.mkdir(QStringLiteral("logs"));
    const QString options = QStringLiteral("-P:Source=%1;Target=%2;LogFile=%3;PureConsole=True")
                                .arg(tree.path(QStringLiteral("in/*.ppt?")), target, log);
    const auto loggedResult = [&]() {
        QStringList lines;
        readTextLines(log, lines);
        QFile::remove(log);
        return lines.join(QLatin1Char('\n'));
    };

    // A read-only target folder.
    QProcess probe;
    probe.start(QStringLiteral("unshare"), {QStringLiteral("--user"), QStringLiteral("--map-root-user"),
                                            QStringLiteral("--mount"), QStringLiteral("true")});
    const bool namespaces =
        probe.waitForFinished(30000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
    if (namespaces) {
        prefix = {QStringLiteral("unshare"),
                  QStringLiteral("--user"),
                  QStringLiteral("--map-root-user"),
                  QStringLiteral("--mount"),
                  QStringLiteral("sh"),
                  QStringLiteral("-c"),
                  QStringLiteral("mount --bind -o ro \"$1\" \"$1\" && shift && exec \"$@\""),
                  QStringLiteral("sh"),
                  target};
        QString err;
        EXPECT_EQ(run({options}, &err), 0) << err.toStdString();
        EXPECT_EQ(
            loggedResult(),
            QStringLiteral("Failure => %1 => The PDF file cannot be written to %2: Read-only file system")
                .arg(source, tree.path(QStringLiteral("out/talk.pdf"))));
        prefix.clear();
    }

    // A deck the person may not read.
    const QByteArray root = encodeFileName(tree.path());
    if (geteuid() == 0) {
        if (QStandardPaths::findExecutable(QStringLiteral("runuser")).isEmpty())
            GTEST_SKIP() << "runuser is missing";
        // Everything the run writes belongs to nobody; the deck stays root's own.
        ::chmod(root.constData(), 0755);
        for (const QString& folder :
             {QStringLiteral("home"), QStringLiteral("out"), QStringLiteral("logs")}) {
            tree.mkdir(folder);
            QProcess::execute(QStringLiteral("chown"),
                              {QStringLiteral("-R"), QStringLiteral("nobody"), tree.path(folder)});
        }
        ::chmod(encodeFileName(source).constData(), 0600);
        // The build may sit in a folder only root may enter (a checkout under /root): nobody runs a copy.
        const QString copy = tree.mkdir(QStringLiteral("prog")) + QStringLiteral("vellum");
        ASSERT_TRUE(QFile::copy(binary, copy));
        QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOther | QFile::ReadOther);
        binary = copy;
        // runuser sets HOME to nobody's own; the run keeps the test's.
        prefix = {QStringLiteral("runuser"), QStringLiteral("-u"),
                  QStringLiteral("nobody"),  QStringLiteral("--"),
                  QStringLiteral("env"),     QStringLiteral("HOME=") + tree.path(QStringLiteral("home"))};
    } else {
        ::chmod(encodeFileName(source).constData(), 0000);
    }
    QString err, out;
    EXPECT_EQ(run({options}, &err, &out, tree.path()), 0) << err.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral("1 listed, 0 converted, 0 skipped, 1 failed\n")))
        << out.toStdString();
    EXPECT_EQ(
        loggedResult(),
        QStringLiteral("Failure => %1 => The presentation %1 cannot be read: Permission denied").arg(source));
    if (!namespaces)
        GTEST_SKIP() << "no user namespaces here: the read-only target was not tried";
}

// ---- the run's record
// ---------------------------------------------------------------------------------------

// Decks whose PDFs are there already: with IsOverwrite=Skip their items end at once, without an office.
void skippable(TempTree& tree, const QString& name)
{
    tree.write(QStringLiteral("in/") + name);
    tree.write(QStringLiteral("out/") + name.left(name.lastIndexOf(QLatin1Char('.'))) +
                   QStringLiteral(".pdf"),
               "%PDF old");
}

QStringList logLines(const QString& path)
{
    QStringList lines;
    readTextLines(path, lines);
    return lines;
}

// A log that is a link, one of the run's own decks or PDFs, or a file that takes no text is refused before
// any item, and nothing is written through it.
TEST_F(ProgramTest, ALogFileThatCannotBeTheLogStopsTheRunBeforeAnyItem)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    skippable(tree, QStringLiteral("talk.pptx"));
    const QString victim = tree.write(QStringLiteral("elsewhere/victim.txt"), "precious");
    const QString link = tree.path(QStringLiteral("out/run.log"));
    ASSERT_EQ(::symlink(QFile::encodeName(victim).constData(), QFile::encodeName(link).constData()), 0);
    struct Case
    {
        QString log;
        QString reason;
    } cases[] = {
        {link, QStringLiteral("it is a symbolic link, which is not followed")},
        {tree.path(QStringLiteral("in/talk.pptx")),
         QStringLiteral("it is one of the presentations the run converts")},
        {tree.path(QStringLiteral("out/talk.pdf")),
         QStringLiteral("it may be one of the PDF files the run writes")},
        {QStringLiteral("/proc/version"), QStringLiteral("Input/output error")},
        {tree.path(QStringLiteral("elsewhere")), QStringLiteral("Is a directory")},
    };
    for (const Case& c : cases) {
        QString err, out;
        EXPECT_EQ(
            run({QStringLiteral("-P:Source=%1;Target=%2;IsOverwrite=Skip;LogFile=%3;PureConsole=True")
                     .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), c.log)},
                &err, &out),
            1)
            << c.log.toStdString();
        EXPECT_EQ(err, QStringLiteral("The run log %1 cannot be written: %2\n").arg(c.log, c.reason));
        EXPECT_EQ(out, QString()) << "no item runs";
    }
    EXPECT_EQ(readAll(victim), QByteArray("precious"));
    EXPECT_EQ(readAll(tree.path(QStringLiteral("in/talk.pptx"))), QByteArray("x"));
    EXPECT_EQ(readAll(tree.path(QStringLiteral("out/talk.pdf"))), QByteArray("%PDF old"));
}

// The log is written as the run goes: a run ended by a signal, or killed outright, leaves the line of every
// item it reported.
TEST_F(ProgramTest, TheLogHoldsEveryReportedItemWhenTheRunIsStoppedOrKilled)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    const int decks = 1500;
    for (int i = 0; i < decks; ++i)
        skippable(tree, QStringLiteral("d%1.pptx").arg(i, 4, 10, QLatin1Char('0')));
    static const QRegularExpression reported(
        QStringLiteral("^\\[[0-9/]+\\] Success (.*) => \\(skipped, target exists\\)$"));
    static const QRegularExpression logged(QStringLiteral("^Success => (.*/in/d[0-9]{4}\\.pptx) => $"));
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        const QString log = tree.path(QStringLiteral("run-%1.log").arg(sig));
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(
            binary,
            {QStringLiteral("-P:Source=%1;Target=%2;IsOverwrite=Skip;LogFile=%3;PureConsole=True")
                 .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log)});
        ASSERT_TRUE(process.waitForStarted());
        // Its progress goes into a pipe that is not read meanwhile: once that is full the run waits there, in
        // its middle, and is stopped there.
        waitUntil([&] { return logLines(log).size() >= 100; }, 30000);
        ::kill(pid_t(process.processId()), sig);
        ASSERT_TRUE(process.waitForFinished(30000));
        if (sig == SIGKILL)
            EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
        else
            EXPECT_EQ(process.exitCode(), 128 + SIGTERM);

        const QStringList console = QString::fromLocal8Bit(process.readAllStandardOutput())
                                        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList lines = logLines(log);
        ASSERT_FALSE(console.isEmpty());
        EXPECT_LT(lines.size(), decks) << "the run was stopped before its end";
        EXPECT_GE(lines.size(), console.size());
        EXPECT_TRUE(readAll(log).endsWith("\r\n")) << "only whole lines";
        QSet<QString> sources;
        for (const QString& line : lines) {
            const QRegularExpressionMatch m = logged.match(line);
            EXPECT_TRUE(m.hasMatch()) << line.toStdString();
            sources.insert(m.captured(1));
        }
        for (const QString& line : console) {
            const QRegularExpressionMatch m = reported.match(line);
            ASSERT_TRUE(m.hasMatch()) << line.toStdString();
            EXPECT_TRUE(sources.contains(m.captured(1))) << "reported but not logged: " << line.toStdString();
        }
    }
    EXPECT_TRUE(waitUntil([&] { return processesNaming(QFile::encodeName(tree.path())).isEmpty(); }, 10000));
}

// A name holding line breaks or terminal codes cannot forge a line or drive the terminal.
TEST_F(ProgramTest, AForgedNameStaysOnItsOwnLine)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    const QString forged =
        QStringLiteral("z.pptx\nFailure => budget.pptx => Conversion timed out after 300 s\nx.pptx");
    const QString coloured = QStringLiteral("esc\x1b[2Jred.pptx");
    for (const QString& name : {forged, coloured, QStringLiteral("budget.pptx")})
        skippable(tree, name);
    const QString log = tree.path(QStringLiteral("run.log"));
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Target=%2;IsOverwrite=Skip;LogFile=%3;PureConsole=True")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log)},
                  &err, &out),
              0)
        << err.toStdString();
    const QStringList console = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(console.size(), 4) << out.toStdString();
    EXPECT_EQ(console.last(), QStringLiteral("3 listed, 0 converted, 3 skipped, 0 failed"));
    QStringList lines = logLines(log);
    lines.sort();
    const QString in = tree.path(QStringLiteral("in/"));
    EXPECT_EQ(lines,
              QStringList({QStringLiteral("Success => ") + in + QStringLiteral("budget.pptx => "),
                           QStringLiteral("Success => ") + in + QStringLiteral("esc\\x1b[2Jred.pptx => "),
                           QStringLiteral("Success => ") + in +
                               QStringLiteral("z.pptx\\nFailure => budget.pptx => Conversion timed out "
                                              "after 300 s\\nx.pptx => ")}));
    EXPECT_FALSE(out.contains(QLatin1Char('\x1b')));
    EXPECT_TRUE(console.filter(QRegularExpression(QStringLiteral("^\\[[0-9/]+\\] Failure"))).isEmpty());
}

// Values a run cannot take are said once and the defaults hold: a negative Timeout is no "no limit".
TEST_F(ProgramTest, OptionValuesTheRunCannotTakeAreSaidOnce)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    skippable(tree, QStringLiteral("talk.pptx"));
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Target=%2;IsOverwrite=Skip;Timeout=-5;ThreadsCount=many;"
                                  "Subdir=yes;PureConsole=True")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")))},
                  &err, &out),
              0);
    EXPECT_EQ(err, QStringLiteral("Subdir=yes is not True or False; False is used\n"
                                  "ThreadsCount=many is not a number of workers >= 1; 1 is used\n"
                                  "Timeout=-5 is not a number of seconds >= 0; 300 is used\n"));
    EXPECT_TRUE(out.endsWith(QStringLiteral("1 listed, 0 converted, 1 skipped, 0 failed\n")))
        << out.toStdString();
}

// Only an address that starts with http:// or https:// is a web source: a folder named like one is converted
// in the console like any other, with the console's log.
TEST_F(ProgramTest, AFolderNamedLikeAnAddressRunsInTheConsole)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    for (const QString& folder : {QStringLiteral("my-https-decks"), QStringLiteral("http-talks")}) {
        SCOPED_TRACE(folder.toStdString());
        tree.write(folder + QStringLiteral("/talk.pptx"));
        tree.write(QStringLiteral("out/talk.pdf"), "%PDF old");
        const QString log = tree.path(QStringLiteral("run.log"));
        QString err, out;
        // The second folder is named relative to the current one, which an address never is.
        const QString source = folder.startsWith(QLatin1String("my")) ? tree.path(folder) : folder;
        EXPECT_EQ(
            run({QStringLiteral("-P:Source=%1/*.ppt?;Target=%2;IsOverwrite=Skip;LogFile=%3;PureConsole=True")
                     .arg(source, tree.path(QStringLiteral("out")), log)},
                &err, &out, tree.path()),
            0)
            << err.toStdString();
        EXPECT_TRUE(out.endsWith(QStringLiteral("1 listed, 0 converted, 1 skipped, 0 failed\n")))
            << out.toStdString();
        EXPECT_EQ(logLines(log),
                  QStringList({QStringLiteral("Success => %1/talk.pptx => ").arg(tree.path(folder))}));
    }
}

// With the target inside the source, the next run with "*.*" and sub-folders does not take the PDFs of the
// last one for presentations.
TEST_F(ProgramTest, ATargetInsideTheSourceIsNeverListed)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    tree.write(QStringLiteral("in/talk.pptx"));
    tree.write(QStringLiteral("in/out/talk.pdf"), "%PDF of the last run");
    QString err, out;
    EXPECT_EQ(
        run({QStringLiteral("-P:Source=in/*.*;Subdir=True;Target=in/out;IsOverwrite=Skip;PureConsole=True")},
            &err, &out, tree.path()),
        0)
        << err.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral("1 listed, 0 converted, 1 skipped, 0 failed\n")))
        << out.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("in/out/out"))));
}

// A failed item leaves nothing in the target, not even the sub-folder made for it.
TEST_F(ProgramTest, AFailedItemLeavesNoSubFolderBehind)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    tree.write(QStringLiteral("in/sub/deep/empty.pptx"), ""); // fails before any office is asked
    skippable(tree, QStringLiteral("keep/talk.pptx"));
    QString err, out;
    EXPECT_EQ(run({QStringLiteral("-P:Source=%1;Subdir=True;Target=%2;IsOverwrite=Skip;PureConsole=True")
                       .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")))},
                  &err, &out),
              0)
        << err.toStdString();
    EXPECT_TRUE(out.endsWith(QStringLiteral("2 listed, 0 converted, 1 skipped, 1 failed\n")))
        << out.toStdString();
    EXPECT_EQ(QDir(tree.path(QStringLiteral("out"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList({QStringLiteral("keep")}));
}

// ---- the office listener ----------------------------------------------------------------------------------

// A socket listening on 127.0.0.1 at a port the system picks, which `port` receives.
int listeningSocket(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        ADD_FAILURE() << "no port to listen on";
    port = ntohs(address.sin_port);
    return fd;
}

TEST_F(ProgramTest, OfficeServersGiveOneWorkerEachAndABadEntryStopsTheRun)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    tree.write(QStringLiteral("in/a.pptx"), "not reached");
    const QString options =
        QStringLiteral(
            "-P:Source=%1;Target=%2;PureConsole=True;ThreadsCount=3;ConnectTimeout=1;OfficeServers=")
            .arg(tree.path(QStringLiteral("in/*.pptx")), tree.path(QStringLiteral("out")));
    QString err, out;
    EXPECT_EQ(run({options + QStringLiteral("127.0.0.1:2002 nowhere")}, &err, &out), 1);
    EXPECT_TRUE(
        err.contains(QStringLiteral("OfficeServers: \"nowhere\" is neither host:port, unix:PATH nor local")))
        << err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(tree.path(QStringLiteral("out"))) &&
                 !QDir(tree.path(QStringLiteral("out"))).isEmpty());

    // Port 1 on the loopback refuses at once: the file fails naming it, the run itself succeeds.
    EXPECT_EQ(run({options + QStringLiteral("127.0.0.1:1")}, &err, &out), 0) << err.toStdString();
    EXPECT_TRUE(
        err.contains(QStringLiteral("OfficeServers: 1 worker, one for each office named; ThreadsCount is "
                                    "not used")))
        << err.toStdString();
    EXPECT_TRUE(
        out.contains(QStringLiteral("Failure %1 => No office can be reached: The office at 127.0.0.1:1 "
                                    "cannot be reached: Connection refused")
                         .arg(tree.path(QStringLiteral("in/a.pptx")))))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("1 listed, 0 converted, 0 skipped, 1 failed")))
        << out.toStdString();
}

TEST_F(ProgramTest, OfficeServerAddressesAreChecked)
{
    const std::pair<const char*, const char*> accepted[] = {
        {"2002", "127.0.0.1"},
        {"0.0.0.0:80", "0.0.0.0"},
        {"office-1.example.org:65535", "office-1.example.org"},
    };
    for (const auto& [text, host] : accepted) {
        const TdvListenAddress address = parseListenAddress(QString::fromUtf8(text));
        EXPECT_EQ(address.Host, QString::fromUtf8(host)) << text;
        EXPECT_EQ(address.Port, QString::fromUtf8(text).section(QLatin1Char(':'), -1).toInt()) << text;
        EXPECT_TRUE(address.SocketPath.isEmpty()) << text;
    }
    // A Unix socket, its path made absolute from the current folder.
    EXPECT_EQ(parseListenAddress(QStringLiteral("unix:/run/user/1000/vellum/office")).SocketPath,
              QStringLiteral("/run/user/1000/vellum/office"));
    EXPECT_EQ(parseListenAddress(QStringLiteral("unix:sockets//office")).SocketPath,
              QDir::currentPath() + QStringLiteral("/sockets/office"));
    EXPECT_TRUE(parseListenAddress(QStringLiteral("unix:office")).Given());
    EXPECT_EQ(parseListenAddress(QStringLiteral("unix:office")).Port, 0);

    SKIP_WITHOUT_BINARY();
    const std::pair<QStringList, const char*> refused[] = {
        {{QStringLiteral("--office-server")}, "--office-server needs [ADDRESS:]PORT or unix:PATH"},
        {{QStringLiteral("--office-server"), QStringLiteral("unix:")}, "\"unix:\" names no socket"},
        {{QStringLiteral("--office-server"), QStringLiteral("unix:/run/vellum/")}, "names no socket"},
        {{QStringLiteral("--office-server"), QStringLiteral("0")}, "\"0\" is no port (1 to 65535)"},
        {{QStringLiteral("--office-server"), QStringLiteral("127.0.0.1:65536")}, "\"65536\" is no port"},
        {{QStringLiteral("--office-server"), QStringLiteral("localhost:http")}, "\"http\" is no port"},
        {{QStringLiteral("--office-server"), QStringLiteral("300.1.1.1:2002")},
         "\"300.1.1.1\" is no IPv4 address or host name"},
        {{QStringLiteral("--office-server"), QStringLiteral("[::1]:2002")}, "\"[::1]\" is no IPv4 address"},
        {{QStringLiteral("--office-server"), QStringLiteral("my_host:2002")},
         "\"my_host\" is no IPv4 address"},
        {{QStringLiteral("-P:OfficeRestart=2"), QStringLiteral("--office-server"), QStringLiteral("2002"),
          QStringLiteral("talks/")},
         "talks/ cannot go with --office-server, only -P: options can"},
    };
    for (const auto& [args, message] : refused) {
        QString err;
        EXPECT_EQ(run(args, &err), 2) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(err.contains(QString::fromUtf8(message))) << err.toStdString();
    }
    // The help carries the warning with the option.
    QString out;
    EXPECT_EQ(run({QStringLiteral("--help")}, nullptr, &out), 0);
    EXPECT_TRUE(out.contains(QStringLiteral("--office-server [ADDRESS:]PORT|unix:PATH")));
    EXPECT_TRUE(out.contains(QStringLiteral("read and write files and run programs")));
    EXPECT_TRUE(out.contains(QStringLiteral("ssh -N -L 2002:127.0.0.1:2002 host")));
}

TEST_F(ProgramTest, OfficeServerTakesASocketOnlyInAFolderOfItsUsersAlone)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    // Each refused before any office starts, with exit code 1.
    const QString open = QDir::cleanPath(tree.mkdir(QStringLiteral("open")));
    QFile::setPermissions(open, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    const QString own = QDir::cleanPath(tree.mkdir(QStringLiteral("own")));
    QFile::setPermissions(own, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    tree.write(QStringLiteral("own/file"), "not a socket");
    // A listener's socket that still answers is in use.
    const QString busy = own + QStringLiteral("/busy");
    const int listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, QFile::encodeName(busy).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listening, 1), 0);
    const std::pair<QString, QString> refused[] = {
        {open + QStringLiteral("/office"),
         QStringLiteral(
             "Other users can enter the folder %1 (mode 755): the socket belongs in a folder only this "
             "user can enter (chmod 700 %1)")
             .arg(open)},
        {own + QStringLiteral("/file"), own + QStringLiteral("/file exists and is no socket")},
        {busy, QStringLiteral("The socket %1 is already in use").arg(busy)},
        {own + QLatin1Char('/') + QString(120, QLatin1Char('s')),
         QStringLiteral("is too long (at most 107 bytes)")},
    };
    for (const auto& [path, message] : refused) {
        QString err;
        EXPECT_EQ(run({QStringLiteral("--office-server"), QStringLiteral("unix:") + path}, &err), 1)
            << path.toStdString();
        EXPECT_TRUE(err.contains(message)) << err.toStdString();
    }
    ::close(listening);
    // The socket that was in use is still there for its listener.
    EXPECT_TRUE(QFileInfo(busy).exists());
}

TEST_F(ProgramTest, OfficeServerRefusesATakenPort)
{
    SKIP_WITHOUT_CONSOLE_RUN();
    int port = 0;
    const int taken = listeningSocket(port);
    QString err;
    EXPECT_EQ(run({QStringLiteral("--office-server"), QString::number(port)}, &err), 1);
    ::close(taken);
    EXPECT_EQ(err, QStringLiteral("Port %1 on 127.0.0.1 is already in use\n").arg(port));
}

#ifdef VELLUM_HAS_OFFICE

int freePort()
{
    int port = 0;
    ::close(listeningSocket(port));
    return port;
}

// The real program keeping real offices, reached by a UNO client as from another machine.
class OfficeServer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (binary.isEmpty())
            GTEST_SKIP() << "VELLUM_BINARY not set";
    }
    void TearDown() override
    {
        if (server.state() != QProcess::NotRunning) {
            server.kill();
            server.waitForFinished(30000);
        }
        EXPECT_TRUE(waitUntil([this] { return leftovers().isEmpty(); }, 10000))
            << leftovers().size() << " processes left";
    }

    void start(const QStringList& args)
    {
        address = args.value(args.indexOf(QStringLiteral("--office-server")) + 1);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // The offices' profile copies go into the test's folder, which then names them on their command
        // lines.
        env.insert(QStringLiteral("TMPDIR"), tree.mkdir(QStringLiteral("tmp")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        server.setProcessEnvironment(env);
        server.start(binary, args);
        server.waitForStarted();
    }

    // Waits for the server's count-th listening line; answers the process it names, 0 when none came.
    qint64 listening(int count)
    {
        const QRegularExpression line(
            QStringLiteral("^Office listening on 127\\.0\\.0\\.1:%1 \\(pid (\\d+)\\)$").arg(port),
            QRegularExpression::MultilineOption);
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            QList<qint64> pids;
            for (QRegularExpressionMatchIterator it = line.globalMatch(out); it.hasNext();)
                pids << it.next().captured(1).toLongLong();
            if (pids.size() >= count)
                return pids[count - 1];
            // The first start of all makes the template profile.
            if (clock.elapsed() > 120000 || server.state() == QProcess::NotRunning)
                return 0;
            server.waitForReadyRead(100);
            out += QString::fromLocal8Bit(server.readAllStandardOutput());
            err += QString::fromLocal8Bit(server.readAllStandardError());
        }
    }

    // What is left of the server: its offices, whose profiles lie in the test's folder, and the program or
    // its guardian, whose command line is the program's.
    QList<qint64> leftovers() const
    {
        return processesNaming(QFile::encodeName(tree.path(QStringLiteral("tmp")))) +
               processesNaming(QByteArray("--office-server") + '\0' + address.toUtf8() + '\0');
    }

    TempTree tree;
    QString binary = QString::fromLocal8Bit(qgetenv("VELLUM_BINARY"));
    QProcess server;
    int port = freePort();
    QString address, out, err;
};

TEST_F(OfficeServer, ServesRemoteClientsAndReplacesAKilledOffice)
{
    // Options may come before the listener's address, which defaults to loopback.
    start({QStringLiteral("-P:OfficeRestart=200"), QStringLiteral("--office-server"), QString::number(port)});
    const qint64 first = listening(1);
    ASSERT_GT(first, 0) << err.toStdString();
    // The program, its guardian and the office's two processes: what must be gone in the end.
    EXPECT_EQ(leftovers().size(), 4);
    {
        TestOfficeClient client(port);
        // Remote clients are strangers to this profile: no document of theirs runs a macro.
        EXPECT_TRUE(client.MacrosDisabled());
        client.Close(client.OpenPresentation());
    }

    // The process named is the office; killed, it is replaced on the same port, which the program itself
    // keeps.
    ASSERT_TRUE(readAll(QStringLiteral("/proc/%1/cmdline").arg(first)).contains("soffice.bin"));
    ::kill(pid_t(first), SIGKILL);
    const qint64 second = listening(2);
    ASSERT_GT(second, 0) << err.toStdString();
    EXPECT_NE(second, first);
    EXPECT_TRUE(err.contains(
        QStringLiteral("The office on 127.0.0.1:%1 ended (signal 9, Killed); starting a new one in 1 s")
            .arg(port)))
        << err.toStdString();
    TestOfficeClient again(port);
    again.Close(again.OpenPresentation());

    // SIGTERM ends the office with it, and the server says it is done.
    ::kill(pid_t(server.processId()), SIGTERM);
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.exitCode(), 0);
    out += QString::fromLocal8Bit(server.readAllStandardOutput());
    EXPECT_TRUE(out.endsWith(QStringLiteral("Office on 127.0.0.1:%1 stopped\n").arg(port)))
        << out.toStdString();
    EXPECT_TRUE(waitUntil([this] { return leftovers().isEmpty(); }, 5000));
    EXPECT_TRUE(QDir(tree.path(QStringLiteral("tmp")))
                    .entryList({QStringLiteral("vellum-office-*")}, QDir::Dirs)
                    .isEmpty());
}

TEST_F(OfficeServer, RestartsAfterOfficeRestartDocumentsOnceNoneIsOpen)
{
    start({QStringLiteral("--office-server"), QStringLiteral("127.0.0.1:%1").arg(port),
           QStringLiteral("-P:OfficeRestart=2")});
    const qint64 first = listening(1);
    ASSERT_GT(first, 0) << err.toStdString();
    {
        TestOfficeClient client(port);
        // Past the limit with one still open, over many of the server's looks: an office restarted meanwhile
        // would fail the calls that follow.
        const int kept = client.OpenPresentation();
        for (int i = 0; i < 9; ++i)
            client.Close(client.OpenPresentation());
        client.Close(kept);
    }
    const qint64 second = listening(2);
    ASSERT_GT(second, 0) << err.toStdString();
    EXPECT_NE(second, first);
    EXPECT_EQ(err.count(QStringLiteral("Restarting the office")), 1) << err.toStdString();
    EXPECT_TRUE(err.contains(QStringLiteral("Restarting the office on 127.0.0.1:%1: 10 documents closed "
                                            "(OfficeRestart=2), none open now")
                                 .arg(port)))
        << err.toStdString();

    // Killed outright, the server leaves no office: its guardian ends it.
    ::kill(pid_t(server.processId()), SIGKILL);
    ASSERT_TRUE(server.waitForFinished(30000));
    EXPECT_TRUE(waitUntil([this] { return leftovers().isEmpty(); }, 5000)) << leftovers().size();
}

#endif

} // namespace
