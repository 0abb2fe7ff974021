#pragma once

// UNO inside the office layer: the bridge to one office, and the conversions between UNO values and the
// automation layer's variants. Only sources of src/conversion/ include this header.

#include "conversion/dvAutomation.h"
#include "conversion/dvOffice.h"
#include "conversion/dvPowerPointOle.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/XBridge.hpp>
#include <com/sun/star/connection/XConnection.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/lang/XEventListener.hpp>
#include <com/sun/star/lang/XMultiComponentFactory.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>

namespace css = com::sun::star;
using rtl::OUString;

// Why this program dropped a listener's connection (it broke the protocol), for the text of the failure.
class TdvLinkFault
{
public:
    void Set(const QString& reason); // the first reason stays
    QString Reason() const;          // empty while there is none

private:
    mutable std::mutex FLock;
    QString FReason;
};

// The bridge to one office process.
struct TdvOffice::Uno
{
    css::uno::Reference<css::uno::XComponentContext> context; // the office's
    css::uno::Reference<css::lang::XMultiComponentFactory> manager;
    css::uno::Reference<css::lang::XComponent> bridge;
    css::uno::Reference<css::frame::XDesktop2> desktop;
    // The socket of a remote office, closed to drop it.
    css::uno::Reference<css::connection::XConnection> connection;
    // Set by the bridge's disposing event: the connection is gone, and so, as a rule, is the office.
    std::shared_ptr<std::atomic<bool>> disposed = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<TdvLinkFault> fault = std::make_shared<TdvLinkFault>();

    void release(); // drops every reference, leaving the bridge to go away with the process
};

// A listener that sets `flag` when what it listens to is disposed: a bridge whose connection is gone.
css::uno::Reference<css::lang::XEventListener> disposeFlagListener(std::shared_ptr<std::atomic<bool>> flag);

// This process's own UNO context (type library, reflection, invocation), made once.
css::uno::Reference<css::uno::XComponentContext> localUnoContext();

inline OUString toOUString(const QString& s)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

inline QString toQString(const OUString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getStr()), int(s.getLength()));
}

// officeSuiteUrl for the UNO calls.
inline OUString documentUrl(const QString& path)
{
    return toOUString(officeSuiteUrl(path));
}

// What a failed call did with a file, so that an I/O error of the office can name the file-system cause.
enum class TdvFileAccess { None, Read, Write };

// The automation failure for a UNO exception: its message, or the dead-office text when the bridge is gone.
// An office I/O error while reading or writing `file` is told in the system's words, its text after that.
TdvAutomationError unoFailure(const css::uno::Exception& e, const TdvOffice* office,
                              TdvFileAccess access = TdvFileAccess::None, const QString& file = QString());

// Loads a document in the office. For an office that takes files as streams (a remote one), the office reads
// a local file from a stream of ours, piece by piece as it asks: it needs no access to this machine's files,
// and the deck is never held here whole. Failures name the file, never the stream.
css::uno::Reference<css::lang::XComponent>
loadDocument(TdvOffice& office, const OUString& url,
             const css::uno::Sequence<css::beans::PropertyValue>& args);
// Stores a document; for an office that takes files as streams, the office writes the file's bytes into a
// stream of ours as it makes them, and they go straight into the file here.
void storeDocument(TdvOffice& office, const css::uno::Reference<css::frame::XStorable>& storable,
                   const OUString& url, const css::uno::Sequence<css::beans::PropertyValue>& args);

// Variant <-> Any. Objects coming back from the office are wrapped for late binding on `office`.
css::uno::Any variantToAny(const TdvVariant& v);
TdvVariant anyToVariant(const css::uno::Any& a, const std::shared_ptr<TdvOffice>& office);

// Wraps a UNO object for late binding through com.sun.star.script.Invocation.
std::shared_ptr<TdvAutoObject> wrapUnoObject(const css::uno::Reference<css::uno::XInterface>& object,
                                             const std::shared_ptr<TdvOffice>& office);

// The factory behind "com.sun.star.ServiceManager" (the calling worker's own office).
std::shared_ptr<TdvAutoObject> createOfficeManager();
