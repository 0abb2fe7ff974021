#include "testOfficeClient.h"

#include "base/dvError.h"
#include "conversion/dvUno.h"

#include <com/sun/star/beans/NamedValue.hpp>
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/BridgeFactory.hpp>
#include <com/sun/star/bridge/XBridgeFactory2.hpp>
#include <com/sun/star/configuration/theDefaultProvider.hpp>
#include <com/sun/star/connection/Connector.hpp>
#include <com/sun/star/container/XNameAccess.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/lang/XMultiServiceFactory.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <csignal>
#include <vector>

using namespace css;
using css::uno::Reference;
using css::uno::UNO_QUERY_THROW;

struct TestOfficeClient::Bridge
{
    Reference<lang::XComponent> bridge;
    Reference<uno::XComponentContext> context;
    Reference<frame::XDesktop2> desktop;
    std::vector<Reference<util::XCloseable>> open;
};

TestOfficeClient::TestOfficeClient(int port) : FBridge(std::make_unique<Bridge>())
{
    // A connection the server drops must fail the call that uses it, as it does in the program's own
    // clients, not end the test.
    signal(SIGPIPE, SIG_IGN);
    try {
        const Reference<uno::XComponentContext> local = localUnoContext();
        const Reference<connection::XConnection> connection = connection::Connector::create(local)->connect(
            toOUString(QStringLiteral("socket,host=127.0.0.1,port=%1").arg(port)));
        const Reference<bridge::XBridge> link =
            bridge::BridgeFactory::create(local)->createBridge(OUString(), OUString("urp"), connection, {});
        FBridge->bridge.set(link, UNO_QUERY_THROW);
        FBridge->context.set(link->getInstance(OUString("StarOffice.ComponentContext")), UNO_QUERY_THROW);
        FBridge->desktop = frame::Desktop::create(FBridge->context);
    } catch (const uno::Exception& e) {
        throw TdvError(toQString(e.Message));
    }
}

TestOfficeClient::~TestOfficeClient()
{
    for (int i = 0; i < int(FBridge->open.size()); ++i) {
        try {
            Close(i);
        } catch (...) {
            // The office may be gone already.
        }
    }
    FBridge->desktop.clear();
    FBridge->context.clear();
    try {
        FBridge->bridge->dispose();
    } catch (...) {
    }
}

int TestOfficeClient::OpenPresentation()
{
    try {
        uno::Sequence<beans::PropertyValue> arguments(1);
        arguments.getArray()[0].Name = "Hidden";
        arguments.getArray()[0].Value <<= true;
        const Reference<lang::XComponent> document = FBridge->desktop->loadComponentFromURL(
            OUString("private:factory/simpress"), OUString("_blank"), 0, arguments);
        FBridge->open.emplace_back(document, UNO_QUERY_THROW);
        return int(FBridge->open.size()) - 1;
    } catch (const uno::Exception& e) {
        throw TdvError(toQString(e.Message));
    }
}

void TestOfficeClient::Close(int presentation)
{
    const Reference<util::XCloseable> document = FBridge->open.at(size_t(presentation));
    if (!document.is())
        return;
    FBridge->open[size_t(presentation)].clear();
    try {
        document->close(true);
    } catch (const uno::Exception& e) {
        throw TdvError(toQString(e.Message));
    }
}

bool TestOfficeClient::MacrosDisabled() const
{
    try {
        const Reference<lang::XMultiServiceFactory> settings =
            configuration::theDefaultProvider::get(FBridge->context);
        uno::Sequence<uno::Any> node(1);
        node.getArray()[0] <<= beans::NamedValue(
            OUString("nodepath"), uno::Any(OUString("/org.openoffice.Office.Common/Security/Scripting")));
        const Reference<container::XNameAccess> scripting(
            settings->createInstanceWithArguments(OUString("com.sun.star.configuration.ConfigurationAccess"),
                                                  node),
            UNO_QUERY_THROW);
        bool disabled = false;
        return (scripting->getByName(OUString("DisableMacrosExecution")) >>= disabled) && disabled;
    } catch (const uno::Exception& e) {
        throw TdvError(toQString(e.Message));
    }
}
