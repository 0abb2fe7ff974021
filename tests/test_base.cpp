// The ground floor's promises about files: a text file we write is whole or not written, and two copies of
// the program that change one registry hive never lose each other's values.
#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "engine/dvRegistry.h"
#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QStringList manyLines(const QString& tag, int count)
{
    QStringList lines;
    lines.reserve(count);
    for (int i = 0; i < count; ++i)
        lines.append(QStringLiteral("%1=%2 a line long enough to take the writer some time").arg(tag).arg(i));
    return lines;
}

} // namespace

// A child writes two versions of a large file in turn and is killed at a moment of the parent's choosing, as
// a crash or a power cut would: what is left is always one of the two versions, never a part of one.
TEST(TextFiles, AFileKilledWhileBeingWrittenIsLeftWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kept.batch-vellum"));
    const QStringList first = manyLines(QStringLiteral("first"), 40000);
    const QStringList second = manyLines(QStringLiteral("second"), 40000);
    writeTextLines(path, first);
    int partial = 0;
    for (int round = 0; round < 12; ++round) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                writeTextLines(path, i % 2 ? first : second);
        }
        usleep(useconds_t(5000 + (round * 7919) % 40000));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        QStringList lines;
        ASSERT_TRUE(readTextLines(path, lines));
        if (lines != first && lines != second)
            ++partial;
    }
    EXPECT_EQ(partial, 0);
    // Nothing of the writer's is left beside the file.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("kept.batch-vellum")});
}

TEST(TextFiles, ALinkStaysALinkAndTheFileItNamesIsWritten)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString real = dir.filePath(QStringLiteral("real.batch-vellum"));
    const QString link = dir.filePath(QStringLiteral("link.batch-vellum"));
    writeTextLines(real, {QStringLiteral("old")});
    ASSERT_TRUE(QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner));
    ASSERT_TRUE(QFile::link(real, link));
    writeTextLines(link, {QStringLiteral("new")});
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    QStringList lines;
    ASSERT_TRUE(readTextLines(real, lines));
    EXPECT_EQ(lines, QStringList{QStringLiteral("new")});
    // The user's choice of who may read the file survives the rewrite.
    EXPECT_EQ(QFile::permissions(real) & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
}

// The disk fills up while a larger project is saved over a smaller one (the child's file size limit stands
// in for the full disk): the save fails with a message and the old file is left as it was.
TEST(TextFiles, AFullDiskLeavesTheOldFileAsItWas)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("kept.batch-vellum"));
    const QStringList old = manyLines(QStringLiteral("old"), 100);
    writeTextLines(path, old);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            writeTextLines(path, manyLines(QStringLiteral("new"), 5000));
        } catch (const TdvError& e) {
            _exit(e.Message.contains(QStringLiteral("kept.batch-vellum")) ? 3 : 4);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3) << "the failed save names the file";
    QStringList lines;
    ASSERT_TRUE(readTextLines(path, lines));
    EXPECT_TRUE(lines == old) << lines.size() << " lines left, the first: " << lines.value(0).toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("kept.batch-vellum")});
}

// Two copies of the program write values into one key at once (MultiInstance): every value of both is there.
TEST(Registry, TwoCopiesWritingOneHiveLoseNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    qputenv("VELLUM_REGISTRY_DIR", QFile::encodeName(dir.path()));
    const QString key = QStringLiteral("Software\\Vellum\\Race");
    constexpr int kValues = 150;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            int failed = 0;
            for (int i = 0; i < kValues; ++i) {
                try {
                    TdvRegistry store(TdvRegistry::CurrentUser);
                    if (!store.OpenKey(key, true))
                        ++failed;
                    else
                        store.WriteString(QStringLiteral("copy%1-%2").arg(c).arg(i), QString::number(i));
                } catch (const TdvError&) {
                    ++failed;
                }
            }
            _exit(failed ? 1 : 0);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    TdvRegistry store(TdvRegistry::CurrentUser);
    ASSERT_TRUE(store.OpenKey(key, false));
    int missing = 0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < kValues; ++i)
            if (store.ReadString(QStringLiteral("copy%1-%2").arg(c).arg(i)) != QString::number(i))
                ++missing;
    EXPECT_EQ(missing, 0);
    qunsetenv("VELLUM_REGISTRY_DIR");
}
