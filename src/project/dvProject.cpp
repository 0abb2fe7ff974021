#include "project/dvProject.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "project/dvOptions.h"

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
    // Only the scheme makes an address: a folder named "my-https-decks" or "httpd" is a folder.
    return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QString absolutePath(const QString& text)
{
    if (text.isEmpty() || isWebAddress(text) || text.startsWith(QLatin1String("file:")))
        return text;
    QString path = text;
    if (path == QLatin1String("~") || path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    const bool folder = path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1String("/.")) ||
                        path.endsWith(QLatin1String("/..")) || path == QLatin1String(".") ||
                        path == QLatin1String("..");
    path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    if (folder && !path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}

QString normalizePath(const QString& text)
{
    return absolutePath(normalizeFileAddress(text));
}

QString normalizeFileAddress(const QString& text)
{
    if (!text.startsWith(QLatin1String("file:")))
        return text;
    // Parsed by hand rather than by QUrl: a source pattern's "?" is a wildcard here, not a query.
    QString rest = text.mid(5);
    if (rest.startsWith(QLatin1String("//"))) {
        const int slash = rest.indexOf(QLatin1Char('/'), 2);
        const QString host = rest.mid(2, slash < 0 ? -1 : slash - 2);
        if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0)
            throw TdvError(QStringLiteral("The address %1 names another computer; only local file addresses "
                                          "can be converted")
                               .arg(text));
        rest = slash < 0 ? QStringLiteral("/") : rest.mid(slash);
    }
    // The escapes are the name's bytes, which need not be UTF-8.
    const QString path = decodeFileName(QByteArray::fromPercentEncoding(encodeFileName(rest)));
    return path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path;
}

TdvProject::TdvProject(TdvProjectHost host) : FHost(std::move(host))
{
    ReadRecent();
}

QString TdvProject::programPath() const
{
    return FHost.ProgramPath ? FHost.ProgramPath() : currentProgramPath();
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
    MakePathsAbsolute();
}

void TdvProject::MakePathsAbsolute()
{
    static const char* const names[] = {"Source", "Target", "LogFile", "eSource.Text", "eTarget.Text"};
    std::lock_guard lock(FLock);
    for (const char* name : names) {
        const int i = findLine(QLatin1String(name));
        if (i < 0)
            continue;
        const int eq = FOptions.at(i).indexOf(QLatin1Char('='));
        const QString value = FOptions.at(i).mid(eq + 1);
        const QString path = absolutePath(value);
        if (path != value)
            FOptions[i] = FOptions.at(i).left(eq + 1) + path;
    }
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

int TdvProject::RangedOption(const QString& name) const
{
    const TdvOptionInfo* info = dvOptionInfo(name);
    if (!info)
        return IntOption(name, 0);
    const int def = ReadInt(info->defaultValue(), 0);
    int number = 0;
    if (!TryReadInt(GetOption(name), number) || number < info->Min || number > info->Max)
        return def;
    return number;
}

QStringList TdvProject::OptionProblems() const
{
    QStringList problems;
    for (const TdvOptionInfo& info : dvOptionInfos()) {
        const QString value = GetOption(info.name());
        if (!dvOptionAccepts(info, value))
            problems.append(dvOptionProblem(info, value));
    }
    return problems;
}

TdvRunOptions TdvProject::RunOptions() const
{
    TdvRunOptions o;
    o.ConvertorClass = ConvertorClass;
    o.ShortName = ShortName;
    o.TargetExt = TargetExt;
    o.RegExt = RegExt();
    o.SkipHidden = SkipHidden();
    o.ThreadsCount = ThreadsCount();
    o.OfficeServers = OfficeServers();
    o.ConnectTimeout = ConnectTimeout();
    o.Timeout = Timeout();
    o.OfficeRestart = OfficeRestart();
    o.OfficeMemoryLimit = OfficeMemoryLimit();
    o.MultiInstance = MultiInstance();
    o.PDFWriter = PDFWriter();
    o.ReadOnly = ReadOnly();
    o.Notes = Notes();
    o.ExportComments = ExportComments();
    o.MaxImageResolution = MaxImageResolution();
    o.MissingFonts = MissingFonts();
    o.IsOverwrite = IsOverwrite();
    o.RetryFailed = RetryFailed();
    o.KeepTargetSubdirs = KeepTargetSubdirs();
    o.KeepFileTime = KeepFileTime();
    o.DeleteSource = DeleteSource();
    o.RenameSource = RenameSource();
    return o;
}

TdvOverwrite TdvProject::IsOverwrite() const
{
    const QString value = GetOption(QStringLiteral("IsOverwrite"));
    if (value.compare(QLatin1String("skip"), Qt::CaseInsensitive) == 0)
        return TdvOverwrite::Skip;
    if (value.compare(QLatin1String("update"), Qt::CaseInsensitive) == 0)
        return TdvOverwrite::Update;
    return ReadBool(value, DefaultOverwrite) ? TdvOverwrite::Overwrite : TdvOverwrite::Rename;
}

TdvMissingFonts TdvProject::MissingFonts() const
{
    const QString value = GetOption(QStringLiteral("MissingFonts")).trimmed();
    if (value.compare(QLatin1String("Fail"), Qt::CaseInsensitive) == 0)
        return TdvMissingFonts::Fail;
    if (value.compare(QLatin1String("Ignore"), Qt::CaseInsensitive) == 0)
        return TdvMissingFonts::Ignore;
    return TdvMissingFonts::Warn;
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
    try {
        // A "file:" address names its folder only once it is read as a path; raw, it would become a folder
        // tree named "file:" in the current folder.
        target = normalizeFileAddress(target);
    } catch (const TdvError&) {
        // Another computer's address: nothing is created, and the run says why when it starts.
        return target.endsWith(PathDelim) ? target : target + PathDelim;
    }
    // Web addresses are never folders here; anything else is created with its parents.
    if (!isWebAddress(target) && !isDirectory(target))
        makePath(target);
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
        const QString key = bindKey(control);
        // Edits hold what a person typed; the project keeps where it leads.
        if (key.compare(QLatin1String("Source"), Qt::CaseInsensitive) == 0 ||
            key.compare(QLatin1String("Target"), Qt::CaseInsensitive) == 0)
            value = absolutePath(value.trimmed());
        SetOption(key, value);
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
    const QString path = absolutePath(name);
    if (path.isEmpty() || RecentProjects.contains(path, Qt::CaseInsensitive))
        return;
    RecentProjects.prepend(path);
}

QString TdvProject::DefaultProject() const
{
    // Beside the program first; an installed program keeps its default project in the user's config folder.
    const QString program = programPath();
    QString beside = changeFileExt(program, ProjectExt);
    if (QFileInfo::exists(beside))
        return beside;
    return userFile(QStandardPaths::AppConfigLocation, QFileInfo(beside).fileName());
}

QString TdvProject::RecentFileName() const
{
    const QString program = programPath();
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

// "/" also starts every absolute path here, so an argument is a switch only in a switch's own form: "-" or
// "/" and P (option text, after ":" or as name=value lines), I (notice text) or U alone. For "-" the letter
// is enough, as no path a person types begins with it. An existing file or folder is always a path.
static QChar switchLetter(const QString& arg)
{
    if (arg.size() < 2 || !(arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('/'))))
        return QChar();
    const QChar letter = arg.at(1).toUpper();
    if (arg.startsWith(QLatin1Char('-')))
        return QStringLiteral("PIU").contains(letter) ? letter : QChar();
    if (fileExists(arg))
        return QChar();
    const QString rest = arg.mid(2);
    if (letter == QLatin1Char('U'))
        return rest.isEmpty() ? letter : QChar();
    if (letter == QLatin1Char('I'))
        return rest.contains(QLatin1Char('/')) ? QChar() : letter;
    if (letter == QLatin1Char('P')) {
        if (rest.isEmpty() || rest.startsWith(QLatin1Char(':')))
            return letter;
        // "/PSubdir=True" carries an option; "/projects/q3.batch-vellum" is a path.
        const int eq = rest.indexOf(QLatin1Char('='));
        return eq > 0 && !rest.left(eq).contains(QLatin1Char('/')) ? letter : QChar();
    }
    return QChar();
}

// A source named on the command line must be there: a file or folder, or a pattern in a folder that is.
static bool sourceExists(const QString& path)
{
    if (fileExists(path))
        return true;
    const QString name = extractFileName(path);
    const bool pattern = name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'));
    return pattern &&
           isDirectory(extractFilePath(path).isEmpty() ? QStringLiteral(".") : extractFilePath(path));
}

void TdvProject::ParseCommandLine()
{
    const QString arg = FHost.FirstParam ? FHost.FirstParam() : QString();
    const QChar letter = switchLetter(arg);
    if (letter == QLatin1Char('I')) {
        if (FHost.OpenNotice)
            FHost.OpenNotice(QStringLiteral("ins"), arg.mid(2));
        throw TdvExit(0);
    } else if (letter == QLatin1Char('U')) {
        if (FHost.OpenNotice)
            FHost.OpenNotice(QStringLiteral("uni"), QString());
        throw TdvExit(0);
    } else if (letter == QLatin1Char('P')) {
        QString text = arg.mid(2);
        if (text.startsWith(QLatin1Char(':')))
            text.remove(0, 1);
        text.replace(QLatin1Char(','), QLatin1Char(';'));
        text.replace(QLatin1Char(';'), QLatin1String("\r\n"));
        CmdOptions = text;
    } else if (!arg.isEmpty()) {
        // Anything else is a path, and one that leads nowhere must say so rather than run another project.
        QString path = absolutePath(arg);
        if (IsProjectFile(path)) {
            QStringList lines;
            QString error;
            if (!readTextLines(path, lines, nullptr, &error))
                throw TdvError(QStringLiteral("The project file \"%1\" cannot be read: %2").arg(path, error));
        } else if (!isWebAddress(path) && !path.startsWith(QLatin1String("file:")) && !sourceExists(path)) {
            throw TdvError(
                QStringLiteral("\"%1\" is no switch (-P:options, -I, -U) and no existing file or folder")
                    .arg(arg));
        } else if (isDirectory(path)) {
            // A folder stands for the presentations in it.
            if (!path.endsWith(QLatin1Char('/')))
                path += QLatin1Char('/');
            path += SourcePattern;
        }
        ProjectFile = path;
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
        if (!FHost.OpenFileDialog ||
            !FHost.OpenFileDialog(ProjectFilter + QLatin1Char('|') + SourceFilter, name))
            return;
        ProjectFile = name;
    }
    // Recent entries, drops and dialog answers may come from another folder than the one we run in.
    ProjectFile = absolutePath(ProjectFile);
    const QString name = ProjectFile;
    if (IsProjectFile(name)) {
        QStringList lines;
        TdvTextEncoding encoding = TdvTextEncoding::Utf8;
        if (readTextLines(name, lines, &encoding)) {
            SetOptionLines(lines);
            // Relative paths in a project file are taken from the current folder, as they always were: a
            // default project saying Source=*.ppt? converts the folder the program is started in.
            MakePathsAbsolute();
            FEncodingFile = name;
            FEncoding = encoding;
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
    if (writeFile)
        writeProject(ProjectFile);
}

void TdvProject::writeProject(const QString& name)
{
    // The file keeps the encoding it was read in; writeTextLines turns to UTF-8 with a mark rather than
    // drop a character that Windows-1252 lacks.
    const TdvTextEncoding encoding = name == FEncodingFile ? FEncoding : TdvTextEncoding::Utf8;
    writeTextLines(name, OptionLines(), encoding);
    AddRecent(name);
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
    if (!FHost.SaveFileDialog || !FHost.SaveFileDialog(ProjectFilter, ProjectExt, name))
        return;
    // The project becomes that file only once it is written there: a failed write keeps the old one.
    name = absolutePath(name);
    CollectOptions();
    writeProject(name);
    ProjectFile = name;
}
