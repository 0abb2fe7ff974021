// The presentation converter against fake automation objects registered under both ProgIDs: the order of
// the routes, the messages an item gets, the printer step's lock and printer, and the session's rules.
#include "conversion/dvAutomation.h"
#include "conversion/dvFonts.h"
#include "conversion/dvOffice.h"
#include "conversion/dvOfficeErrors.h"
#include "conversion/dvPictures.h"
#include "conversion/dvPowerPointOle.h"
#include "conversion/dvUrpWatch.h"
#include "conversion/dvVellum.h"
#include "engine/dvBatch.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"
#include "testSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <future>
#include <map>

namespace {

// What the fake office programs do, set per test, and what they were asked.
struct FakeWorld
{
    QString version = QStringLiteral("16.0");
    QString openFails;      // message of a failing Presentations.Open
    QString exportFails;    // message of a failing SaveAs / ExportAsFixedFormat
    bool suiteWorks = true; // the office-suite route stores the PDF
    QString suiteFamily = QStringLiteral("com.sun.star.presentation.PresentationDocument");
    QString printerFails; // message of a failing PrintOut
    bool printerWrites = false;
    QByteArray printed = "%PDF-1.4 fake\n"; // what a printer that writes writes
    QString activePrinterFails;             // message of a failing ActivePrinter read
    bool hasVBProject = false;

    QStringList calls;
    QString lastExportPath;
    std::vector<TdvVariant> lastExportArgs;
    bool lockHeldDuringPrint = false;
    int suiteLoads = 0;
    QStringList suiteUrls;
    QString suiteFilter;
    QStringList suiteFilterData; // "Name=Value" of the store's FilterData
};
FakeWorld* gWorld = nullptr;

void writePdf(const QString& path)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write("%PDF-1.4 fake\n");
}

// An object whose members are lambdas; every access is recorded as "Object.Member".
class FakeObject : public TdvAutoObject
{
public:
    using Member = std::function<TdvVariant(const std::vector<TdvVariant>&)>;
    explicit FakeObject(QString name) : FName(std::move(name)) {}

    FakeObject& on(const QString& member, Member fn)
    {
        FMembers[member.toLower()] = std::move(fn);
        return *this;
    }

    TdvVariant Get(const QString& name) override { return invoke(name, {}); }
    void Put(const QString& name, const TdvVariant& value) override
    {
        const auto it = FMembers.find(QStringLiteral("put:") + name.toLower());
        const QString text =
            value.GetKind() == TdvVariant::Kind::Array ? QStringLiteral("[array]") : value.ToText();
        gWorld->calls.append(FName + QLatin1Char('.') + name + QLatin1Char('=') + text);
        if (it == FMembers.end())
            throwUnknownMember(name);
        it->second({value});
    }
    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        return invoke(name, args);
    }

private:
    TdvVariant invoke(const QString& name, const std::vector<TdvVariant>& args)
    {
        gWorld->calls.append(FName + QLatin1Char('.') + name);
        const auto it = FMembers.find(name.toLower());
        if (it == FMembers.end())
            throwUnknownMember(name);
        return it->second(args);
    }

    QString FName;
    std::map<QString, Member> FMembers;
};

std::shared_ptr<FakeObject> fake(const QString& name)
{
    return std::make_shared<FakeObject>(name);
}

TdvVariant nothing(const std::vector<TdvVariant>&)
{
    return TdvVariant();
}

TdvBatch* gBatch = nullptr;

bool lockHeldElsewhere()
{
    return !std::async(std::launch::async, [] {
                const bool got = gBatch->Lock().try_lock();
                if (got)
                    gBatch->Lock().unlock();
                return got;
            }).get();
}

std::shared_ptr<TdvAutoObject> makePresentation()
{
    auto options = fake(QStringLiteral("PrintOptions"));
    options->on(QStringLiteral("put:ActivePrinter"), nothing);
    auto p = fake(QStringLiteral("Pres"));
    auto exportTo = [](const std::vector<TdvVariant>& args) {
        gWorld->lastExportPath = args.at(0).ToText();
        gWorld->lastExportArgs = args;
        if (!gWorld->exportFails.isEmpty())
            throw TdvAutomationError(
                QString(gWorld->exportFails).replace(QStringLiteral("{path}"), gWorld->lastExportPath));
        writePdf(gWorld->lastExportPath);
        return TdvVariant();
    };
    p->on(QStringLiteral("SaveAs"), exportTo)
        .on(QStringLiteral("ExportAsFixedFormat"), exportTo)
        .on(QStringLiteral("HasVBProject"), [](auto&) { return TdvVariant(gWorld->hasVBProject); })
        .on(QStringLiteral("PrintOptions"),
            [options](auto&) { return TdvVariant(std::static_pointer_cast<TdvAutoObject>(options)); })
        .on(QStringLiteral("PrintOut"),
            [](const std::vector<TdvVariant>& args) {
                EXPECT_EQ(args.size(), 1u);
                EXPECT_TRUE(args.at(0).IsMissing());
                gWorld->lockHeldDuringPrint = lockHeldElsewhere();
                if (!gWorld->printerFails.isEmpty())
                    throw TdvAutomationError(gWorld->printerFails);
                if (gWorld->printerWrites) {
                    QFile f(gWorld->lastExportPath);
                    if (f.open(QIODevice::WriteOnly))
                        f.write(gWorld->printed);
                }
                return TdvVariant();
            })
        .on(QStringLiteral("Close"), nothing);
    return p;
}

std::shared_ptr<TdvAutoObject> makeApplication()
{
    auto presentations = fake(QStringLiteral("Presentations"));
    presentations->on(QStringLiteral("Open"), [](const std::vector<TdvVariant>& args) {
        EXPECT_EQ(args.size(), 2u);
        if (!gWorld->openFails.isEmpty())
            throw TdvAutomationError(gWorld->openFails);
        return TdvVariant(makePresentation());
    });
    auto app = fake(QStringLiteral("App"));
    app->on(QStringLiteral("Version"), [](auto&) { return TdvVariant(gWorld->version); })
        .on(QStringLiteral("put:Visible"), nothing)
        .on(QStringLiteral("put:WindowState"), nothing)
        .on(QStringLiteral("put:DisplayAlerts"), nothing)
        .on(QStringLiteral("Path"), [](auto&) { return TdvVariant(QStringLiteral("/opt/office/program")); })
        .on(QStringLiteral("Presentations"),
            [presentations](auto&) {
                return TdvVariant(std::static_pointer_cast<TdvAutoObject>(presentations));
            })
        .on(QStringLiteral("ActivePrinter"),
            [](auto&) {
                if (!gWorld->activePrinterFails.isEmpty())
                    throw TdvAutomationError(gWorld->activePrinterFails);
                return TdvVariant(QStringLiteral("Office Printer"));
            })
        .on(QStringLiteral("Quit"), nothing);
    return app;
}

// The office suite's service manager, desktop and document.
std::shared_ptr<TdvAutoObject> makeSuite()
{
    auto document = fake(QStringLiteral("Doc"));
    document
        ->on(QStringLiteral("supportsService"),
             [](const std::vector<TdvVariant>& args) {
                 return TdvVariant(args.at(0).ToText() == gWorld->suiteFamily);
             })
        .on(QStringLiteral("storeToURL"),
            [](const std::vector<TdvVariant>& args) {
                const auto& props = args.at(1).Deref().Items();
                gWorld->suiteFilter = props.at(0).Get(QStringLiteral("Value")).ToText();
                for (const TdvVariant& p : props) {
                    if (p.Get(QStringLiteral("Name")).ToText() != QLatin1String("FilterData"))
                        continue;
                    const TdvVariant data = p.Get(QStringLiteral("Value"));
                    for (const TdvVariant& d : data.Items())
                        gWorld->suiteFilterData.append(d.Get(QStringLiteral("Name")).ToText() +
                                                       QLatin1Char('=') +
                                                       d.Get(QStringLiteral("Value")).ToText());
                }
                if (!gWorld->suiteWorks)
                    throw TdvAutomationError(QStringLiteral("store failed"));
                writePdf(QUrl(args.at(0).ToText()).toLocalFile());
                return TdvVariant();
            })
        .on(QStringLiteral("close"), nothing);
    auto desktop = fake(QStringLiteral("Desktop"));
    desktop->on(QStringLiteral("loadComponentFromURL"), [document](const std::vector<TdvVariant>& args) {
        EXPECT_EQ(args.size(), 4u);
        EXPECT_EQ(args.at(1).ToText(), QStringLiteral("_blank"));
        ++gWorld->suiteLoads;
        gWorld->suiteUrls.append(args.at(0).ToText());
        // The load is hidden and never runs macros.
        QStringList names;
        for (const TdvVariant& p : args.at(3).Deref().Items())
            names.append(p.Get(QStringLiteral("Name")).ToText() + QLatin1Char('=') +
                         p.Get(QStringLiteral("Value")).ToText());
        EXPECT_TRUE(names.contains(QStringLiteral("Hidden=True")));
        EXPECT_TRUE(names.contains(QStringLiteral("MacroExecutionMode=0")));
        return TdvVariant(std::static_pointer_cast<TdvAutoObject>(document));
    });
    auto manager = fake(QStringLiteral("Manager"));
    manager
        ->on(QStringLiteral("createInstance"),
             [desktop](const std::vector<TdvVariant>& args) {
                 EXPECT_EQ(args.at(0).ToText(), QStringLiteral("com.sun.star.frame.Desktop"));
                 return TdvVariant(std::static_pointer_cast<TdvAutoObject>(desktop));
             })
        .on(QStringLiteral("Bridge_GetStruct"), [](auto&) {
            auto fields = std::make_shared<std::map<QString, TdvVariant>>();
            auto s = fake(QStringLiteral("Struct"));
            s->on(QStringLiteral("put:Name"),
                  [fields](auto& a) {
                      (*fields)[QStringLiteral("Name")] = a.at(0);
                      return TdvVariant();
                  })
                .on(QStringLiteral("put:Value"),
                    [fields](auto& a) {
                        (*fields)[QStringLiteral("Value")] = a.at(0);
                        return TdvVariant();
                    })
                .on(QStringLiteral("Name"), [fields](auto&) { return (*fields)[QStringLiteral("Name")]; })
                .on(QStringLiteral("Value"), [fields](auto&) { return (*fields)[QStringLiteral("Value")]; });
            return TdvVariant(std::static_pointer_cast<TdvAutoObject>(s));
        });
    return manager;
}

const TdvConvertorClassOf<TdvVellum> vellumClass;

class ConversionTest : public ::testing::Test
{
protected:
    TestSingletons singletons{&vellumClass};
    FakeWorld world;
    TempTree tree;
    TdvBatch batch;
    TdvAutoFactory savedApp, savedSuite;

    void SetUp() override
    {
        gWorld = &world;
        gBatch = &batch;
        savedApp = RegisterAutomationFactory(ProgIdPowerPoint, {&makeApplication, {}});
        savedSuite = RegisterAutomationFactory(ProgIdOfficeManager, {&makeSuite, {}});
        batch.FSourceFolder = tree.mkdir(QStringLiteral("in"));
        batch.FTargetFolder = tree.mkdir(QStringLiteral("out"));
        // A printer that writes nothing is waited for this long.
        gProject->SetOption(QStringLiteral("Timeout"), QStringLiteral("1"));
    }
    void TearDown() override
    {
        RegisterAutomationFactory(ProgIdPowerPoint, savedApp);
        RegisterAutomationFactory(ProgIdOfficeManager, savedSuite);
        gWorld = nullptr;
        gBatch = nullptr;
    }

    // Each conversion is a run of its own: what an earlier one claimed and counted is forgotten.
    TdvNode convert(const QString& name = QStringLiteral("deck.pptx"))
    {
        batch.Clear();
        TdvNode item;
        item.Source = tree.write(QStringLiteral("in/") + name, "deck");
        TdvVellum convertor;
        followProject(convertor);
        convertor.Convert(&batch, &item);
        convertor.EndSession();
        return item;
    }
    QString target() const { return tree.path(QStringLiteral("out/deck.pdf")); }
    int count(const QString& call) const { return int(world.calls.count(call)); }
    QStringList leftovers() const
    {
        // Anything beside the PDF files: part files, the office's store files.
        QStringList names = QDir(tree.path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden);
        names.removeAll(QStringLiteral("deck.pdf"));
        return names;
    }
};

// Each row: what fails, which routes run, and what the item and the batch get.
struct RouteCase
{
    const char* name;
    const char* openFails;
    const char* exportFails;
    bool suiteWorks;
    bool printerWrites;
    const char* printed; // what the printer writes, when it writes
    const char* printerFails;
    int state;
    const char* result; // "" for the target path
    int suiteLoads;
    bool printerRuns;
};

TEST_F(ConversionTest, RoutesRunInOrderAndTheItemGetsTheRightMessage)
{
    const RouteCase cases[] = {
        {"export works", "", "", true, false, "", "", 1, "", 0, false},
        {"suite after failed export", "", "No PDF output", true, false, "", "", 1, "", 1, false},
        {"printer writes the file", "", "No PDF output", false, true, "%PDF-1.4 fake\n", "", 1, "", 1, true},
        {"printer writes nothing: the wait's end, then the export's message", "", "No PDF output", false,
         false, "", "", 2,
         "The printer Vellum PDF did not write a file within 1 s, after the export failed: No PDF output", 2,
         true},
        {"printer writes no PDF", "", "No PDF output", false, true, "%!PS-Adobe-3.0\n", "", 2,
         "The printer Vellum PDF wrote a file that is not a PDF, after the export failed: No PDF output", 2,
         true},
        {"printer fails: its own message first", "", "No PDF output", false, false, "", "Printer offline", 2,
         "Printer offline, after the export failed: No PDF output", 2, true},
        {"open fails: suite once", "Damaged deck", "", false, false, "", "", 2, "Damaged deck", 1, false},
        {"open fails, suite saves it", "Damaged deck", "", true, false, "", "", 1, "", 1, false},
    };
    for (const RouteCase& c : cases) {
        SCOPED_TRACE(c.name);
        world = FakeWorld();
        world.openFails = QString::fromUtf8(c.openFails);
        world.exportFails = QString::fromUtf8(c.exportFails);
        world.suiteWorks = c.suiteWorks;
        world.printerWrites = c.printerWrites;
        world.printed = c.printed;
        world.printerFails = QString::fromUtf8(c.printerFails);
        QFile::remove(target());

        const TdvNode item = convert();

        EXPECT_EQ(item.State, c.state);
        // A printed PDF says so, and what it lacks; the other routes' PDFs need no word.
        if (c.state == 1 && c.printerRuns)
            EXPECT_EQ(item.Note,
                      QStringLiteral("Printed on Vellum PDF: no links, no outline, pages of paper size"));
        else
            EXPECT_EQ(item.Note, QString());
        if (c.state == 1) {
            EXPECT_EQ(item.Result, target());
            EXPECT_EQ(readAll(target()), QByteArray("%PDF-1.4 fake\n"));
            EXPECT_EQ(batch.Successes(), 1);
            EXPECT_EQ(batch.Failures(), 0);
        } else {
            EXPECT_EQ(item.Result, QString::fromUtf8(c.result));
            EXPECT_FALSE(QFileInfo::exists(target()));
            EXPECT_EQ(batch.Failures(), 1);
            EXPECT_EQ(batch.Successes(), 0);
            EXPECT_TRUE(batch.FailureTexts().contains(item.Result));
        }
        EXPECT_EQ(world.suiteLoads, c.suiteLoads);
        EXPECT_EQ(count(QStringLiteral("Pres.PrintOut")), c.printerRuns ? 1 : 0);
        if (c.printerRuns) {
            EXPECT_TRUE(world.lockHeldDuringPrint);
            // The printer is chosen, then the one read at the start is put back.
            EXPECT_EQ(world.calls.filter(QStringLiteral("PrintOptions.ActivePrinter=")).last(),
                      QStringLiteral("PrintOptions.ActivePrinter=Office Printer"));
            EXPECT_EQ(world.calls.filter(QStringLiteral("PrintOptions.ActivePrinter=")).size(), 2);
        }
        EXPECT_FALSE(lockHeldElsewhere());
        // An opened presentation is closed after the report, success or failure.
        EXPECT_EQ(count(QStringLiteral("Pres.Close")), c.openFails[0] ? 0 : 1);
        EXPECT_EQ(count(QStringLiteral("App.Quit")), 1);
        EXPECT_TRUE(leftovers().isEmpty()) << leftovers().join(QLatin1Char(' ')).toStdString();
    }
}

TEST_F(ConversionTest, PrinterStepReleasesTheLockWhenThePrinterCannotBeRead)
{
    world.exportFails = QStringLiteral("No PDF output");
    world.suiteWorks = false;
    world.activePrinterFails = QStringLiteral("No printer service");
    const TdvNode item = convert();
    EXPECT_EQ(item.State, isFailed);
    EXPECT_EQ(item.Result, QStringLiteral("No printer service, after the export failed: No PDF output"));
    EXPECT_EQ(count(QStringLiteral("Pres.PrintOut")), 0);
    // Nothing was read, so nothing is put back.
    EXPECT_TRUE(world.calls.filter(QStringLiteral("PrintOptions.ActivePrinter=")).isEmpty());
    EXPECT_FALSE(lockHeldElsewhere());
}

TEST_F(ConversionTest, NotesExportNotesPagesWithTheFullArgumentList)
{
    gProject->SetOption(QStringLiteral("Notes"), QStringLiteral("True"));
    const TdvNode item = convert();
    EXPECT_EQ(item.State, isDone);
    EXPECT_EQ(count(QStringLiteral("Pres.SaveAs")), 0);
    ASSERT_EQ(world.lastExportArgs.size(), 15u);
    EXPECT_EQ(world.lastExportArgs[1].ToInt(), 2); // PDF
    EXPECT_EQ(world.lastExportArgs[5].ToInt(), 5); // notes pages
    EXPECT_EQ(world.lastExportArgs[7].GetKind(), TdvVariant::Kind::Ref);
    EXPECT_TRUE(world.lastExportArgs[7].Deref().IsNull());
    EXPECT_EQ(world.lastExportArgs[8].ToInt(), 1);  // all slides
    EXPECT_TRUE(world.lastExportArgs[14].ToBool()); // PDF/A
}

TEST_F(ConversionTest, AFailedConversionKeepsTheExistingTarget)
{
    tree.write(QStringLiteral("out/deck.pdf"), "last good PDF");
    world.exportFails = QStringLiteral("No PDF output");
    world.suiteWorks = false;
    TdvNode item = convert();
    EXPECT_EQ(item.State, isFailed);
    EXPECT_EQ(readAll(target()), QByteArray("last good PDF"));
    EXPECT_TRUE(leftovers().isEmpty());

    // A message naming the file the office wrote names the target instead.
    world = FakeWorld();
    world.exportFails = QStringLiteral("Cannot write {path}");
    world.suiteWorks = false;
    item = convert();
    EXPECT_EQ(
        item.Result,
        QStringLiteral("The printer Vellum PDF did not write a file within 1 s, after the export failed: "
                       "Cannot write ") +
            target());

    // The route wrote into the worker's own folder, never into the user's, and that file is gone.
    world = FakeWorld();
    item = convert();
    EXPECT_EQ(item.State, isDone);
    EXPECT_FALSE(world.lastExportPath.startsWith(tree.path())) << world.lastExportPath.toStdString();
    EXPECT_FALSE(QFileInfo::exists(world.lastExportPath));
    EXPECT_EQ(readAll(target()), QByteArray("%PDF-1.4 fake\n"));
}

TEST_F(ConversionTest, ATargetThatCannotBeWrittenFailsBeforeTheOfficeIsAsked)
{
    // A read-only PDF of an earlier run stays as it is.
    tree.write(QStringLiteral("out/deck.pdf"), "signed copy");
    ::chmod(QFile::encodeName(target()).constData(), 0444);
    TdvNode item = convert();
    EXPECT_EQ(item.State, isFailed);
    EXPECT_EQ(item.Result, target() + QStringLiteral(" cannot be replaced: Permission denied"));
    EXPECT_EQ(readAll(target()), QByteArray("signed copy"));
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(world.suiteLoads, 0);
    EXPECT_EQ(count(QStringLiteral("Pres.SaveAs")), 0);

    // A target folder that cannot be made fails the item once, with the cause.
    world = FakeWorld();
    tree.write(QStringLiteral("blocked"), "a file where the folder should be");
    batch.FTargetFolder = tree.path(QStringLiteral("blocked/"));
    item = convert();
    EXPECT_EQ(item.State, isFailed);
    EXPECT_EQ(
        item.Result,
        QStringLiteral("CreateDir Failed: %1 (Not a directory)").arg(tree.path(QStringLiteral("blocked/"))));
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(count(QStringLiteral("Pres.SaveAs")), 0);
}

TEST_F(ConversionTest, ASkippedItemMakesNoCall)
{
    gProject->SetOption(QStringLiteral("IsOverwrite"), QStringLiteral("skip"));
    tree.write(QStringLiteral("out/deck.pdf"), "keep");
    const TdvNode item = convert();
    EXPECT_EQ(item.State, isDone);
    EXPECT_TRUE(item.Result.isEmpty());
    EXPECT_TRUE(world.calls.isEmpty()) << world.calls.join(QLatin1Char(' ')).toStdString();
}

// A source the system cannot read is told in its words before any office is asked: the office would only
// say "type detection failed".
TEST_F(ConversionTest, AnUnreadableSourceFailsInTheSystemsWordsWithoutTheOffice)
{
    const QString folder = tree.mkdir(QStringLiteral("in/folder.pptx"));
    const QString missing = tree.path(QStringLiteral("in/gone.pptx"));
    struct Case
    {
        QString source, result;
    } cases[] = {
        {folder, QStringLiteral("The presentation %1 cannot be read: Is a directory").arg(folder)},
        {missing,
         QStringLiteral("The presentation %1 cannot be read: No such file or directory").arg(missing)},
    };
    for (const Case& c : cases) {
        batch.Clear();
        world = FakeWorld();
        TdvNode item;
        item.Source = c.source;
        TdvVellum convertor;
        followProject(convertor);
        convertor.Convert(&batch, &item);
        convertor.EndSession();
        EXPECT_EQ(item.State, isFailed);
        EXPECT_EQ(item.Result, c.result);
        EXPECT_EQ(batch.Failures(), 1);
        EXPECT_TRUE(world.calls.isEmpty()) << world.calls.join(QLatin1Char(' ')).toStdString();
    }
}

// The office's I/O error codes (area, class, number) and what the person is told for each.
TEST(OfficeErrors, IoCodesBecomeTheSystemsWords)
{
    struct Case
    {
        quint32 code;
        bool io;
        const char* cause; // after the folder, when the folder itself is fine
    } cases[] = {
        {0xc10, true, "Input/output error"},           // Write/16: names no cause of its own
        {0x20d, true, "Input/output error"},           // General/13
        {0x302, true, "No such file or directory"},    // NotExists/2
        {0x31c, true, "No such file or directory"},    // NotExists/28, a path
        {0x507, true, "Permission denied"},            // Access/7
        {0x525, true, "Read-only file system"},        // Access/37, write protected
        {0x909, true, "No space left on device"},      // Space/9
        {0x80000909, true, "No space left on device"}, // a warning of the same
        {0x81a, false, ""},   // Parameter/26, a filter that cannot store: the office's text
        {0x11a07, false, ""}, // another area
        {0, false, ""},
    };
    TempTree tree;
    const QString file = tree.path(QStringLiteral("work/item-0.pdf"));
    tree.mkdir(QStringLiteral("work"));
    const QString raw =
        QStringLiteral(
            "SfxBaseModel::impl_store <file://%1> failed: 0x909(Error Area:Io Class:Space "
            "Code:9) at ./sfx2/source/doc/sfxbasemodel.cxx:3207 at ./sfx2/source/doc/sfxbasemodel.cxx:1783")
            .arg(file);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(isOfficeFileError(c.code), c.io);
        if (!c.io)
            continue;
        EXPECT_EQ(officeWriteFailure(file, c.code, QString()),
                  QStringLiteral("The PDF file cannot be written to %1: %2")
                      .arg(tree.path(QStringLiteral("work/")), QString::fromUtf8(c.cause)));
    }
    // The office's text follows as detail, without the work file's address and its source location.
    EXPECT_EQ(officeWriteFailure(file, 0x909, raw),
              QStringLiteral("The PDF file cannot be written to %1: No space left on device (office: "
                             "SfxBaseModel::impl_store failed: 0x909(Error Area:Io Class:Space Code:9))")
                  .arg(tree.path(QStringLiteral("work/"))));
    // What the file system says comes before what the code says.
    EXPECT_EQ(officeWriteFailure(tree.path(QStringLiteral("gone/x.pdf")), 0xc10, QString()),
              QStringLiteral("The PDF file cannot be written to %1: No such file or directory")
                  .arg(tree.path(QStringLiteral("gone/"))));
    const QString deck = tree.mkdir(QStringLiteral("deck.pptx"));
    EXPECT_EQ(
        officeReadFailure(deck, 0xb0f, QStringLiteral("read error")),
        QStringLiteral("The presentation %1 cannot be read: Is a directory (office: read error)").arg(deck));
    const QString fine = tree.write(QStringLiteral("fine.pptx"));
    EXPECT_EQ(officeReadFailure(fine, 0x302, QString()),
              QStringLiteral("The presentation %1 cannot be read: No such file or directory").arg(fine));
}

TEST_F(ConversionTest, SuiteRouteUsesTheDocumentsFamilyAndEncodedAddresses)
{
    const std::pair<const char*, const char*> families[] = {
        {"com.sun.star.presentation.PresentationDocument", "impress_pdf_Export"},
        {"com.sun.star.drawing.DrawingDocument", "draw_pdf_Export"},
        {"com.sun.star.text.TextDocument", "writer_pdf_Export"},
    };
    const QString source = tree.write(QStringLiteral("in/Ünïcode #1 100%.pptx"), "deck");
    const QString out = tree.path(QStringLiteral("out/a b.pdf"));
    for (const auto& [family, filter] : families) {
        SCOPED_TRACE(family);
        world = FakeWorld();
        world.suiteFamily = QString::fromLatin1(family);
        EXPECT_TRUE(ConvertWithOfficeSuite(source, out));
        EXPECT_EQ(world.suiteFilter, QString::fromLatin1(filter));
        ASSERT_EQ(world.suiteUrls.size(), 1);
        EXPECT_EQ(QUrl(world.suiteUrls[0]).toLocalFile(), source);
        EXPECT_TRUE(QFileInfo::exists(out));
        EXPECT_EQ(count(QStringLiteral("Doc.close")), 1);
    }
    // Images are kept as they are unless MaxImageResolution asks for a reduction, and review comments stay
    // out unless ExportComments asks for them, as on the main route.
    EXPECT_EQ(world.suiteFilterData, QStringList({QStringLiteral("ExportNotes=False"),
                                                  QStringLiteral("ReduceImageResolution=False")}));
    // As a worker of a run with MaxImageResolution=150 and ExportComments=True sets them.
    setThreadExportSettings(TdvImagePolicy{true, 150}, true);
    world = FakeWorld();
    world.suiteFamily = QStringLiteral("com.sun.star.presentation.PresentationDocument");
    EXPECT_TRUE(ConvertWithOfficeSuite(source, out));
    EXPECT_EQ(world.suiteFilterData,
              QStringList({QStringLiteral("ExportNotes=True"), QStringLiteral("ReduceImageResolution=True"),
                           QStringLiteral("MaxImageResolution=150")}));
    setThreadExportSettings(TdvImagePolicy(), false);

    // A document of no known family is not stored, and is closed all the same.
    world = FakeWorld();
    world.suiteFamily = QStringLiteral("com.sun.star.chart2.ChartDocument");
    EXPECT_FALSE(ConvertWithOfficeSuite(source, out));
    EXPECT_EQ(count(QStringLiteral("Doc.close")), 1);
}

TEST(Pictures, TheNoteNamesFivePicturesAndCountsTheRest)
{
    EXPECT_EQ(leftOutPicturesNote({}), QString());
    QList<TdvLeftOutPicture> pictures = {{2, 40000, 30000}, {3, 0, 0}};
    EXPECT_EQ(leftOutPicturesNote(pictures),
              QStringLiteral("Pictures left out: slide 2 (40000x30000 pixels, too large for the office); "
                             "slide 3 (unreadable or linked)"));
    for (int slide = 4; slide <= 8; ++slide)
        pictures.append({slide, 0, 0});
    const QString note = leftOutPicturesNote(pictures);
    EXPECT_TRUE(note.endsWith(QStringLiteral("slide 6 (unreadable or linked); 2 more")))
        << note.toStdString();
    EXPECT_FALSE(note.contains(QStringLiteral("slide 7"))) << note.toStdString();
}

TEST(Fonts, OnlyAFontThatIsNeitherItselfNorMetricCompatibleIsAStandIn)
{
    const auto use = [](const char* requested, std::initializer_list<const char*> used) {
        TdvFontUse u;
        u.Requested = QString::fromUtf8(requested);
        for (const char* font : used)
            u.Used.append(QString::fromUtf8(font));
        u.Count = 1;
        return u;
    };
    const QString officeDefaults =
        QStringLiteral("Segoe UI;Tahoma;Arial Unicode MS;DejaVu Sans;Albany;Arial");
    const std::pair<QList<TdvFontUse>, const char*> cases[] = {
        // The deck's own fonts and their metric-compatible stand-ins, whatever the style or letter case.
        {{use("Calibri", {"Carlito/Regular"}), use("Calibri Light", {"Carlito/Regular"}),
          use("Arial/Bold", {"Liberation Sans/Bold"}), use("times new roman", {"Liberation Serif/Italic"}),
          use("Cambria", {"Caladea/Regular"}), use("Courier", {"Liberation Mono/Regular"}),
          use("Arial Narrow", {"Liberation Sans Narrow/Regular"}), use("DejaVu Sans", {"DejaVu Sans/Book"})},
         ""},
        // Symbol fonts are recoded to OpenSymbol; the office's own defaults name several fonts, any will do.
        {{use("Wingdings", {"OpenSymbol/Regular"}), use("Symbol", {"OpenSymbol/Regular"}),
          use(officeDefaults.toUtf8().constData(), {"DejaVu Sans/Book"})},
         ""},
        // A font that only drew the characters the first one lacks is no stand-in.
        {{use("Calibri", {"Carlito/Regular", "Noto Sans CJK JP/Regular"})}, ""},
        {{use("Verdana", {"DejaVu Sans/Book"}), use("Segoe UI", {"DejaVu Sans/Bold"}),
          use("Calibri", {"Carlito/Regular"}), use("Verdana/Bold", {"DejaVu Sans/Bold"})},
         "Fonts not installed: Segoe UI, Verdana (set in DejaVu Sans)"},
        {{use("MS Gothic", {"Noto Sans CJK JP/Regular"}), use("Arial Black", {"DejaVu Sans/Book"})},
         "Fonts not installed: Arial Black, MS Gothic (set in DejaVu Sans, Noto Sans CJK JP)"},
        // A machine without the metric-compatible fonts sets even Arial in a stand-in.
        {{use("Arial", {"DejaVu Sans/Book"})}, "Font not installed: Arial (set in DejaVu Sans)"},
        {{use("Helvetica", {"Liberation Serif/Regular"})},
         "Font not installed: Helvetica (set in Liberation Serif)"},
        {{use("", {"DejaVu Sans/Book"}), use("Arial", {})}, ""},
    };
    for (const auto& [uses, note] : cases)
        EXPECT_EQ(standInFontsNote(uses), QString::fromUtf8(note)) << note;

    // A stand-in that drew nothing in the PDF (an empty footer, blanks) is left out of the note.
    const QList<TdvFontUse> mixed = {
        use("Segoe UI", {"DejaVu Sans/Book"}), use("MS PGothic", {"DejaVu Sans/Book"}),
        use("MS PGothic", {"Noto Sans CJK JP/Regular"}), use("Calibri", {"Carlito"})};
    const std::pair<QStringList, const char*> drawn[] = {
        {{QStringLiteral("Carlito"), QStringLiteral("NotoSansCJKjp-Regular-VKana")},
         "Font not installed: MS PGothic (set in Noto Sans CJK JP)"},
        {{QStringLiteral("Carlito"), QStringLiteral("DejaVuSans-Bold"),
          QStringLiteral("NotoSansCJKjp-Regular")},
         "Fonts not installed: MS PGothic, Segoe UI (set in DejaVu Sans, Noto Sans CJK JP)"},
        {{QStringLiteral("Carlito")}, ""},
        // One face of a CJK collection named, another embedded.
        {{QStringLiteral("NotoSansCJKsc-Regular")},
         "Font not installed: MS PGothic (set in Noto Sans CJK JP)"},
        // Fonts that cannot be read from the PDF leave the note as the office told it.
        {{}, "Fonts not installed: MS PGothic, Segoe UI (set in DejaVu Sans, Noto Sans CJK JP)"},
    };
    for (const auto& [fonts, note] : drawn)
        EXPECT_EQ(standInFontsNote(mixed, fonts), QString::fromUtf8(note))
            << fonts.join(QLatin1Char(' ')).toStdString();
}

TEST(Fonts, APdfNamesTheFontsItEmbeds)
{
    TempTree tree;
    const QString pdf = tree.write(
        QStringLiteral("a.pdf"),
        "%PDF-1.4\n9 0 obj\n<</Type/Font/Subtype/TrueType/BaseFont/BAAAAA+DejaVuSans\n/FirstChar "
        "0>>\nendobj\n"
        "10 0 obj <</Type/Font/Subtype/Type0/BaseFont "
        "/CAAAAA+NotoSansCJKjp-Regular-VKana/Encoding/Identity-H>>\n"
        "11 0 obj <</BaseFont/LiberationSerif-Bold/Subtype/TrueType>> <</BaseFont/BAAAAA+DejaVuSans>>\n");
    EXPECT_EQ(pdfFontNames(pdf),
              QStringList({QStringLiteral("DejaVuSans"), QStringLiteral("NotoSansCJKjp-Regular-VKana"),
                           QStringLiteral("LiberationSerif-Bold")}));
    EXPECT_TRUE(pdfFontNames(tree.path(QStringLiteral("missing.pdf"))).isEmpty());
}

TEST(Fonts, TheReplacementTableNamesOnlyFontsTheMachineLacks)
{
    using Table = QList<std::pair<QString, QString>>;
    const std::pair<QStringList, Table> cases[] = {
        {{QStringLiteral("Carlito"), QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans")},
         {{QStringLiteral("Calibri Light"), QStringLiteral("Carlito")},
          {QStringLiteral("Courier"), QStringLiteral("Liberation Mono")}}},
        // The real fonts: Calibri Light stays itself, Courier is set in Courier New.
        {{QStringLiteral("CalibriLight"), QStringLiteral("Carlito"), QStringLiteral("courier new"),
          QStringLiteral("Liberation Mono")},
         {{QStringLiteral("Courier"), QStringLiteral("Courier New")}}},
        {{QStringLiteral("Calibri"), QStringLiteral("Carlito"), QStringLiteral("Courier")},
         {{QStringLiteral("Calibri Light"), QStringLiteral("Calibri")}}},
        // Nothing to stand in with, or fontconfig could not be asked: the office keeps its own choice.
        {{QStringLiteral("DejaVu Sans")}, {}},
        {{}, {}},
    };
    for (const auto& [installed, table] : cases)
        EXPECT_EQ(fontReplacements(installed), table) << installed.join(QLatin1Char(',')).toStdString();
}

// The two builds of one office version (with and without printing) share the program folder and the build id;
// a template profile made by one must not be taken for the other's.
TEST(OfficeTemplate, EachBuildOfTheOfficeGetsATemplateOfItsOwn)
{
    TempTree tree;
    tree.write(QStringLiteral("program/versionrc"), "[Version]\nbuildid=40(Build:2)\n");
    const QByteArray real = qgetenv("VELLUM_OFFICE_PROGRAM");
    qputenv("VELLUM_OFFICE_PROGRAM", QFile::encodeName(tree.path(QStringLiteral("program"))));
    // Each build by the size and time of its main library.
    const auto build = [&](int size, qint64 time) {
        QFile file(tree.write(QStringLiteral("program/libmergedlo.so"), QByteArray(size, 'x')));
        file.open(QIODevice::ReadWrite);
        file.setFileTime(QDateTime::fromSecsSinceEpoch(time), QFileDevice::FileModificationTime);
        return officeTemplateKey();
    };
    const QString regular = build(1000, 1780000000);
    EXPECT_EQ(build(1000, 1780000000), regular);
    EXPECT_NE(build(900, 1780000000), regular);
    EXPECT_NE(build(1000, 1780000060), regular);
    qputenv("VELLUM_OFFICE_PROGRAM", real);
    if (real.isEmpty())
        qunsetenv("VELLUM_OFFICE_PROGRAM");
}

TEST(OfficeSuiteUrl, IsAProperlyEncodedFileAddress)
{
    const std::pair<const char*, const char*> cases[] = {
        {"/home/a/x.pptx", "file:///home/a/x.pptx"},
        {"/home/a b/x.pptx", "file:///home/a%20b/x.pptx"},
        {"/d/#1 100%.pptx", "file:///d/%231%20100%25.pptx"},
        {"/d/Präsentation.pptx", "file:///d/Pr%C3%A4sentation.pptx"},
        {"http://127.0.0.1/a.pptx", "http://127.0.0.1/a.pptx"},
    };
    for (const auto& [path, url] : cases)
        EXPECT_EQ(officeSuiteUrl(QString::fromUtf8(path)), QString::fromUtf8(url)) << path;
}

TEST(PowerPointVersion, ReadsTheMajorNumber)
{
    const std::pair<TdvVariant, int> cases[] = {
        {TdvVariant(QStringLiteral("16.0")), 16},
        {TdvVariant(QStringLiteral("12")), 12},
        {TdvVariant(QStringLiteral("7.4")), 7},
        {TdvVariant(QStringLiteral("Impress")), 0},
        {TdvVariant(QString()), 0},
        {TdvVariant(15), 15},
        {TdvVariant(QStringLiteral("160")), 16},
        {TdvVariant(QStringLiteral("7.4.7.2")), 0},
        {TdvVariant(), 0},
    };
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(PowerPointVersion(value), expected) << value.ToText().toStdString();
}

TEST_F(ConversionTest, SessionStartsOnceAndCountsTheVersion)
{
    TdvVellum convertor;
    followProject(convertor);
    convertor.FUsage = gInfo; // the run gives its workers the usage record
    // A converter that never handled an item sends nothing at its end.
    convertor.EndSession();
    EXPECT_TRUE(world.calls.isEmpty());

    const QString a = tree.write(QStringLiteral("in/a.pptx"));
    const QString b = tree.write(QStringLiteral("in/b.pptx"));
    convertor.OpenPresentation(a);
    convertor.OpenPresentation(b); // keeps the first
    EXPECT_EQ(count(QStringLiteral("Presentations.Open")), 1);
    EXPECT_EQ(count(QStringLiteral("App.Version")), 1);
    EXPECT_EQ(convertor.FVersion, 16);
    EXPECT_EQ(gInfo->Counter(QStringLiteral("W")), QStringLiteral("16"));
    EXPECT_EQ(convertor.GetApplicationPath(), QStringLiteral("/opt/office/program/soffice"));
    convertor.ClosePresentation();
    convertor.ClosePresentation(); // nothing open: no call
    EXPECT_EQ(count(QStringLiteral("Pres.Close")), 1);
    convertor.EndSession();
    EXPECT_EQ(count(QStringLiteral("App.Quit")), 1);
}

TEST_F(ConversionTest, ReadOnlyOptionReachesOpen)
{
    const std::pair<const char*, bool> cases[] = {
        {"True", true}, {"1", true}, {"False", false}, {"0", false}, {"", false}};
    for (const auto& [value, expected] : cases) {
        gProject->SetOption(QStringLiteral("ReadOnly"), QString::fromLatin1(value));
        bool seen = !expected;
        RegisterAutomationFactory(ProgIdPowerPoint,
                                  {[&seen] {
                                       auto presentations = fake(QStringLiteral("Presentations"));
                                       presentations->on(QStringLiteral("Open"), [&seen](auto& args) {
                                           seen = args.at(1).ToBool();
                                           return TdvVariant(makePresentation());
                                       });
                                       auto app = fake(QStringLiteral("App"));
                                       app->on(QStringLiteral("Presentations"), [presentations](auto&) {
                                           return TdvVariant(
                                               std::static_pointer_cast<TdvAutoObject>(presentations));
                                       });
                                       return std::static_pointer_cast<TdvAutoObject>(app);
                                   },
                                   {}});
        TdvVellum convertor;
        followProject(convertor);
        convertor.OpenPresentation(tree.write(QStringLiteral("in/a.pptx")));
        EXPECT_EQ(seen, expected) << value;
    }
}

TEST_F(ConversionTest, HasMacrosAsksOnlyApplicationsThatKnow)
{
    struct Case
    {
        const char* version;
        bool open;
        bool hasProject;
        bool expected;
        int asked;
    };
    const Case cases[] = {
        {"16.0", true, false, false, 1},
        {"16.0", true, true, true, 1},
        {"7.4", true, false, true, 0}, // version below 12: the base's answer without asking
        {"Impress", true, false, true, 0},
        {"16.0", false, false, true, 1}, // nothing open: the read fails, the base's answer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version);
        world = FakeWorld();
        world.version = QString::fromLatin1(c.version);
        world.hasVBProject = c.hasProject;
        TdvVellum convertor;
        followProject(convertor);
        convertor.OpenPresentation(tree.write(QStringLiteral("in/a.pptm")));
        if (!c.open)
            convertor.ClosePresentation();
        EXPECT_EQ(convertor.HasMacros(), c.expected);
        EXPECT_EQ(count(QStringLiteral("Pres.HasVBProject")), c.open ? c.asked : 0);
    }
}

TEST(Automation, FailureMessagesFollowTheAutomationRules)
{
    // A ProgID nobody serves.
    try {
        CreateAutomationObject(QStringLiteral("No.Such.Application"));
        ADD_FAILURE() << "created";
    } catch (const TdvAutomationError& e) {
        EXPECT_EQ(e.Message, QStringLiteral("Invalid class string, ProgID: \"No.Such.Application\""));
    }
    // A server that refuses: its text less trailing blanks and full stops, then the ProgID.
    const TdvAutoFactory saved = RegisterAutomationFactory(
        ProgIdPowerPoint, {[]() -> std::shared_ptr<TdvAutoObject> {
                               throw TdvAutomationError(QStringLiteral("Server busy. . "));
                           },
                           {}});
    try {
        CreateAutomationObject(ProgIdPowerPoint);
        ADD_FAILURE() << "created";
    } catch (const TdvAutomationError& e) {
        EXPECT_EQ(e.Message, QStringLiteral("Server busy, ProgID: \"PowerPoint.Application\""));
    }
    RegisterAutomationFactory(ProgIdPowerPoint, saved);

    const std::pair<TdvAutomationError, const char*> calls[] = {
        {TdvAutomationError(QStringLiteral("Cannot save the file...  ")), "Cannot save the file"},
        {TdvAutomationError(QString(), TdvAutoCode::UnknownName), "Unknown name"},
        {TdvAutomationError(QStringLiteral(" . "), TdvAutoCode::TypeMismatch), "Type mismatch"},
        {TdvAutomationError(QString(), 0x8000FFFFu), "OLE error 8000ffff"},
    };
    for (const auto& [error, message] : calls)
        EXPECT_EQ(error.Message, QString::fromUtf8(message));
}

TEST(Automation, VariantReadingsAndReferences)
{
    EXPECT_EQ(TdvVariant(true).ToInt(), -1);
    EXPECT_EQ(TdvVariant(QStringLiteral(" 42 ")).ToInt(), 42);
    EXPECT_TRUE(TdvVariant(QStringLiteral("TRUE")).ToBool());
    EXPECT_FALSE(TdvVariant(QStringLiteral("0")).ToBool());
    EXPECT_THROW(TdvVariant(QStringLiteral("many")).ToInt(), TdvAutomationError);
    EXPECT_THROW(TdvVariant().Call(QStringLiteral("Open")), TdvAutomationError);

    // A callee writes through a by-reference argument.
    auto cell = std::make_shared<TdvVariant>(TdvVariant::EmptyArray());
    const TdvVariant ref = TdvVariant::Ref(cell);
    *ref.Cell() = TdvVariant(7);
    EXPECT_EQ(ref.ToInt(), 7);
    EXPECT_EQ(cell->ToInt(), 7);
}

// ---- the listener's view of a client's connection
// -----------------------------------------------------------

// One block of the remote protocol holding one message.
std::vector<unsigned char> urpBlock(const std::vector<unsigned char>& message)
{
    const auto size = std::uint32_t(message.size());
    std::vector<unsigned char> block(8 + message.size(), 0);
    for (int i = 0; i < 4; ++i)
        block[std::size_t(i)] = static_cast<unsigned char>(size >> (24 - 8 * i));
    block[7] = 1;
    std::copy(message.begin(), message.end(), block.begin() + 8);
    return block;
}

TEST(UrpWatch, CountsTheCallsThatWaitForAnAnswerAndTheAnswers)
{
    struct Case
    {
        const char* what;
        std::vector<unsigned char> message; // its first bytes, then whatever arguments follow
        int requests;
        int replies;
    };
    const Case cases[] = {
        {"short header, call 5 with arguments", {0x05, 0x11, 0x22, 0x33}, 1, 0},
        {"short header, 14-bit call 300", {0x40 | 0x01, 0x2c, 0x99}, 1, 0},
        {"short header, release", {0x02}, 0, 0},
        {"long header, new type, oid and tid, call 9", {0xf8, 0x09, 0x16, 0xff, 0xff}, 1, 0},
        {"long header, 16-bit call 2 (no release: its high byte is set)", {0xc4, 0x01, 0x02, 0x00}, 1, 0},
        {"long header, release", {0xc0, 0x02, 0x00}, 0, 0},
        {"long header, release that must be answered", {0xc1, 0xc0, 0x02}, 1, 0},
        {"long header, release marked one-way", {0xc1, 0x00, 0x02}, 0, 0},
        {"reply", {0x80, 0x00}, 0, 1},
        {"reply with a new thread id", {0x88, 0x05, 0x01, 0x02}, 0, 1},
        {"exception", {0xa0, 0x16}, 0, 1},
    };
    std::vector<unsigned char> all;
    int requests = 0;
    int replies = 0;
    for (const Case& c : cases) {
        const std::vector<unsigned char> block = urpBlock(c.message);
        TdvUrpWatch watch;
        watch.Feed(block.data(), block.size());
        EXPECT_EQ(watch.Requests(), c.requests) << c.what;
        EXPECT_EQ(watch.Replies(), c.replies) << c.what;
        all.insert(all.end(), block.begin(), block.end());
        requests += c.requests;
        replies += c.replies;
    }
    // A block with no body between them says nothing.
    all.insert(all.begin() + 12, {0, 0, 0, 0, 0, 0, 0, 0});

    // The stream arrives in pieces of any size, cut anywhere: headers and first bytes too.
    for (const std::size_t piece : {std::size_t(1), std::size_t(3), std::size_t(7), all.size()}) {
        TdvUrpWatch watch;
        for (std::size_t at = 0; at < all.size(); at += piece)
            watch.Feed(all.data() + at, std::min(piece, all.size() - at));
        EXPECT_EQ(watch.Requests(), requests) << "pieces of " << piece;
        EXPECT_EQ(watch.Replies(), replies) << "pieces of " << piece;
    }

    // A large message is passed by, not kept: what follows it is read as the next block.
    std::vector<unsigned char> large(3 << 20, 0x80);
    large[0] = 0x07;
    std::vector<unsigned char> stream = urpBlock(large);
    const std::vector<unsigned char> reply = urpBlock({0x80});
    stream.insert(stream.end(), reply.begin(), reply.end());
    TdvUrpWatch watch;
    for (std::size_t at = 0; at < stream.size(); at += 65536)
        watch.Feed(stream.data() + at, std::min<std::size_t>(65536, stream.size() - at));
    EXPECT_EQ(watch.Requests(), 1);
    EXPECT_EQ(watch.Replies(), 1);
}

} // namespace
