// The office's service manager for late binding: every UNO object wrapped through
// com.sun.star.script.Invocation, structs made through core reflection.
#include "conversion/dvUno.h"

#include "conversion/dvOfficeErrors.h"
#include "conversion/dvOfficeProcess.h"
#include "project/dvProject.h"

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XExactName.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/WrappedTargetException.hpp>
#include <com/sun/star/lang/WrappedTargetRuntimeException.hpp>
#include <com/sun/star/lang/XSingleServiceFactory.hpp>
#include <com/sun/star/reflection/InvocationTargetException.hpp>
#include <com/sun/star/reflection/XIdlClass.hpp>
#include <com/sun/star/reflection/XIdlField2.hpp>
#include <com/sun/star/reflection/XIdlReflection.hpp>
#include <com/sun/star/reflection/theCoreReflection.hpp>
#include <com/sun/star/script/Converter.hpp>
#include <com/sun/star/script/XInvocation2.hpp>
#include <com/sun/star/script/XTypeConverter.hpp>
#include <com/sun/star/task/ErrorCodeIOException.hpp>
#include <com/sun/star/uno/Sequence.hxx>
#include <cppuhelper/bootstrap.hxx>
#include <cppuhelper/exc_hlp.hxx>
#include <cppuhelper/implbase1.hxx>
#include <rtl/bootstrap.hxx>

#include <QRegularExpression>
#include <QUrl>
#include <mutex>

using namespace css;
using css::uno::Any;
using css::uno::Reference;
using css::uno::Sequence;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;

namespace {

class DisposeFlag : public cppu::WeakImplHelper1<lang::XEventListener>
{
public:
    explicit DisposeFlag(std::shared_ptr<std::atomic<bool>> flag) : FFlag(std::move(flag)) {}
    void SAL_CALL disposing(const lang::EventObject&) override { *FFlag = true; }

private:
    std::shared_ptr<std::atomic<bool>> FFlag;
};

} // namespace

Reference<lang::XEventListener> disposeFlagListener(std::shared_ptr<std::atomic<bool>> flag)
{
    return new DisposeFlag(std::move(flag));
}

uno::Reference<uno::XComponentContext> localUnoContext()
{
    // Made once and kept for the life of the process: tearing UNO down at exit gains nothing.
    static std::mutex lock;
    static Reference<uno::XComponentContext>* context = nullptr;
    std::lock_guard guard(lock);
    if (!context) {
        // The bootstrap file beside the UNO libraries names only the base types; the office's API types
        // (frames, documents, ...) come from its types folder, which soffice finds through its own files.
        rtl::Bootstrap::set(OUString("URE_MORE_TYPES"),
                            toOUString(QStringLiteral("<") +
                                       QUrl::fromLocalFile(officeProgramFolder() + QStringLiteral("/types"))
                                           .toString(QUrl::FullyEncoded) +
                                       QStringLiteral(">*")));
        try {
            context = new Reference<uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
        } catch (const uno::Exception& e) {
            throw TdvError(QStringLiteral("The UNO runtime could not be started: ") + toQString(e.Message));
        }
    }
    return *context;
}

namespace {

// The message a UNO exception carries, looking through the wrappers that invocation and the office add.
QString unoMessage(const Any& caught)
{
    reflection::InvocationTargetException ite;
    if (caught >>= ite) {
        if (ite.TargetException.hasValue())
            return unoMessage(ite.TargetException);
        return toQString(ite.Message);
    }
    lang::WrappedTargetRuntimeException wtre;
    if (caught >>= wtre) {
        if (wtre.TargetException.hasValue())
            return unoMessage(wtre.TargetException);
        return toQString(wtre.Message);
    }
    lang::WrappedTargetException wte;
    if (caught >>= wte) {
        if (wte.TargetException.hasValue())
            return unoMessage(wte.TargetException);
        return toQString(wte.Message);
    }
    uno::Exception e;
    if (caught >>= e)
        return toQString(e.Message);
    return QString();
}

// The office's error code that an exception carries, looking through the same wrappers; the office also
// writes it into its texts ("failed: 0xc10(Error Area:Io ..."), which serves when the type was lost on the
// way.
quint32 officeErrorCode(const Any& caught, const QString& text)
{
    reflection::InvocationTargetException ite;
    if ((caught >>= ite) && ite.TargetException.hasValue())
        return officeErrorCode(ite.TargetException, text);
    lang::WrappedTargetRuntimeException wtre;
    if ((caught >>= wtre) && wtre.TargetException.hasValue())
        return officeErrorCode(wtre.TargetException, text);
    lang::WrappedTargetException wte;
    if ((caught >>= wte) && wte.TargetException.hasValue())
        return officeErrorCode(wte.TargetException, text);
    task::ErrorCodeIOException coded;
    if (caught >>= coded)
        return quint32(coded.ErrCode);
    static const QRegularExpression written(QStringLiteral("0x([0-9a-fA-F]+)\\(Error Area:"));
    const QRegularExpressionMatch match = written.match(text);
    return match.hasMatch() ? match.captured(1).toUInt(nullptr, 16) : 0;
}

bool isDisposed(const Any& caught)
{
    reflection::InvocationTargetException ite;
    if ((caught >>= ite) && ite.TargetException.hasValue())
        return isDisposed(ite.TargetException);
    return caught.getValueType() == cppu::UnoType<lang::DisposedException>::get();
}

Reference<script::XTypeConverter> typeConverter()
{
    static Reference<script::XTypeConverter> converter = script::Converter::create(localUnoContext());
    return converter;
}

Reference<lang::XSingleServiceFactory> invocationFactory()
{
    static Reference<lang::XSingleServiceFactory> factory = [] {
        const Reference<uno::XComponentContext> local = localUnoContext();
        Reference<lang::XSingleServiceFactory> f(local->getServiceManager()->createInstanceWithContext(
                                                     OUString("com.sun.star.script.Invocation"), local),
                                                 UNO_QUERY);
        if (!f.is())
            throw TdvError(
                QStringLiteral("The late-binding service com.sun.star.script.Invocation is missing"));
        return f;
    }();
    return factory;
}

// What the office layer's values hand to UNO when passed as arguments.
class TdvUnoValue : public TdvAutoObject
{
public:
    virtual Any AsAny() const = 0;
};

// A UNO struct (PropertyValue and the like): fields read and written through core reflection.
class TdvUnoStruct : public TdvUnoValue
{
public:
    TdvUnoStruct(const Any& value, std::shared_ptr<TdvOffice> office)
        : FValue(value), FOffice(std::move(office))
    {
        FClass = reflection::theCoreReflection::get(localUnoContext())->forName(FValue.getValueTypeName());
    }

    Any AsAny() const override { return FValue; }

    TdvVariant Get(const QString& name) override
    {
        const Reference<reflection::XIdlField> field = fieldOf(name);
        try {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            // Reflection's field access is the published way to read a struct by field name.
            return anyToVariant(field->get(FValue), FOffice);
#pragma GCC diagnostic pop
        } catch (const uno::Exception& e) {
            throw TdvAutomationError(toQString(e.Message));
        }
    }

    void Put(const QString& name, const TdvVariant& value) override
    {
        const Reference<reflection::XIdlField2> field(fieldOf(name), UNO_QUERY_THROW);
        try {
            Any converted = variantToAny(value);
            const uno::Type type(field->getType()->getTypeClass(), field->getType()->getName());
            if (type.getTypeClass() != uno::TypeClass_ANY)
                converted = typeConverter()->convertTo(converted, type);
            else if (converted.getValueTypeClass() == uno::TypeClass_LONG && isShortProperty())
                converted = typeConverter()->convertTo(converted, cppu::UnoType<sal_Int16>::get());
            field->set(FValue, converted);
        } catch (const uno::Exception& e) {
            throw TdvAutomationError(toQString(e.Message), TdvAutoCode::TypeMismatch);
        }
    }

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>&) override
    {
        throwUnknownMember(name);
    }

private:
    // Automation integers are 32-bit, but the office reads a few load properties only as 16-bit values
    // and would ignore them silently otherwise.
    bool isShortProperty() const
    {
        beans::PropertyValue p;
        if (!(FValue >>= p))
            return false;
        return p.Name == "MacroExecutionMode" || p.Name == "UpdateDocMode";
    }

    Reference<reflection::XIdlField> fieldOf(const QString& name)
    {
        if (FClass.is()) {
            const Sequence<Reference<reflection::XIdlField>> fields = FClass->getFields();
            for (const Reference<reflection::XIdlField>& f : fields)
                if (toQString(f->getName()).compare(name, Qt::CaseInsensitive) == 0)
                    return f;
        }
        throwUnknownMember(name);
    }

    Any FValue;
    Reference<reflection::XIdlClass> FClass;
    std::shared_ptr<TdvOffice> FOffice;
};

// Any UNO object, called by member name through the Invocation service.
class TdvUnoObject : public TdvUnoValue
{
public:
    TdvUnoObject(const Reference<uno::XInterface>& object, std::shared_ptr<TdvOffice> office)
        : FObject(object), FOffice(std::move(office))
    {
        try {
            Any target;
            target <<= object;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
            // The Invocation service is reached only through this factory interface.
            FInvocation.set(invocationFactory()->createInstanceWithArguments(Sequence<Any>(&target, 1)),
                            UNO_QUERY_THROW);
#pragma GCC diagnostic pop
            FExact.set(FInvocation, UNO_QUERY);
        } catch (const uno::Exception& e) {
            throw unoFailure(e, FOffice.get());
        }
    }

    Any AsAny() const override
    {
        Any a;
        a <<= FObject;
        return a;
    }

    TdvVariant Get(const QString& name) override
    {
        try {
            return anyToVariant(FInvocation->getValue(exact(name)), FOffice);
        } catch (const uno::Exception& e) {
            throw unoFailure(e, FOffice.get());
        }
    }

    void Put(const QString& name, const TdvVariant& value) override
    {
        try {
            FInvocation->setValue(exact(name), variantToAny(value));
        } catch (const uno::Exception& e) {
            throw unoFailure(e, FOffice.get());
        }
    }

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        Sequence<Any> params(sal_Int32(args.size()));
        Any* p = params.getArray();
        for (std::size_t i = 0; i < args.size(); ++i)
            p[i] = variantToAny(args[i]);
        Sequence<sal_Int16> outIndex;
        Sequence<Any> outValue;
        Any result;
        try {
            const OUString member = exact(name);
            if (!(FOffice && streamedCall(member, params, result)))
                result = FInvocation->invoke(member, params, outIndex, outValue);
        } catch (const uno::Exception& e) {
            throw unoFailure(e, FOffice.get());
        }
        // By-reference arguments receive what the member wrote back.
        for (sal_Int32 i = 0; i < outIndex.getLength(); ++i) {
            const std::size_t at = std::size_t(outIndex[i]);
            if (at < args.size() && args[at].GetKind() == TdvVariant::Kind::Ref && args[at].Cell())
                *args[at].Cell() = anyToVariant(outValue[i], FOffice);
        }
        return anyToVariant(result, FOffice);
    }

protected:
    // An office does not open this machine's files itself: loading and storing one goes through a stream
    // where the office cannot reach it.
    bool streamedCall(const OUString& member, const Sequence<Any>& params, Any& result)
    {
        const auto properties = [](const Any& value) {
            Sequence<beans::PropertyValue> list;
            if (value >>= list)
                return list;
            Sequence<Any> items;
            value >>= items;
            std::vector<beans::PropertyValue> found;
            for (const Any& item : items) {
                beans::PropertyValue p;
                if (item >>= p)
                    found.push_back(p);
            }
            return Sequence<beans::PropertyValue>(found.data(), sal_Int32(found.size()));
        };
        OUString url;
        if (member == "loadComponentFromURL" && params.getLength() == 4 && (params[0] >>= url)) {
            result <<= loadDocument(*FOffice, url, properties(params[3]));
            return true;
        }
        const Reference<frame::XStorable> storable(FObject, UNO_QUERY);
        if (member == "storeToURL" && storable.is() && params.getLength() == 2 && (params[0] >>= url)) {
            storeDocument(*FOffice, storable, url, properties(params[1]));
            return true;
        }
        return false;
    }

    OUString exact(const QString& name) const
    {
        // Automation names ignore letter case; UNO's do not.
        const OUString given = toOUString(name);
        if (FExact.is()) {
            try {
                const OUString found = FExact->getExactName(given);
                if (!found.isEmpty())
                    return found;
            } catch (const uno::RuntimeException&) {
            }
        }
        return given;
    }

    Reference<uno::XInterface> FObject;
    Reference<script::XInvocation2> FInvocation;
    Reference<beans::XExactName> FExact;
    std::shared_ptr<TdvOffice> FOffice;
};

// The service manager: late binding like every object, plus the struct maker of the automation bridge.
class TdvUnoManager : public TdvUnoObject
{
public:
    using TdvUnoObject::TdvUnoObject;

    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) override
    {
        if (name.compare(QLatin1String("Bridge_GetStruct"), Qt::CaseInsensitive) != 0)
            return TdvUnoObject::Call(name, args);
        checkArgCount(args, 1, 1);
        const QString typeName = args[0].Deref().ToText();
        try {
            const Reference<reflection::XIdlClass> cls =
                reflection::theCoreReflection::get(localUnoContext())->forName(toOUString(typeName));
            if (!cls.is() || cls->getTypeClass() != uno::TypeClass_STRUCT)
                throw TdvAutomationError(QStringLiteral("Unknown struct type ") + typeName);
            Any value;
            cls->createObject(value);
            return TdvVariant(std::make_shared<TdvUnoStruct>(value, FOffice));
        } catch (const uno::Exception& e) {
            throw TdvAutomationError(toQString(e.Message));
        }
    }
};

} // namespace

TdvAutomationError unoFailure(const uno::Exception& e, const TdvOffice* office, TdvFileAccess access,
                              const QString& file)
{
    const Any caught = cppu::getCaughtException();
    if ((office && !office->Alive()) || isDisposed(caught))
        return TdvAutomationError(office ? office->LostMessage() : TdvOffice::DeadMessage());
    QString text = unoMessage(caught);
    if (text.isEmpty())
        text = toQString(e.Message);
    if (access != TdvFileAccess::None && !file.isEmpty() && !isWebAddress(file)) {
        const quint32 code = officeErrorCode(caught, text);
        if (isOfficeFileError(code))
            return TdvAutomationError(access == TdvFileAccess::Write ? officeWriteFailure(file, code, text)
                                                                     : officeReadFailure(file, code, text));
    }
    return TdvAutomationError(text);
}

Any variantToAny(const TdvVariant& v)
{
    switch (v.GetKind()) {
    case TdvVariant::Kind::Null:
    case TdvVariant::Kind::Missing:
        return Any();
    case TdvVariant::Kind::Text:
        return Any(toOUString(v.ToText()));
    case TdvVariant::Kind::Int:
        return Any(sal_Int32(v.ToInt()));
    case TdvVariant::Kind::Bool:
        return Any(bool(v.ToBool()));
    case TdvVariant::Kind::Array: {
        const std::vector<TdvVariant>& items = v.Items();
        // An array of property structs goes over as a sequence of that struct, as the office reads
        // FilterData and similar lists only in that form (a sequence of any would be ignored silently).
        std::vector<beans::PropertyValue> properties;
        for (const TdvVariant& item : items) {
            beans::PropertyValue p;
            if (item.GetKind() != TdvVariant::Kind::Object || !(variantToAny(item) >>= p))
                break;
            properties.push_back(p);
        }
        if (!items.empty() && properties.size() == items.size())
            return Any(Sequence<beans::PropertyValue>(properties.data(), sal_Int32(properties.size())));
        Sequence<Any> seq(sal_Int32(items.size()));
        Any* p = seq.getArray();
        for (std::size_t i = 0; i < items.size(); ++i)
            p[i] = variantToAny(items[i]);
        return Any(seq);
    }
    case TdvVariant::Kind::Object: {
        const std::shared_ptr<TdvAutoObject> object = v.ToObject();
        if (!object)
            return Any(Reference<uno::XInterface>());
        if (auto* value = dynamic_cast<TdvUnoValue*>(object.get()))
            return value->AsAny();
        throw TdvAutomationError(QString(), TdvAutoCode::TypeMismatch);
    }
    case TdvVariant::Kind::Ref:
        return variantToAny(v.Deref());
    }
    return Any();
}

TdvVariant anyToVariant(const Any& a, const std::shared_ptr<TdvOffice>& office)
{
    switch (a.getValueTypeClass()) {
    case uno::TypeClass_VOID:
        return TdvVariant();
    case uno::TypeClass_BOOLEAN:
        return TdvVariant(*static_cast<const sal_Bool*>(a.getValue()) != 0);
    case uno::TypeClass_BYTE:
    case uno::TypeClass_SHORT:
    case uno::TypeClass_UNSIGNED_SHORT:
    case uno::TypeClass_LONG:
    case uno::TypeClass_ENUM: {
        sal_Int32 n = 0;
        if (a.getValueTypeClass() == uno::TypeClass_ENUM)
            n = *static_cast<const sal_Int32*>(a.getValue());
        else
            a >>= n;
        return TdvVariant(int(n));
    }
    case uno::TypeClass_UNSIGNED_LONG:
    case uno::TypeClass_HYPER:
    case uno::TypeClass_UNSIGNED_HYPER:
    case uno::TypeClass_FLOAT:
    case uno::TypeClass_DOUBLE: {
        double d = 0;
        typeConverter()->convertTo(a, cppu::UnoType<double>::get()) >>= d;
        if (d == double(int(d)))
            return TdvVariant(int(d));
        return TdvVariant(QString::number(d));
    }
    case uno::TypeClass_CHAR:
    case uno::TypeClass_STRING: {
        OUString s;
        if (a.getValueTypeClass() == uno::TypeClass_CHAR)
            s = OUString(*static_cast<const sal_Unicode*>(a.getValue()));
        else
            a >>= s;
        return TdvVariant(toQString(s));
    }
    case uno::TypeClass_TYPE: {
        uno::Type t;
        a >>= t;
        return TdvVariant(toQString(t.getTypeName()));
    }
    case uno::TypeClass_STRUCT:
    case uno::TypeClass_EXCEPTION:
        return TdvVariant(std::make_shared<TdvUnoStruct>(a, office));
    case uno::TypeClass_SEQUENCE: {
        Sequence<Any> seq;
        try {
            typeConverter()->convertTo(a, cppu::UnoType<Sequence<Any>>::get()) >>= seq;
        } catch (const uno::Exception& e) {
            throw TdvAutomationError(toQString(e.Message), TdvAutoCode::TypeMismatch);
        }
        std::vector<TdvVariant> items;
        items.reserve(std::size_t(seq.getLength()));
        for (const Any& item : seq)
            items.push_back(anyToVariant(item, office));
        return TdvVariant(std::move(items));
    }
    case uno::TypeClass_INTERFACE: {
        Reference<uno::XInterface> object;
        a >>= object;
        if (!object.is())
            return TdvVariant(std::shared_ptr<TdvAutoObject>());
        return TdvVariant(wrapUnoObject(object, office));
    }
    default:
        throw TdvAutomationError(QString(), TdvAutoCode::TypeMismatch);
    }
}

std::shared_ptr<TdvAutoObject> wrapUnoObject(const Reference<uno::XInterface>& object,
                                             const std::shared_ptr<TdvOffice>& office)
{
    return std::make_shared<TdvUnoObject>(object, office);
}

// The factory behind "com.sun.star.ServiceManager": the service manager of the calling worker's own office.
// It never starts an office of its own: the worker's presentation session owns the process.
std::shared_ptr<TdvAutoObject> createOfficeManager()
{
    const std::shared_ptr<TdvOffice> office = threadOffice();
    if (!office || !office->Alive())
        throw TdvAutomationError(QStringLiteral("No office is running for this worker"));
    return std::make_shared<TdvUnoManager>(office->uno().manager, office);
}
