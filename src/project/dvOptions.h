#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What every option of a project means: one table that the getters' defaults, the configuration dialog,
// the help and the run's checks read. The getters keep their own readings (the value rules of the project);
// the table says what a person needs to know to set a value.

enum class TdvOptionKind {
    Bool,   // True/False, or a number (0 is false)
    Int,    // decimal, or hexadecimal after "$" or "0x"
    Text,   // the value as it stands
    Path,   // a path or address, made absolute where a person's text comes in
    Choice, // one of Choices (letter case ignored)
};

enum class TdvOptionGroup {
    Source,
    Target,
    Conversion,
    Offices,
    Unattended,
};

struct TdvOptionInfo
{
    const char* Name;
    TdvOptionKind Kind;
    TdvOptionGroup Group;
    const char* Default;           // the value the getter takes when the line is missing, as text
    int Min = 0;                   // Int: the smallest value that is meant
    int Max = 0;                   // Int: the largest value that is meant
    const char* Choices = nullptr; // Choice: the values, separated by "|"
    const char* Meaning = nullptr; // one line, translatable in the context "TdvOptions"
    const char* Unit = nullptr;    // Int: what the number counts ("seconds"), as the run's checks say it

    QString name() const { return QString::fromLatin1(Name); }
    QString defaultValue() const { return QString::fromLatin1(Default); }
    QStringList choices() const;
    // The meaning in the user's language.
    QString meaning() const;
};

// Every option with a meaning, in the order the configuration dialog shows them.
const QList<TdvOptionInfo>& dvOptionInfos();
// The option of that name (letter case ignored), or null.
const TdvOptionInfo* dvOptionInfo(const QString& name);
// The group's caption in the user's language ("Source", "Target", ...).
QString dvOptionGroupCaption(TdvOptionGroup group);
// Whether the option takes this value as it stands: a number in its range, a boolean, one of its choices.
// An empty value is no value (the default applies without a word); text and paths take anything.
bool dvOptionAccepts(const TdvOptionInfo& info, const QString& value);
// What a person is told when the option does not take the value: "Timeout=-5 is not a number of seconds
// >= 0; 300 is used".
QString dvOptionProblem(const TdvOptionInfo& info, const QString& value);
