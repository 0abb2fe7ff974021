#pragma once

// The automation layer: late-bound calls by member name on the office programs, with variants as values.
// Objects come from a registry of factories keyed by ProgID; tests register their own objects there.

#include "base/dvError.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TdvAutoObject;

// The value of every automation call: Null, text, 32-bit integer, boolean, object, array, an argument
// marked missing, or a reference to a variant that the callee may write.
class TdvVariant
{
public:
    enum class Kind { Null, Missing, Text, Int, Bool, Object, Array, Ref };

    TdvVariant() = default;
    TdvVariant(const QString& text) : FKind(Kind::Text), FText(text) {}
    TdvVariant(const char* text) : FKind(Kind::Text), FText(QString::fromUtf8(text)) {}
    TdvVariant(int value) : FKind(Kind::Int), FInt(value) {}
    TdvVariant(bool value) : FKind(Kind::Bool), FBool(value) {}
    TdvVariant(std::shared_ptr<TdvAutoObject> object) : FKind(Kind::Object), FObject(std::move(object)) {}
    TdvVariant(std::vector<TdvVariant> items) : FKind(Kind::Array), FArray(std::move(items)) {}

    static TdvVariant Missing();
    // A by-reference argument: the callee reads and may replace the cell's value.
    static TdvVariant Ref(std::shared_ptr<TdvVariant> cell);
    static TdvVariant EmptyArray() { return TdvVariant(std::vector<TdvVariant>()); }

    Kind GetKind() const { return FKind; }
    bool IsNull() const { return FKind == Kind::Null || (FKind == Kind::Object && !FObject); }
    bool IsMissing() const { return FKind == Kind::Missing; }
    void Clear() { *this = TdvVariant(); }

    // Readings with the automation conversions; a value that cannot be converted fails with "Type mismatch".
    QString ToText() const;
    int ToInt() const;
    bool ToBool() const;
    std::shared_ptr<TdvAutoObject> ToObject() const; // fails on anything but an object
    const std::vector<TdvVariant>& Items() const;
    std::vector<TdvVariant>& Items();
    const std::shared_ptr<TdvVariant>& Cell() const { return FRef; }
    // A by-reference argument's current value; any other variant is its own value.
    const TdvVariant& Deref() const { return FKind == Kind::Ref && FRef ? *FRef : *this; }

    // Late-bound access on the object this variant holds.
    TdvVariant Get(const QString& name) const;
    void Put(const QString& name, const TdvVariant& value) const;
    TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args = {}) const;

private:
    Kind FKind = Kind::Null;
    QString FText;
    int FInt = 0;
    bool FBool = false;
    std::shared_ptr<TdvAutoObject> FObject;
    std::vector<TdvVariant> FArray;
    std::shared_ptr<TdvVariant> FRef;
};

// An object that answers members by name, as an automation server's objects do.
class TdvAutoObject
{
public:
    virtual ~TdvAutoObject() = default;
    virtual TdvVariant Get(const QString& name) = 0;
    virtual void Put(const QString& name, const TdvVariant& value) = 0;
    virtual TdvVariant Call(const QString& name, const std::vector<TdvVariant>& args) = 0;
};

// Error codes of the automation layer, used when a server gives no description of its own.
namespace TdvAutoCode {
constexpr unsigned UnknownName = 0x80020006;   // member not found
constexpr unsigned BadParamCount = 0x8002000E; // wrong number of arguments
constexpr unsigned TypeMismatch = 0x80020005;
constexpr unsigned ServerFault = 0x80020009;  // the server raised an error
constexpr unsigned InvalidClass = 0x800401F3; // no factory for the ProgID
constexpr unsigned Failed = 0x80004005;
} // namespace TdvAutoCode

// A failed automation call. Its message follows the automation rules: the server's description less
// trailing blanks and full stops, else the text for the code, else "OLE error" and the code.
class TdvAutomationError : public TdvError
{
public:
    explicit TdvAutomationError(const QString& description, unsigned code = TdvAutoCode::ServerFault);
    static QString MessageFor(const QString& description, unsigned code);
    unsigned Code;
};

// Helpers for objects: the failures that every late-bound object raises the same way.
[[noreturn]] void throwUnknownMember(const QString& name);
void checkArgCount(const std::vector<TdvVariant>& args, std::size_t min, std::size_t max);

// The registry of object factories by ProgID. A factory may end per-thread state (the office a worker
// started) when the thread ends its session.
struct TdvAutoFactory
{
    std::function<std::shared_ptr<TdvAutoObject>()> Create;
    std::function<void()> ThreadDone; // optional
};

// Puts a factory under a ProgID and returns the one it replaces (empty when none), so a caller can put it
// back.
TdvAutoFactory RegisterAutomationFactory(const QString& progID, const TdvAutoFactory& factory);
// Ends the per-thread state of every factory on the calling thread (the worker's end of its session).
void UninitializeAutomation();
// Creates the object that progID names. A failure carries ", ProgID: " and the ProgID in double quotes.
TdvVariant CreateAutomationObject(const QString& progID);

extern const QString ProgIdPowerPoint;    // "PowerPoint.Application"
extern const QString ProgIdOfficeManager; // "com.sun.star.ServiceManager"
