// Product information, start-up and the console runner.
#include "discovery/dvFileUtils.h"
#include "discovery/dvPlaces.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "project/dvError.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"
#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <sys/stat.h>
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
    gProject->Title = QStringLiteral("A & B & C");
    EXPECT_EQ(info.LinkFor(QStringLiteral("supports"), QString(), QString()),
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
    gApp->ProgramPath = tree.path(QStringLiteral("bin/vellum"));
    tree.write(QStringLiteral("bin/vellum.pdf"));
    EXPECT_EQ(gInfo->HelpFile(), tree.path(QStringLiteral("bin/vellum.pdf")));
    tree.write(QStringLiteral("bin/vellum.chm"));
    EXPECT_EQ(gInfo->HelpFile(), tree.path(QStringLiteral("bin/vellum.chm")));
    gInfo->OpenLink(QStringLiteral("h"), QString(), QString());
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
    TdvInfo reread;
    EXPECT_EQ(reread.Counter(QStringLiteral("A")), QStringLiteral("10"));
    EXPECT_FALSE(readAll(record).contains("A=10"));
    QFile damaged(record);
    damaged.open(QIODevice::WriteOnly);
    damaged.write("garbage");
    damaged.close();
    TdvInfo fresh;
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
    TdvInfo reread;
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
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), tree.path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), tree.path(QStringLiteral("home/data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.path(QStringLiteral("home/config")));
        env.insert(QStringLiteral("PATH"),
                   tree.mkdir(QStringLiteral("bin")) + QLatin1Char(':') + env.value(QStringLiteral("PATH")));
        // The system's texts are compared in English.
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process.setProcessEnvironment(env);
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

} // namespace
