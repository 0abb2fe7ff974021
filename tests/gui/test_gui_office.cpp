// Real presentations converted from the window, and the real program run unattended.
#include "guiSupport.h"

#include "base/dvFileUtils.h"
#include "conversion/dvOffice.h"
#include "conversion/dvVellum.h"
#include "engine/dvProcesses.h"
#include "gui/dvFormMain.h"
#include "project/dvProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>

namespace {

int pdfPages(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    p.waitForFinished(30000);
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                                          .match(QString::fromUtf8(p.readAllStandardOutput()));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

QString pdfText(const QString& pdf, int page)
{
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                          QString::number(page), pdf, QStringLiteral("-")});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString deck(const QString& name)
{
    return corpusDir() + QStringLiteral("/poi/") + name;
}

class Office : public ::testing::Test
{
protected:
    void SetUp() override { resetWindow(); }
    TdvFrmMain* w = window();
    TempTree tree;
};

TEST_F(Office, WindowConvertsRealDecks)
{
    const QString damaged = deck(QStringLiteral("Password_Protected-np-hello.ppt"));
    const QString company = QStringLiteral(VELLUM_TEST_DATA "/fonts-company.pptx");
    dialogs()->setNextFileName(deck(QStringLiteral("SampleShow.pptx")) + QStringLiteral("\r\n") +
                               deck(QStringLiteral("OverlappingRelations.pptx")) + QStringLiteral("\r\n") +
                               damaged + QStringLiteral("\r\n") + company);
    w->bSourceFileClick();
    w->eTarget->setText(tree.path(QStringLiteral("out/")));
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    w->aConvertExecute();
    ASSERT_TRUE(w->IsRunning());
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }, 240000));

    QStringList listed = rows();
    for (QString& row : listed)
        row = withoutIsolationNote(row);
    ASSERT_EQ(listed.size(), 4);
    const QString sample = tree.path(QStringLiteral("out/SampleShow.pdf"));
    const QString overlapping = tree.path(QStringLiteral("out/OverlappingRelations.pdf"));
    // SampleShow asks for Arial Black, which no package has: its result may carry a note after the path.
    EXPECT_TRUE(
        listed[0].startsWith(QStringLiteral("1|%1|%2").arg(deck(QStringLiteral("SampleShow.pptx")), sample)))
        << listed[0].toStdString();
    EXPECT_EQ(listed[1],
              QStringLiteral("1|%1|%2").arg(deck(QStringLiteral("OverlappingRelations.pptx")), overlapping));
    EXPECT_TRUE(listed[2].startsWith(QStringLiteral("2|") + damaged + QLatin1Char('|')))
        << listed[2].toStdString();
    EXPECT_GT(listed[2].section(QLatin1Char('|'), 2).size(), 0); // a failure text, not an empty result
    EXPECT_EQ(pdfPages(sample), 2);
    EXPECT_TRUE(pdfText(sample, 1).contains(QStringLiteral("Title of the first slide")));
    EXPECT_EQ(pdfPages(overlapping), 4);
    EXPECT_TRUE(pdfText(overlapping, 1).contains(QStringLiteral("POI cannot read this")));
    EXPECT_FALSE(QFile::exists(tree.path(QStringLiteral("out/Password_Protected-np-hello.pdf"))));
    // A deck in a font the machine lacks: the Result cell names it beside the PDF, the status counts it.
    EXPECT_TRUE(
        listed[3].startsWith(QStringLiteral("1|%1|%2 (Font not installed: Acme Corporate Sans (set in ")
                                 .arg(company, tree.path(QStringLiteral("out/fonts-company.pdf")))))
        << listed[3].toStdString();
    const int standIns = int(listed.filter(QStringLiteral("not installed: ")).size());
    const QString counted = standIns == 1 ? QStringLiteral("; 1 PDF uses stand-in fonts")
                                          : QStringLiteral("; %1 PDFs use stand-in fonts").arg(standIns);
    EXPECT_TRUE(w->lblCount->text().contains(counted)) << w->lblCount->text().toStdString();
    EXPECT_EQ(liveChildGroups(), 0); // every office ended with its worker
}

// The real program, started as a user would start it; HOME points into the test's folder.
class Program : public ::testing::Test
{
protected:
    int run(const QString& argument, const QProcessEnvironment& env, QString* errors = nullptr)
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("VELLUM_BINARY"), {argument});
        if (!p.waitForFinished(240000)) {
            p.kill();
            p.waitForFinished();
            return -1;
        }
        if (errors)
            *errors = QString::fromLocal8Bit(p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QProcessEnvironment environment()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), tree.path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), tree.path(QStringLiteral("home/.local/share")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.path(QStringLiteral("home/.config")));
        return env;
    }
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("VELLUM_BINARY"))
            GTEST_SKIP() << "VELLUM_BINARY is not set";
    }
    TempTree tree;
};

TEST_F(Program, RunAndCloseConvertsWritesTheLogAndExits)
{
    QDir().mkpath(tree.path(QStringLiteral("in")));
    QFile::link(deck(QStringLiteral("SampleShow.pptx")), tree.path(QStringLiteral("in/SampleShow.pptx")));
    QFile::link(deck(QStringLiteral("52244.ppt")), tree.path(QStringLiteral("in/52244.ppt")));
    const QString log = tree.path(QStringLiteral("run.log"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString argument =
        QStringLiteral("-P:Source=%1;Target=%2;RunAndClose=True;LogFile=%3")
            .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log);
    EXPECT_EQ(run(argument, env), 0);
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    lines.sort();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("[Success] => %1 => %2")
                            .arg(tree.path(QStringLiteral("in/52244.ppt")),
                                 tree.path(QStringLiteral("out/52244.pdf"))));
    // SampleShow asks for Arial Black, which no package has: the log line names it after the PDF.
    EXPECT_TRUE(
        lines[1].startsWith(QStringLiteral("[Success] => %1 => %2 (Font not installed: Arial Black (set in ")
                                .arg(tree.path(QStringLiteral("in/SampleShow.pptx")),
                                     tree.path(QStringLiteral("out/SampleShow.pdf")))))
        << lines[1].toStdString();
    EXPECT_EQ(pdfPages(tree.path(QStringLiteral("out/52244.pdf"))), 2);
    EXPECT_TRUE(pdfText(tree.path(QStringLiteral("out/SampleShow.pdf")), 1)
                    .contains(QStringLiteral("Title of the first slide")));
}

TEST_F(Program, PureConsoleWithAWebSourceRunsWithoutADisplay)
{
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("python3"),
                 {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
                  QStringLiteral("0"), QStringLiteral("--bind"), QStringLiteral("127.0.0.1"),
                  QStringLiteral("--directory"), corpusDir() + QStringLiteral("/poi")});
    ASSERT_TRUE(server.waitForStarted());
    QString banner;
    const QRegularExpression portPattern(QStringLiteral("port (\\d+)"));
    for (int i = 0; i < 100 && !portPattern.match(banner).hasMatch(); ++i) {
        server.waitForReadyRead(100);
        banner += QString::fromUtf8(server.readAll());
    }
    const QString port = portPattern.match(banner).captured(1);
    ASSERT_FALSE(port.isEmpty()) << banner.toStdString();

    const QString log = tree.path(QStringLiteral("web.log"));
    QProcessEnvironment env = environment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    const QString address = QStringLiteral("http://127.0.0.1:%1/SampleShow.pptx").arg(port);
    const QString argument = QStringLiteral("-P:Source=%1;Target=%2;PureConsole=True;LogFile=%3")
                                 .arg(address, tree.path(QStringLiteral("out")), log);
    QString errors;
    EXPECT_EQ(run(argument, env, &errors), 0) << errors.toStdString();
    server.kill();
    server.waitForFinished();

    const QString pdf = tree.path(QStringLiteral("out/__127.0.0.1_%1_SampleShow.pdf").arg(port));
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(
        QStringLiteral("[Success] => %1 => %2 (Font not installed: Arial Black").arg(address, pdf)))
        << lines[0].toStdString();
    EXPECT_EQ(pdfPages(pdf), 2);
}

// The program's own children: the guardian that ends its offices if the program dies.
QList<qint64> childrenOf(qint64 pid)
{
    QList<qint64> children;
    for (const QString& task :
         QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QByteArray& word :
             readAll(QStringLiteral("/proc/%1/task/%2/children").arg(pid).arg(task)).split(' '))
            if (word.trimmed().toLongLong() > 0)
                children << word.trimmed().toLongLong();
    return children;
}

TEST_F(Program, NoOfficeOutlivesTheProgramHoweverItEnds)
{
    // Enough decks that two workers are busy when the program is ended.
    const QString in = tree.mkdir(QStringLiteral("in"));
    for (int i = 0; i < 16; ++i)
        QFile::copy(QStringLiteral(VELLUM_SOURCE_DIR "/samples/quarterly-review.pptx"),
                    in + QStringLiteral("deck%1.pptx").arg(i));
    // The run's temporary folder names every office's profile, so its processes can be found.
    const QString temp = tree.mkdir(QStringLiteral("tmp"));
    QProcessEnvironment env = environment();
    env.insert(QStringLiteral("TMPDIR"), temp);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));

    struct Ending
    {
        const char* mode;
        int signal;
        bool guardianToo; // the guardian dies with it: the next run must end the orphaned offices
    };
    const Ending endings[] = {
        {"PureConsole", SIGKILL, false}, {"RunAndClose", SIGKILL, false}, {"RunAndClose", SIGHUP, false},
        {"PureConsole", SIGQUIT, false}, {"RunAndClose", SIGTERM, false}, {"PureConsole", SIGKILL, true},
    };
    QStringList killedPids;
    for (const Ending& e : endings) {
        SCOPED_TRACE(std::string(e.mode) + " " + strsignal(e.signal) +
                     (e.guardianToo ? " with its guardian" : ""));
        const QString out = tree.path(QStringLiteral("out-%1").arg(killedPids.size()));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("VELLUM_BINARY"),
                {QStringLiteral("-P:Source=%1*.pptx;Target=%2;ThreadsCount=2;%3=True")
                     .arg(in, out, QLatin1String(e.mode))});
        ASSERT_TRUE(p.waitForStarted());
        const qint64 pid = p.processId();
        killedPids << QString::number(pid);
        // In the middle of the run: a first PDF is there and the offices are converting the next decks.
        ASSERT_TRUE(
            waitUntil([&] { return !QDir(out).entryList({QStringLiteral("*.pdf")}).isEmpty(); }, 120000));
        ASSERT_GE(processesNaming(QFile::encodeName(temp)).size(), 2);
        if (e.guardianToo)
            for (const qint64 child : childrenOf(pid))
                if (readAll(QStringLiteral("/proc/%1/comm").arg(child)).startsWith("vellum-guard"))
                    ::kill(pid_t(child), SIGKILL);
        ::kill(pid_t(pid), e.signal);
        ASSERT_TRUE(p.waitForFinished(30000));
        if (e.signal == SIGKILL)
            EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        else
            EXPECT_EQ(p.exitCode(), 128 + e.signal);
        if (e.guardianToo) {
            // Nothing was left to end them: the offices run on until the next run finds them.
            EXPECT_FALSE(processesNaming(QFile::encodeName(temp)).isEmpty());
            continue;
        }
        // Neither an office nor anything of the program (its guardian) is left.
        EXPECT_TRUE(waitUntil(
            [&] {
                return processesNaming(QFile::encodeName(temp)).isEmpty() &&
                       processesNaming(QFile::encodeName(in)).isEmpty();
            },
            10000))
            << processesNaming(QFile::encodeName(temp)).size() + processesNaming(QFile::encodeName(in)).size()
            << " processes left";
    }

    // The next run ends the offices of dead runs and removes their files; it converts as usual.
    const QString out = tree.path(QStringLiteral("out-next"));
    QString errors;
    ASSERT_EQ(
        run(QStringLiteral("-P:Source=%1deck0.pptx;Target=%2;PureConsole=True").arg(in, out), env, &errors),
        0)
        << errors.toStdString();
    EXPECT_EQ(pdfPages(out + QStringLiteral("/deck0.pdf")), 3);
    EXPECT_TRUE(waitUntil([&] { return processesNaming(QFile::encodeName(temp)).isEmpty(); }, 10000));
    EXPECT_TRUE(
        QDir(temp)
            .entryList({QStringLiteral("vellum-*")}, QDir::AllEntries | QDir::Hidden)
            .filter(QRegularExpression(QStringLiteral("-(%1)-").arg(killedPids.join(QLatin1Char('|')))))
            .isEmpty())
        << QDir(temp).entryList(QDir::AllEntries | QDir::Hidden).join(QLatin1Char(' ')).toStdString();
    const QString data = tree.path(QStringLiteral("home/.local/share"));
    QDirIterator journals(data, {QStringLiteral("parts-*")}, QDir::Files, QDirIterator::Subdirectories);
    while (journals.hasNext()) {
        const QString journal = journals.next();
        EXPECT_FALSE(killedPids.contains(journal.section(QLatin1Char('-'), -1))) << journal.toStdString();
    }
    // The target folders hold finished PDF files only: no part file, no office store file.
    for (const QString& folder : QDir(tree.path()).entryList({QStringLiteral("out-*")}, QDir::Dirs)) {
        const QStringList names = QDir(tree.path(folder)).entryList(QDir::Files | QDir::Hidden);
        EXPECT_EQ(names.filter(QRegularExpression(QStringLiteral("\\.pdf$"))), names) << folder.toStdString();
        for (const QString& name : names)
            EXPECT_GE(pdfPages(tree.path(folder + QLatin1Char('/') + name)), 3) << name.toStdString();
    }
}

} // namespace

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<TdvVellum> convertorClass;
    registerOfficeAutomation();
    const int code = runGuiTests(argc, argv, &convertorClass);
    killAllChildGroups();
    return code;
}
