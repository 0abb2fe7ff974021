#include "shell/dvStartup.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "project/dvProject.h"
#include "shell/dvApp.h"
#include "shell/dvInfo.h"
#include "shell/dvMain.h"

#include <QCoreApplication>
#include <QDir>
#include <QRegularExpression>

#include <cstdio>

void applyProductIdentity(const TdvConvertorClass* convertorClass)
{
    TdvProject* p = gProject;
    p->ConvertorClass = convertorClass;
    p->SourcePattern = QStringLiteral("*.ppt?");
    // Every kind of presentation the office opens: shows (.pps, .ppsx), templates and macro decks too.
    p->SourceFilter =
        QStringLiteral("Presentations (*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;*.potx;*.potm;"
                       "*.odp)|*.ppt;*.pptx;*.pptm;*.pps;*.ppsx;*.ppsm;*.pot;*.potx;*.potm;*.odp");
    p->TargetExt = QStringLiteral(".pdf");
    const TdvProductName product = productName();
    p->ShortName = product.ShortName;
    p->ProjectExt = QStringLiteral(".batch-") + p->ShortName;
    p->ProjectFilter = QStringLiteral("Vellum Project|*") + p->ProjectExt;
    p->Title = product.Title;
    QCoreApplication::setApplicationName(p->ShortName);
    SkipLockFiles = true;
    p->Version = product.Version;
}

const char* const usageText =
    "Usage: vellum [PROJECT | SOURCE... | -P:OPTIONS [SOURCE...] | --help | --version]\n"
    "       vellum --convert SOURCE...\n"
    "       vellum --office-server [ADDRESS:]PORT|unix:PATH [-P:OPTIONS]\n"
    "\n"
    "Converts presentations (*.ppt?) to PDF in batch.\n"
    "\n"
    "  PROJECT          a project file (*.batch-vellum) to open\n"
    "  SOURCE           a presentation, or a folder and pattern, to take as the source\n"
    "  -P:NAME=VALUE;.. options for this run, separated by \";\" or \",\" (quote the argument)\n"
    "                   In the window, every further SOURCE is listed too (a desktop hands over\n"
    "                   several files at once).\n"
    "  --convert SOURCE...\n"
    "                   open the window with these presentations listed and convert them at once,\n"
    "                   into the folder of the first one\n"
    "  --office-server [ADDRESS:]PORT|unix:PATH\n"
    "                   keep one office for UNO clients on other machines, on ADDRESS (127.0.0.1\n"
    "                   when left out) and PORT, or on the Unix socket PATH in a folder only this\n"
    "                   user can enter; a new one when it dies, after OfficeRestart documents, and\n"
    "                   at once when a client leaves during a call or a call takes longer than\n"
    "                   Timeout. Ends on SIGINT or SIGTERM.\n"
    "                   Anyone who reaches the port (every local account and program too) can\n"
    "                   make that office read and write files and run programs as this user: keep\n"
    "                   it on a Unix socket or 127.0.0.1 and reach it through an SSH tunnel\n"
    "                   (ssh -N -L 2002:127.0.0.1:2002 host), or on a private network.\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "  -style NAME, -reverse, -platform NAME, ...\n"
    "                   Qt's own options for the window; never taken for a source\n"
    "\n"
    "With PureConsole=True the project runs without a window, for example:\n"
    "  vellum '-P:Source=/home/me/talks/*.ppt?;Target=/home/me/pdf;Subdir=True;PureConsole=True'\n"
    "IsOverwrite=Update converts only new and changed decks; Daemon=60000 adds a watched folder:\n"
    "the run repeats (at the latest every minute, sooner when decks arrive) until a signal.\n"
    "\n"
    "Options: Source, Target, Subdir, ThreadsCount (1), IsOverwrite (True, False, Skip or\n"
    "Update), RetryFailed, KeepTargetSubdirs (True), KeepFileTime, DeleteSource, RenameSource,\n"
    "SkipHidden, RegExt, Notes, ReadOnly, LogFile, PureConsole, RunAndClose, Daemon (0 ms),\n"
    "Timeout (300 s), OfficeRestart (200), OfficeMemoryLimit (MiB per office; 0: a share of the\n"
    "machine's memory per worker), MissingFonts (Warn, Fail or Ignore: a font the machine lacks, set\n"
    "in a stand-in), ExportComments (False: review comments stay out of the PDFs),\n"
    "MaxImageResolution (0: keep images), OfficeServers (host:port, unix:PATH or local, blank\n"
    "separated: one worker each), ConnectTimeout (20 s), PDFWriter (the printer of the last route:\n"
    "Vellum PDF), MultiInstance. A value out of range or malformed takes the default and is said once.\n"
    "\n"
    "LogFile gets one line per file (State => source => result) as the file finishes; it is\n"
    "never a link, a presentation or a PDF of the run. Control characters in names are written\n"
    "escaped (\\n, \\x1b), in the log as on the console.\n"
    "\n"
    "Exit codes: 0 after a run (also when some files failed), 1 when the run could not go on,\n"
    "2 for an unknown option, 130/143 when stopped by SIGINT/SIGTERM (0 for --office-server).\n";

static const QLatin1String officeServerOption("--office-server");
static const QLatin1String convertOption("--convert");

// Long options are answered before anything else: a default project must never run in place of --help.
static void handleLongOptions(const QString& arg)
{
    if (!arg.startsWith(QLatin1String("--")) || arg == officeServerOption || arg == convertOption)
        return;
    if (arg == QLatin1String("--help")) {
        fputs(usageText, stdout);
        throw TdvExit(0);
    }
    if (arg == QLatin1String("--version")) {
        printf("%s %s\n", qPrintable(gProject->Title), qPrintable(gProject->Version));
        throw TdvExit(0);
    }
    fprintf(stderr, "vellum: unknown option %s (see vellum --help)\n", arg.toLocal8Bit().constData());
    throw TdvExit(2);
}

TdvListenAddress parseListenAddress(const QString& text)
{
    if (text.startsWith(QLatin1String("unix:"), Qt::CaseInsensitive)) {
        const QString path = text.mid(5);
        if (path.isEmpty() || path.endsWith(QLatin1Char('/')))
            throw TdvError(QStringLiteral("\"%1\" names no socket (unix:PATH)").arg(text));
        TdvListenAddress address;
        address.SocketPath = QDir::cleanPath(QDir::current().absoluteFilePath(path));
        return address;
    }
    TdvListenAddress address{QStringLiteral("127.0.0.1"), 0, QString()};
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    const QString port = text.mid(colon + 1);
    if (colon >= 0)
        address.Host = text.left(colon);
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (digits.match(port).hasMatch())
        address.Port = port.toInt();
    if (address.Port < 1 || address.Port > 65535)
        throw TdvError(QStringLiteral("\"%1\" is no port (1 to 65535)").arg(port));

    // Dotted numbers are an address whose parts must fit a byte; anything else a host name of labels.
    static const QRegularExpression quad(
        QStringLiteral("^[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}\\.[0-9]{1,3}$"));
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?(\\.[A-Za-z0-9]([A-Za-z0-9-]"
                       "{0,61}[A-Za-z0-9])?)*$"));
    bool valid = false;
    if (quad.match(address.Host).hasMatch()) {
        valid = true;
        for (const QString& part : address.Host.split(QLatin1Char('.')))
            valid = valid && part.toInt() <= 255;
    } else {
        static const QRegularExpression numbers(QStringLiteral("^[0-9.]*$"));
        valid = name.match(address.Host).hasMatch() && !numbers.match(address.Host).hasMatch();
    }
    if (!valid)
        throw TdvError(QStringLiteral("\"%1\" is no IPv4 address or host name").arg(address.Host));
    return address;
}

// --office-server [ADDRESS:]PORT, with any -P options before or after it. Those are joined into the one
// options argument the project reads, so that OfficeRestart and the rest come from where they always do.
static TdvListenAddress officeServerArguments(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << decodeFileName(QByteArray(argv[i]));
    const qsizetype at = args.indexOf(officeServerOption);
    if (at < 0)
        return {};
    if (at + 1 >= args.size()) {
        fputs("vellum: --office-server needs [ADDRESS:]PORT or unix:PATH (see vellum --help)\n", stderr);
        throw TdvExit(2);
    }
    TdvListenAddress address;
    try {
        address = parseListenAddress(args[at + 1]);
    } catch (const TdvError& e) {
        fprintf(stderr, "vellum: --office-server: %s\n", e.Message.toLocal8Bit().constData());
        throw TdvExit(2);
    }
    args.remove(at, 2);
    QStringList options;
    for (const QString& arg : std::as_const(args)) {
        if (!arg.startsWith(QLatin1String("-P"), Qt::CaseInsensitive)) {
            fprintf(stderr, "vellum: %s cannot go with --office-server, only -P: options can\n",
                    arg.toLocal8Bit().constData());
            throw TdvExit(2);
        }
        QString text = arg.mid(2);
        if (text.startsWith(QLatin1Char(':')))
            text.remove(0, 1);
        options << text;
    }
    gApp->FirstParam = options.isEmpty() ? QString() : QStringLiteral("-P:") + options.join(QLatin1Char(';'));
    return address;
}

TdvProjectHost shellProjectHost()
{
    TdvProjectHost host;
    host.ProgramPath = [] { return gApp ? gApp->ProgramPath : currentProgramPath(); };
    host.FirstParam = [] { return gApp ? gApp->FirstParam : QString(); };
    host.OpenFileDialog = [](const QString& filter, QString& fileName) {
        return gApp && gApp->OpenFileDialog(filter, fileName, false);
    };
    host.SaveFileDialog = [](const QString& filter, const QString& defaultExt, QString& fileName) {
        return gApp && gApp->SaveFileDialog(filter, defaultExt, fileName);
    };
    host.OpenNotice = [](const QString& argument, const QString& extra) {
        if (gInfo)
            gInfo->OpenLink(QString(), argument, extra);
    };
    return host;
}

TdvStartup::TdvStartup(int argc, char** argv, const TdvConvertorClass* convertorClass)
{
    // Per-user folders are named after the application: set it before any of them is looked up.
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    gApp = new TdvApp(argc, argv);
    gInfo = new TdvInfo(gApp->ProgramPath, productName());
    gProject = new TdvProject(shellProjectHost());
    gMain = new TdvMain(*gProject, gInfo);
    applyProductIdentity(convertorClass);
    try {
        handleLongOptions(gApp->FirstParam);
        if (gApp->FirstParam == convertOption) {
            // The window lists the sources and converts them at once; the first is the source as usual.
            gApp->ConvertOnStart = true;
            gApp->Params.removeFirst();
            gApp->FirstParam = gApp->Params.value(0);
        }
        FOfficeServer = officeServerArguments(argc, argv);
        gProject->ParseCommandLine();
    } catch (...) {
        teardown();
        throw;
    }
}

TdvStartup::~TdvStartup()
{
    teardown();
}

void TdvStartup::teardown()
{
    delete gMain;
    gMain = nullptr;
    delete gProject;
    gProject = nullptr;
    delete gInfo;
    gInfo = nullptr;
    delete gApp;
    gApp = nullptr;
}

bool TdvStartup::IsConsoleMode()
{
    return gProject->PureConsole() && !isWebAddress(gProject->Source());
}

int runConsole()
{
    try {
        gMain->Run();
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", errorMessage(e).toLocal8Bit().constData());
        return 1;
    }
    // The log said why it lost lines when it did; the run's code says it too.
    return gMain->LogFailed() ? 1 : 0;
}
