// "PowerPoint.Application": the presentation application's object model, answered by LibreOffice Impress
// in the calling worker's own office.
#include "conversion/dvImpress.h"

#include "conversion/dvOfficeErrors.h"
#include "conversion/dvPictures.h"
#include "conversion/dvPowerPointOle.h"
#include "conversion/dvPpConstants.h"
#include "conversion/dvUno.h"

#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "engine/dvConvertor.h"
#include "project/dvProject.h"

#include <com/sun/star/awt/PrinterServer.hpp>
#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/document/XEmbeddedScripts.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>
#include <com/sun/star/script/XLibraryContainer.hpp>
#include <com/sun/star/script/vba/XVBACompatibility.hpp>
#include <com/sun/star/uno/Sequence.hxx>
#include <com/sun/star/util/CloseVetoException.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XPrintable.hpp>

#include <QFileInfo>
#include <mutex>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

beans::PropertyValue prop(const char* name, const Any& value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

template <class T> Sequence<T> seqOf(std::initializer_list<T> items)
{
    return Sequence<T>(items.begin(), sal_Int32(items.size()));
}

bool is(const QString& name, const char* member)
{
    return name.compare(QLatin1String(member), Qt::CaseInsensitive) == 0;
}

// A UNO failure of an office call as the automation failure that the converter reports.
template <class F>
TdvVariant unoGuarded(const TdvOffice* office, F f, TdvFileAccess access = TdvFileAccess::None,
                      const QString& file = QString())
{
    try {
        return f();
    } catch (const uno::Exception& e) {
        throw unoFailure(e, office, access, file);
    }
}

class TdvImpressApp;

// The print options of one presentation: the printer its next PrintOut goes to.
class TdvImpressPrintOptions : public TdvAutoObject
{
public:
    TdvVariant Get(const QString& name) override
    {
        if (is(name, "ActivePrinter"))
            return TdvVariant(Printer);
        throwUnknownMember(name);
    }
    void Put(const QString& name, const TdvVariant& value) override
    {
        if (!is(name, "ActivePrinter"))
            throwUnknownMember(name);
        Printer = value.Deref().ToText();
    }
    TdvVariant Call(const QString& name, const std::vector<TdvVariant>&) override
    {
        throwUnknownMember(name);
    }

    QString Printer;
};

class TdvImpressPresentation : public TdvAutoObject
{
public:
    TdvImpressPresentation(const Reference<lang::XComponent>& document, std::shared_ptr<TdvOffice> office)
        : FDocument(document), FOffice(std::move(office)),
          FOptions(std::make_shared<TdvImpressPrintOptions>())
    {
    }

    ~TdvImpressPresentation() override
    {
        // A presentation dropped without Close is closed here, on the thread that dropped it.
        if (FDocument.is() && FOffice->Alive()) {
            try {
                close();
            } catch (...) {
                // A destructor throws nothing: a document that would not close ends with its office.
            }
        }
    }

    TdvVariant Get(const QString& name) override
    {
        if (is(name, "HasVBProject"))
            return guarded([&] { return TdvVariant(hasVBProject()); });
        // Not of the application's object model: what the PDF goes without, for the item's note.
        if (is(name, "PicturesLeftOut"))
            return guarded([&] { return TdvVariant(leftOutPicturesNote(leftOutPictures(FDocument))); });
        if (is(name, "PrintOptions"))
            return TdvVariant(std::static_pointer_cast<TdvAutoObject>(FOptions));
        if (is(name, "FullName"))
            return guarded([&] {
                const Reference<frame::XModel> model(FDocument, UNO_QUERY_THROW);
                return TdvVariant(toQString(model->getURL()));
            });
        throwUnknownMember(name);
    }

    void Put(const QString& name, const TdvVariant&) override { throwUnknownMember(name); }

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        if (is(name, "SaveAs")) {
            checkArgCount(args, 1, 3);
            const QString path = args[0].Deref().ToText();
            const int format = args.size() > 1 ? args[1].Deref().ToInt() : ppSaveAsPDF;
            if (format != ppSaveAsPDF)
                throw TdvAutomationError(QStringLiteral("File format %1 is not supported").arg(format));
            guarded([&] { return store(path, {}); }, TdvFileAccess::Write, path);
            return TdvVariant();
        }
        if (is(name, "ExportAsFixedFormat"))
            return exportAsFixedFormat(args);
        if (is(name, "PrintOut")) {
            checkArgCount(args, 0, 5);
            guarded([&] { return printOut(); });
            return TdvVariant();
        }
        if (is(name, "Close")) {
            checkArgCount(args, 0, 0);
            guarded([&] {
                close();
                return TdvVariant();
            });
            return TdvVariant();
        }
        throwUnknownMember(name);
    }

    QString currentPrinter()
    {
        const Reference<view::XPrintable> printable(FDocument, UNO_QUERY_THROW);
        for (const beans::PropertyValue& p : printable->getPrinter())
            if (p.Name == "Name") {
                OUString printer;
                p.Value >>= printer;
                return toQString(printer);
            }
        return QString();
    }

private:
    template <class F>
    TdvVariant guarded(F f, TdvFileAccess access = TdvFileAccess::None, const QString& file = QString())
    {
        if (!FDocument.is())
            throw TdvAutomationError(QStringLiteral("The presentation is closed"));
        return unoGuarded(FOffice.get(), f, access, file);
    }

    // A deck is a presentation as a rule, but the office may have loaded a drawing from a damaged or odd
    // file.
    OUString pdfFilter() const
    {
        const Reference<lang::XServiceInfo> info(FDocument, UNO_QUERY_THROW);
        return toOUString(pdfFilterOf(
            [&](const QString& service) { return bool(info->supportsService(toOUString(service))); }));
    }

    TdvVariant store(const QString& path, const Sequence<beans::PropertyValue>& filterData)
    {
        const Reference<frame::XStorable> storable(FDocument, UNO_QUERY_THROW);
        std::vector<beans::PropertyValue> args{prop("FilterName", Any(pdfFilter())),
                                               prop("Overwrite", Any(true))};
        std::vector<beans::PropertyValue> data(filterData.begin(), filterData.end());
        data.push_back(prop("ExportNotes", Any(exportComments())));
        const TdvImagePolicy images = imagePolicy();
        data.push_back(prop("ReduceImageResolution", Any(images.Reduce)));
        if (images.Reduce)
            data.push_back(prop("MaxImageResolution", Any(sal_Int32(images.MaxResolution))));
        args.push_back(
            prop("FilterData", Any(Sequence<beans::PropertyValue>(data.data(), sal_Int32(data.size())))));
        storeDocument(*FOffice, storable, documentUrl(path),
                      Sequence<beans::PropertyValue>(args.data(), sal_Int32(args.size())));
        return TdvVariant();
    }

    TdvVariant exportAsFixedFormat(const std::vector<TdvVariant>& args)
    {
        checkArgCount(args, 2, 15);
        auto arg = [&](std::size_t i, int def) {
            return args.size() > i && !args[i].Deref().IsMissing() &&
                           args[i].Deref().GetKind() != TdvVariant::Kind::Null
                       ? args[i].Deref().ToInt()
                       : def;
        };
        const QString path = args[0].Deref().ToText();
        if (arg(1, ppFixedFormatTypePDF) != ppFixedFormatTypePDF)
            throw TdvAutomationError(QStringLiteral("Only PDF output is supported"));
        const int output = arg(5, ppPrintOutputSlides);
        if (output != ppPrintOutputSlides && output != ppPrintOutputNotesPages)
            throw TdvAutomationError(QStringLiteral("Output type %1 is not supported").arg(output));
        if (arg(8, ppPrintAll) != ppPrintAll)
            throw TdvAutomationError(QStringLiteral("Only the whole presentation can be exported"));
        const bool hidden = arg(6, 0) != 0;
        const bool tagged = arg(12, 0) != 0;
        const bool pdfA = arg(14, 0) != 0;

        std::vector<beans::PropertyValue> data{prop("ExportHiddenSlides", Any(hidden)),
                                               prop("UseTaggedPDF", Any(tagged))};
        if (output == ppPrintOutputNotesPages) {
            data.push_back(prop("ExportNotesPages", Any(true)));
            data.push_back(prop("ExportOnlyNotesPages", Any(true)));
        }
        if (pdfA)
            data.push_back(prop("SelectPdfVersion", Any(sal_Int32(1))));
        return guarded(
            [&] { return store(path, Sequence<beans::PropertyValue>(data.data(), sal_Int32(data.size()))); },
            TdvFileAccess::Write, path);
    }

    // A document carries macros when its Basic libraries hold code; VBA projects land there too because
    // the office's profile loads them (they never run).
    bool hasVBProject()
    {
        const Reference<document::XEmbeddedScripts> scripts(FDocument, UNO_QUERY);
        if (!scripts.is())
            return false;
        const Reference<script::XLibraryContainer> libraries(scripts->getBasicLibraries(), UNO_QUERY);
        if (!libraries.is())
            return false;
        const Reference<container::XNameAccess> names(libraries, UNO_QUERY_THROW);
        for (const OUString& name : names->getElementNames()) {
            if (!libraries->isLibraryLoaded(name))
                libraries->loadLibrary(name);
            const Reference<container::XNameAccess> modules(names->getByName(name), UNO_QUERY);
            if (!modules.is())
                continue;
            for (const OUString& module : modules->getElementNames()) {
                OUString source;
                modules->getByName(module) >>= source;
                if (!source.trim().isEmpty())
                    return true;
            }
        }
        return false;
    }

    TdvVariant printOut()
    {
        // The printers of another machine write their files there, out of this program's reach.
        if (FOffice->IsRemote())
            throw TdvAutomationError(
                QStringLiteral("Printing needs an office on this machine; the office at %1 is remote")
                    .arg(FOffice->Server()));
        const Reference<view::XPrintable> printable(FDocument, UNO_QUERY_THROW);
        QString printer = FOptions->Printer;
        if (printer.isEmpty())
            printer = currentPrinter();
        const QStringList printers = FOffice->PrinterNames();
        if (!printers.contains(printer)) {
            // An office built without printing lists no printer, and its print calls do nothing, silently.
            if (printers.isEmpty() || printer == virtualPdfPrinter())
                throw TdvAutomationError(
                    QStringLiteral("No PDF printer is available: the office cannot print on this machine"));
            throw TdvAutomationError(
                QStringLiteral("The printer %1 is not available to the office (it has %2)")
                    .arg(printer, printers.join(QStringLiteral(", "))));
        }
        printable->setPrinter(seqOf({prop("Name", Any(toOUString(printer)))}));
        // A name the office does not take leaves the printer as it was, and the deck would go there.
        const QString taken = currentPrinter();
        if (taken != printer)
            throw TdvAutomationError(
                QStringLiteral("The office did not take the printer %1 (it kept %2)").arg(printer, taken));
        printable->print(seqOf({prop("Wait", Any(true))}));
        return TdvVariant();
    }

    void close()
    {
        const Reference<lang::XComponent> document = FDocument;
        FDocument.clear();
        const Reference<util::XCloseable> closeable(document, UNO_QUERY);
        try {
            if (closeable.is()) {
                closeable->close(true);
                return;
            }
        } catch (const util::CloseVetoException&) {
        }
        document->dispose();
    }

    Reference<lang::XComponent> FDocument;
    std::shared_ptr<TdvOffice> FOffice;
    std::shared_ptr<TdvImpressPrintOptions> FOptions;
};

class TdvImpressPresentations : public TdvAutoObject
{
public:
    TdvImpressPresentations(std::shared_ptr<TdvOffice> office,
                            std::function<void(std::shared_ptr<TdvImpressPresentation>)> opened)
        : FOffice(std::move(office)), FOpened(std::move(opened))
    {
    }

    TdvVariant Get(const QString& name) override { throwUnknownMember(name); }
    void Put(const QString& name, const TdvVariant&) override { throwUnknownMember(name); }

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        if (!is(name, "Open"))
            throwUnknownMember(name);
        checkArgCount(args, 1, 4);
        const QString path = args[0].Deref().ToText();
        const bool readOnly = args.size() > 1 && !args[1].Deref().IsMissing() && args[1].Deref().ToBool();
        if (!isWebAddress(path) && !isFileNameEncodable(path))
            throw TdvAutomationError(
                QStringLiteral("The name of the presentation %1 is not valid UTF-8 and cannot be opened")
                    .arg(path));
        if (!isWebAddress(path)) {
            const QString reason = readProblem(path);
            if (!reason.isEmpty())
                throw TdvAutomationError(unreadablePresentationMessage(path, reason));
        }
        Reference<lang::XComponent> document;
        try {
            // Hidden, never running macros, never fetching linked content: a deck from a stranger must not
            // run code or reach the network here.
            std::vector<beans::PropertyValue> props{
                prop("Hidden", Any(true)),
                prop("MacroExecutionMode", Any(sal_Int16(document::MacroExecMode::NEVER_EXECUTE))),
                prop("UpdateDocMode", Any(sal_Int16(document::UpdateDocMode::NO_UPDATE)))};
            if (readOnly)
                props.push_back(prop("ReadOnly", Any(true)));
            document = loadDocument(*FOffice, documentUrl(path),
                                    Sequence<beans::PropertyValue>(props.data(), sal_Int32(props.size())));
        } catch (const uno::Exception& e) {
            throw unoFailure(e, FOffice.get(), TdvFileAccess::Read, path);
        }
        if (!document.is()) {
            if (!FOffice->Alive())
                throw TdvAutomationError(FOffice->LostMessage());
            throw TdvAutomationError(damagedPresentationMessage());
        }
        ++FOffice->ItemsOpened;
        auto presentation = std::make_shared<TdvImpressPresentation>(document, FOffice);
        FOpened(presentation);
        return TdvVariant(std::static_pointer_cast<TdvAutoObject>(presentation));
    }

private:
    std::shared_ptr<TdvOffice> FOffice;
    std::function<void(std::shared_ptr<TdvImpressPresentation>)> FOpened;
};

class TdvImpressApp : public TdvAutoObject, public std::enable_shared_from_this<TdvImpressApp>
{
public:
    explicit TdvImpressApp(std::shared_ptr<TdvOffice> office) : FOffice(std::move(office)) {}

    TdvVariant Get(const QString& name) override
    {
        if (is(name, "Version"))
            return guarded([&] { return TdvVariant(version()); });
        if (is(name, "Path"))
            return TdvVariant(FOffice->ProgramFolder());
        if (is(name, "Name"))
            return TdvVariant(QStringLiteral("LibreOffice Impress"));
        if (is(name, "Presentations")) {
            std::weak_ptr<TdvImpressApp> self = weak_from_this();
            return TdvVariant(std::make_shared<TdvImpressPresentations>(
                FOffice, [self](const std::shared_ptr<TdvImpressPresentation>& p) {
                    if (auto app = self.lock())
                        app->FActive = p;
                }));
        }
        if (is(name, "ActivePrinter"))
            return guarded([&] { return TdvVariant(activePrinter()); });
        if (is(name, "Visible"))
            return TdvVariant(FVisible);
        if (is(name, "WindowState"))
            return TdvVariant(FWindowState);
        if (is(name, "DisplayAlerts"))
            return TdvVariant(FDisplayAlerts);
        throwUnknownMember(name);
    }

    // Window settings have nothing to act on in a headless office; they are kept for reading back.
    void Put(const QString& name, const TdvVariant& value) override
    {
        if (is(name, "Visible"))
            FVisible = value.Deref().ToBool();
        else if (is(name, "WindowState"))
            FWindowState = value.Deref().ToInt();
        else if (is(name, "DisplayAlerts"))
            FDisplayAlerts = value.Deref().ToInt();
        else
            throwUnknownMember(name);
    }

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        if (is(name, "Quit")) {
            checkArgCount(args, 0, 0);
            FActive.reset();
            // Ends this worker's office: the process goes and is reaped.
            if (threadOffice() == FOffice)
                endThreadOffice();
            else
                FOffice->Terminate();
            return TdvVariant();
        }
        throwUnknownMember(name);
    }

private:
    template <class F> TdvVariant guarded(F f) { return unoGuarded(FOffice.get(), f); }

    QString version()
    {
        // "major.minor": the full build number would read as no number at all.
        const Reference<lang::XMultiServiceFactory> provider =
            configuration::theDefaultProvider::get(FOffice->uno().context);
        beans::NamedValue node;
        node.Name = "nodepath";
        node.Value <<= OUString("/org.openoffice.Setup/Product");
        const Reference<container::XNameAccess> product(
            provider->createInstanceWithArguments("com.sun.star.configuration.ConfigurationAccess",
                                                  seqOf({Any(node)})),
            UNO_QUERY_THROW);
        OUString text;
        product->getByName("ooSetupVersion") >>= text;
        return toQString(text);
    }

    QString activePrinter()
    {
        if (auto presentation = FActive.lock())
            return presentation->currentPrinter();
        const Reference<awt::XPrinterServer2> server = awt::PrinterServer::create(FOffice->uno().context);
        return toQString(server->getDefaultPrinterName());
    }

    std::shared_ptr<TdvOffice> FOffice;
    std::weak_ptr<TdvImpressPresentation> FActive;
    bool FVisible = false;
    int FWindowState = 1;
    int FDisplayAlerts = 2;
};

} // namespace

std::shared_ptr<TdvAutoObject> createImpressApplication()
{
    return std::make_shared<TdvImpressApp>(ensureThreadOffice());
}

void registerOfficeAutomation()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TdvAutoFactory presentation;
        presentation.Create = &createImpressApplication;
        // A worker's office ends with the worker's session.
        presentation.ThreadDone = &endThreadOffice;
        RegisterAutomationFactory(ProgIdPowerPoint, presentation);
        TdvAutoFactory manager;
        manager.Create = &createOfficeManager;
        RegisterAutomationFactory(ProgIdOfficeManager, manager);
    });
}
