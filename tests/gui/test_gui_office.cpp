// Real presentations converted from the window, and the real program run unattended.
#include "guiSupport.h"

#include "conversion/dvVellum.h"
#include "discovery/dvFileUtils.h"
#include "engine/dvProcesses.h"
#include "gui/dvFormMain.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

int pdfPages(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    p.waitForFinished(30000);
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(QString::fromUtf8(p.readAllStandardOutput()));
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
    dialogs()->setNextFileName(deck(QStringLiteral("SampleShow.pptx")) + QStringLiteral("\r\n") +
                               deck(QStringLiteral("OverlappingRelations.pptx")) + QStringLiteral("\r\n") + damaged);
    w->bSourceFileClick();
    w->eTarget->setText(tree.path(QStringLiteral("out/")));
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("2"));
    w->aConvertExecute();
    ASSERT_TRUE(w->IsRunning());
    ASSERT_TRUE(waitFor([this] { return !w->IsRunning(); }, 240000));

    const QStringList listed = rows();
    ASSERT_EQ(listed.size(), 3);
    const QString sample = tree.path(QStringLiteral("out/SampleShow.pdf"));
    const QString overlapping = tree.path(QStringLiteral("out/OverlappingRelations.pdf"));
    EXPECT_EQ(listed[0], QStringLiteral("1|%1|%2").arg(deck(QStringLiteral("SampleShow.pptx")), sample));
    EXPECT_EQ(listed[1], QStringLiteral("1|%1|%2").arg(deck(QStringLiteral("OverlappingRelations.pptx")), overlapping));
    EXPECT_TRUE(listed[2].startsWith(QStringLiteral("2|") + damaged + QLatin1Char('|'))) << listed[2].toStdString();
    EXPECT_GT(listed[2].section(QLatin1Char('|'), 2).size(), 0); // a failure text, not an empty result
    EXPECT_EQ(pdfPages(sample), 2);
    EXPECT_TRUE(pdfText(sample, 1).contains(QStringLiteral("Title of the first slide")));
    EXPECT_EQ(pdfPages(overlapping), 4);
    EXPECT_TRUE(pdfText(overlapping, 1).contains(QStringLiteral("POI cannot read this")));
    EXPECT_FALSE(QFile::exists(tree.path(QStringLiteral("out/Password_Protected-np-hello.pdf"))));
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
    const QString argument = QStringLiteral("-P:Source=%1;Target=%2;RunAndClose=True;LogFile=%3")
                                 .arg(tree.path(QStringLiteral("in/*.ppt?")), tree.path(QStringLiteral("out")), log);
    EXPECT_EQ(run(argument, env), 0);
    QStringList lines;
    ASSERT_TRUE(readTextLines(log, lines));
    lines.sort();
    EXPECT_EQ(lines, QStringList({QStringLiteral("[Success] => %1 => %2")
                                     .arg(tree.path(QStringLiteral("in/52244.ppt")), tree.path(QStringLiteral("out/52244.pdf"))),
                                 QStringLiteral("[Success] => %1 => %2")
                                     .arg(tree.path(QStringLiteral("in/SampleShow.pptx")),
                                          tree.path(QStringLiteral("out/SampleShow.pdf")))}));
    EXPECT_EQ(pdfPages(tree.path(QStringLiteral("out/52244.pdf"))), 2);
    EXPECT_TRUE(pdfText(tree.path(QStringLiteral("out/SampleShow.pdf")), 1).contains(QStringLiteral("Title of the first slide")));
}

TEST_F(Program, PureConsoleWithAWebSourceRunsWithoutADisplay)
{
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(QStringLiteral("python3"), {QStringLiteral("-u"), QStringLiteral("-m"), QStringLiteral("http.server"),
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
    EXPECT_EQ(lines, QStringList({QStringLiteral("[Success] => %1 => %2").arg(address, pdf)}));
    EXPECT_EQ(pdfPages(pdf), 2);
}

} // namespace

int main(int argc, char** argv)
{
    static const TdvConvertorClassOf<TdvVellum> convertorClass;
    const int code = runGuiTests(argc, argv, &convertorClass);
    killAllChildGroups();
    return code;
}
