// Masks, the matcher and the folder walk over real temporary trees.
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "discovery/dvMatch.h"
#include "testSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(Masks, RegexFromMask)
{
    struct Case
    {
        const char* mask;
        const char* regex;
    } cases[] = {{"*.ppt?", ".*\\.ppt.?$"},
                 {"report(1).ppt", "report\\(1\\)\\.ppt$"},
                 {"a+b.ppt", "a\\+b\\.ppt$"},
                 {"", "$"},
                 {"x^$[]{}.p", "x\\^\\$\\[\\]\\{\\}\\.p$"},
                 {"a|b c", "a|b c$"}};
    for (const Case& c : cases)
        EXPECT_EQ(MaskToRegex(QString::fromUtf8(c.mask)), QString::fromUtf8(c.regex)) << c.mask;
}

TEST(Masks, SourceTest)
{
    struct Case
    {
        const char* path;
        const char* mask;
        const char* regExt;
        bool passes;
    } cases[] = {
        {"/in/a.ppt", "*.ppt?", "", true},
        {"/in/a.PPTX", "*.ppt?", "", true},
        {"/in/a.pptm", "*.ppt?", "", true},
        {"/in/a.ppt.bak", "*.ppt?", "", false},
        {"/in/a.pdf", "*.ppt?", "", false},
        {"/in/a+b.ppt", "a+b.ppt", "", true},
        {"/data/x.ppt", "a*.ppt", "", true}, // not anchored at the start: the "a" of "data" is enough
        {"/in/x.pdf", "", "", true},         // no mask: every path passes
        {"/decks/2023/a.pptx", "*.ppt?", "/2023/", true},
        {"/decks/2024/a.pptx", "*.ppt?", "/2023/", false},
        {"/decks/a.pptx", "*.ppt?", "(", true}, // a malformed expression lets the path pass
        {"/Home/a.pptx", "*.ppt?", "^/home", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(
            sourceMatches(QString::fromUtf8(c.path), QString::fromUtf8(c.mask), QString::fromUtf8(c.regExt)),
            c.passes)
            << c.path << " " << c.mask << " " << c.regExt;
}

TEST(Masks, ReplaceTakesFirstMatchAndAMalformedExpressionThrows)
{
    EXPECT_EQ(Regex::Replace(QStringLiteral("^file:/*"), QStringLiteral("file:///a/file:/b"), QString()),
              QStringLiteral("a/file:/b"));
    EXPECT_THROW(Regex::IsMatch(QStringLiteral("("), Regex::IgnoreCase, QStringLiteral("x")),
                 ERegexException);
}

TEST(Masks, Wildcards)
{
    struct Case
    {
        const char* pattern;
        const char* name;
        bool matches;
    } cases[] = {{"*.ppt?", "a.ppt", true},    {"*.ppt?", "a.PPTX", true},
                 {"*.ppt?", "a.pptxx", false}, {"*.ppt?", ".ppt", true},
                 {"a?c", "ac", false},         {"a?c", "abc", true},
                 {"*", "anything", true},      {"a*b*c", "axxbyyc", true},
                 {"a*b*c", "axxbyy", false},   {"talk.pptx", "TALK.pptx", true},
                 {"*a*b", "aab", true},        {"*a?", "xa", true},
                 {"a*?*?", "ab", true},        {"a*?*?", "a", true},
                 {"*x*", "abc", false},        {"?*.ppt", "a.pptx", false},
                 {"**.ppt?", "a.pptm", true}};
    for (const Case& c : cases)
        EXPECT_EQ(wildcardMatch(QString::fromUtf8(c.pattern), QString::fromUtf8(c.name)), c.matches)
            << c.pattern << " " << c.name;

    // Many stars against a long name that almost matches: trying every split of the name would take hours.
    const QString name = QString(64, QLatin1Char('a')) + QStringLiteral(".pdf");
    EXPECT_FALSE(wildcardMatch(QStringLiteral("*a*a*a*a*a*a*a*a*a*a*a*a*.ppt?"), name));
    EXPECT_TRUE(wildcardMatch(QStringLiteral("*a*a*a*a*a*a*a*a*a*a*a*a*.pdf"), name));
}

TEST(FileNames, BytesSurviveDecodingAndEncoding)
{
    // Names from Windows archives (Latin-1, code page 850), broken and overlong sequences, and real UTF-8.
    const QByteArray names[] = {
        "caf\xE9.pptx", "\x82\xA0 r\x94sum\x82.ppt",         "\xFF\xFE", "\xC0\xAF.ppt", "\xED\xA0\x80x",
        "cut\xE2\x82",  "caf\xC3\xA9 \xF0\x9F\x98\x80.pptx", "\xC3"};
    for (const QByteArray& bytes : names)
        EXPECT_EQ(encodeFileName(decodeFileName(bytes)), bytes) << bytes.toHex().constData();
    EXPECT_EQ(decodeFileName("caf\xC3\xA9"), QString::fromUtf8("caf\xC3\xA9"));
    EXPECT_TRUE(isValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(isValidUtf8("caf\xE9"));
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));
    // The office gets the bytes themselves, escaped.
    EXPECT_EQ(fileUrl(decodeFileName("/in/caf\xE9 #1.pptx")),
              QStringLiteral("file:///in/caf%E9%20%231.pptx"));
    EXPECT_EQ(fileUrl(QString::fromUtf8("/in/caf\xC3\xA9.pptx")),
              QStringLiteral("file:///in/caf%C3%A9.pptx"));
    EXPECT_FALSE(isFileNameEncodable(QString(QChar(0xD800)) + QStringLiteral("x")));
    EXPECT_TRUE(isFileNameEncodable(decodeFileName("caf\xE9")));
}

TEST(FileNames, Windows1252RoundTrip)
{
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    const QString text = fromWindows1252(all);
    EXPECT_EQ(text.at(0x80), QChar(0x20AC));
    EXPECT_EQ(text.at(0xE9), QChar(0xE9));
    QByteArray back;
    ASSERT_TRUE(toWindows1252(text, back));
    EXPECT_EQ(back, all);
    EXPECT_FALSE(toWindows1252(QStringLiteral("\u03A9"), back));
}

class WalkTest : public ::testing::Test
{
protected:
    TempTree tree;
    void SetUp() override { SkipLockFiles = true; }
    void TearDown() override { SkipLockFiles = false; }
    QStringList walk(const QString& pattern, bool subdirs, quint32 mask = faAnyFile, int stopAfter = -1)
    {
        QStringList found;
        SearchFolder(
            tree.path(), pattern, subdirs, mask,
            [&](const QString& p) { found.append(p.mid(tree.path().size())); },
            [&] { return stopAfter >= 0 && found.size() >= stopAfter; });
        return found;
    }
};

TEST_F(WalkTest, HiddenLockFilesAndFolders)
{
    tree.write(QStringLiteral("a.pptx"));
    tree.write(QStringLiteral("~$a.pptx"));
    tree.write(QStringLiteral(".b.ppt"));
    tree.write(QStringLiteral("notes.txt"));
    tree.mkdir(QStringLiteral("x.pptx"));
    tree.write(QStringLiteral("x.pptx/inner.ppt"));
    tree.write(QStringLiteral(".hidden/secret.pptx"));
    tree.write(QStringLiteral("sub/deep/c.pptm"));
    symlink(tree.path().toLocal8Bit().constData(),
            tree.path(QStringLiteral("sub/loop")).toLocal8Bit().constData());

    QStringList top = walk(QStringLiteral("*.ppt?"), false);
    top.sort();
    EXPECT_EQ(top, QStringList({QStringLiteral(".b.ppt"), QStringLiteral("a.pptx")}));
    EXPECT_EQ(walk(QStringLiteral("*.ppt?"), false, faNoHidden), QStringList({QStringLiteral("a.pptx")}));

    // Files of a folder come before its sub-folders; hidden folders and links to folders are never entered.
    const QStringList all = walk(QStringLiteral("*.ppt?"), true);
    EXPECT_EQ(all.size(), 4) << all.join(QLatin1Char(',')).toStdString();
    EXPECT_TRUE(all.indexOf(QStringLiteral("a.pptx")) < 2 && all.indexOf(QStringLiteral(".b.ppt")) < 2);
    EXPECT_TRUE(all.contains(QStringLiteral("x.pptx/inner.ppt")));
    EXPECT_TRUE(all.contains(QStringLiteral("sub/deep/c.pptm")));
}

TEST_F(WalkTest, PatternWithoutWildcardsAndStop)
{
    tree.write(QStringLiteral("report.pptx"));
    tree.write(QStringLiteral("other.pptx"));
    tree.write(QStringLiteral("a/report.pptx"));
    tree.write(QStringLiteral("b/c/REPORT.pptx"));
    EXPECT_EQ(walk(QStringLiteral("report.pptx"), false), QStringList({QStringLiteral("report.pptx")}));
    EXPECT_EQ(walk(QStringLiteral("report.pptx"), true).size(), 3);

    for (int i = 0; i < 20; ++i)
        tree.write(QStringLiteral("many/%1.ppt").arg(i));
    EXPECT_EQ(walk(QStringLiteral("*.ppt"), true, faAnyFile, 5).size(), 5);
    EXPECT_TRUE(walk(QStringLiteral("*.ppt"), true, faAnyFile, 0).isEmpty());
}

TEST_F(WalkTest, NamesThatAreNotUtf8AreListedWithTheirBytes)
{
    const QByteArray folder = QFile::encodeName(QDir::cleanPath(tree.mkdir(QStringLiteral("in"))));
    for (const QByteArray& name : {QByteArray("caf\xE9.pptx"), QByteArray("\x82t\x82.ppt")}) {
        const QByteArray path = folder + '/' + name;
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    QStringList found;
    SearchFolder(
        tree.path(QStringLiteral("in/")), QStringLiteral("*.ppt?"), false, faAnyFile,
        [&](const QString& p) { found.append(p); }, [] { return false; });
    ASSERT_EQ(found.size(), 2);
    QList<QByteArray> listed;
    for (const QString& path : found) {
        EXPECT_TRUE(isRegularFile(path)) << encodeFileName(path).toHex().constData();
        listed.append(encodeFileName(path));
    }
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, QList<QByteArray>({folder + "/caf\xE9.pptx", folder + "/\x82t\x82.ppt"}));
    // Qt's own removal cannot name these files, so the test removes them before its folder goes.
    for (const QByteArray& path : listed)
        ::unlink(path.constData());
}

TEST_F(WalkTest, MissingFolderListsNothing)
{
    QStringList found;
    SearchFolder(
        tree.path(QStringLiteral("missing/")), QStringLiteral("*"), true, faAnyFile,
        [&](const QString& p) { found.append(p); }, [] { return false; });
    EXPECT_TRUE(found.isEmpty());
}

TEST(FileUtils, DosTimeAndText)
{
    // 2024-03-23 10:20:30 UTC: date bits in the high half, seconds stored halved.
    const qint64 secs = QDateTime(QDate(2024, 3, 23), QTime(10, 20, 30), Qt::UTC).toSecsSinceEpoch();
    const quint32 dos = quint32(dosDateTime(secs, true));
    EXPECT_EQ(dos >> 16, quint32((2024 - 1980) << 9 | 3 << 5 | 23));
    EXPECT_EQ(dos & 0xFFFF, quint32(10 << 11 | 20 << 5 | 15));
    EXPECT_EQ(dosDateTime(QDateTime(QDate(1979, 12, 31), QTime(0, 0), Qt::UTC).toSecsSinceEpoch(), true), -1);

    TempTree tree;
    EXPECT_EQ(TdvFileUtils::FileDosTime(tree.path(QStringLiteral("missing")), true, true), -1);
    const QString file = tree.write(QStringLiteral("t.txt"));
    EXPECT_NE(TdvFileUtils::FileDosTime(file, false, true), -1);
    EXPECT_EQ(TdvFileUtils::FileDosTime(tree.path(QStringLiteral("t.*")), false, true),
              TdvFileUtils::FileDosTime(file, false, true));

    const QString wide = tree.path(QStringLiteral("sub/w.bin"));
    TdvFileUtils::WriteFileText(wide, QStringLiteral("h\u00e9"), 2, false);
    TdvFileUtils::WriteFileText(wide, QStringLiteral("!"), 2, true);
    EXPECT_EQ(readAll(wide), QByteArray("h\0\xE9\0!\0", 6));
    EXPECT_EQ(TdvFileUtils::ReadFileText(wide, 2), QStringLiteral("h\u00e9!"));
    EXPECT_THROW(TdvFileUtils::ReadFileText(tree.path(QStringLiteral("none")), 1), TdvError);
}

// The causes a person is told when a source cannot be read or a folder takes no file. Rights are enforced
// for everybody but the superuser, so a test run by root checks them as the user nobody.
TEST(FileUtils, ReadAndWriteProblemsInTheSystemsWords)
{
    TempTree tree;
    ::chmod(encodeFileName(tree.path()).constData(), 0755);
    const QString readable = tree.write(QStringLiteral("readable.pptx"));
    const QString locked = tree.write(QStringLiteral("locked.pptx"));
    const QString folder = tree.mkdir(QStringLiteral("deck.pptx"));
    const QString open = tree.mkdir(QStringLiteral("open"));
    const QString closed = tree.mkdir(QStringLiteral("closed"));
    ::chmod(encodeFileName(readable).constData(), 0644);
    ::chmod(encodeFileName(locked).constData(), 0000);
    ::chmod(encodeFileName(open).constData(), 0777);
    ::chmod(encodeFileName(closed).constData(), 0555);

    struct Case
    {
        QString path;
        bool write;
        QString reason;
    };
    const QList<Case> cases = {
        {readable, false, QString()},
        {tree.path(QStringLiteral("missing.pptx")), false, QStringLiteral("No such file or directory")},
        {folder, false, QStringLiteral("Is a directory")},
        {locked, false, QStringLiteral("Permission denied")},
        {open, true, QString()},
        {closed, true, QStringLiteral("Permission denied")},
        {tree.path(QStringLiteral("missing/")), true, QStringLiteral("No such file or directory")},
        {readable + QLatin1Char('/'), true, QStringLiteral("Not a directory")},
    };
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(::setegid(65534), 0);
        ASSERT_EQ(::seteuid(65534), 0);
    }
    QStringList got;
    for (const Case& c : cases)
        got.append(c.write ? writeProblem(c.path) : readProblem(c.path));
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
        ASSERT_EQ(::setegid(0), 0);
    }
    for (qsizetype i = 0; i < cases.size(); ++i)
        EXPECT_EQ(got[i], cases[i].reason) << cases[i].path.toStdString();
}

} // namespace
