#include "shell/dvInfo.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"
#include "base/dvVersion.h"
#include "engine/dvRun.h"
#include "project/dvProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cstdio>

TdvInfo* gInfo = nullptr;

namespace {

// The usage record is kept scrambled so that it is not mistaken for a settings file to edit.
QByteArray scramble(const QByteArray& data)
{
    QByteArray out = data;
    quint8 key = 0x5A;
    for (char& c : out) {
        c = char(quint8(c) ^ key);
        key = quint8(key * 31 + 7);
    }
    return out;
}

void openDetached(const QString& link)
{
    // A missing opener is ignored, as a failed shell open is.
    QProcess::startDetached(QStringLiteral("xdg-open"), {link});
}

} // namespace

QString commaText(const QStringList& list)
{
    QStringList parts;
    for (const QString& entry : list) {
        bool quote = false;
        for (const QChar c : entry)
            if (c.unicode() <= 32 || c == QLatin1Char(',') || c == QLatin1Char('"'))
                quote = true;
        if (quote) {
            QString inner = entry;
            inner.replace(QLatin1Char('"'), QLatin1String("\"\""));
            parts.append(QLatin1Char('"') + inner + QLatin1Char('"'));
        } else {
            parts.append(entry);
        }
    }
    return parts.join(QLatin1Char(','));
}

TdvProductName productName()
{
    return {QStringLiteral("Vellum Converter"), QStringLiteral("vellum"), QStringLiteral(VELLUM_VERSION)};
}

TdvInfo::TdvInfo(const QString& programPath, TdvProductName product)
    : ProgramPath(programPath), SiteRoot(QStringLiteral(VELLUM_SITE)),
      SupportMail(QStringLiteral(VELLUM_SUPPORT_MAIL)), Opener(openDetached), ShowError(printError),
      FProduct(std::move(product))
{
    QString folder = QFileInfo(ProgramPath).absolutePath();
    InstallStamp = TdvFileUtils::FileDosTime(folder, true, true);
    ReadRecord();
    setEntry(QStringLiteral("v"), QStringLiteral("2"));
    IncCounter(QStringLiteral("R"), 0, 1);
}

TdvInfo::~TdvInfo()
{
    try {
        WriteRecord();
    } catch (...) {
        // A read-only data folder must not turn the program's end into a failure.
    }
}

QString TdvInfo::RecordFileName() const
{
    const QString& program = ProgramPath;
    return userFile(QStandardPaths::AppDataLocation,
                    QFileInfo(changeFileExt(program, QStringLiteral(".ext"))).fileName());
}

void TdvInfo::ReadRecord()
{
    std::lock_guard guard(FLock);
    Record.clear();
    QFile file(RecordFileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QStringList entries =
        QString::fromUtf8(scramble(file.readAll())).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    bool hasStarts = false;
    for (const QString& entry : entries)
        if (entry.startsWith(QLatin1String("R=")))
            hasStarts = true;
    if (hasStarts)
        Record = entries;
}

void TdvInfo::WriteRecord() const
{
    std::lock_guard guard(FLock);
    const QString name = RecordFileName();
    QDir().mkpath(QFileInfo(name).absolutePath());
    QFile::setPermissions(name, QFile::permissions(name) | QFile::WriteOwner);
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw TdvError(QStringLiteral("Cannot create file \"%1\". %2").arg(name, file.errorString()));
    file.write(scramble(Record.join(QLatin1Char('\n')).toUtf8()));
}

QString TdvInfo::Counter(const QString& name) const
{
    std::lock_guard guard(FLock);
    for (const QString& entry : Record)
        if (entry.section(QLatin1Char('='), 0, 0) == name)
            return entry.section(QLatin1Char('='), 1);
    return QString();
}

void TdvInfo::setEntry(const QString& name, const QString& value)
{
    std::lock_guard guard(FLock);
    for (QString& entry : Record) {
        if (entry.section(QLatin1Char('='), 0, 0) == name) {
            entry = name + QLatin1Char('=') + value;
            return;
        }
    }
    Record.append(name + QLatin1Char('=') + value);
}

void TdvInfo::RunEnded(const TdvRun& run)
{
    const TdvTallies t = run.Tallies();
    IncCounter(QStringLiteral("A"), 0, t.Listed);
    IncCounter(QStringLiteral("S"), 0, t.Successes);
    IncCounter(QStringLiteral("F"), 0, t.Failures);
    if (t.Failures > 0) {
        QString texts = commaText(run.Batch()->FailureTexts());
        texts.replace(QLatin1Char('?'), QLatin1String("%3F"));
        OpenLink(QString(), QStringLiteral("err&e=") + texts, QString());
    }
}

void TdvInfo::IncCounter(const QString& name, int value, int step)
{
    std::lock_guard guard(FLock);
    const QString stored = Counter(name);
    const int newValue = value <= 0 ? TdvProject::ReadInt(stored, 0) + step : value;
    const QString text = QString::number(newValue);
    if (stored == text)
        return;
    setEntry(name, text);
    try {
        WriteRecord();
    } catch (...) {
        // Counting must never stop a run; the record is written again at the end.
    }
}

QString TdvInfo::CounterString() const
{
    std::lock_guard guard(FLock);
    QString result;
    for (const QString& entry : Record) {
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        if (!name.isEmpty() && name.at(0) >= QLatin1Char('A') && name.at(0) <= QLatin1Char('Z'))
            result += name.toLower() + entry.section(QLatin1Char('='), 1);
    }
    return result;
}

QString TdvInfo::HelpFile() const
{
    const QString& program = ProgramPath;
    // Beside the program (a build tree), else in the documentation folder of the installation the program
    // belongs to (found from the program's own place, so that another prefix works too), else in the one this
    // build names; the HTML help that every build makes comes before a PDF one.
    const QFileInfo self(program);
    const QString html = self.completeBaseName() + QStringLiteral(".html");
    const QString pdf = self.completeBaseName() + QStringLiteral(".pdf");
    const QString beside = self.absolutePath() + QLatin1Char('/');
    const QString relative =
        QDir::cleanPath(beside + QStringLiteral("../share/doc/") + self.completeBaseName()) +
        QLatin1Char('/');
    const QString installed = QStringLiteral(VELLUM_DOCDIR) + QLatin1Char('/');
    for (const QString& candidate :
         {changeFileExt(program, QStringLiteral(".chm")), beside + html, beside + pdf, relative + html,
          relative + pdf, installed + html, installed + pdf})
        if (QFileInfo::exists(candidate))
            return candidate;
    return beside + html;
}

QString TdvInfo::LinkFor(const QString& page, const QString& argument, const QString& extra) const
{
    const QString& title = FProduct.Title;
    const QString& shortName = FProduct.ShortName;
    const QString& version = FProduct.Version;
    if (page == QLatin1String("supports")) {
        if (SupportMail.isEmpty())
            return QString();
        QString product = title;
        const int amp = product.indexOf(QLatin1Char('&'));
        if (amp >= 0)
            product.replace(amp, 1, QStringLiteral("And"));
        return QStringLiteral("mailto:%1?subject=Support required for %2 %3 - %4")
            .arg(SupportMail, product, version, QString::number(InstallStamp));
    }
    if (page == QLatin1String("h"))
        return HelpFile();
    if (SiteRoot.isEmpty())
        return QString();
    QString base;
    if (!page.isEmpty())
        base = SiteRoot + QLatin1String("/en/") + shortName + QLatin1Char('/') + page + QLatin1String(".htm");
    else if (!argument.isEmpty())
        base = SiteRoot + QLatin1String("/net/");
    else
        base = SiteRoot;
    QStringList pairs;
    const auto add = [&pairs](const char* name, QString value) {
        value.remove(QLatin1Char('"'));
        if (!value.isEmpty())
            pairs.append(QLatin1String(name) + QLatin1Char('=') + value);
    };
    add("a", argument);
    add("p", shortName);
    add("v", version);
    add("c", CounterString());
    add("i", QString::number(InstallStamp));
    QString query = pairs.join(QLatin1Char('&'));
    if (!extra.isEmpty())
        query += QLatin1Char('&') + extra;
    return base + QLatin1Char('?') + query;
}

void TdvInfo::OpenLink(const QString& page, const QString& argument, const QString& extra)
{
    const QString link = LinkFor(page, argument, extra);
    if (!link.isEmpty() && Opener)
        Opener(link);
}

void TdvInfo::AppException(const QString& sender, const QString& message)
{
    (void)sender;
    try {
        IncCounter(QStringLiteral("E"), 0, 1);
    } catch (const std::exception&) {
        // The error is told below whether or not it could be counted.
    }
    // Without a site the report would go nowhere, and the person would never learn what failed.
    if (SiteRoot.isEmpty()) {
        if (ShowError)
            ShowError(message);
        return;
    }
    OpenLink(QString(), QStringLiteral("err&e=") + message, QString());
}

void printError(const QString& message)
{
    fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    fflush(stderr);
}
