// Real conversions through LibreOffice: page counts and text of the PDF files, the failures users meet
// (password, damaged office, frozen office), and that no office process or profile outlives a run.
#include "base/dvError.h"
#include "conversion/dvAutomation.h"
#include "conversion/dvOffice.h"
#include "conversion/dvVellum.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "engine/dvProcesses.h"
#include "engine/dvRun.h"
#include "project/dvProject.h"
#include "testSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <array>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <iostream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Profile copies go to a folder of this test program's own, so that leftovers can be seen.
QString tempRoot()
{
    static QTemporaryDir dir;
    static const bool set = [] {
        return setenv("TMPDIR", QFile::encodeName(dir.path()).constData(), 1) == 0;
    }();
    (void)set;
    return dir.path();
}
const QString gTempRoot = tempRoot();

const TdvConvertorClassOf<TdvVellum> vellumClass;
const QString kSamples = QStringLiteral(VELLUM_SOURCE_DIR "/samples");
const QString kData = QStringLiteral(VELLUM_TEST_DATA);

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

int pageCount(const QString& pdf)
{
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    for (const QString& line : info.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("Pages:")))
            return line.mid(6).trimmed().toInt();
    return -1;
}

QString pdfText(const QString& pdf)
{
    return run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).simplified();
}

// The fonts a PDF embeds, as pdffonts names them, without their subset tags ("LiberationSans-Bold").
QStringList embeddedFonts(const QString& pdf)
{
    QStringList fonts;
    for (const QString& line : run(QStringLiteral("pdffonts"), {pdf}).split(QLatin1Char('\n')).mid(2)) {
        const QString name = line.section(QLatin1Char(' '), 0, 0);
        if (!name.isEmpty())
            fonts.append(name.section(QLatin1Char('+'), -1));
    }
    return fonts;
}

// Whether a PDF carries a review comment as an annotation (the office writes its dictionaries plainly).
bool hasCommentAnnotation(const QString& pdf)
{
    return QString::fromLatin1(readAll(pdf))
        .contains(QRegularExpression(QStringLiteral("/Subtype\\s*/Text\\b")));
}

// (width, height) of every image drawn in a PDF, one line per use on a page.
std::vector<std::pair<int, int>> imageSizes(const QString& pdf)
{
    std::vector<std::pair<int, int>> sizes;
    const QStringList lines =
        run(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf}).split(QLatin1Char('\n'));
    for (const QString& line : lines.mid(2)) {
        const QStringList cols = line.simplified().split(QLatin1Char(' '));
        if (cols.size() > 4 && cols[2] == QLatin1String("image"))
            sizes.emplace_back(cols[3].toInt(), cols[4].toInt());
    }
    return sizes;
}

// Page counts of the corpus decks that LibreOffice converts, from SOURCES.tsv.
int corpusPages(const QString& relative)
{
    const QStringList lines =
        QString::fromUtf8(readAll(corpusDir() + QStringLiteral("/SOURCES.tsv"))).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() >= 6 && f[0] == relative && f[4] == QLatin1String("ok"))
            return f[5].toInt();
    }
    return -1;
}

// Office processes of this test program: any process whose command line names its profile folder.
int officeProcesses()
{
    return int(processesNaming(QFile::encodeName(gTempRoot)).size());
}

QStringList profileCopies()
{
    return QDir(gTempRoot).entryList({QStringLiteral("vellum-office-*")}, QDir::Dirs | QDir::Hidden);
}

// Stands between the converter and the real application object, to act at the moment an item is opened; with
// `failExport`, every export of an opened presentation fails, so that its item goes on to the printer.
class Hooked : public TdvAutoObject
{
public:
    using Hook = std::function<void(const QString& source)>;
    Hooked(TdvVariant inner, Hook hook, Hook after = {}, bool failExport = false)
        : FInner(std::move(inner)), FHook(std::move(hook)), FAfter(std::move(after)), FFailExport(failExport)
    {
    }
    TdvVariant Get(const QString& name) override
    {
        TdvVariant value = FInner.Get(name);
        if (name == QLatin1String("Presentations"))
            return TdvVariant(std::make_shared<Hooked>(value, FHook, FAfter, FFailExport));
        return value;
    }
    void Put(const QString& name, const TdvVariant& value) override { FInner.Put(name, value); }
    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        if (FFailExport && (name == QLatin1String("SaveAs") || name == QLatin1String("ExportAsFixedFormat")))
            throw TdvAutomationError(QStringLiteral("The export is switched off"));
        if (name == QLatin1String("Open") && FHook)
            FHook(args.at(0).ToText());
        TdvVariant result = FInner.Call(name, args);
        if (name == QLatin1String("Open") && FAfter)
            FAfter(args.at(0).ToText());
        if (name == QLatin1String("Open") && FFailExport)
            return TdvVariant(std::make_shared<Hooked>(result, Hook(), Hook(), true));
        return result;
    }

private:
    TdvVariant FInner;
    Hook FHook;
    Hook FAfter;
    bool FFailExport;
};

struct Outcome
{
    int State;
    QString Result;
    QString Note;      // without the note a run adds once where offices cannot be isolated
    QString Isolation; // the whole note, that one included
};

class OfficeTest : public ::testing::Test, public TdvItemObserver
{
protected:
    OfficeTest() { registerOfficeAutomation(); }

    TestSingletons singletons{&vellumClass};
    TempTree tree;
    QString in = tree.mkdir(QStringLiteral("in"));
    QString out = tree.mkdir(QStringLiteral("out"));
    TdvAutoFactory saved;
    bool hooked = false;

    std::mutex lock;
    std::map<QString, Outcome> outcomes; // by file name
    QStringList reported;                // file names in the order the items were reported
    std::map<QString, pid_t> officeOf;   // the office process group that opened each file
    QStringList instancePipes;           // of the offices that opened files
    TdvTallies tallies;                  // of the last run

    void TearDown() override
    {
        if (hooked)
            RegisterAutomationFactory(ProgIdPowerPoint, saved);
        // Nothing outlives a run: no office process, no registered group, no profile copy.
        EXPECT_EQ(liveChildGroups(), 0);
        EXPECT_EQ(officeProcesses(), 0);
        EXPECT_TRUE(profileCopies().isEmpty()) << profileCopies().join(QLatin1Char(' ')).toStdString();
        // The offices' pipe sockets go with them.
        const QString pipes =
            QFileInfo(officePipeFile(QStringLiteral("vellum-%1-").arg(getpid()))).fileName();
        EXPECT_TRUE(
            QDir(QStringLiteral("/tmp")).entryList({pipes + QLatin1Char('*')}, QDir::System).isEmpty());
        for (const QString& pipe : instancePipes)
            EXPECT_FALSE(QFileInfo::exists(pipe)) << pipe.toStdString();
        // Document locking is off: no lock file beside the decks.
        EXPECT_TRUE(QDir(in).entryList({QStringLiteral(".~lock*")}, QDir::Files | QDir::Hidden).isEmpty());
    }

    QString copy(const QString& from, const QString& name)
    {
        const QString to = in + name;
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(from, to)) << from.toStdString();
        return to;
    }

    void hook(Hooked::Hook h, Hooked::Hook afterOpen = {}, bool failExport = false)
    {
        const TdvAutoFactory real = RegisterAutomationFactory(ProgIdPowerPoint, {});
        saved = real;
        hooked = true;
        Hooked::Hook record = [this, h](const QString& source) {
            // A listener's office runs elsewhere: nothing of it is here to look at.
            if (!threadOffice()->IsRemote()) {
                std::lock_guard g(lock);
                officeOf[QFileInfo(source).fileName()] = threadOffice()->ProcessGroup();
                // Offices never run in the caller's folder, which they may not be allowed to enter.
                EXPECT_EQ(
                    QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(threadOffice()->ProcessGroup())),
                    QStringLiteral("/"));
                const QString pipe = threadOffice()->InstancePipe();
                if (!instancePipes.contains(pipe)) {
                    // A running office has its single-instance pipe where it is looked for.
                    EXPECT_TRUE(QFileInfo::exists(pipe)) << pipe.toStdString();
                    instancePipes.append(pipe);
                }
            }
            if (h)
                h(source);
        };
        RegisterAutomationFactory(ProgIdPowerPoint,
                                  {[real, record, afterOpen, failExport] {
                                       return std::make_shared<Hooked>(TdvVariant(real.Create()), record,
                                                                       afterOpen, failExport);
                                   },
                                   real.ThreadDone});
    }

    void ItemDone(const TdvItemEvent& item) override
    {
        std::lock_guard g(lock);
        const QString name = QFileInfo(item.Source).fileName();
        outcomes[name] = {item.State, item.Result, withoutIsolationNote(item.Note), item.Note};
        reported.append(name);
    }

    // Runs a batch over the files in this order, as the console run does, and waits for its end.
    void convert(const QStringList& files, int threads = 1)
    {
        gProject->SetOption(QStringLiteral("ThreadsCount"), QString::number(threads));
        TdvBatch batch;
        batch.FSourceFolder = in;
        batch.FMask = QStringLiteral("*");
        for (int i = 0; i < files.size(); ++i) {
            if (i + 1 < files.size())
                batch.AddFile(files[i]);
            else
                batch.AddSingleSource(files[i]);
        }
        TdvRun run(projectRunOptions(), &batch, out, this, &vellumClass);
        run.Start();
        run.Wait();
        tallies = run.Tallies();
    }

    QString pdf(const QString& name) const
    {
        return out + QFileInfo(name).completeBaseName() + QStringLiteral(".pdf");
    }
};

TEST_F(OfficeTest, ConvertsRealDecksOnTwoOffices)
{
    const QString password = QStringLiteral("Password_Protected-np-hello.ppt");
    const QString odd = QStringLiteral("Notes #1 100% Überblick.pptx");
    const QStringList files = {
        copy(corpusDir() + QStringLiteral("/pptx/sld-notes.pptx"), QStringLiteral("sld-notes.pptx")),
        copy(corpusDir() + QStringLiteral("/poi/") + password, password),
        copy(corpusDir() + QStringLiteral("/poi/bug58516.ppt"), QStringLiteral("bug58516.ppt")),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), odd),
    };
    // Each worker's first item waits for the other's, so both offices must be running at once.
    std::mutex m;
    std::condition_variable cv;
    std::set<pid_t> groups;
    hook(
        [&](const QString&) {
            std::unique_lock l(m);
            groups.insert(threadOffice()->ProcessGroup());
            cv.notify_all();
            cv.wait_for(l, std::chrono::seconds(60), [&] { return groups.size() >= 2; });
        },
        [&](const QString&) {
            // An office started from the template knows its version: it does not take itself for
            // freshly upgraded and spend seconds on its graphics self-tests before the first deck.
            const QString log =
                threadOffice()->ProfileDir() + QStringLiteral("/user/GraphicsRenderTests.log");
            EXPECT_FALSE(QFileInfo::exists(log)) << log.toStdString();
        });
    convert(files, 2);

    EXPECT_EQ(groups.size(), 2u);
    ASSERT_EQ(reported.size(), 4);
    // Both figures are -1 when the PDF or the corpus row is missing: the expected one must be real.
    const int notesPages = corpusPages(QStringLiteral("pptx/sld-notes.pptx"));
    const int bugPages = corpusPages(QStringLiteral("poi/bug58516.ppt"));
    ASSERT_GT(notesPages, 0);
    ASSERT_GT(bugPages, 0);
    EXPECT_EQ(outcomes[QStringLiteral("sld-notes.pptx")].State, isDone);
    EXPECT_EQ(pageCount(pdf(QStringLiteral("sld-notes.pptx"))), notesPages);
    EXPECT_EQ(outcomes[QStringLiteral("bug58516.ppt")].State, isDone);
    EXPECT_EQ(pageCount(pdf(QStringLiteral("bug58516.ppt"))), bugPages);
    // Blanks, "#", "%" and letters beyond ASCII reach the office intact.
    EXPECT_EQ(outcomes[odd].State, isDone) << outcomes[odd].Result.toStdString();
    EXPECT_EQ(outcomes[odd].Result, pdf(odd));
    EXPECT_EQ(pageCount(pdf(odd)), 3);
    EXPECT_TRUE(pdfText(pdf(odd)).contains(QStringLiteral("Revenue up 12 percent")));
    // A protected deck fails with its message and the batch goes on.
    EXPECT_EQ(outcomes[password].State, isFailed);
    EXPECT_EQ(
        outcomes[password].Result,
        QStringLiteral("The presentation could not be opened: it is damaged or protected by a password"));
    EXPECT_FALSE(QFileInfo::exists(pdf(password)));
    EXPECT_TRUE(QDir(out).entryList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(OfficeTest, NotesPagesCarryTheSpeakerNotes)
{
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("True"));
    const QString ppt = copy(kSamples + QStringLiteral("/field-trip.ppt"), QStringLiteral("field-trip.ppt"));
    convert({ppt});
    ASSERT_EQ(outcomes[QStringLiteral("field-trip.ppt")].State, isDone)
        << outcomes[QStringLiteral("field-trip.ppt")].Result.toStdString();
    EXPECT_EQ(pageCount(pdf(ppt)), 2);
    const QString text = pdfText(pdf(ppt));
    EXPECT_TRUE(text.contains(QStringLiteral("Remind parents to sign the consent form.")))
        << text.toStdString();

    // Without the option the slides themselves are written, without their notes.
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("False"));
    convert({ppt});
    const QString slides = pdfText(pdf(ppt));
    EXPECT_TRUE(slides.contains(QStringLiteral("Bus leaves at 8:30"))) << slides.toStdString();
    EXPECT_FALSE(slides.contains(QStringLiteral("consent form")));
}

// The decks ask for the Office fonts; the set-up installs metric-compatible ones, and East Asian text gets a
// font that has its glyphs. Calibri Light, the heading font of current Office themes, is set in Carlito
// through the office's replacement table.
TEST_F(OfficeTest, DecksComeOutInTheirOwnOrMetricCompatibleFonts)
{
    struct Case
    {
        const char* deck;
        QStringList fonts; // every one embedded
        const char* text;
    } cases[] = {
        {"fonts-office.pptx", {QStringLiteral("Carlito")}, "Calibri Light heading"},
        {"fonts-liberation.pptx",
         {QStringLiteral("LiberationSans"), QStringLiteral("LiberationSerif"),
          QStringLiteral("LiberationMono")},
         "Times New Roman body"},
    };
    QStringList files;
    for (const Case& c : cases)
        files << copy(kData + QLatin1Char('/') + QString::fromLatin1(c.deck), QString::fromLatin1(c.deck));
    files << copy(kData + QStringLiteral("/fonts-cjk.pptx"), QStringLiteral("fonts-cjk.pptx"));
    convert(files, 2);
    for (const Case& c : cases) {
        const QString name = QString::fromLatin1(c.deck);
        SCOPED_TRACE(c.deck);
        ASSERT_EQ(outcomes[name].State, isDone) << outcomes[name].Result.toStdString();
        EXPECT_TRUE(pdfText(pdf(name)).contains(QString::fromLatin1(c.text)));
        const QStringList fonts = embeddedFonts(pdf(name));
        for (const QString& font : c.fonts)
            EXPECT_TRUE(fonts.contains(font)) << fonts.join(QLatin1Char(' ')).toStdString();
        // Nothing stood in for a font the deck asked for.
        EXPECT_FALSE(fonts.join(QLatin1Char(' ')).contains(QLatin1String("DejaVu")));
        EXPECT_TRUE(outcomes[name].Note.isEmpty()) << outcomes[name].Note.toStdString();
    }
    // Japanese text in a Japanese font that has its glyphs, not as empty boxes in a Latin one.
    const QString cjk = QStringLiteral("fonts-cjk.pptx");
    ASSERT_EQ(outcomes[cjk].State, isDone) << outcomes[cjk].Result.toStdString();
    EXPECT_TRUE(pdfText(pdf(cjk)).contains(QString::fromUtf8("\u56db\u534a\u671f\u306e\u5831\u544a")));
    const QStringList fonts = embeddedFonts(pdf(cjk));
    EXPECT_TRUE(fonts.filter(QStringLiteral("CJK")).size() == fonts.size() && !fonts.isEmpty())
        << fonts.join(QLatin1Char(' ')).toStdString();
}

// A company font that no package has: the PDF is written in a stand-in and its note names the font; a
// strict project fails the file instead and writes no PDF; Ignore says nothing.
TEST_F(OfficeTest, AFontTheMachineLacksIsNamedOrFailsTheStrictItem)
{
    const QString company = QStringLiteral("fonts-company.pptx");
    const QString office = QStringLiteral("fonts-office.pptx");
    const QStringList files = {copy(kData + QLatin1Char('/') + company, company),
                               copy(kData + QLatin1Char('/') + office, office)};
    const QString note = QStringLiteral("Font not installed: Acme Corporate Sans (set in ");

    convert(files);
    ASSERT_EQ(outcomes[company].State, isDone) << outcomes[company].Result.toStdString();
    EXPECT_TRUE(outcomes[company].Note.startsWith(note)) << outcomes[company].Note.toStdString();
    EXPECT_TRUE(pdfText(pdf(company)).contains(QStringLiteral("Body text in the company font")));
    EXPECT_TRUE(outcomes[office].Note.isEmpty());
    EXPECT_EQ(tallies.StandIns, 1);
    EXPECT_TRUE(tallies.Summary().endsWith(QStringLiteral("; 1 PDF uses stand-in fonts")));

    gProject->SetOption(QStringLiteral("MissingFonts"), QStringLiteral("Fail"));
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    convert(files);
    EXPECT_EQ(outcomes[company].State, isFailed);
    EXPECT_TRUE(outcomes[company].Result.startsWith(note)) << outcomes[company].Result.toStdString();
    EXPECT_FALSE(QFileInfo::exists(pdf(company)));
    EXPECT_EQ(outcomes[office].State, isDone);
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("fonts-office.pdf")}));
    EXPECT_EQ(tallies.StandIns, 0);

    gProject->SetOption(QStringLiteral("MissingFonts"), QStringLiteral("Ignore"));
    convert({files[0]});
    EXPECT_EQ(outcomes[company].State, isDone);
    EXPECT_TRUE(outcomes[company].Note.isEmpty()) << outcomes[company].Note.toStdString();
    EXPECT_EQ(tallies.StandIns, 0);
}

// A reviewer's comment is for the authors, not for whoever gets the PDF: no route writes it unless asked.
TEST_F(OfficeTest, CommentsStayOutOfThePdfUnlessAsked)
{
    const QString deck = copy(kData + QStringLiteral("/review-comment.pptx"), QStringLiteral("review.pptx"));
    const QString suiteTarget = out + QStringLiteral("suite.pdf");
    struct Case
    {
        const char* exportComments;
        const char* notes;
        bool annotated;
    } cases[] = {{"", "", false}, {"", "True", false}, {"True", "", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.exportComments) + "/" + c.notes);
        gProject->SetOption(QStringLiteral("ExportComments"), QString::fromLatin1(c.exportComments));
        gProject->SetOption(QStringLiteral("Notes"), QString::fromLatin1(c.notes));
        convert({deck});
        ASSERT_EQ(outcomes[QStringLiteral("review.pptx")].State, isDone)
            << outcomes[QStringLiteral("review.pptx")].Result.toStdString();
        EXPECT_EQ(pageCount(pdf(deck)), 1);
        EXPECT_EQ(hasCommentAnnotation(pdf(deck)), c.annotated);
        if (*c.notes)
            continue;
        EXPECT_TRUE(pdfText(pdf(deck)).contains(QStringLiteral("Draft for the customer")));
        // The office-suite route follows the same option.
        TdvVellum convertor;
        followProject(convertor);
        convertor.StartApplication();
        ASSERT_TRUE(ConvertWithOfficeSuite(deck, suiteTarget));
        convertor.EndSession();
        EXPECT_EQ(hasCommentAnnotation(suiteTarget), c.annotated);
    }
}

TEST_F(OfficeTest, AFailedConversionKeepsTheExistingTarget)
{
    const QString deck = copy(corpusDir() + QStringLiteral("/poi/Password_Protected-np-hello.ppt"),
                              QStringLiteral("talk.ppt"));
    tree.write(QStringLiteral("out/talk.pdf"), "last good PDF");
    convert({deck});
    EXPECT_EQ(outcomes[QStringLiteral("talk.ppt")].State, isFailed);
    EXPECT_EQ(readAll(pdf(deck)), QByteArray("last good PDF"));

    // A good deck under the same name replaces it.
    copy(kSamples + QStringLiteral("/release-notes.pptx"), QStringLiteral("talk.ppt"));
    convert({deck});
    EXPECT_EQ(outcomes[QStringLiteral("talk.ppt")].State, isDone);
    EXPECT_EQ(pageCount(pdf(deck)), 2);
}

TEST_F(OfficeTest, HasVBProjectSeesRealMacros)
{
    const std::pair<const char*, bool> decks[] = {
        {"/pptx/act-props.pptm", true}, // carries a VBA project
        {"/poi/testPPT.pptm", false},   // macro-enabled format, no project
        {"/pptx/sld-notes.pptx", false},
    };
    TdvVellum convertor;
    followProject(convertor);
    for (const auto& [deck, expected] : decks) {
        convertor.OpenPresentation(corpusDir() + QString::fromLatin1(deck));
        EXPECT_EQ(convertor.FPresentation.Get(QStringLiteral("HasVBProject")).ToBool(), expected) << deck;
        convertor.ClosePresentation();
    }
    // The office answers "major.minor"; below version 12 no application is asked about macros.
    EXPECT_GE(convertor.FVersion, 7);
    EXPECT_TRUE(convertor.HasMacros());
    EXPECT_TRUE(QFileInfo(convertor.GetApplicationPath()).isExecutable());
    convertor.EndSession();
}

TEST_F(OfficeTest, OfficeSuiteRouteConvertsThroughLateBinding)
{
    const QString deck =
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("Q #3 50% Übersicht.pptx"));
    const QString locked = copy(corpusDir() + QStringLiteral("/poi/Password_Protected-np-hello.ppt"),
                                QStringLiteral("locked.ppt"));
    const QString target = out + QStringLiteral("Q #3 50% Übersicht.pdf");

    // No office on this thread: the route starts none of its own and answers false.
    EXPECT_FALSE(ConvertWithOfficeSuite(deck, target));
    EXPECT_EQ(liveChildGroups(), 0);

    // On the thread's own office it loads, stores through the presentation filter and closes.
    TdvVellum convertor;
    followProject(convertor);
    convertor.StartApplication();
    const pid_t group = threadOffice()->ProcessGroup();
    EXPECT_TRUE(ConvertWithOfficeSuite(deck, target));
    EXPECT_EQ(pageCount(target), 3);
    EXPECT_TRUE(pdfText(target).contains(QStringLiteral("Launch the partner portal")));
    EXPECT_FALSE(ConvertWithOfficeSuite(locked, out + QStringLiteral("locked.pdf")));
    EXPECT_FALSE(QFileInfo::exists(out + QStringLiteral("locked.pdf")));
    EXPECT_EQ(threadOffice()->ProcessGroup(), group);
    EXPECT_EQ(liveChildGroups(), 1);
    convertor.EndSession();
}

// A store that the office refuses with one of its I/O error codes reaches the person as the system's cause
// with the folder; the office's text follows, without addresses and its source location. (The office makes
// a missing folder itself, and root may write anywhere: a file standing where the folder should be is what
// refuses the store here.)
TEST_F(OfficeTest, AStoreTheOfficeRefusesIsToldInTheSystemsWords)
{
    const QString deck = copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("q.pptx"));
    const QString blocked = copy(deck, QStringLiteral("blocked")) + QLatin1Char('/');
    TdvVellum convertor;
    followProject(convertor);
    // The office writes where its worker lets it; here that is the folder of the deck.
    setThreadOfficeWorkFolder(QDir::cleanPath(in));
    convertor.OpenPresentation(deck);
    QString message;
    try {
        convertor.FPresentation.Call(QStringLiteral("SaveAs"), {blocked + QStringLiteral("q.pdf"), 32});
    } catch (const std::exception& e) {
        message = errorMessage(e);
    }
    convertor.ClosePresentation();
    convertor.EndSession();
    setThreadOfficeWorkFolder(QString());
    EXPECT_TRUE(message.startsWith(
        QStringLiteral("The PDF file cannot be written to %1: Not a directory (office: ").arg(blocked)))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("Error Area:Io"))) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("file://"))) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral(".cxx:"))) << message.toStdString();
}

TEST_F(OfficeTest, ImagesKeepTheirPixelsUnlessAReductionIsAsked)
{
    // A 1600x1200 photo is the background of both 10-inch slides: 160 ppi.
    const QString deck =
        copy(kSamples + QStringLiteral("/photo-album.pptx"), QStringLiteral("photo-album.pptx"));
    const QString suiteTarget = out + QStringLiteral("suite.pdf");
    struct Case
    {
        const char* maxResolution;
        int width, height;
    };
    // By default the photo goes in as the deck holds it, as finely as the office's own default export keeps
    // a photo under 300 ppi; asked for 80 ppi, it is reduced to 10 x 7.5 inches at 80 ppi.
    for (const Case c : {Case{"", 1600, 1200}, Case{"80", 800, 600}}) {
        SCOPED_TRACE(c.maxResolution);
        gProject->SetOption(QStringLiteral("MaxImageResolution"), QString::fromLatin1(c.maxResolution));
        convert({deck});
        ASSERT_EQ(outcomes[QStringLiteral("photo-album.pptx")].State, 1)
            << outcomes[QStringLiteral("photo-album.pptx")].Result.toStdString();
        // The office-suite route applies the same image settings.
        TdvVellum convertor;
        followProject(convertor);
        convertor.StartApplication();
        ASSERT_TRUE(ConvertWithOfficeSuite(deck, suiteTarget));
        convertor.EndSession();
        for (const QString& result : {pdf(deck), suiteTarget}) {
            SCOPED_TRACE(result.toStdString());
            EXPECT_EQ(pageCount(result), 2);
            const QString text = pdfText(result);
            EXPECT_TRUE(text.contains(QStringLiteral("Site 2 survey"))) << text.toStdString();
            const auto sizes = imageSizes(result);
            ASSERT_GE(sizes.size(), 2u); // one background per page
            for (const auto& [width, height] : sizes) {
                EXPECT_NEAR(width, c.width, 2);
                EXPECT_NEAR(height, c.height, 2);
            }
        }
    }
}

TEST_F(OfficeTest, AnOfficeKilledMidItemFailsOnlyThatItem)
{
    QStringList files;
    for (const char* name : {"a.pptx", "b.pptx", "c.pptx"})
        files << copy(kSamples + QStringLiteral("/release-notes.pptx"), QString::fromLatin1(name));
    hook([](const QString& source) {
        if (source.endsWith(QLatin1String("b.pptx")))
            ::kill(-threadOffice()->ProcessGroup(), SIGKILL);
    });
    convert(files);
    EXPECT_EQ(reported,
              (QStringList{QStringLiteral("a.pptx"), QStringLiteral("b.pptx"), QStringLiteral("c.pptx")}));
    EXPECT_EQ(outcomes[QStringLiteral("a.pptx")].State, isDone);
    EXPECT_EQ(outcomes[QStringLiteral("b.pptx")].State, isFailed);
    EXPECT_EQ(outcomes[QStringLiteral("b.pptx")].Result, TdvOffice::DeadMessage());
    EXPECT_EQ(outcomes[QStringLiteral("c.pptx")].State, isDone)
        << outcomes[QStringLiteral("c.pptx")].Result.toStdString();
    EXPECT_EQ(pageCount(pdf(QStringLiteral("c.pptx"))), 2);
    EXPECT_NE(officeOf[QStringLiteral("c.pptx")], officeOf[QStringLiteral("a.pptx")]);
}

TEST_F(OfficeTest, AFrozenOfficeTimesOutAndIsReplaced)
{
    gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("2"));
    QStringList files;
    for (const char* name : {"a.pptx", "b.pptx", "c.pptx"})
        files << copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QString::fromLatin1(name));
    hook([](const QString& source) {
        if (source.endsWith(QLatin1String("b.pptx")))
            ::kill(-threadOffice()->ProcessGroup(), SIGSTOP);
    });
    convert(files);
    EXPECT_EQ(reported.size(), 3);
    EXPECT_EQ(outcomes[QStringLiteral("a.pptx")].State, isDone)
        << outcomes[QStringLiteral("a.pptx")].Result.toStdString();
    EXPECT_EQ(outcomes[QStringLiteral("b.pptx")].State, isFailed);
    EXPECT_EQ(outcomes[QStringLiteral("b.pptx")].Result, QStringLiteral("Conversion timed out after 2 s"));
    EXPECT_FALSE(QFileInfo::exists(pdf(QStringLiteral("b.pptx"))));
    // The killed office's store left nothing in the target folder.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("a.pdf"), QStringLiteral("c.pdf")}));
    EXPECT_EQ(outcomes[QStringLiteral("c.pptx")].State, isDone)
        << outcomes[QStringLiteral("c.pptx")].Result.toStdString();
    EXPECT_EQ(pageCount(pdf(QStringLiteral("c.pptx"))), 3);
    EXPECT_NE(officeOf[QStringLiteral("c.pptx")], officeOf[QStringLiteral("b.pptx")]);
}

TEST_F(OfficeTest, AnAbortEndsTheOfficesAtOnceAndLeavesTheItemsInHandNotDone)
{
    // No time limit, and the office of b.pptx frozen as it opens: only the abort can end that item.
    gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("0"));
    gProject->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
    QStringList files;
    for (const char* name : {"a.pptx", "b.pptx", "c.pptx"})
        files << copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QString::fromLatin1(name));
    std::promise<void> frozen;
    hook([&frozen](const QString& source) {
        if (source.endsWith(QLatin1String("b.pptx"))) {
            ::kill(-threadOffice()->ProcessGroup(), SIGSTOP);
            frozen.set_value();
        }
    });
    TdvBatch batch;
    batch.FSourceFolder = in;
    batch.FMask = QStringLiteral("*");
    batch.AddFile(files[0]);
    batch.AddFile(files[1]);
    batch.AddSingleSource(files[2]);
    TdvRun run(projectRunOptions(), &batch, out, this, &vellumClass);
    run.Start();
    ASSERT_EQ(frozen.get_future().wait_for(std::chrono::seconds(120)), std::future_status::ready);
    run.Abort();
    auto ended = std::async(std::launch::async, [&run] { run.Wait(); });
    // A frozen office never answers: the run can only end because the abort killed it.
    ASSERT_EQ(ended.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(reported, QStringList({QStringLiteral("a.pptx")}));
    EXPECT_EQ(pageCount(pdf(QStringLiteral("a.pptx"))), 3);
    const TdvTallies t = run.Tallies();
    EXPECT_EQ(t.Converted, 1);
    EXPECT_EQ(t.Failed, 0);
    EXPECT_EQ(t.Open(), 2);
    // Nothing of the item in hand reached the target folder.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList({QStringLiteral("a.pdf")}));
}

TEST_F(OfficeTest, OfficeIsRestartedAfterTheConfiguredItemCount)
{
    gProject->SetOption(QStringLiteral("OfficeRestart"), QStringLiteral("2"));
    QStringList files;
    for (const char* name : {"a.pptx", "b.pptx", "c.pptx"})
        files << copy(kSamples + QStringLiteral("/release-notes.pptx"), QString::fromLatin1(name));
    hook({});
    convert(files);
    for (const QString& name : {QStringLiteral("a.pptx"), QStringLiteral("b.pptx"), QStringLiteral("c.pptx")})
        EXPECT_EQ(outcomes[name].State, isDone) << name.toStdString();
    EXPECT_EQ(officeOf[QStringLiteral("a.pptx")], officeOf[QStringLiteral("b.pptx")]);
    EXPECT_NE(officeOf[QStringLiteral("b.pptx")], officeOf[QStringLiteral("c.pptx")]);
}

TEST_F(OfficeTest, TwoWorkersOnDecksOfOneNameKeepBoth)
{
    // A deck kept in both formats: one target name, two presentations.
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("False"));
    gProject->SetOption(QStringLiteral("DeleteSource"), QStringLiteral("True"));
    const QStringList files = {
        copy(kSamples + QStringLiteral("/field-trip.ppt"), QStringLiteral("x.ppt")),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("x.pptx"))};
    // Both are converted at the same time: each worker's item waits until the other's has opened.
    std::mutex m;
    std::condition_variable cv;
    int opened = 0;
    hook([&](const QString&) {
        std::unique_lock l(m);
        ++opened;
        cv.notify_all();
        cv.wait_for(l, std::chrono::seconds(60), [&] { return opened >= 2; });
    });
    convert(files, 2);

    ASSERT_EQ(outcomes[QStringLiteral("x.ppt")].State, isDone)
        << outcomes[QStringLiteral("x.ppt")].Result.toStdString();
    ASSERT_EQ(outcomes[QStringLiteral("x.pptx")].State, isDone)
        << outcomes[QStringLiteral("x.pptx")].Result.toStdString();
    const QString first = out + QStringLiteral("x.pdf");
    const QString second = out + QStringLiteral("-vellum-x.pdf");
    EXPECT_EQ(outcomes[QStringLiteral("x.ppt")].Result, first);
    EXPECT_EQ(outcomes[QStringLiteral("x.pptx")].Result, second);
    EXPECT_EQ(pageCount(first), 2);
    EXPECT_TRUE(pdfText(first).contains(QStringLiteral("Bus leaves at 8:30")));
    EXPECT_EQ(pageCount(second), 3);
    EXPECT_TRUE(pdfText(second).contains(QStringLiteral("Revenue up 12 percent")));
    // Each source went once its own PDF was complete, and nothing else is in the target folder.
    EXPECT_TRUE(QDir(in).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(OfficeTest, ASourceSavedOverDuringItsConversionIsKept)
{
    gProject->SetOption(QStringLiteral("DeleteSource"), QStringLiteral("True"));
    const QString deck = copy(kSamples + QStringLiteral("/release-notes.pptx"), QStringLiteral("talk.pptx"));
    const QString newer = kSamples + QStringLiteral("/quarterly-review.pptx");
    hook({}, [&](const QString&) {
        // The author saves a new version while the old one is being converted.
        QFile::copy(newer, deck + QStringLiteral(".saving"));
        ::rename(QFile::encodeName(deck + QStringLiteral(".saving")).constData(),
                 QFile::encodeName(deck).constData());
    });
    convert({deck});
    ASSERT_EQ(outcomes[QStringLiteral("talk.pptx")].State, isDone);
    EXPECT_EQ(pageCount(pdf(deck)), 2); // the version that was opened
    EXPECT_EQ(readAll(deck), readAll(newer));
    EXPECT_EQ(outcomes[QStringLiteral("talk.pptx")].Note,
              QStringLiteral("The source was kept: it changed during the conversion"));
}

TEST_F(OfficeTest, AnEmptyFileIsADamagedDeck)
{
    const QString empty = in + QStringLiteral("empty.pptx");
    QFile(empty).open(QIODevice::WriteOnly);
    const QString good = copy(kSamples + QStringLiteral("/release-notes.pptx"), QStringLiteral("good.pptx"));
    convert({empty, good});
    EXPECT_EQ(outcomes[QStringLiteral("empty.pptx")].State, isFailed);
    EXPECT_EQ(
        outcomes[QStringLiteral("empty.pptx")].Result,
        QStringLiteral("The presentation could not be opened: it is damaged or protected by a password"));
    EXPECT_FALSE(QFileInfo::exists(pdf(empty)));
    EXPECT_EQ(outcomes[QStringLiteral("good.pptx")].State, isDone);
}

TEST_F(OfficeTest, AnOfficeThatCannotStartSaysWhy)
{
    // An office whose start script gives up, as one does in a folder it cannot enter.
    const QString fake = tree.mkdir(QStringLiteral("fake-office"));
    const QString script = fake + QStringLiteral("soffice");
    QFile file(script);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho \"soffice: cannot open the user installation\" >&2\nexit 2\n");
    file.close();
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray real = qgetenv("VELLUM_OFFICE_PROGRAM");
    qputenv("VELLUM_OFFICE_PROGRAM", QFile::encodeName(fake.chopped(1)));
    QString message;
    try {
        TdvOffice::Start();
    } catch (const std::exception& e) {
        message = errorMessage(e);
    }
    if (real.isEmpty())
        qunsetenv("VELLUM_OFFICE_PROGRAM");
    else
        qputenv("VELLUM_OFFICE_PROGRAM", real);
    EXPECT_TRUE(message.endsWith(QStringLiteral("(exit code 2): soffice: cannot open the user installation")))
        << message.toStdString();
    EXPECT_EQ(liveChildGroups(), 0);
}

// A profile copy that fails names the system's cause, as it does when the program runs out of open files,
// and leaves no half copy behind.
TEST_F(OfficeTest, AProfileThatCannotBeCopiedSaysWhy)
{
    TempTree cache;
    const struct CacheGuard
    {
        QByteArray real = qgetenv("XDG_CACHE_HOME");
        ~CacheGuard() { qputenv("XDG_CACHE_HOME", real); }
    } guard;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    // A link in the template that leads nowhere: its copy fails on opening, as a file past the limit does.
    const QString templ = officeTemplateProfile();
    ASSERT_TRUE(QFile::link(cache.path(QStringLiteral("gone")), templ + QStringLiteral("/user/gone.xcu")));
    QString message;
    try {
        TdvOffice::Start();
    } catch (const std::exception& e) {
        message = errorMessage(e);
    }
    EXPECT_TRUE(message.startsWith(QStringLiteral("The office profile cannot be copied to ") + gTempRoot))
        << message.toStdString();
    EXPECT_TRUE(message.endsWith(QStringLiteral(": No such file or directory"))) << message.toStdString();
    EXPECT_EQ(liveChildGroups(), 0);
}

TEST_F(OfficeTest, ChildrenThatAreNotOfficesAreReaped)
{
    adoptOrphans();
    // A detached program (the desktop's opener) comes back to this process when its launcher ends.
    qint64 pid = 0;
    ASSERT_TRUE(QProcess::startDetached(QStringLiteral("sh"),
                                        {QStringLiteral("-c"), QStringLiteral("sleep 1")}, QString(), &pid));
    // Its parent is this process while it runs, not the system's first process: so it is this process that
    // must reap it, and a zombie would stay for good if it did not.
    const auto parent = [pid] {
        const QByteArray status = readAll(QStringLiteral("/proc/%1/status").arg(pid));
        const qsizetype at = status.indexOf("\nPPid:");
        return at < 0 ? qint64(-1) : status.mid(at + 7).split('\n').value(0).trimmed().toLongLong();
    };
    // (The launcher between them ends at once; until it has, it is the parent.)
    EXPECT_TRUE(waitUntil([&] { return parent() == qint64(getpid()); }, 800)) << "parent " << parent();
    const auto zombie = [pid] {
        const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
        return !stat.isEmpty() && stat.mid(stat.lastIndexOf(')') + 2, 1) == "Z";
    };
    const auto gone = [pid] { return !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)); };
    for (int i = 0; i < 50 && !gone(); ++i)
        QThread::msleep(100);
    EXPECT_TRUE(gone()) << (zombie() ? "left as a zombie" : "still running");
}

// ---- the printer route -----------------------------------------------------------------------------------

// Three slides of 120 x 90 cm, the second hidden, each with a line at its top and one at its far corner,
// which paper of A4 or Letter size shows only when the slide is fitted onto it.
void writeLargeDeck(const QString& path)
{
    QByteArray slides;
    for (const QByteArray word : {"Alpha", "Bravo", "Charlie"})
        slides +=
            "<draw:page draw:master-page-name=\"Big\"" +
            (word == "Bravo" ? QByteArray(" draw:style-name=\"hidden\"") : QByteArray()) +
            "><draw:frame svg:x=\"2cm\" svg:y=\"2cm\" svg:width=\"24cm\" svg:height=\"5cm\"><draw:text-box>"
            "<text:p>" +
            word +
            " top</text:p></draw:text-box></draw:frame><draw:frame svg:x=\"95cm\" "
            "svg:y=\"80cm\" svg:width=\"24cm\" svg:height=\"5cm\"><draw:text-box><text:p>" +
            word + " corner</text:p></draw:text-box></draw:frame></draw:page>\n";
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"
 xmlns:presentation="urn:oasis:names:tc:opendocument:xmlns:presentation:1.0"
 office:version="1.2" office:mimetype="application/vnd.oasis.opendocument.presentation">
<office:styles><style:style style:name="standard" style:family="graphic"><style:graphic-properties
 draw:stroke="none" draw:fill="none"/></style:style></office:styles>
<office:automatic-styles><style:page-layout style:name="big"><style:page-layout-properties fo:page-width="120cm"
 fo:page-height="90cm" style:print-orientation="landscape"/></style:page-layout>
<style:style style:name="hidden" style:family="drawing-page"><style:drawing-page-properties
 presentation:visibility="hidden"/></style:style></office:automatic-styles>
<office:master-styles><style:master-page style:name="Big" style:page-layout-name="big"/></office:master-styles>
<office:body><office:presentation>
)" + slides + "</office:presentation></office:body></office:document>\n");
}

class PrinterTest : public OfficeTest
{
protected:
    TdvAutoFactory savedSuite;

    void SetUp() override
    {
        // The export fails for every deck, and there is no office suite to fall back on.
        hook({}, {}, true);
        savedSuite = RegisterAutomationFactory(
            ProgIdOfficeManager, {[]() -> std::shared_ptr<TdvAutoObject> {
                                      throw TdvAutomationError(QStringLiteral("No office suite"));
                                  },
                                  {}});
    }
    void TearDown() override
    {
        RegisterAutomationFactory(ProgIdOfficeManager, savedSuite);
        OfficeTest::TearDown();
        // The workers' own folders went with them.
        EXPECT_TRUE(QDir(gTempRoot).entryList({QStringLiteral("vellum-work-*")}, QDir::Dirs).isEmpty());
    }

    QStringList targets() const { return QDir(out).entryList(QDir::Files | QDir::Hidden); }
};

const QString kPrinted = QStringLiteral("Printed on Vellum PDF: no links, no outline, pages of paper size");
const QString kNoExport = QStringLiteral(", after the export failed: The export is switched off");

TEST_F(PrinterTest, DecksTheExportCannotWriteArePrintedEachByItsOwnOffice)
{
    const QString large = in + QStringLiteral("large slides.fodp");
    writeLargeDeck(large);
    const QStringList files = {
        large,
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("quarterly-review.pptx")),
        copy(kSamples + QStringLiteral("/field-trip.ppt"), QStringLiteral("field-trip.ppt")),
    };
    // Two workers, two offices: each printer writes where its own office's route asks.
    convert(files, 2);

    ASSERT_EQ(reported.size(), 3);
    for (const QString& name : {QStringLiteral("quarterly-review.pptx"), QStringLiteral("large slides.fodp"),
                                QStringLiteral("field-trip.ppt")}) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(outcomes[name].State, isDone) << outcomes[name].Result.toStdString();
        EXPECT_EQ(outcomes[name].Result, pdf(name));
        EXPECT_EQ(outcomes[name].Note, kPrinted);
    }
    EXPECT_EQ(pageCount(pdf(QStringLiteral("quarterly-review.pptx"))), 3);
    const QString review = pdfText(pdf(QStringLiteral("quarterly-review.pptx")));
    EXPECT_TRUE(review.contains(QStringLiteral("Revenue up 12 percent"))) << review.toStdString();
    EXPECT_FALSE(review.contains(QStringLiteral("Bus leaves"))) << review.toStdString();
    EXPECT_EQ(pageCount(pdf(QStringLiteral("field-trip.ppt"))), 2);
    EXPECT_TRUE(
        pdfText(pdf(QStringLiteral("field-trip.ppt"))).contains(QStringLiteral("Bus leaves at 8:30")));
    // Slides larger than the paper are fitted onto it, and the hidden one is left out, as the export does.
    const QString fitted = pdfText(pdf(QStringLiteral("large slides.fodp")));
    EXPECT_EQ(pageCount(pdf(QStringLiteral("large slides.fodp"))), 2);
    for (const char* line : {"Alpha top", "Alpha corner", "Charlie top", "Charlie corner"})
        EXPECT_TRUE(fitted.contains(QString::fromLatin1(line))) << line << ": " << fitted.toStdString();
    EXPECT_FALSE(fitted.contains(QStringLiteral("Bravo"))) << fitted.toStdString();
    // The target folder holds the three PDFs and nothing else.
    EXPECT_EQ(targets(), (QStringList{QStringLiteral("field-trip.pdf"), QStringLiteral("large slides.pdf"),
                                      QStringLiteral("quarterly-review.pdf")}));
}

TEST_F(PrinterTest, APrinterThatWritesNothingOrNoPrinterAtAllFailsTheItemSayingSo)
{
    // Offices of a template of this test's own.
    TempTree cache;
    const struct CacheGuard
    {
        QByteArray real = qgetenv("XDG_CACHE_HOME");
        ~CacheGuard() { qputenv("XDG_CACHE_HOME", real); }
    } guard;
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cache.path()));
    const QString printers = officeTemplateProfile() + QStringLiteral("/user/psprint/psprint.conf");
    QList<QByteArray> lines = readAll(printers).split('\n');
    const auto command = std::find_if(lines.begin(), lines.end(),
                                      [](const QByteArray& line) { return line.startsWith("Command="); });
    ASSERT_NE(command, lines.end());
    const QString deck = copy(kSamples + QStringLiteral("/release-notes.pptx"), QStringLiteral("notes.pptx"));
    // Long enough for a loaded machine to open and print the deck: the printer is then waited for as long.
    gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("8"));

    // The printer's command ends without a word and without output.
    *command = "Command=exit 0";
    QFile file(printers);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(lines.join('\n'));
    file.close();
    convert({deck});
    EXPECT_EQ(outcomes[QStringLiteral("notes.pptx")].State, isFailed);
    EXPECT_EQ(outcomes[QStringLiteral("notes.pptx")].Result,
              QStringLiteral("The printer Vellum PDF did not write a file within 8 s") + kNoExport);
    EXPECT_TRUE(targets().isEmpty()) << targets().join(QLatin1Char(' ')).toStdString();

    // An office without the printer (as the office built without printing, which lists none).
    QFile::remove(printers);
    convert({deck});
    EXPECT_EQ(outcomes[QStringLiteral("notes.pptx")].State, isFailed);
    EXPECT_EQ(outcomes[QStringLiteral("notes.pptx")].Result,
              QStringLiteral("No PDF printer is available: the office cannot print on this machine") +
                  kNoExport);
    EXPECT_TRUE(targets().isEmpty()) << targets().join(QLatin1Char(' ')).toStdString();
}

// The real program, run in the folder of a deck whose name came from a Windows archive (Latin-1, not UTF-8):
// the relative source and target are found, and the name's bytes reach the office and the PDF's name.
TEST(ProgramOffice, LatinOneFileNameConvertsFromRelativePaths)
{
    const QByteArray binary = qgetenv("VELLUM_BINARY");
    if (binary.isEmpty())
        GTEST_SKIP() << "VELLUM_BINARY not set";
    TempTree tree;
    const QByteArray folder = QFile::encodeName(QDir::cleanPath(tree.mkdir(QStringLiteral("work/in"))));
    const QByteArray deck = folder + "/r\xE9sum\xE9.pptx";
    ASSERT_TRUE(
        QFile::copy(kSamples + QStringLiteral("/quarterly-review.pptx"), tree.path(QStringLiteral("copy"))));
    ASSERT_EQ(::rename(QFile::encodeName(tree.path(QStringLiteral("copy"))).constData(), deck.constData()),
              0);

    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), tree.path(QStringLiteral("home")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), tree.path(QStringLiteral("home/data")));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tree.path(QStringLiteral("home/config")));
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(tree.path(QStringLiteral("work")));
    process.start(QString::fromLocal8Bit(binary),
                  {QStringLiteral("-P:Source=in/*.ppt?;Target=out;PureConsole=True")});
    ASSERT_TRUE(process.waitForFinished(240000));
    const QString output =
        QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 0) << output.toStdString();

    // pdfinfo takes the name as text, so the checks read it under a plain name.
    const QByteArray target =
        QFile::encodeName(QDir::cleanPath(tree.path(QStringLiteral("work/out")))) + "/r\xE9sum\xE9.pdf";
    const QString plain = tree.path(QStringLiteral("plain.pdf"));
    ASSERT_EQ(::rename(target.constData(), QFile::encodeName(plain).constData()), 0) << output.toStdString();
    EXPECT_EQ(pageCount(plain), 3);
    EXPECT_TRUE(pdfText(plain).contains(QStringLiteral("Revenue up 12 percent")));
    // Qt's own removal cannot name the deck, so the test removes it before its folder goes.
    ::unlink(deck.constData());
}

// The office applies even the "Always" entries of its replacement table, the only ones it applies at all, to
// fonts the machine has: the program's table names only the fonts the machine lacks. Here the font folder of
// the test's own user holds DejaVu Serif renamed "Calibri Light" (the user's fontconfig settings rename it as
// fontconfig reads the folder): the deck's heading keeps that real font; without it, it is set in Carlito.
TEST(ProgramOffice, TheReplacementTableLeavesAFontTheMachineHas)
{
    const QByteArray binary = qgetenv("VELLUM_BINARY");
    if (binary.isEmpty())
        GTEST_SKIP() << "VELLUM_BINARY not set";
    const QString serif = run(QStringLiteral("fc-match"), {QStringLiteral("-f"), QStringLiteral("%{file}"),
                                                           QStringLiteral("DejaVu Serif")});
    if (!serif.contains(QLatin1String("DejaVuSerif")))
        GTEST_SKIP() << "DejaVu Serif is not installed";
    TempTree tree;
    const QString deck = tree.mkdir(QStringLiteral("in")) + QStringLiteral("fonts-office.pptx");
    ASSERT_TRUE(QFile::copy(kData + QStringLiteral("/fonts-office.pptx"), deck));
    for (const bool installed : {false, true}) {
        SCOPED_TRACE(installed ? "Calibri Light installed" : "Calibri Light missing");
        const QString name = installed ? QStringLiteral("with") : QStringLiteral("without");
        const QString root = tree.mkdir(name);
        // The user's own font folder and fontconfig settings, which the office reads as the program does.
        if (installed) {
            const QString fonts = tree.mkdir(name + QStringLiteral("/home/data/fonts"));
            ASSERT_TRUE(QFile::copy(serif, fonts + QStringLiteral("DejaVuSerif.ttf")));
        }
        tree.write(name + QStringLiteral("/home/config/fontconfig/fonts.conf"),
                   "<?xml version=\"1.0\"?><!DOCTYPE fontconfig SYSTEM \"fonts.dtd\"><fontconfig>"
                   "<match target=\"scan\"><test name=\"family\"><string>DejaVu Serif</string></test>"
                   "<edit name=\"family\" mode=\"assign\" binding=\"same\"><string>Calibri Light</string>"
                   "</edit></match></fontconfig>");
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), root + QStringLiteral("home"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root + QStringLiteral("home/data"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root + QStringLiteral("home/config"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), root + QStringLiteral("home/cache"));
        env.remove(QStringLiteral("FONTCONFIG_FILE"));
        process.setProcessEnvironment(env);
        process.start(QString::fromLocal8Bit(binary),
                      {QStringLiteral("-P:Source=%1;Target=%2out;PureConsole=True").arg(deck, root)});
        ASSERT_TRUE(process.waitForFinished(240000));
        const QString output =
            QString::fromLocal8Bit(process.readAllStandardOutput() + process.readAllStandardError());
        ASSERT_EQ(process.exitCode(), 0) << output.toStdString();
        const QString result = root + QStringLiteral("out/fonts-office.pdf");
        ASSERT_EQ(pageCount(result), 1) << output.toStdString();
        const QStringList embedded = embeddedFonts(result);
        EXPECT_EQ(embedded.contains(QStringLiteral("DejaVuSerif")), installed)
            << embedded.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(embedded.contains(QStringLiteral("Carlito")))
            << embedded.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(embedded.join(QLatin1Char(' ')).contains(QLatin1String("DejaVuSans")))
            << embedded.join(QLatin1Char(' ')).toStdString();
    }
}

// ---- decks from strangers -------------------------------------------------------------------------------

// A web server on the loopback address that answers every request with a small picture and counts the
// connections made to it.
class CountingServer
{
public:
    CountingServer()
    {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(FSocket, 16) == 0 &&
            ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            Port = ntohs(address.sin_port);
        FThread = std::thread([this] {
            for (;;) {
                const int client = ::accept(FSocket, nullptr, nullptr);
                if (client < 0)
                    return;
                ++Requests;
                // A 1x1 picture, so that a link that is followed shows in the PDF.
                static const QByteArray picture =
                    QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQVR4nGP4z8AAA"
                                           "AMBAQDJ/pLvAAAAAElFTkSuQmCC");
                const QByteArray answer = "HTTP/1.0 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                                          QByteArray::number(picture.size()) + "\r\n\r\n" + picture;
                char buffer[4096];
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                const QByteArray request(buffer, int(std::max<ssize_t>(n, 0)));
                QByteArray reply = answer;
                if (request.startsWith("GET /deck.pptx "))
                    reply = "HTTP/1.0 200 OK\r\nContent-Length: " + QByteArray::number(Deck.size()) +
                            "\r\n\r\n" + Deck;
                else if (request.startsWith("GET /missing.pptx "))
                    reply = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
                (void)::send(client, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
                ::close(client);
            }
        });
    }
    ~CountingServer()
    {
        ::shutdown(FSocket, SHUT_RDWR);
        FThread.join();
        ::close(FSocket);
    }
    QString Address() const { return QStringLiteral("http://127.0.0.1:%1/").arg(Port); }

    int Port = 0;
    std::atomic<int> Requests{0};
    QByteArray Deck; // served as /deck.pptx; /missing.pptx is not found

private:
    int FSocket = -1;
    std::thread FThread;
};

// Decks of tools/make-hostile-decks.py, made into `folder`; answers false when Python could not make them.
bool makeHostileDecks(const QString& folder, const QStringList& names, const QString& link = QString(),
                      const QString& filePicture = QString())
{
    QStringList args = {QStringLiteral(VELLUM_SOURCE_DIR "/tools/make-hostile-decks.py"), folder,
                        QStringLiteral("--only"), names.join(QLatin1Char(','))};
    if (!link.isEmpty())
        args << QStringLiteral("--link") << link;
    if (!filePicture.isEmpty())
        args << QStringLiteral("--file-picture") << filePicture;
    return QProcess::execute(QStringLiteral("python3"), args) == 0;
}

TEST_F(OfficeTest, DecksFromStrangersReachNoServerAndNoFileOfTheUser)
{
    CountingServer server;
    ASSERT_GT(server.Port, 0);
    // A picture of the user's, as a deck could link it by its path.
    const QString secret =
        tree.write(QStringLiteral("private/secret.png"),
                   QByteArray::fromBase64("iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAIAAACQd1PeAAAADElEQV"
                                          "R4nGP4z8AAAAMBAQDJ/pLvAAAAAElFTkSuQmCC"));
    const QStringList names = {QStringLiteral("linked-picture"), QStringLiteral("linked-background"),
                               QStringLiteral("linked-ole"), QStringLiteral("file-picture")};
    ASSERT_TRUE(makeHostileDecks(in, names, server.Address(), secret));
    bool isolated = true;
    QString why;
    hook([&](const QString&) {
        std::lock_guard g(lock);
        isolated = isolated && threadOffice()->Isolated();
        why = threadOffice()->NotIsolatedReason();
    });
    QStringList files;
    for (const QString& name : names)
        files << in + name + QStringLiteral(".pptx");
    convert(files);
    if (!isolated)
        GTEST_SKIP() << "offices cannot be isolated here: " << why.toStdString();

    ASSERT_EQ(reported.size(), 4);
    for (const QString& name : names) {
        const QString file = name + QStringLiteral(".pptx");
        EXPECT_EQ(outcomes[file].State, isDone) << file.toStdString() << outcomes[file].Result.toStdString();
        EXPECT_EQ(pageCount(pdf(file)), 3) << file.toStdString();
        EXPECT_TRUE(pdfText(pdf(file)).contains(QStringLiteral("Revenue up 12 percent")))
            << file.toStdString();
        EXPECT_FALSE(outcomes[file].Note.contains(QStringLiteral("not isolated")))
            << outcomes[file].Note.toStdString();
    }
    // Nothing was fetched, and the user's picture is not in the PDF; the notes say what the PDFs lack.
    EXPECT_EQ(server.Requests, 0);
    for (const QString& name : {QStringLiteral("linked-picture.pptx"), QStringLiteral("file-picture.pptx")})
        EXPECT_EQ(outcomes[name].Note, QStringLiteral("Pictures left out: slide 1 (unreadable or linked)"))
            << name.toStdString();
    EXPECT_TRUE(imageSizes(pdf(QStringLiteral("file-picture.pptx"))).empty());
}

TEST_F(OfficeTest, PicturesTheOfficeCannotDrawAreNamedInTheNoteOfASucceededItem)
{
    ASSERT_TRUE(makeHostileDecks(in, {QStringLiteral("huge-picture"), QStringLiteral("doctype-slide")}));
    const QString plain =
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("plain.pptx"));
    convert({in + QStringLiteral("huge-picture.pptx"), in + QStringLiteral("doctype-slide.pptx"), plain});
    ASSERT_EQ(reported.size(), 3);
    for (const auto& [name, outcome] : outcomes) {
        EXPECT_EQ(outcome.State, isDone) << name.toStdString() << outcome.Result.toStdString();
        EXPECT_EQ(pageCount(pdf(name)), 3) << name.toStdString();
    }
    // The 40000x40000 picture is not in the PDF, the slide's text is, and the note says what is missing.
    const QString huge = QStringLiteral("huge-picture.pptx");
    EXPECT_TRUE(imageSizes(pdf(huge)).empty());
    EXPECT_TRUE(pdfText(pdf(huge)).contains(QStringLiteral("Revenue up 12 percent")));
    EXPECT_EQ(outcomes[huge].Note,
              QStringLiteral("Pictures left out: slide 1 (40000x40000 pixels, too large for the office)"));
    // A slide whose part carries a DOCTYPE keeps its text; a deck with all its pictures says nothing.
    EXPECT_TRUE(
        pdfText(pdf(QStringLiteral("doctype-slide.pptx"))).contains(QStringLiteral("Churn below 3 percent")));
    EXPECT_EQ(outcomes[QStringLiteral("doctype-slide.pptx")].Note, QString());
    EXPECT_EQ(outcomes[QStringLiteral("plain.pptx")].Note, QString());
}

TEST_F(OfficeTest, WhereOfficesCannotBeIsolatedTheRunSaysSoOnce)
{
    qputenv("VELLUM_NO_ISOLATION", "1");
    QStringList files;
    for (int i = 0; i < 3; ++i)
        files << copy(kSamples + QStringLiteral("/quarterly-review.pptx"),
                      QStringLiteral("deck-%1.pptx").arg(i));
    convert(files, 2);
    qunsetenv("VELLUM_NO_ISOLATION");
    ASSERT_EQ(reported.size(), 3);
    int told = 0;
    for (const auto& [name, outcome] : outcomes) {
        EXPECT_EQ(outcome.State, isDone) << name.toStdString() << outcome.Result.toStdString();
        EXPECT_EQ(pageCount(pdf(name)), 3);
        if (outcome.Isolation.contains(
                QStringLiteral("Offices are not isolated here: isolation is switched off")))
            ++told;
    }
    EXPECT_EQ(told, 1);
}

TEST_F(OfficeTest, WebSourcesAreFetchedByTheProgramAndSayWhyTheyFail)
{
    // The program's downloads run Qt's event loops, as the window and the console provide them.
    int argc = 1;
    char name[] = "test_office";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    CountingServer server;
    ASSERT_GT(server.Port, 0);
    server.Deck = readAll(kSamples + QStringLiteral("/quarterly-review.pptx"));
    const QString deck = server.Address() + QStringLiteral("deck.pptx");
    const QString missing = server.Address() + QStringLiteral("missing.pptx");
    const QString nowhere = QStringLiteral("http://vellum-no-such-host.invalid/deck.pptx");
    for (const QString& source : {deck, missing, nowhere}) {
        reported.clear();
        outcomes.clear();
        TdvBatch batch;
        batch.AddSingleSource(source);
        TdvRun run(projectRunOptions(), &batch, out, this, &vellumClass);
        run.Start();
        run.Wait();
        ASSERT_EQ(reported.size(), 1) << source.toStdString();
        const Outcome outcome = outcomes.begin()->second;
        if (source == deck) {
            EXPECT_EQ(outcome.State, isDone) << outcome.Result.toStdString();
            EXPECT_EQ(pageCount(outcome.Result), 3);
            EXPECT_TRUE(pdfText(outcome.Result).contains(QStringLiteral("Revenue up 12 percent")));
            continue;
        }
        EXPECT_EQ(outcome.State, isFailed) << source.toStdString();
        const QString expected =
            source == missing ? QStringLiteral("HTTP 404 Not Found") : QStringLiteral("not found");
        EXPECT_TRUE(outcome.Result.startsWith(
            QStringLiteral("The presentation at %1 cannot be downloaded: ").arg(source)))
            << outcome.Result.toStdString();
        EXPECT_TRUE(outcome.Result.contains(expected)) << outcome.Result.toStdString();
    }
    // Only this program asked: one request for each of the two addresses on this machine.
    EXPECT_EQ(server.Requests, 2);
    // Nothing of the downloads is left beside the PDF.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

// The largest address space any office process of this test program has had (VmPeak), in KiB.
qint64 largestOffice()
{
    qint64 largest = 0;
    for (const qint64 pid : processesNaming(QFile::encodeName(gTempRoot))) {
        for (const QByteArray& line : readAll(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
            if (line.startsWith("VmPeak:"))
                largest = std::max(largest, line.mid(7).trimmed().split(' ').value(0).toLongLong());
    }
    return largest;
}

TEST_F(OfficeTest, ADeckThatNeedsMoreMemoryThanTheLimitFailsAndTheNextConvertsOnAFreshOffice)
{
    ASSERT_TRUE(makeHostileDecks(in, {QStringLiteral("memory-bomb")}));
    const QStringList files = {
        in + QStringLiteral("memory-bomb.pptx"),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("next.pptx"))};
    gProject->SetOption(QStringLiteral("OfficeMemoryLimit"), QStringLiteral("1200"));
    hook({});
    std::atomic<bool> running{true};
    std::atomic<qint64> largest{0};
    std::thread sampler([&] {
        while (running) {
            largest = std::max<qint64>(largest, largestOffice());
            QThread::msleep(100);
        }
    });
    convert(files);
    running = false;
    sampler.join();
    gProject->SetOption(QStringLiteral("OfficeMemoryLimit"), QString());

    ASSERT_EQ(reported.size(), 2);
    const Outcome bomb = outcomes[QStringLiteral("memory-bomb.pptx")];
    EXPECT_EQ(bomb.State, isFailed);
    EXPECT_EQ(bomb.Result, QStringLiteral("The presentation needs more than 1200 MiB to convert"));
    EXPECT_FALSE(QFileInfo::exists(pdf(QStringLiteral("memory-bomb.pptx"))));
    EXPECT_EQ(outcomes[QStringLiteral("next.pptx")].State, isDone)
        << outcomes[QStringLiteral("next.pptx")].Result.toStdString();
    EXPECT_EQ(pageCount(pdf(QStringLiteral("next.pptx"))), 3);
    // The next deck had an office of its own, and no office grew past the limit.
    EXPECT_NE(officeOf[QStringLiteral("memory-bomb.pptx")], officeOf[QStringLiteral("next.pptx")]);
    EXPECT_GT(largest, 0);
    EXPECT_LE(largest, 1200 * 1024);
}

// ---- offices on other machines ---------------------------------------------------------------------------

// A free port on the loopback address, as the system hands one out.
int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool portAnswers(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    const bool up = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return up;
}

bool namespacesWork()
{
    return QProcess::execute(QStringLiteral("unshare"),
                             {QStringLiteral("--user"), QStringLiteral("--map-root-user"),
                              QStringLiteral("--mount"), QStringLiteral("true")}) == 0;
}

// The program's own office listener, in a user and mount namespace of its own where `hidden` (the folder
// of this test's decks and PDFs) lies under an empty file system: what it converts can only have come as a
// stream, and its PDFs can only go back as one. It listens on a free port of 127.0.0.1, or on `address`
// ("unix:PATH"), with `options` ("-P:Timeout=5").
class Listener
{
public:
    Listener(const QString& hidden, const QStringList& options = {}, const QString& address = {})
        : Port(address.isEmpty() ? freePort() : 0),
          FAddress(address.isEmpty() ? QStringLiteral("127.0.0.1:%1").arg(Port) : address)
    {
        const QString program = QString::fromLocal8Bit(qgetenv("VELLUM_BINARY"));
        FProcess.setProcessChannelMode(QProcess::MergedChannels);
        FProcess.start(QStringLiteral("unshare"),
                       QStringList{QStringLiteral("--user"), QStringLiteral("--map-root-user"),
                                   QStringLiteral("--mount"), QStringLiteral("sh"), QStringLiteral("-c"),
                                   QStringLiteral("mount -t tmpfs tmpfs \"$1\" && shift && exec \"$@\""),
                                   QStringLiteral("sh"), hidden, program, QStringLiteral("--office-server"),
                                   FAddress} +
                           options);
        // Up once it says so: before that the port may answer for the listener's own check of it.
        QElapsedTimer clock;
        clock.start();
        while (!FOutput.contains("Office listening on") && FProcess.state() != QProcess::NotRunning &&
               clock.elapsed() < 90000) {
            FProcess.waitForReadyRead(200);
            FOutput += FProcess.readAll();
        }
    }
    ~Listener() { Stop(); }
    bool Up() const { return FProcess.state() == QProcess::Running && (Port == 0 || portAnswers(Port)); }
    QString Address() const { return FAddress; }
    // As a crash or a kill of the whole listener would: its guardian then ends its office.
    void Kill() { ::kill(pid_t(FProcess.processId()), SIGKILL); }
    void Stop()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(FProcess.processId()), SIGTERM);
        if (!FProcess.waitForFinished(30000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }
    QString Output()
    {
        FOutput += FProcess.readAll();
        return QString::fromLocal8Bit(FOutput);
    }
    // The office it names in its last "Office listening" line, once there are `count` of them; 0 when none.
    pid_t OfficePid(int count = 1)
    {
        static const QRegularExpression line(QStringLiteral("Office listening on \\S+ \\(pid (\\d+)\\)"));
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            QList<pid_t> pids;
            for (QRegularExpressionMatchIterator it = line.globalMatch(Output()); it.hasNext();)
                pids << pid_t(it.next().captured(1).toInt());
            if (pids.size() >= count)
                return pids.last();
            if (clock.elapsed() > 90000 || FProcess.state() == QProcess::NotRunning)
                return 0;
            FProcess.waitForReadyRead(200);
        }
    }

    const int Port;

private:
    const QString FAddress;
    QProcess FProcess;
    QByteArray FOutput;
};

class RemoteTest : public OfficeTest
{
protected:
    void SetUp() override
    {
        if (qgetenv("VELLUM_BINARY").isEmpty())
            GTEST_SKIP() << "VELLUM_BINARY is not set";
        if (!namespacesWork())
            GTEST_SKIP() << "user namespaces are not allowed here";
        gProject->SetOption(QStringLiteral("ConnectTimeout"), QStringLiteral("10"));
    }
    void TearDown() override
    {
        gProject->SetOption(QStringLiteral("OfficeServers"), QString());
        OfficeTest::TearDown();
    }
    // The folder above the test's decks and PDFs (and its per-user folders), hidden from the listeners.
    QString hidden() const { return QFileInfo(QDir::cleanPath(tree.path())).absolutePath(); }
};

TEST_F(RemoteTest, ListenersConvertDecksTheyCannotSee)
{
    Listener a(hidden()), b(hidden());
    ASSERT_TRUE(a.Up()) << a.Output().toStdString();
    ASSERT_TRUE(b.Up()) << b.Output().toStdString();
    gProject->SetOption(QStringLiteral("OfficeServers"), a.Address() + QLatin1Char(' ') + b.Address());
    const QString password = QStringLiteral("Password_Protected-np-hello.ppt");
    const QString odd = QStringLiteral("Notes #1 100% Überblick.pptx");
    const QStringList files = {
        copy(corpusDir() + QStringLiteral("/pptx/sld-notes.pptx"), QStringLiteral("sld-notes.pptx")),
        copy(corpusDir() + QStringLiteral("/poi/bug58516.ppt"), QStringLiteral("bug58516.ppt")),
        copy(corpusDir() + QStringLiteral("/poi/") + password, password),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), odd),
        copy(kData + QStringLiteral("/review-comment.pptx"), QStringLiteral("review-comment.pptx")),
        copy(kData + QStringLiteral("/fonts-company.pptx"), QStringLiteral("fonts-company.pptx")),
    };
    convert(files);
    ASSERT_EQ(reported.size(), 6);
    for (const QString& name : {QStringLiteral("sld-notes.pptx"), QStringLiteral("bug58516.ppt"), odd})
        EXPECT_EQ(outcomes[name].State, isDone) << name.toStdString() << outcomes[name].Result.toStdString();
    const int notesPages = corpusPages(QStringLiteral("pptx/sld-notes.pptx"));
    const int bugPages = corpusPages(QStringLiteral("poi/bug58516.ppt"));
    ASSERT_GT(notesPages, 0);
    ASSERT_GT(bugPages, 0);
    EXPECT_EQ(pageCount(pdf(QStringLiteral("sld-notes.pptx"))), notesPages);
    EXPECT_EQ(pageCount(pdf(QStringLiteral("bug58516.ppt"))), bugPages);
    EXPECT_EQ(pageCount(pdf(odd)), 3);
    EXPECT_TRUE(pdfText(pdf(odd)).contains(QStringLiteral("Revenue up 12 percent")));
    // A deck the office cannot open fails as it does on a local office.
    EXPECT_EQ(outcomes[password].State, isFailed);
    EXPECT_TRUE(outcomes[password].Result.contains(QStringLiteral("password")))
        << outcomes[password].Result.toStdString();
    // The listener's office keeps comments out and tells which fonts stood in, as a local one does.
    EXPECT_FALSE(hasCommentAnnotation(pdf(QStringLiteral("review-comment.pptx"))));
    EXPECT_TRUE(outcomes[QStringLiteral("review-comment.pptx")].Note.isEmpty());
    EXPECT_TRUE(outcomes[QStringLiteral("fonts-company.pptx")].Note.startsWith(
        QStringLiteral("Font not installed: Acme Corporate Sans (set in ")))
        << outcomes[QStringLiteral("fonts-company.pptx")].Note.toStdString();
    // Nothing of the work is left beside the PDFs.
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 5);

    // Notes pages travel too.
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("True"));
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("True"));
    const QString slidesText = pdfText(pdf(odd));
    convert({files[3]});
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("False"));
    EXPECT_EQ(outcomes[odd].State, isDone) << outcomes[odd].Result.toStdString();
    EXPECT_NE(pdfText(pdf(odd)), slidesText);
    EXPECT_TRUE(pdfText(pdf(odd)).contains(QStringLiteral("Mention the retail pilot before the numbers")));
}

TEST_F(RemoteTest, AListenerKilledMidRunFailsAtMostItsItem)
{
    Listener a(hidden()), b(hidden());
    ASSERT_TRUE(a.Up()) << a.Output().toStdString();
    ASSERT_TRUE(b.Up()) << b.Output().toStdString();
    gProject->SetOption(QStringLiteral("OfficeServers"), a.Address() + QLatin1Char(' ') + b.Address());
    QStringList files;
    for (int i = 0; i < 8; ++i)
        files.append(
            copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("deck-%1.pptx").arg(i)));
    // Killed while the run goes on, after the first PDF came back.
    std::thread killer([&] {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            {
                std::lock_guard g(lock);
                if (!reported.isEmpty())
                    break;
            }
            if (clock.elapsed() > 120000)
                break;
            QThread::msleep(20);
        }
        a.Kill();
    });
    convert(files);
    killer.join();

    // Every item once, at most one lost with the listener, and that one says so.
    ASSERT_EQ(reported.size(), 8);
    EXPECT_EQ(QSet<QString>(reported.begin(), reported.end()).size(), 8);
    int failed = 0;
    for (const auto& [name, outcome] : outcomes) {
        if (outcome.State == isDone) {
            EXPECT_EQ(pageCount(pdf(name)), 3) << name.toStdString();
            continue;
        }
        ++failed;
        EXPECT_TRUE(outcome.Result.contains(a.Address())) << outcome.Result.toStdString();
    }
    EXPECT_LE(failed, 1) << [&] {
        QString all;
        for (const QString& name : std::as_const(reported))
            all += QStringLiteral("\n%1: %2").arg(name, outcomes[name].Result);
        return all.toStdString();
    }();
    EXPECT_EQ(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 8 - failed);
}

TEST_F(RemoteTest, ATimedOutRemoteItemDropsItsConnectionAndTheNextItemReconnects)
{
    Listener a(hidden());
    ASSERT_TRUE(a.Up()) << a.Output().toStdString();
    const pid_t office = a.OfficePid();
    ASSERT_GT(office, 0);
    gProject->SetOption(QStringLiteral("OfficeServers"), a.Address());
    // A deck its office never finishes (it is stopped as the deck reaches it), then two quick ones on the
    // same listener, which meet a fresh office: the limit leaves room for its first deck on a busy machine.
    hook([&](const QString& source) {
        if (source.endsWith(QLatin1String("slow.pptx")))
            ::kill(office, SIGSTOP);
    });
    gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("10"));
    gProject->SetOption(QStringLiteral("ConnectTimeout"), QStringLiteral("60"));
    const QStringList files = {
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("slow.pptx")),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("b.pptx")),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("c.pptx"))};
    convert(files);
    gProject->SetOption(QStringLiteral("Timeout"), QString());
    gProject->SetOption(QStringLiteral("ConnectTimeout"), QString());
    ASSERT_EQ(reported.size(), 3);
    EXPECT_EQ(outcomes[QStringLiteral("slow.pptx")].State, isFailed);
    EXPECT_EQ(outcomes[QStringLiteral("slow.pptx")].Result,
              QStringLiteral("Conversion timed out after 10 s"));
    for (const QString& name : {QStringLiteral("b.pptx"), QStringLiteral("c.pptx")}) {
        EXPECT_EQ(outcomes[name].State, isDone) << outcomes[name].Result.toStdString();
        EXPECT_EQ(pageCount(pdf(name)), 3);
    }
    EXPECT_FALSE(QFileInfo::exists(pdf(QStringLiteral("slow.pptx"))));
}

TEST_F(RemoteTest, AListenerThatNeverAnswersFailsItsItemsNamingIt)
{
    // Takes connections (the system does, for a socket that listens) but never says a word.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(::listen(fd, 8), 0);
    ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const QString silent = QStringLiteral("127.0.0.1:%1").arg(ntohs(address.sin_port));
    const QString refusing = QStringLiteral("127.0.0.1:%1").arg(freePort());

    gProject->SetOption(QStringLiteral("ConnectTimeout"), QStringLiteral("1"));
    gProject->SetOption(QStringLiteral("OfficeServers"), silent + QLatin1Char(' ') + refusing);
    const QStringList files = {
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("a.pptx")),
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("b.pptx"))};
    QElapsedTimer clock;
    clock.start();
    convert(files);
    EXPECT_LT(clock.elapsed(), 60000);
    ASSERT_EQ(reported.size(), 2);
    for (const auto& [name, outcome] : outcomes) {
        EXPECT_EQ(outcome.State, isFailed) << name.toStdString();
        EXPECT_TRUE(outcome.Result.contains(QStringLiteral("%1 did not answer within 1 s").arg(silent)))
            << outcome.Result.toStdString();
        EXPECT_TRUE(
            outcome.Result.contains(refusing + QStringLiteral(" cannot be reached: Connection refused")))
            << outcome.Result.toStdString();
    }

    // Beside an office of this machine, the silent listener only loses its turn.
    reported.clear();
    outcomes.clear();
    gProject->SetOption(QStringLiteral("OfficeServers"), QStringLiteral("local ") + silent);
    convert(files);
    ASSERT_EQ(reported.size(), 2);
    for (const auto& [name, outcome] : outcomes) {
        EXPECT_EQ(outcome.State, isDone) << name.toStdString() << outcome.Result.toStdString();
        EXPECT_EQ(pageCount(pdf(name)), 3);
    }
    ::close(fd);
}

// ---- decks of any size, listeners that misbehave ---------------------------------------------------------

// The CRC-32 of a zip entry.
quint32 crc32(const QByteArray& data)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 i = 0; i < 256; ++i) {
            quint32 c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (const char byte : data)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void putLe(QByteArray& to, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        to.append(char((value >> (8 * i)) & 0xff));
}

// A zip of stored entries (a .pptx is a zip), below 4 GiB.
bool writeZip(const QString& path, const QList<std::pair<QByteArray, QByteArray>>& entries)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray central;
    for (const auto& [name, data] : entries) {
        const quint32 offset = quint32(file.pos());
        const quint32 crc = crc32(data);
        QByteArray local;
        for (QByteArray* header : {&local, &central}) {
            const bool inCentral = header == &central;
            putLe(*header, inCentral ? 0x02014b50 : 0x04034b50, 4);
            if (inCentral)
                putLe(*header, 20, 2); // made by
            putLe(*header, 20, 2);     // needed to extract
            putLe(*header, 0, 2);      // flags
            putLe(*header, 0, 2);      // stored
            putLe(*header, 0, 2);      // time
            putLe(*header, 0x21, 2);   // 1 January 1980
            putLe(*header, crc, 4);
            putLe(*header, quint32(data.size()), 4);
            putLe(*header, quint32(data.size()), 4);
            putLe(*header, quint32(name.size()), 2);
            putLe(*header, 0, 2); // extra
            if (inCentral) {
                putLe(*header, 0, 2); // comment
                putLe(*header, 0, 2); // disk
                putLe(*header, 0, 2); // internal attributes
                putLe(*header, 0, 4); // external attributes
                putLe(*header, offset, 4);
            }
            header->append(name);
        }
        file.write(local);
        file.write(data);
    }
    const quint32 at = quint32(file.pos());
    file.write(central);
    QByteArray end;
    putLe(end, 0x06054b50, 4);
    putLe(end, 0, 4);
    putLe(end, quint32(entries.size()), 2);
    putLe(end, quint32(entries.size()), 2);
    putLe(end, quint32(central.size()), 4);
    putLe(end, at, 4);
    putLe(end, 0, 2);
    return file.write(end) == end.size() && file.flush();
}

// A photo of noise at the best JPEG quality: no compression makes it smaller (about 2 bytes a pixel).
QByteArray noisePhoto(int side, quint32 seed)
{
    QImage image(side, side, QImage::Format_RGB32);
    QRandomGenerator random(seed);
    for (int y = 0; y < side; ++y) {
        auto* line = reinterpret_cast<quint32*>(image.scanLine(y));
        for (int x = 0; x < side; ++x)
            line[x] = 0xff000000u | (random.generate() & 0xffffffu);
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 100);
    return bytes;
}

// A deck whose every slide has the title "Harbour survey N" and a photo of noise (`side` pixels square).
bool writePhotoDeck(const QString& path, int slides, int side)
{
    const QByteArray ns = "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                          "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";
    const QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>";
    const QByteArray rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    const QByteArray type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    QByteArray types = xml + "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                             "<Default Extension=\"rels\" ContentType=\"application/"
                             "vnd.openxmlformats-package.relationships+xml\"/>"
                             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                             "<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/>"
                             "<Override PartName=\"/ppt/presentation.xml\" ContentType=\"application/"
                             "vnd.openxmlformats-officedocument.presentationml.presentation.main+xml\"/>";
    QByteArray list, links;
    QList<std::pair<QByteArray, QByteArray>> parts;
    for (int i = 1; i <= slides; ++i) {
        const QByteArray n = QByteArray::number(i);
        types +=
            "<Override PartName=\"/ppt/slides/slide" + n +
            ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.presentationml.slide+xml\"/>";
        list += "<p:sldId id=\"" + QByteArray::number(255 + i) + "\" r:id=\"rId" + n + "\"/>";
        links += "<Relationship Id=\"rId" + n + "\" Type=\"" + type + "slide\" Target=\"slides/slide" + n +
                 ".xml\"/>";
        parts.append(
            {"ppt/slides/slide" + n + ".xml",
             xml + "<p:sld " + ns +
                 "><p:cSld><p:spTree><p:nvGrpSpPr><p:cNvPr id=\"1\" name=\"\"/><p:cNvGrpSpPr/><p:nvPr/>"
                 "</p:nvGrpSpPr><p:grpSpPr/><p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"Title\"/><p:cNvSpPr "
                 "txBox=\"1\"/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"914400\" y=\"457200\"/><a:ext "
                 "cx=\"7315200\" cy=\"1143000\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></"
                 "p:spPr><p:txBody><a:bodyPr/><a:lstStyle/><a:p><a:r><a:rPr lang=\"en-US\" sz=\"3200\"/><a:t>"
                 "Harbour survey " +
                 n +
                 "</a:t></a:r></a:p></p:txBody></p:sp><p:pic><p:nvPicPr><p:cNvPr id=\"3\" name=\"Photo\"/>"
                 "<p:cNvPicPr/><p:nvPr/></p:nvPicPr><p:blipFill><a:blip r:embed=\"rId1\"/><a:stretch>"
                 "<a:fillRect/></a:stretch></p:blipFill><p:spPr><a:xfrm><a:off x=\"914400\" y=\"1828800\"/>"
                 "<a:ext cx=\"4572000\" cy=\"4572000\"/></a:xfrm><a:prstGeom prst=\"rect\"><a:avLst/>"
                 "</a:prstGeom></p:spPr></p:pic></p:spTree></p:cSld></p:sld>"});
        parts.append({"ppt/slides/_rels/slide" + n + ".xml.rels",
                      xml + rels + "<Relationship Id=\"rId1\" Type=\"" + type +
                          "image\" Target=\"../media/photo" + n + ".jpeg\"/></Relationships>"});
        parts.append({"ppt/media/photo" + n + ".jpeg", noisePhoto(side, quint32(i))});
    }
    parts.prepend({"ppt/_rels/presentation.xml.rels", xml + rels + links + "</Relationships>"});
    parts.prepend(
        {"ppt/presentation.xml", xml + "<p:presentation " + ns + "><p:sldIdLst>" + list +
                                     "</p:sldIdLst><p:sldSz cx=\"9144000\" cy=\"6858000\"/><p:notesSz "
                                     "cx=\"6858000\" cy=\"9144000\"/></p:presentation>"});
    parts.prepend({"_rels/.rels", xml + rels + "<Relationship Id=\"rId1\" Type=\"" + type +
                                      "officeDocument\" Target=\"ppt/presentation.xml\"/></Relationships>"});
    parts.prepend({"[Content_Types].xml", types + "</Types>"});
    return writeZip(path, parts);
}

// A figure of this process's memory from /proc/self/status, in KiB: "VmRSS" now, "VmHWM" its peak.
qint64 memoryKiB(const char* field)
{
    for (const QByteArray& line : readAll(QStringLiteral("/proc/self/status")).split('\n'))
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qsizetype(strlen(field)) + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// Makes the present size the peak, so that VmHWM tells the peak of what follows.
bool resetPeakMemory()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

TEST_F(RemoteTest, ADeckLargerThan64MBGoesInPiecesAndTheClientStaysSmall)
{
    Listener a(hidden());
    ASSERT_TRUE(a.Up()) << a.Output().toStdString();
    gProject->SetOption(QStringLiteral("OfficeServers"), a.Address());
    const QString deck = in + QStringLiteral("harbour survey.pptx");
    ASSERT_TRUE(writePhotoDeck(deck, 4, 3000));
    const qint64 size = QFileInfo(deck).size();
    ASSERT_GT(size, qint64(64) << 20);

    ASSERT_TRUE(resetPeakMemory());
    const qint64 before = memoryKiB("VmRSS");
    convert({deck});
    const qint64 grown = memoryKiB("VmHWM") - before;
    // The deck went over and the PDF came back without a whole copy of either here.
    std::cout << "[ figures  ] a " << size / 1000000
              << " MB deck through a listener: the client's peak grew by " << grown / 1024 << " MiB"
              << std::endl;
    EXPECT_LT(grown, 64 * 1024);
    const QString name = QFileInfo(deck).fileName();
    ASSERT_EQ(outcomes[name].State, isDone) << outcomes[name].Result.toStdString();
    EXPECT_EQ(pageCount(pdf(name)), 4);
    const QString text = pdfText(pdf(name));
    EXPECT_TRUE(text.contains(QStringLiteral("Harbour survey 1")) &&
                text.contains(QStringLiteral("Harbour survey 4")))
        << text.toStdString();
    EXPECT_EQ(imageSizes(pdf(name)), (std::vector<std::pair<int, int>>(4, {3000, 3000})));
}

// Takes connections as a listener would and answers each with the header of a block of `claimed` bytes,
// then `sent` bytes of it, then waits for the client to give up.
class FakeListener
{
public:
    FakeListener(quint32 claimed, qint64 sent)
    {
        FSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(FSocket, 8) != 0 ||
            ::getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0 ||
            ::pipe2(FStop, O_CLOEXEC) != 0)
            ADD_FAILURE() << "no fake listener";
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this, claimed, sent] { serve(claimed, sent); });
    }
    ~FakeListener()
    {
        if (::write(FStop[1], "x", 1) != 1)
            ADD_FAILURE() << "the fake listener cannot be stopped";
        FThread.join();
        for (int fd : {FSocket, FStop[0], FStop[1]})
            ::close(fd);
    }
    QString Address() const { return QStringLiteral("127.0.0.1:%1").arg(FPort); }

private:
    // Waits up to 30 s for `fd` to be ready for `events`; false when stopped, or at the limit.
    bool ready(int fd, short events)
    {
        pollfd p[2] = {{fd, events, 0}, {FStop[0], POLLIN, 0}};
        return ::poll(p, 2, 30000) > 0 && !p[1].revents;
    }
    void serve(quint32 claimed, qint64 sent)
    {
        while (ready(FSocket, POLLIN)) {
            const int client = ::accept4(FSocket, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (client < 0)
                return;
            QByteArray bytes;
            for (const quint32 word : {claimed, 1u})
                for (int shift = 24; shift >= 0; shift -= 8)
                    bytes.append(char((word >> shift) & 0xff));
            bytes.append(QByteArray(int(std::min<qint64>(sent, 1 << 20)), '\xff'));
            for (qint64 left = 8 + sent; left > 0 && ready(client, POLLOUT);) {
                const ssize_t n = ::send(client, bytes.constData(),
                                         size_t(std::min<qint64>(left, bytes.size())), MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                left -= n;
                if (bytes.size() > 8 && bytes.at(0) != '\xff')
                    bytes.remove(0, 8); // the header went first; the rest is more of the same
            }
            char sink[4096];
            while (ready(client, POLLIN) && ::recv(client, sink, sizeof sink, 0) > 0) {
            }
            ::close(client);
        }
    }

    int FSocket = -1;
    int FStop[2] = {-1, -1};
    int FPort = 0;
    std::thread FThread;
};

TEST_F(OfficeTest, AListenerThatSendsHugeLengthsCostsTheClientLittleMemory)
{
    struct Case
    {
        quint32 claimed;
        qint64 sent;
        const char* said;
    };
    const Case cases[] = {
        {0x7ffffff0u, qint64(64) << 20,
         "cannot be reached: it sent a message of 2048 MiB, larger than any answer of an office (16 MiB)"},
        {0xffffffffu, qint64(64) << 20, "cannot be reached: "},
        // Within the limit: a block of garbage, and a length with nothing behind it.
        {12u << 20, qint64(12) << 20, "cannot be reached: "},
        {12u << 20, 0, "did not answer within 2 s"},
    };
    gProject->SetOption(QStringLiteral("ConnectTimeout"), QStringLiteral("2"));
    const QString deck = copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("a.pptx"));
    for (const Case& c : cases) {
        FakeListener fake(c.claimed, c.sent);
        gProject->SetOption(QStringLiteral("OfficeServers"), fake.Address());
        outcomes.clear();
        ASSERT_TRUE(resetPeakMemory());
        const qint64 before = memoryKiB("VmRSS");
        convert({deck});
        const qint64 grown = memoryKiB("VmHWM") - before;
        EXPECT_LT(grown, 64 * 1024) << "a block of " << c.claimed << " bytes";
        const Outcome& outcome = outcomes[QStringLiteral("a.pptx")];
        EXPECT_EQ(outcome.State, isFailed);
        EXPECT_TRUE(
            outcome.Result.contains(QStringLiteral("The office at %1 %2").arg(fake.Address(), c.said)))
            << outcome.Result.toStdString();
    }
    gProject->SetOption(QStringLiteral("OfficeServers"), QString());
    gProject->SetOption(QStringLiteral("ConnectTimeout"), QString());
    EXPECT_FALSE(QFileInfo::exists(pdf(deck)));
}

TEST_F(RemoteTest, AnOfficeStuckInADeckIsReplacedByItsListenerAndTheNextDeckConverts)
{
    // The office stops dead as the deck reaches it, as one caught in a deck would; the client's Timeout
    // drops the connection, or the listener's own shorter Timeout finds the office silent first.
    struct Case
    {
        QStringList listenerOptions;
        int clientTimeout;
        QString failure; // %1: the listener
        QString said;
    };
    const Case cases[] = {
        {{},
         2,
         QStringLiteral("Conversion timed out after 2 s"),
         QStringLiteral("Stopping the office on %1: a client left during a call; starting a new one")},
        {{QStringLiteral("-P:Timeout=10")},
         60,
         QStringLiteral("The connection to the office at %1 was lost"),
         QStringLiteral(
             "Stopping the office on %1: a client waited 10 s without a word from it (Timeout=10); "
             "starting a new one")},
    };
    std::atomic<pid_t> stuck{0};
    hook([&](const QString& source) {
        if (source.endsWith(QLatin1String("stuck.pptx")))
            ::kill(stuck, SIGSTOP);
    });
    // A fresh office may take a while to start on a busy machine.
    gProject->SetOption(QStringLiteral("ConnectTimeout"), QStringLiteral("60"));
    const QString deck =
        copy(kSamples + QStringLiteral("/quarterly-review.pptx"), QStringLiteral("stuck.pptx"));
    const QString next = copy(kSamples + QStringLiteral("/release-notes.pptx"), QStringLiteral("next.pptx"));
    for (const Case& c : cases) {
        Listener a(hidden(), c.listenerOptions);
        ASSERT_TRUE(a.Up()) << a.Output().toStdString();
        stuck = a.OfficePid();
        ASSERT_GT(stuck, 0);
        gProject->SetOption(QStringLiteral("OfficeServers"), a.Address());
        gProject->SetOption(QStringLiteral("Timeout"), QString::number(c.clientTimeout));
        outcomes.clear();
        convert({deck});
        EXPECT_EQ(outcomes[QStringLiteral("stuck.pptx")].State, isFailed);
        EXPECT_EQ(outcomes[QStringLiteral("stuck.pptx")].Result,
                  QString(c.failure).replace(QStringLiteral("%1"), a.Address()));

        // The stopped office would hold the next deck for ever: it converts, on another office.
        gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("60"));
        convert({next});
        EXPECT_EQ(outcomes[QStringLiteral("next.pptx")].State, isDone)
            << outcomes[QStringLiteral("next.pptx")].Result.toStdString();
        EXPECT_EQ(pageCount(pdf(next)), 2);
        EXPECT_NE(a.OfficePid(2), stuck);
        EXPECT_TRUE(a.Output().contains(c.said.arg(a.Address()))) << a.Output().toStdString();
    }
    gProject->SetOption(QStringLiteral("Timeout"), QString());
    EXPECT_FALSE(QFileInfo::exists(pdf(deck)));
}

TEST_F(RemoteTest, FailuresNameTheDeckAsOnAnOfficeHere)
{
    // The office cannot tell what this deck is; the other is too large for it to open at all (its bytes are
    // a hole in the file system: it costs no disk).
    const QString fuzz = QStringLiteral("clusterfuzz-testcase-minimized-POIFuzzer-6411649193738240.ppt");
    const QString huge = in + QStringLiteral("huge.pptx");
    QFile sparse(huge);
    ASSERT_TRUE(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(1) << 31));
    sparse.close();
    const QStringList files = {copy(corpusDir() + QStringLiteral("/poi/") + fuzz, fuzz), huge};

    Listener a(hidden());
    ASSERT_TRUE(a.Up()) << a.Output().toStdString();
    gProject->SetOption(QStringLiteral("OfficeServers"), a.Address());
    convert(files);
    const std::map<QString, Outcome> remote = outcomes;
    gProject->SetOption(QStringLiteral("OfficeServers"), QString());
    outcomes.clear();
    convert(files);
    for (const QString& name : {fuzz, QStringLiteral("huge.pptx")}) {
        EXPECT_EQ(remote.at(name).State, isFailed) << name.toStdString();
        EXPECT_EQ(remote.at(name).Result, outcomes[name].Result) << name.toStdString();
        EXPECT_FALSE(remote.at(name).Result.contains(QStringLiteral("private:stream")));
    }
    EXPECT_TRUE(remote.at(fuzz).Result.contains(QStringLiteral("/in/") + fuzz))
        << remote.at(fuzz).Result.toStdString();
    EXPECT_EQ(remote.at(QStringLiteral("huge.pptx")).Result,
              QStringLiteral("The presentation is 2.00 GiB; the office opens presentations below 2 GiB"));
}

TEST_F(RemoteTest, AListenerOnAUnixSocketServesThroughIt)
{
    // Its folder lies outside the part of the file system the listener does not see.
    QTemporaryDir folder(QStringLiteral("/tmp/vellum-socket-XXXXXX"));
    ASSERT_TRUE(folder.isValid());
    const QString socket = folder.path() + QStringLiteral("/office");
    {
        Listener a(hidden(), {}, QStringLiteral("unix:") + socket);
        ASSERT_TRUE(a.Up()) << a.Output().toStdString();
        EXPECT_TRUE(a.Output().contains(QStringLiteral("Office listening on unix:%1 (pid ").arg(socket)));
        // Only its user may connect to it.
        EXPECT_EQ(QFileInfo(socket).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
                  QFile::ReadOwner | QFile::WriteOwner);
        gProject->SetOption(QStringLiteral("OfficeServers"), QStringLiteral("unix:") + socket);
        const QString deck =
            copy(kSamples + QStringLiteral("/field-trip.ppt"), QStringLiteral("field-trip.ppt"));
        convert({deck});
        EXPECT_EQ(outcomes[QStringLiteral("field-trip.ppt")].State, isDone)
            << outcomes[QStringLiteral("field-trip.ppt")].Result.toStdString();
        EXPECT_EQ(pageCount(pdf(deck)), 2);
        EXPECT_TRUE(pdfText(pdf(deck)).contains(QStringLiteral("Bus leaves at 8:30")));
    }
    // Stopped, the listener takes its socket with it.
    EXPECT_FALSE(QFileInfo::exists(socket));
}

} // namespace
