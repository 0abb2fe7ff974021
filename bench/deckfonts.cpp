// The text of presentations as the office reads it, with the fonts each piece of text asks for: what
// bench/fidelity.py holds the PDFs' fonts against. One office reads every deck given, hidden and without
// macros, as the converter loads them; one JSON object per deck goes to standard output:
//   bench_deckfonts DECK...
//   {"deck": PATH, "slides": [{"hidden": false, "runs": [[TEXT, LATIN, ASIAN, COMPLEX], ...]}, ...]}
//   {"deck": PATH, "error": MESSAGE}
// The runs of a slide are those of its shapes (groups and table cells included) and of the shapes its
// master draws on it (placeholders aside): the text its PDF page shows, as far as the office tells.
#include "base/dvError.h"
#include "conversion/dvOffice.h"
#include "conversion/dvPowerPointOle.h"
#include "conversion/dvUno.h"

#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/beans/XPropertySetInfo.hpp>
#include <com/sun/star/container/XEnumerationAccess.hpp>
#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/drawing/XDrawPage.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/drawing/XMasterPageTarget.hpp>
#include <com/sun/star/drawing/XShapes.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/table/XColumnRowRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/text/XTextRange.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>
#include <cstdio>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::UNO_QUERY;

namespace {

QString stringProperty(const Reference<beans::XPropertySet>& props, const char* name)
{
    OUString value;
    try {
        props->getPropertyValue(OUString::createFromAscii(name)) >>= value;
    } catch (const uno::Exception&) {
    }
    return toQString(value);
}

bool boolProperty(const Reference<beans::XPropertySet>& props, const char* name, bool fallback)
{
    if (!props.is() || !props->getPropertySetInfo()->hasPropertyByName(OUString::createFromAscii(name)))
        return fallback;
    bool value = fallback;
    props->getPropertyValue(OUString::createFromAscii(name)) >>= value;
    return value;
}

void readText(const Reference<text::XText>& text, QJsonArray& runs)
{
    // Asked for its whole text first: a table cell's portions read empty until then.
    const Reference<container::XEnumerationAccess> paragraphs(text, UNO_QUERY);
    if (!paragraphs.is() || text->getString().trim().isEmpty())
        return;
    const Reference<container::XEnumeration> p = paragraphs->createEnumeration();
    while (p->hasMoreElements()) {
        const Reference<container::XEnumerationAccess> portions(p->nextElement(), UNO_QUERY);
        if (!portions.is())
            continue;
        const Reference<container::XEnumeration> q = portions->createEnumeration();
        while (q->hasMoreElements()) {
            const Any element = q->nextElement();
            const Reference<text::XTextRange> range(element, UNO_QUERY);
            const Reference<beans::XPropertySet> props(element, UNO_QUERY);
            if (!range.is() || !props.is())
                continue;
            const QString string = toQString(range->getString());
            if (string.trimmed().isEmpty())
                continue;
            runs.append(QJsonArray{string, stringProperty(props, "CharFontName"),
                                   stringProperty(props, "CharFontNameAsian"),
                                   stringProperty(props, "CharFontNameComplex")});
        }
    }
}

void readShapes(const Reference<drawing::XShapes>& shapes, bool master, QJsonArray& runs)
{
    for (sal_Int32 i = 0; i < shapes->getCount(); ++i) {
        const Any element = shapes->getByIndex(i);
        const Reference<beans::XPropertySet> props(element, UNO_QUERY);
        if (!boolProperty(props, "Visible", true))
            continue;
        // The master's placeholders show only where a slide has none of its own.
        if (master && boolProperty(props, "IsPresentationObject", false))
            continue;
        if (boolProperty(props, "IsEmptyPresentationObject", false))
            continue;
        const Reference<drawing::XShapes> group(element, UNO_QUERY);
        if (group.is()) {
            readShapes(group, master, runs);
            continue;
        }
        // A table's cells are in its model, which is a cell range (a chart's model is not).
        Reference<table::XCellRange> cells;
        if (props.is() && props->getPropertySetInfo()->hasPropertyByName("Model"))
            cells.set(props->getPropertyValue("Model"), UNO_QUERY);
        const Reference<table::XColumnRowRange> size(cells, UNO_QUERY);
        if (cells.is() && size.is()) {
            const sal_Int32 rows = size->getRows()->getCount();
            const sal_Int32 columns = size->getColumns()->getCount();
            for (sal_Int32 r = 0; r < rows; ++r)
                for (sal_Int32 c = 0; c < columns; ++c)
                    readText(Reference<text::XText>(cells->getCellByPosition(c, r), UNO_QUERY), runs);
            continue;
        }
        const Reference<text::XText> text(element, UNO_QUERY);
        if (text.is())
            readText(text, runs);
    }
}

QJsonObject readDeck(TdvOffice& office, const QString& path)
{
    QJsonObject result{{QStringLiteral("deck"), path}};
    std::vector<beans::PropertyValue> props(3);
    props[0].Name = "Hidden";
    props[0].Value <<= true;
    props[1].Name = "MacroExecutionMode";
    props[1].Value <<= sal_Int16(document::MacroExecMode::NEVER_EXECUTE);
    props[2].Name = "UpdateDocMode";
    props[2].Value <<= sal_Int16(document::UpdateDocMode::NO_UPDATE);
    const Reference<lang::XComponent> document =
        loadDocument(office, documentUrl(path), uno::Sequence<beans::PropertyValue>(props.data(), 3));
    const Reference<drawing::XDrawPagesSupplier> pages(document, UNO_QUERY);
    if (!pages.is()) {
        if (document.is())
            document->dispose();
        result.insert(QStringLiteral("error"), QStringLiteral("not a presentation, or it cannot be opened"));
        return result;
    }
    QJsonArray slides;
    const Reference<drawing::XDrawPages> all = pages->getDrawPages();
    for (sal_Int32 i = 0; i < all->getCount(); ++i) {
        const Reference<drawing::XDrawPage> page(all->getByIndex(i), UNO_QUERY);
        QJsonArray runs;
        readShapes(Reference<drawing::XShapes>(page, UNO_QUERY), false, runs);
        const Reference<drawing::XMasterPageTarget> target(page, UNO_QUERY);
        if (target.is() && target->getMasterPage().is())
            readShapes(Reference<drawing::XShapes>(target->getMasterPage(), UNO_QUERY), true, runs);
        const bool hidden = !boolProperty(Reference<beans::XPropertySet>(page, UNO_QUERY), "Visible", true);
        slides.append(QJsonObject{{QStringLiteral("hidden"), hidden}, {QStringLiteral("runs"), runs}});
    }
    result.insert(QStringLiteral("slides"), slides);
    const Reference<util::XCloseable> closeable(document, UNO_QUERY);
    try {
        if (closeable.is())
            closeable->close(true);
        else
            document->dispose();
    } catch (const uno::Exception&) {
    }
    return result;
}

void print(const QJsonObject& object)
{
    const QByteArray line = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    fwrite(line.constData(), 1, size_t(line.size()), stdout);
    fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The template profile is the program's own.
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    std::shared_ptr<TdvOffice> office;
    TdvOfficeWatch watch;
    for (const QString& argument : app.arguments().mid(1)) {
        const QString path = QFileInfo(argument).absoluteFilePath();
        try {
            if (!office || !office->Alive()) {
                if (office)
                    office->Terminate();
                office = TdvOffice::Start();
            }
            // A deck that holds the office for minutes is left out, as a conversion's time limit would.
            watch.Reset();
            watch.Arm(office, std::chrono::seconds(120));
            QJsonObject deck = readDeck(*office, path);
            watch.Disarm();
            print(deck);
        } catch (const std::exception& e) {
            watch.Disarm();
            print(QJsonObject{{QStringLiteral("deck"), path}, {QStringLiteral("error"), errorMessage(e)}});
        } catch (const uno::Exception& e) {
            watch.Disarm();
            print(QJsonObject{{QStringLiteral("deck"), path},
                              {QStringLiteral("error"),
                               watch.Fired() ? QStringLiteral("timed out") : toQString(e.Message)}});
        }
    }
    if (office)
        office->Terminate();
    return 0;
}
