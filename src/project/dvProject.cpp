#include "project/dvProject.h"

#include "discovery/dvFileUtils.h"
#include "discovery/dvPlaces.h"
#include "project/dvError.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaProperty>
#include <QStandardPaths>
#include <QVariant>

TdvProject* gProject = nullptr;

QString extractFilePath(const QString& path)
{
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString extractFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isWebAddress(const QString& text)
{
    return text.startsWith(QLatin1String("http"), Qt::CaseInsensitive);
}

TdvProject::TdvProject()
{
    ReadRecent();
}

TdvProject::~TdvProject()
{
    qDeleteAll(FPropLists);
    WriteRecent();
}

// ---- option store ----------------------------------------------------------------------------------------

int TdvProject::findLine(const QString& name) const
{
    for (int i = 0; i < FOptions.size(); ++i) {
        const QString& line = FOptions.at(i);
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq >= 0 && QStringView(line).left(eq).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString TdvProject::GetOption(const QString& name) const
{
    std::lock_guard lock(FLock);
    const int i = findLine(name);
    if (i < 0)
        return QString();
    const QString& line = FOptions.at(i);
    return line.mid(line.indexOf(QLatin1Char('=')) + 1);
}

void TdvProject::SetOption(const QString& name, const QString& value)
{
    std::lock_guard lock(FLock);
    int i = findLine(name);
    if (!value.isEmpty()) {
        if (i < 0) {
            FOptions.append(QString());
            i = FOptions.size() - 1;
        }
        FOptions[i] = name + QLatin1Char('=') + value;
    } else if (i >= 0) {
        FOptions.removeAt(i);
    }
}

QString TdvProject::OptionsText() const
{
    std::lock_guard lock(FLock);
    QString text;
    for (const QString& line : FOptions)
        text += line + QLatin1String("\r\n");
    return text;
}

void TdvProject::SetOptionsText(const QString& text)
{
    SetOptionLines(splitLines(text));
}

QStringList TdvProject::OptionLines() const
{
    std::lock_guard lock(FLock);
    return FOptions;
}

void TdvProject::SetOptionLines(const QStringList& lines)
{
    std::lock_guard lock(FLock);
    FOptions = lines;
}

bool TdvProject::ReadBool(const QString& value, bool def)
{
    int number = 0;
    if (TryReadInt(value, number))
        return number != 0;
    if (value.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (value.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return def;
}

int TdvProject::ReadInt(const QString& value, int def)
{
    int number = 0;
    return TryReadInt(value, number) ? number : def;
}

bool TdvProject::TryReadInt(const QString& value, int& number)
{
    int i = 0;
    const int n = value.size();
    while (i < n && value.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < n && (value.at(i) == QLatin1Char('-') || value.at(i) == QLatin1Char('+'))) {
        negative = value.at(i) == QLatin1Char('-');
        ++i;
    }
    int base = 10;
    if (i < n && value.at(i) == QLatin1Char('$')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && value.at(i) == QLatin1Char('0') &&
               (value.at(i + 1) == QLatin1Char('x') || value.at(i + 1) == QLatin1Char('X'))) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;
    qint64 result = 0;
    for (; i < n; ++i) {
        const char16_t c = value.at(i).unicode();
        int digit = -1;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        if (digit < 0)
            return false;
        result = result * base + digit;
        if (result > 0xFFFFFFFFLL)
            return false;
    }
    if (base == 16) {
        // Hexadecimal values fill all 32 bits, as "$FFFFFFFF" reads -1.
        number = int(quint32(result));
        if (negative)
            number = -number;
        return true;
    }
    if (negative)
        result = -result;
    if (result > INT_MAX || result < INT_MIN)
        return false;
    number = int(result);
    return true;
}

TdvOverwrite TdvProject::IsOverwrite() const
{
    const QString value = GetOption(QStringLiteral("IsOverwrite"));
    if (value.compare(QLatin1String("skip"), Qt::CaseInsensitive) == 0)
        return TdvOverwrite::Skip;
    return ReadBool(value, DefaultOverwrite) ? TdvOverwrite::Overwrite : TdvOverwrite::Rename;
}

bool TdvProject::RunAndClose() const
{
    return BoolOption(QStringLiteral("RunAndClose"), false) || PureConsole() || Daemon() > 0;
}

QString TdvProject::Target() const
{
    QString target = GetOption(QStringLiteral("Target"));
    if (target.isEmpty())
        return target;
    // Web addresses are never folders here; anything else is created with its parents.
    if (!isWebAddress(target) && !QFileInfo(target).isDir())
        QDir().mkpath(target);
    if (!target.endsWith(PathDelim))
        target += PathDelim;
    return target;
}

// ---- control binding -------------------------------------------------------------------------------------

void TdvProject::BindControl(QObject* control)
{
    BoundControls.append(control);
}

TdvPropList* TdvProject::propList(QObject* control)
{
    TdvPropList*& list = FPropLists[control];
    if (!list)
        list = new TdvPropList(control);
    return list;
}

QString TdvProject::bindKey(QObject* control)
{
    return control->objectName().mid(1);
}

QString TdvProject::bindProperty(QObject* control)
{
    return control->property("bindProperty").toString();
}

void TdvProject::ApplyOptions()
{
    for (const QPointer<QObject>& control : std::as_const(BoundControls)) {
        if (!control)
            continue;
        TdvPropList* list = propList(control);
        const QString key = bindKey(control);
        const QString property = bindProperty(control);
        QString value = GetOption(key);
        // Older projects kept the control's own line ("eSource.Text=..."): read it once, then drop it.
        const QString older = control->objectName() + QLatin1Char('.') + property;
        {
            std::lock_guard lock(FLock);
            const int i = findLine(older);
            if (i >= 0) {
                if (value.isEmpty())
                    value = FOptions.at(i).mid(FOptions.at(i).indexOf(QLatin1Char('=')) + 1);
                FOptions.removeAt(i);
            }
        }
        list->SetText(property, value);
    }
}

void TdvProject::CollectOptions()
{
    for (const QPointer<QObject>& control : std::as_const(BoundControls)) {
        if (!control)
            continue;
        TdvPropList* list = propList(control);
        QString value;
        list->GetText(bindProperty(control), value);
        SetOption(bindKey(control), value);
    }
}

static QMetaProperty findProperty(const QObject* object, const QString& name)
{
    const QMetaObject* meta = object->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i) {
        QMetaProperty property = meta->property(i);
        if (QString::fromLatin1(property.name()).compare(name, Qt::CaseInsensitive) == 0)
            return property;
    }
    return QMetaProperty();
}

bool TdvPropList::GetText(const QString& propertyName, QString& text) const
{
    if (!Control)
        return false;
    const QMetaProperty property = findProperty(Control, propertyName);
    if (!property.isValid())
        return false;
    const QVariant value = property.read(Control);
    if (property.isEnumType()) {
        text = QString::fromLatin1(property.enumerator().valueToKey(value.toInt()));
    } else if (value.typeId() == QMetaType::Bool) {
        text = value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    } else {
        text = value.toString();
    }
    return true;
}

void TdvPropList::SetText(const QString& propertyName, const QString& text)
{
    if (!Control)
        return;
    QMetaProperty property = findProperty(Control, propertyName);
    if (!property.isValid() || !property.isWritable())
        return;
    if (property.typeId() == QMetaType::Bool) {
        // An empty text unchecks; "True"/"False" and numbers read as the getters read them, so a project
        // saying Subdir=1 shows a ticked box rather than one that later writes Subdir=False.
        const QString value = text.isEmpty() ? QStringLiteral("False") : text;
        const bool isTrue = TdvProject::ReadBool(value, true);
        const bool isFalse = !TdvProject::ReadBool(value, false);
        if (isTrue == !isFalse)
            property.write(Control, isTrue);
    } else if (property.isEnumType()) {
        const QMetaEnum meta = property.enumerator();
        for (int i = 0; i < meta.keyCount(); ++i) {
            if (QString::fromLatin1(meta.key(i)).compare(text, Qt::CaseInsensitive) == 0) {
                property.write(Control, meta.value(i));
                break;
            }
        }
    } else {
        property.write(Control, text);
    }
}

// ---- project files and command line ----------------------------------------------------------------------

bool TdvProject::IsProjectFile(const QString& name) const
{
    return !ProjectExt.isEmpty() && name.endsWith(ProjectExt, Qt::CaseSensitive);
}

void TdvProject::AddRecent(const QString& name)
{
    if (name.isEmpty() || RecentProjects.contains(name, Qt::CaseInsensitive))
        return;
    RecentProjects.prepend(name);
}

QString TdvProject::DefaultProject() const
{
    // Beside the program first; an installed program keeps its default project in the user's config folder.
    const QString program = gApp ? gApp->ProgramPath : currentProgramPath();
    const QString beside = changeFileExt(program, ProjectExt);
    if (QFileInfo::exists(beside))
        return beside;
    return userFile(QStandardPaths::AppConfigLocation, QFileInfo(beside).fileName());
}

QString TdvProject::RecentFileName() const
{
    const QString program = gApp ? gApp->ProgramPath : currentProgramPath();
    return userFile(QStandardPaths::AppDataLocation, QFileInfo(program).fileName() + QLatin1String(".log"));
}

void TdvProject::ReadRecent()
{
    QStringList lines;
    if (readTextLines(RecentFileName(), lines)) {
        lines.removeAll(QString());
        RecentProjects = lines;
    }
}

void TdvProject::WriteRecent() const
{
    try {
        writeTextLines(RecentFileName(), RecentProjects);
    } catch (const std::exception&) {
        // The recent list is a convenience; a read-only data folder must not stop the program.
    }
}

// "-" always starts a switch. "/" does too, unless the argument is an absolute path: one that exists, or
// whose first folder exists ("/home/a/new.pptx"), as "/P:..." and "/u" never do.
static bool isSwitch(const QString& arg)
{
    if (arg.startsWith(QLatin1Char('-')))
        return true;
    if (!arg.startsWith(QLatin1Char('/')) || QFileInfo::exists(arg))
        return false;
    const int next = arg.indexOf(QLatin1Char('/'), 1);
    return next < 0 || !QFileInfo::exists(arg.left(next));
}

void TdvProject::ParseCommandLine()
{
    const QString arg = gApp ? gApp->FirstParam : QString();
    if (arg.size() >= 2) {
        if (isSwitch(arg)) {
            const QChar letter = arg.at(1).toUpper();
            if (letter == QLatin1Char('I')) {
                if (gInfo)
                    gInfo->OpenLink(QString(), QStringLiteral("ins"), arg.mid(2));
                throw TdvExit(0);
            } else if (letter == QLatin1Char('U')) {
                if (gInfo)
                    gInfo->OpenLink(QString(), QStringLiteral("uni"), QString());
                throw TdvExit(0);
            } else if (letter == QLatin1Char('P')) {
                QString text = arg.mid(2);
                if (text.startsWith(QLatin1Char(':')))
                    text.remove(0, 1);
                text.replace(QLatin1Char(','), QLatin1Char(';'));
                text.replace(QLatin1Char(';'), QLatin1String("\r\n"));
                CmdOptions = text;
            }
        } else {
            ProjectFile = arg;
        }
    }
    OpenStartupProject();
}

void TdvProject::OpenStartupProject()
{
    if (ProjectFile.isEmpty() && CmdOptions.isEmpty())
        ProjectFile = DefaultProject();
    OpenProject(false);
}

void TdvProject::OpenProject(bool showDialog)
{
    if (showDialog) {
        QString name = ProjectFile;
        if (!gApp || !gApp->OpenFileDialog(ProjectFilter + QLatin1Char('|') + SourceFilter, name, false))
            return;
        ProjectFile = name;
    }
    const QString name = ProjectFile;
    if (IsProjectFile(name)) {
        QStringList lines;
        if (readTextLines(name, lines)) {
            SetOptionLines(lines);
            AddRecent(name);
        }
    } else if (!CmdOptions.isEmpty()) {
        SetOptionsText(CmdOptions);
        ProjectFile.clear();
        const QString source = Source();
        if (TargetFollowsSource && GetOption(QStringLiteral("Target")).isEmpty() && !isWebAddress(source))
            SetOption(QStringLiteral("Target"), extractFilePath(source));
    } else {
        ProjectFile.clear();
        SetOption(QStringLiteral("Source"), name);
        if (TargetFollowsSource && GetOption(QStringLiteral("Target")).isEmpty() && !isWebAddress(name))
            SetOption(QStringLiteral("Target"), extractFilePath(name));
    }
    ApplyOptions();
}

void TdvProject::NewProject()
{
    ProjectFile.clear();
    SetOptionLines(QStringList());
    ApplyOptions();
}

void TdvProject::StoreOptions(bool writeFile)
{
    CollectOptions();
    if (writeFile) {
        writeTextLines(ProjectFile, OptionLines());
        AddRecent(ProjectFile);
    }
}

void TdvProject::Save()
{
    if (!ProjectFile.isEmpty())
        StoreOptions(true);
    else
        SaveAs();
}

void TdvProject::SaveAs()
{
    QString name = ProjectFile;
    if (!gApp || !gApp->SaveFileDialog(ProjectFilter, ProjectExt, name))
        return;
    ProjectFile = name;
    StoreOptions(true);
}
