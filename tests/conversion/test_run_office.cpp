// The real program converting through real offices while the world around it moves: the program itself
// stopped and continued, a source moved away while its office reads it.
#include "base/dvFileUtils.h"
#include "testSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

const QString kSamples = QStringLiteral(VELLUM_SOURCE_DIR "/samples");

QString output(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pageCount(const QString& pdf)
{
    for (const QString& line : output(QStringLiteral("pdfinfo"), {pdf}).split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

// Pages of a corpus deck that LibreOffice converts, as SOURCES.tsv has them.
int corpusPages(const QString& relative)
{
    for (const QString& line :
         QString::fromUtf8(readAll(corpusDir() + QStringLiteral("/SOURCES.tsv"))).split(QLatin1Char('\n'))) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() >= 6 && f[0] == relative && f[4] == QLatin1String("ok"))
            return f[5].toInt();
    }
    return -1;
}

class ProgramRun : public ::testing::Test
{
protected:
    TempTree tree;
    QProcess process;
    QString binary = QString::fromLocal8Bit(qgetenv("VELLUM_BINARY"));

    void SetUp() override
    {
        if (binary.isEmpty())
            GTEST_SKIP() << "VELLUM_BINARY not set";
    }
    void TearDown() override
    {
        if (process.state() != QProcess::NotRunning) {
            ::kill(pid_t(process.processId()), SIGCONT);
            process.kill();
            process.waitForFinished(30000);
        }
        // No office of the run outlives it: its profile copies lie in this test's folder.
        EXPECT_TRUE(
            waitUntil([&] { return processesNaming(QFile::encodeName(tree.path())).isEmpty(); }, 15000));
    }
    void start(const QString& options)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), tree.path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), tree.path(QStringLiteral("home/cache")));
        env.insert(QStringLiteral("TMPDIR"), tree.mkdir(QStringLiteral("tmp")));
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(binary, {options});
        ASSERT_TRUE(process.waitForStarted());
    }
    QStringList logged(const QString& log) const
    {
        QStringList lines;
        readTextLines(log, lines);
        for (QString& line : lines)
            line = withoutIsolationNote(line);
        return lines;
    }
    // Marks a file unread (its access time long past), so that its first read shows.
    static void markUnread(const QString& file)
    {
        const struct timespec times[2] = {{1000000000, 0}, {0, UTIME_OMIT}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    }
    // Whether the file was read since markUnread: the program hands the deck to its office as it converts.
    static bool wasRead(const QString& file)
    {
        struct stat st;
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 && st.st_atim.tv_sec != 1000000000;
    }
    // Waits while the run goes on until it has read the deck twice: it checks that it can read it, then
    // hands it to its office, which converts it from there.
    bool handedToOffice(const QString& deck)
    {
        for (int read = 0; read < 2; ++read) {
            if (!waitUntil(
                    [&] {
                        return wasRead(deck) || process.waitForFinished(1) ||
                               process.state() == QProcess::NotRunning;
                    },
                    120000) ||
                process.state() != QProcess::Running)
                return false;
            markUnread(deck);
        }
        return true;
    }
};

// The time the program itself was stopped (SIGSTOP, a suspended job) is not the office's: an item stopped
// with the program for longer than Timeout is not timed out for it.
TEST_F(ProgramRun, TheProgramStoppedAndContinuedTimesNoItemOut)
{
    const QString deck = tree.mkdir(QStringLiteral("in")) + QStringLiteral("slow.pptx");
    ASSERT_TRUE(QFile::copy(corpusDir() + QStringLiteral("/poi/customGeo.pptx"), deck));
    markUnread(deck);
    const QString log = tree.path(QStringLiteral("run.log"));
    // The deck takes its office a few seconds; the program is stopped as it hands it to its office, for
    // longer than the limit, and its office has the export still to do once the program goes on.
    const int limit = 30;
    start(QStringLiteral("-P:Source=%1;Target=%2;Timeout=%3;LogFile=%4;PureConsole=True")
              .arg(deck, tree.path(QStringLiteral("out")))
              .arg(limit)
              .arg(log));
    ASSERT_TRUE(handedToOffice(deck)) << "the run ended before it handed the deck to its office";
    ::kill(pid_t(process.processId()), SIGSTOP);
    QThread::sleep(limit + 2);
    ::kill(pid_t(process.processId()), SIGCONT);
    ASSERT_TRUE(process.waitForFinished(180000));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    const QString pdf = tree.path(QStringLiteral("out/slow.pdf"));
    EXPECT_EQ(logged(log), QStringList({QStringLiteral("Success => %1 => %2").arg(deck, pdf)}))
        << out.toStdString();
    EXPECT_EQ(pageCount(pdf), corpusPages(QStringLiteral("poi/customGeo.pptx")));
}

// A source moved away while its office converts it was converted and then left alone where it went; the line
// says what happened to it.
TEST_F(ProgramRun, ASourceMovedDuringItsConversionIsToldAsMoved)
{
    const QString deck = tree.mkdir(QStringLiteral("in")) + QStringLiteral("slow.pptx");
    ASSERT_TRUE(QFile::copy(corpusDir() + QStringLiteral("/poi/customGeo.pptx"), deck));
    markUnread(deck);
    const QString moved = tree.mkdir(QStringLiteral("moved")) + QStringLiteral("slow.pptx");
    const QString log = tree.path(QStringLiteral("run.log"));
    start(QStringLiteral("-P:Source=%1;Target=%2;DeleteSource=True;LogFile=%3;PureConsole=True")
              .arg(deck, tree.path(QStringLiteral("out")), log));
    ASSERT_TRUE(handedToOffice(deck)) << "the run ended before it handed the deck to its office";
    ASSERT_EQ(::rename(QFile::encodeName(deck).constData(), QFile::encodeName(moved).constData()), 0);
    ASSERT_TRUE(process.waitForFinished(180000));
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
    EXPECT_EQ(process.exitCode(), 0);
    const QString pdf = tree.path(QStringLiteral("out/slow.pdf"));
    EXPECT_EQ(withoutIsolationNote(out.section(QLatin1Char('\n'), 0, 0)),
              QStringLiteral("[1/1] Success %1 => %2 (The source was moved or deleted during the conversion)")
                  .arg(deck, pdf));
    // The log says what the console says.
    EXPECT_EQ(logged(log),
              QStringList({QStringLiteral(
                               "Success => %1 => %2 (The source was moved or deleted during the conversion)")
                               .arg(deck, pdf)}));
    EXPECT_EQ(pageCount(pdf), corpusPages(QStringLiteral("poi/customGeo.pptx")));
    // Deleting the source never reaches the file where it went.
    EXPECT_TRUE(QFileInfo::exists(moved));
}

} // namespace
