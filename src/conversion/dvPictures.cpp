#include "conversion/dvPictures.h"

#include "conversion/dvUno.h"

#include <com/sun/star/awt/Size.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/drawing/XDrawPagesSupplier.hpp>
#include <com/sun/star/graphic/GraphicType.hpp>
#include <com/sun/star/graphic/XGraphic.hpp>
#include <com/sun/star/lang/XServiceInfo.hpp>

#include <QStringList>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

// How many pictures one note names before it counts the rest.
constexpr int kNamedPictures = 5;

void collect(const Reference<container::XIndexAccess>& shapes, int slide, QList<TdvLeftOutPicture>& out)
{
    for (sal_Int32 i = 0; i < shapes->getCount(); ++i) {
        const Reference<lang::XServiceInfo> info(shapes->getByIndex(i), UNO_QUERY);
        if (!info.is())
            continue;
        if (info->supportsService("com.sun.star.drawing.GroupShape")) {
            collect(Reference<container::XIndexAccess>(info, UNO_QUERY_THROW), slide, out);
            continue;
        }
        if (!info->supportsService("com.sun.star.drawing.GraphicObjectShape"))
            continue;
        const Reference<beans::XPropertySet> shape(info, UNO_QUERY_THROW);
        Reference<graphic::XGraphic> graphic;
        shape->getPropertyValue("Graphic") >>= graphic;
        const Reference<beans::XPropertySet> described(graphic, UNO_QUERY);
        sal_Int8 type = graphic::GraphicType::EMPTY;
        if (described.is())
            described->getPropertyValue("GraphicType") >>= type;
        if (type == graphic::GraphicType::EMPTY) {
            out.append({int(slide), 0, 0});
            continue;
        }
        if (type != graphic::GraphicType::PIXEL)
            continue;
        // The office reads a bitmap's header at load and its pixels when it first draws them; a bitmap whose
        // pixels it cannot hold has no depth then, and the PDF goes without it.
        sal_Int8 depth = 0;
        described->getPropertyValue("BitsPerPixel") >>= depth;
        if (depth > 0)
            continue;
        awt::Size size;
        described->getPropertyValue("SizePixel") >>= size;
        out.append({int(slide), int(size.Width), int(size.Height)});
    }
}

} // namespace

QList<TdvLeftOutPicture> leftOutPictures(const Reference<lang::XComponent>& document)
{
    QList<TdvLeftOutPicture> pictures;
    const Reference<drawing::XDrawPagesSupplier> supplier(document, UNO_QUERY);
    if (!supplier.is())
        return pictures;
    const Reference<container::XIndexAccess> pages(supplier->getDrawPages(), UNO_QUERY_THROW);
    for (sal_Int32 page = 0; page < pages->getCount(); ++page)
        collect(Reference<container::XIndexAccess>(pages->getByIndex(page), UNO_QUERY_THROW), int(page) + 1,
                pictures);
    return pictures;
}

QString leftOutPicturesNote(const QList<TdvLeftOutPicture>& pictures)
{
    if (pictures.isEmpty())
        return QString();
    QStringList named;
    for (const TdvLeftOutPicture& picture : pictures.mid(0, kNamedPictures)) {
        named << (picture.Width > 0 ? QStringLiteral("slide %1 (%2x%3 pixels, too large for the office)")
                                          .arg(picture.Slide)
                                          .arg(picture.Width)
                                          .arg(picture.Height)
                                    : QStringLiteral("slide %1 (unreadable or linked)").arg(picture.Slide));
    }
    if (pictures.size() > kNamedPictures)
        named << QStringLiteral("%1 more").arg(pictures.size() - kNamedPictures);
    return QStringLiteral("Pictures left out: ") + named.join(QStringLiteral("; "));
}
