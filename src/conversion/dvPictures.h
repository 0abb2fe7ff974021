#pragma once

// The pictures of a loaded deck that the office does not draw: a link it may not fetch, a file it cannot
// read, a bitmap larger than it can hold. The PDF still comes out, without them; the item's note says so.

#include <QList>
#include <QString>

namespace com::sun::star {
namespace lang {
class XComponent;
}
namespace uno {
template <class> class Reference;
}
} // namespace com::sun::star

struct TdvLeftOutPicture
{
    int Slide = 0; // from 1, as the deck numbers its slides
    // The bitmap's size as its file gives it; 0 when the office has no picture at all (unreadable, or a
    // link it was not let fetch).
    int Width = 0;
    int Height = 0;
};

// Looks at every picture on the deck's slides, groups included. Fails with the office's message.
QList<TdvLeftOutPicture>
leftOutPictures(const com::sun::star::uno::Reference<com::sun::star::lang::XComponent>& document);

// "Pictures left out: slide 1 (40000x40000 pixels, too large for the office); slide 3 (unreadable or
// linked)"; empty for none.
QString leftOutPicturesNote(const QList<TdvLeftOutPicture>& pictures);
