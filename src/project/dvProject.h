#pragma once

#include <algorithm>

#include "base/dvFileUtils.h"

#include <QChar>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

class TdvConvertorClass;
class TdvPropList;

// Update replaces an existing target like Overwrite, except one this program wrote for the same, unchanged
// presentation, which it keeps.
enum class TdvOverwrite { Overwrite, Skip, Rename, Update };
// A font the machine lacks, set in a stand-in: named in the item's note, a failure of the item, or nothing.
enum class TdvMissingFonts { Warn, Fail, Ignore };

// The options a run works with, read from the project once, as the run is set up: the workers, the
// search and the run log take them as a parameter, and a change made meanwhile applies to the next run.
// Left as constructed, they are what a run without a project does: one worker, no limits, overwriting.
struct TdvRunOptions
{
    const TdvConvertorClass* ConvertorClass = nullptr;
    QString ShortName; // the product's short name, in the names of renamed targets
    QString TargetExt = QStringLiteral(".pdf");
    // The search.
    QString RegExt;
    bool SkipHidden = false;
    // The workers and their offices.
    int ThreadsCount = 1;
    QString OfficeServers;
    int ConnectTimeout = 20;
    int Timeout = 0;
    int OfficeRestart = 0;
    int OfficeMemoryLimit = 0;
    bool MultiInstance = false;
    QString PDFWriter;
    // The conversion.
    bool ReadOnly = false;
    bool Notes = false;
    bool ExportComments = false;
    int MaxImageResolution = 0;
    TdvMissingFonts MissingFonts = TdvMissingFonts::Warn;
    // The targets and the sources.
    TdvOverwrite IsOverwrite = TdvOverwrite::Overwrite;
    bool RetryFailed = false;
    bool KeepTargetSubdirs = true;
    bool KeepFileTime = false;
    bool DeleteSource = false;
    QString RenameSource;
};

// The batch project: every setting of a run as ordered "name=value" lines, the product identity and the
// project-file bookkeeping. Readers on worker threads go through the getters, which take the option lock,
// so the GUI thread may replace the list while a run reads it.
// What the project asks of the program around it. Start-up connects it to the application and the product
// information; left empty, the program is the running one, there is no first argument, a dialog cancels and
// a notice opens nothing.
struct TdvProjectHost
{
    std::function<QString()> ProgramPath;
    std::function<QString()> FirstParam;
    std::function<bool(const QString& filter, QString& fileName)> OpenFileDialog;
    std::function<bool(const QString& filter, const QString& defaultExt, QString& fileName)> SaveFileDialog;
    // Opens the maker's page of a notice: "ins" with the installer's text, "uni".
    std::function<void(const QString& argument, const QString& extra)> OpenNotice;
};

class TdvProject
{
public:
    explicit TdvProject(TdvProjectHost host = {});
    ~TdvProject();
    TdvProject(const TdvProject&) = delete;
    TdvProject& operator=(const TdvProject&) = delete;

    // Option access.
    QString GetOption(const QString& name) const;
    void SetOption(const QString& name, const QString& value);
    QString OptionsText() const;              // every line ended by CR LF
    void SetOptionsText(const QString& text); // split at CR LF, CR or LF
    QStringList OptionLines() const;
    void SetOptionLines(const QStringList& lines);

    // Value readings shared by every getter.
    static bool ReadBool(const QString& value, bool def);
    static int ReadInt(const QString& value, int def);
    static bool TryReadInt(const QString& value, int& number);
    bool BoolOption(const QString& name, bool def) const { return ReadBool(GetOption(name), def); }
    int IntOption(const QString& name, int def) const { return ReadInt(GetOption(name), def); }
    // A number of the option table read within its range: a value out of range or malformed gives the
    // table's default, so that no typo turns a limit off.
    int RangedOption(const QString& name) const;
    // What the run is told about the values it cannot take, one line each in the table's order ("Timeout=-5
    // is not a number of seconds >= 0; 300 is used"); empty when every value is fine.
    QStringList OptionProblems() const;

    // Every option a run works with, read now.
    TdvRunOptions RunOptions() const;

    // Typed getters, one per option.
    int Daemon() const { return RangedOption(QStringLiteral("Daemon")); }
    bool DeleteSource() const { return BoolOption(QStringLiteral("DeleteSource"), false); }
    TdvOverwrite IsOverwrite() const;
    bool KeepFileTime() const { return BoolOption(QStringLiteral("KeepFileTime"), false); }
    bool KeepTargetSubdirs() const { return BoolOption(QStringLiteral("KeepTargetSubdirs"), true); }
    QString LogFile() const { return GetOption(QStringLiteral("LogFile")); }
    bool MultiInstance() const { return BoolOption(QStringLiteral("MultiInstance"), false); }
    bool Notes() const { return BoolOption(QStringLiteral("Notes"), false); }
    QString PDFWriter() const { return GetOption(QStringLiteral("PDFWriter")); }
    bool PureConsole() const { return BoolOption(QStringLiteral("PureConsole"), false); }
    bool ReadOnly() const { return BoolOption(QStringLiteral("ReadOnly"), false); }
    QString RegExt() const { return GetOption(QStringLiteral("RegExt")); }
    QString RenameSource() const { return GetOption(QStringLiteral("RenameSource")); }
    bool RunAndClose() const;
    // Under IsOverwrite=Update, decks that failed before and are unchanged since are tried again.
    bool RetryFailed() const { return BoolOption(QStringLiteral("RetryFailed"), false); }
    bool SkipHidden() const { return BoolOption(QStringLiteral("SkipHidden"), false); }
    QString Source() const { return GetOption(QStringLiteral("Source")); }
    bool Subdir() const { return BoolOption(QStringLiteral("Subdir"), false); }
    QString Target() const;
    int ThreadsCount() const { return RangedOption(QStringLiteral("ThreadsCount")); }
    // Office supervision: seconds an item may take (0 = no limit) and items per office process (0 = never
    // restart).
    int Timeout() const { return RangedOption(QStringLiteral("Timeout")); }
    int OfficeRestart() const { return RangedOption(QStringLiteral("OfficeRestart")); }
    // Address space per office process in MiB; 0: a share of the machine's memory per worker.
    int OfficeMemoryLimit() const { return RangedOption(QStringLiteral("OfficeMemoryLimit")); }
    // Office listeners to convert on, "host:port" or "local", separated by blanks; empty: local offices.
    QString OfficeServers() const { return GetOption(QStringLiteral("OfficeServers")).simplified(); }
    // Seconds for reaching an office listener and its first answer.
    int ConnectTimeout() const { return RangedOption(QStringLiteral("ConnectTimeout")); }
    // Stand-in fonts: Warn (the default, also for a value that is none of the three), Fail or Ignore.
    TdvMissingFonts MissingFonts() const;
    // The presentations' review comments go into the PDF as annotations only when asked for: a reviewer's
    // remark is not for the customer who gets the PDF.
    bool ExportComments() const { return BoolOption(QStringLiteral("ExportComments"), false); }
    // Images in the PDF: 0 keeps them as the deck holds them, N reduces those finer than N ppi to N ppi.
    int MaxImageResolution() const { return RangedOption(QStringLiteral("MaxImageResolution")); }

    // Control binding.
    void BindControl(QObject* control);
    void ApplyOptions();
    void CollectOptions();
    QList<QPointer<QObject>> BoundControls;

    // Project file and command line.
    void ParseCommandLine();
    void OpenStartupProject();
    void OpenProject(bool showDialog);
    void NewProject();
    void StoreOptions(bool writeFile);
    void Save();
    void SaveAs();
    bool IsProjectFile(const QString& name) const;
    void AddRecent(const QString& name);
    QString DefaultProject() const;
    QString RecentFileName() const;
    void ReadRecent();
    void WriteRecent() const;
    // The options that hold paths, made absolute wherever a person's text comes in.
    void MakePathsAbsolute();

    // Identity and bookkeeping.
    const TdvConvertorClass* ConvertorClass = nullptr;
    bool TargetFollowsSource = true;
    bool DefaultOverwrite = true;
    QString ProjectExt;
    QString ProjectFilter;
    QString ProjectFile;
    QStringList RecentProjects;
    QString CmdOptions;
    QString ShortName;
    QChar PathDelim = QLatin1Char('/');
    QString Title;
    QString SourceFilter;
    QString SourcePattern;
    QString TargetExt;
    QString Version;

private:
    QString programPath() const;

    TdvProjectHost FHost;
    int findLine(const QString& name) const;
    TdvPropList* propList(QObject* control);
    static QString bindKey(QObject* control);
    static QString bindProperty(QObject* control);

    void writeProject(const QString& name);

    mutable std::recursive_mutex FLock;
    QStringList FOptions;
    // The encoding the project file was read in, so a Save writes it back the same way where it can.
    QString FEncodingFile;
    TdvTextEncoding FEncoding = TdvTextEncoding::Utf8;
    QHash<QObject*, TdvPropList*> FPropLists;
};

// Reads and writes a control property by name as text.
class TdvPropList
{
public:
    explicit TdvPropList(QObject* control) : Control(control) {}
    bool GetText(const QString& propertyName, QString& text) const;
    void SetText(const QString& propertyName, const QString& text);
    QPointer<QObject> Control;
};

// Folder part of a path: up to and including the last "/"; empty when there is none.
QString extractFilePath(const QString& path);
// File-name part of a path: everything after the last "/".
QString extractFileName(const QString& path);
// Does the text name a web address rather than a local path: does it start with "http://" or "https://",
// letter case ignored? The one test of the program.
bool isWebAddress(const QString& text);
// A path as a person typed it, made absolute against the current folder when it is read: "." and ".."
// resolved, a leading "~/" taken as the home folder, a trailing "/" kept. Web addresses and "file:"
// addresses are left as they are (normalizeFileAddress reads the latter).
QString absolutePath(const QString& text);
// A "file:" address as a local path: its host must be empty or "localhost", its escapes are the name's
// bytes. Any other text is returned unchanged. Throws TdvError for a file on another computer.
QString normalizeFileAddress(const QString& text);
// A path or a "file:" address as the absolute local path it names (absolutePath of normalizeFileAddress):
// no caller hands the office a "file:" address it cannot resolve. Throws as normalizeFileAddress does.
QString normalizePath(const QString& text);

extern TdvProject* gProject;
