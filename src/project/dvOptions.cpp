#include "project/dvOptions.h"

#include "project/dvProject.h"

#include <QCoreApplication>
#include <limits>

namespace {

constexpr int kNoMax = std::numeric_limits<int>::max();
using K = TdvOptionKind;
using G = TdvOptionGroup;

// clang-format off
const QList<TdvOptionInfo> kOptions = {
    {"Source", K::Path, G::Source, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "A folder and a pattern (/in/*.ppt?), one file, a file: address or an http(s) address")},
    {"Subdir", K::Bool, G::Source, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Search the sub-folders of the source folder too")},
    {"SkipHidden", K::Bool, G::Source, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Never list hidden files (hidden folders are never searched)")},
    {"RegExt", K::Text, G::Source, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "A regular expression that every listed path must also match")},
    {"Target", K::Path, G::Target, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "The target folder; created when missing")},
    {"KeepTargetSubdirs", K::Bool, G::Target, "True", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Keep each presentation's sub-folder below the target folder")},
    {"IsOverwrite", K::Choice, G::Target, "True", 0, 0, "True|False|Skip|Update",
     QT_TRANSLATE_NOOP("TdvOptions", "An existing PDF: True replaces it, False writes -vellum-NAME.pdf, Skip leaves it, Update replaces it only when its presentation changed")},
    {"RetryFailed", K::Bool, G::Target, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "With IsOverwrite=Update, try again the decks that failed before and are unchanged since")},
    {"KeepFileTime", K::Bool, G::Target, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Give each PDF the times of its presentation")},
    {"DeleteSource", K::Bool, G::Target, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Delete a presentation once its PDF is written (never a read-only one)")},
    {"RenameSource", K::Text, G::Target, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Append this text to a presentation's name once its PDF is written")},
    {"Notes", K::Bool, G::Conversion, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Export notes pages instead of slides")},
    {"ReadOnly", K::Bool, G::Conversion, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Open presentations read-only")},
    {"MissingFonts", K::Choice, G::Conversion, "Warn", 0, 0, "Warn|Fail|Ignore",
     QT_TRANSLATE_NOOP("TdvOptions", "A font the machine lacks, set in a stand-in: Warn names it beside the PDF, Fail fails the file without a PDF, Ignore says nothing")},
    {"ExportComments", K::Bool, G::Conversion, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Put the presentations' review comments into the PDFs as notes")},
    {"MaxImageResolution", K::Int, G::Conversion, "0", 0, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Images in the PDF: 0 keeps them as they are; N reduces finer ones to N ppi"),
     "pixels per inch"},
    {"PDFWriter", K::Text, G::Conversion, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "The printer of the printer route: empty for the office's own Vellum PDF, or a printer the office lists")},
    {"MultiInstance", K::Bool, G::Conversion, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "On the printer route, wait for another copy's print job")},
    {"ThreadsCount", K::Int, G::Offices, "1", 1, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Workers, each with its own office process (at most four per core)"),
     "workers"},
    {"Timeout", K::Int, G::Offices, "300", 0, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Seconds one file may take before its office is stopped and the file fails (0: no limit)"),
     "seconds"},
    {"OfficeRestart", K::Int, G::Offices, "200", 0, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Start a fresh office process after this many files (0: never)"),
     "files"},
    {"OfficeMemoryLimit", K::Int, G::Offices, "0", 0, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "MiB of memory one office may take (0: half the machine's memory shared among the workers, at least 2048)"),
     "MiB"},
    {"OfficeServers", K::Text, G::Offices, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Office listeners to convert on, host:port, unix:PATH or local, separated by blanks")},
    {"ConnectTimeout", K::Int, G::Offices, "20", 1, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Seconds for reaching a listener and its first answer"),
     "seconds"},
    {"PureConsole", K::Bool, G::Unattended, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Run without a window")},
    {"RunAndClose", K::Bool, G::Unattended, "False", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Window: convert at start and close when done")},
    {"Daemon", K::Int, G::Unattended, "0", 0, kNoMax, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "Milliseconds between repeats of an unattended run; decks arriving start one sooner (0: run once)"),
     "milliseconds"},
    {"LogFile", K::Path, G::Unattended, "", 0, 0, nullptr,
     QT_TRANSLATE_NOOP("TdvOptions", "The run log of a console run, or the list of an unattended windowed run")},
};
// clang-format on

} // namespace

QStringList TdvOptionInfo::choices() const
{
    return Choices ? QString::fromLatin1(Choices).split(QLatin1Char('|')) : QStringList();
}

QString TdvOptionInfo::meaning() const
{
    return Meaning ? QCoreApplication::translate("TdvOptions", Meaning) : QString();
}

const QList<TdvOptionInfo>& dvOptionInfos()
{
    return kOptions;
}

const TdvOptionInfo* dvOptionInfo(const QString& name)
{
    for (const TdvOptionInfo& info : kOptions) {
        if (name.compare(QLatin1String(info.Name), Qt::CaseInsensitive) == 0)
            return &info;
    }
    return nullptr;
}

QString dvOptionGroupCaption(TdvOptionGroup group)
{
    switch (group) {
    case TdvOptionGroup::Source:
        return QCoreApplication::translate("TdvOptions", "Source");
    case TdvOptionGroup::Target:
        return QCoreApplication::translate("TdvOptions", "Target");
    case TdvOptionGroup::Conversion:
        return QCoreApplication::translate("TdvOptions", "Conversion");
    case TdvOptionGroup::Offices:
        return QCoreApplication::translate("TdvOptions", "Offices");
    case TdvOptionGroup::Unattended:
        return QCoreApplication::translate("TdvOptions", "Unattended runs");
    }
    return QString();
}

bool dvOptionAccepts(const TdvOptionInfo& info, const QString& value)
{
    if (value.isEmpty())
        return true;
    int number = 0;
    switch (info.Kind) {
    case TdvOptionKind::Int:
        return TdvProject::TryReadInt(value, number) && number >= info.Min && number <= info.Max;
    case TdvOptionKind::Bool:
        return TdvProject::TryReadInt(value, number) ||
               value.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0 ||
               value.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0;
    case TdvOptionKind::Choice:
        // A boolean reads as one of True and False, as the getter reads it.
        if (TdvProject::TryReadInt(value, number))
            return true;
        for (const QString& choice : info.choices())
            if (value.compare(choice, Qt::CaseInsensitive) == 0)
                return true;
        return false;
    case TdvOptionKind::Text:
    case TdvOptionKind::Path:
        break;
    }
    return true;
}

QString dvOptionProblem(const TdvOptionInfo& info, const QString& value)
{
    QString wanted;
    switch (info.Kind) {
    case TdvOptionKind::Int: {
        const QString unit = info.Unit ? QString::fromLatin1(info.Unit) : QStringLiteral("units");
        wanted = info.Max == std::numeric_limits<int>::max()
                     ? QStringLiteral("a number of %1 >= %2").arg(unit).arg(info.Min)
                     : QStringLiteral("a number of %1 from %2 to %3").arg(unit).arg(info.Min).arg(info.Max);
        break;
    }
    case TdvOptionKind::Bool:
        wanted = QStringLiteral("True or False");
        break;
    case TdvOptionKind::Choice:
        wanted = QStringLiteral("one of ") + info.choices().join(QStringLiteral(", "));
        break;
    case TdvOptionKind::Text:
    case TdvOptionKind::Path:
        return QString();
    }
    return QStringLiteral("%1=%2 is not %3; %4 is used").arg(info.name(), value, wanted, info.defaultValue());
}
