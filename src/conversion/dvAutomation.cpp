#include "conversion/dvAutomation.h"

#include <QHash>
#include <mutex>

const QString ProgIdPowerPoint = QStringLiteral("PowerPoint.Application");
const QString ProgIdOfficeManager = QStringLiteral("com.sun.star.ServiceManager");

// ---- variant ---------------------------------------------------------------------------------------------

TdvVariant TdvVariant::Missing()
{
    TdvVariant v;
    v.FKind = Kind::Missing;
    return v;
}

TdvVariant TdvVariant::Ref(std::shared_ptr<TdvVariant> cell)
{
    TdvVariant v;
    v.FKind = Kind::Ref;
    v.FRef = std::move(cell);
    return v;
}

static TdvAutomationError typeMismatch()
{
    return TdvAutomationError(QString(), TdvAutoCode::TypeMismatch);
}

QString TdvVariant::ToText() const
{
    switch (FKind) {
    case Kind::Text:
        return FText;
    case Kind::Int:
        return QString::number(FInt);
    case Kind::Bool:
        // Automation booleans are -1 and 0.
        return FBool ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Null:
        return QString();
    case Kind::Ref:
        return Deref().ToText();
    default:
        throw typeMismatch();
    }
}

int TdvVariant::ToInt() const
{
    switch (FKind) {
    case Kind::Int:
        return FInt;
    case Kind::Bool:
        return FBool ? -1 : 0;
    case Kind::Null:
        return 0;
    case Kind::Text: {
        bool ok = false;
        const int n = FText.trimmed().toInt(&ok);
        if (!ok)
            throw typeMismatch();
        return n;
    }
    case Kind::Ref:
        return Deref().ToInt();
    default:
        throw typeMismatch();
    }
}

bool TdvVariant::ToBool() const
{
    switch (FKind) {
    case Kind::Bool:
        return FBool;
    case Kind::Int:
        return FInt != 0;
    case Kind::Null:
        return false;
    case Kind::Text: {
        const QString t = FText.trimmed();
        if (t.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (t.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
        bool ok = false;
        const int n = t.toInt(&ok);
        if (!ok)
            throw typeMismatch();
        return n != 0;
    }
    case Kind::Ref:
        return Deref().ToBool();
    default:
        throw typeMismatch();
    }
}

std::shared_ptr<TdvAutoObject> TdvVariant::ToObject() const
{
    if (FKind == Kind::Ref)
        return Deref().ToObject();
    if (FKind != Kind::Object)
        throw typeMismatch();
    return FObject;
}

const std::vector<TdvVariant>& TdvVariant::Items() const
{
    if (FKind == Kind::Ref && FRef)
        return FRef->Items();
    if (FKind != Kind::Array)
        throw typeMismatch();
    return FArray;
}

std::vector<TdvVariant>& TdvVariant::Items()
{
    if (FKind == Kind::Ref && FRef)
        return FRef->Items();
    if (FKind != Kind::Array)
        throw typeMismatch();
    return FArray;
}

static TdvAutoObject& objectOf(const TdvVariant& v)
{
    std::shared_ptr<TdvAutoObject> object = v.ToObject();
    if (!object)
        throw TdvAutomationError(QStringLiteral("Object variable not set"));
    return *object;
}

TdvVariant TdvVariant::Get(const QString& name) const
{
    return objectOf(*this).Get(name);
}

void TdvVariant::Put(const QString& name, const TdvVariant& value) const
{
    objectOf(*this).Put(name, value);
}

TdvVariant TdvVariant::Call(const QString& name, const std::vector<TdvVariant>& args) const
{
    return objectOf(*this).Call(name, args);
}

// ---- errors ----------------------------------------------------------------------------------------------

static QString codeText(unsigned code)
{
    switch (code) {
    case TdvAutoCode::UnknownName:
        return QStringLiteral("Unknown name");
    case TdvAutoCode::BadParamCount:
        return QStringLiteral("Invalid number of parameters");
    case TdvAutoCode::TypeMismatch:
        return QStringLiteral("Type mismatch");
    case TdvAutoCode::ServerFault:
        return QStringLiteral("Exception occurred");
    case TdvAutoCode::InvalidClass:
        return QStringLiteral("Invalid class string");
    case TdvAutoCode::Failed:
        return QStringLiteral("Unspecified error");
    default:
        return QString();
    }
}

QString TdvAutomationError::MessageFor(const QString& description, unsigned code)
{
    QString text = description;
    int end = int(text.size());
    while (end > 0 && (text.at(end - 1).isSpace() || text.at(end - 1) == QLatin1Char('.')))
        --end;
    text.truncate(end);
    if (!text.isEmpty())
        return text;
    text = codeText(code);
    if (!text.isEmpty())
        return text;
    return QStringLiteral("OLE error %1").arg(code, 8, 16, QLatin1Char('0'));
}

TdvAutomationError::TdvAutomationError(const QString& description, unsigned code)
    : TdvError(MessageFor(description, code)), Code(code)
{
}

void throwUnknownMember(const QString& name)
{
    (void)name;
    throw TdvAutomationError(QString(), TdvAutoCode::UnknownName);
}

void checkArgCount(const std::vector<TdvVariant>& args, std::size_t min, std::size_t max)
{
    if (args.size() < min || args.size() > max)
        throw TdvAutomationError(QString(), TdvAutoCode::BadParamCount);
}

// ---- registry --------------------------------------------------------------------------------------------

namespace {
struct Registry
{
    std::mutex lock;
    QHash<QString, TdvAutoFactory> factories;
};

Registry& registry()
{
    static Registry instance;
    return instance;
}
} // namespace

TdvAutoFactory RegisterAutomationFactory(const QString& progID, const TdvAutoFactory& factory)
{
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    TdvAutoFactory previous = r.factories.value(progID.toLower());
    if (factory.Create)
        r.factories.insert(progID.toLower(), factory);
    else
        r.factories.remove(progID.toLower());
    return previous;
}

void UninitializeAutomation()
{
    std::vector<std::function<void()>> dones;
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        for (const TdvAutoFactory& f : r.factories)
            if (f.ThreadDone)
                dones.push_back(f.ThreadDone);
    }
    for (auto& done : dones) {
        try {
            done();
        } catch (...) {
            // Ending a thread's session is a side operation.
        }
    }
}

TdvVariant CreateAutomationObject(const QString& progID)
{
    const QString suffix = QStringLiteral(", ProgID: \"%1\"").arg(progID);
    std::function<std::shared_ptr<TdvAutoObject>()> create;
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        create = r.factories.value(progID.toLower()).Create;
    }
    if (!create)
        throw TdvAutomationError(TdvAutomationError::MessageFor(QString(), TdvAutoCode::InvalidClass) +
                                     suffix,
                                 TdvAutoCode::InvalidClass);
    try {
        std::shared_ptr<TdvAutoObject> object = create();
        if (!object)
            throw TdvAutomationError(QString(), TdvAutoCode::Failed);
        return TdvVariant(std::move(object));
    } catch (const TdvAutomationError& e) {
        throw TdvAutomationError(e.Message + suffix, e.Code);
    } catch (const std::exception& e) {
        throw TdvAutomationError(TdvAutomationError::MessageFor(errorMessage(e), TdvAutoCode::Failed) +
                                     suffix,
                                 TdvAutoCode::Failed);
    }
}
