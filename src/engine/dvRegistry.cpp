#include "engine/dvRegistry.h"

#include "base/dvError.h"
#include "base/dvFileUtils.h"
#include "base/dvPlaces.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

QString TdvRegistry::HiveFile(Hive hive)
{
    const QString name = hive == CurrentUser ? QStringLiteral("user.reg") : QStringLiteral("machine.reg");
    const QByteArray moved = qgetenv("VELLUM_REGISTRY_DIR");
    if (!moved.isEmpty())
        return QFile::decodeName(moved) + QLatin1Char('/') + name;
    if (hive == CurrentUser)
        return userFile(QStandardPaths::AppConfigLocation, name);
    return QStringLiteral("/etc/vellum/") + name;
}

QList<TdvRegistry::Section> TdvRegistry::load() const
{
    QList<Section> sections;
    QStringList lines;
    if (!readTextLines(HiveFile(FHive), lines))
        return sections;
    for (const QString& line : std::as_const(lines)) {
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']')))
            sections.append(Section{line.mid(1, line.size() - 2), {}});
        else if (!sections.isEmpty() && line.contains(QLatin1Char('=')))
            sections.last().lines.append(line);
    }
    return sections;
}

void TdvRegistry::save(const QList<Section>& sections) const
{
    const QString file = HiveFile(FHive);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QStringList lines;
    for (const Section& s : sections) {
        lines.append(QLatin1Char('[') + s.key + QLatin1Char(']'));
        lines.append(s.lines);
    }
    writeTextLines(file, lines);
}

// Read-modify-write of a hive holds its lock, so two copies of the program (MultiInstance) never lose
// each other's values.
static QString lockFile(TdvRegistry::Hive hive)
{
    return TdvRegistry::HiveFile(hive) + QStringLiteral(".lock");
}

bool TdvRegistry::OpenKey(const QString& key, bool create)
{
    std::optional<TdvFileLock> lock;
    if (create) {
        QDir().mkpath(QFileInfo(HiveFile(FHive)).absolutePath());
        try {
            lock.emplace(lockFile(FHive));
        } catch (const TdvError&) {
            return false;
        }
    }
    QList<Section> sections = load();
    bool exists = false;
    for (const Section& s : std::as_const(sections))
        exists = exists || s.key.compare(key, Qt::CaseInsensitive) == 0;
    if (!exists) {
        if (!create)
            return false;
        sections.append(Section{key, {}});
        try {
            save(sections);
        } catch (const TdvError&) {
            return false;
        }
    }
    FKey = key;
    return true;
}

static QString valueName(const QString& line)
{
    return line.left(line.indexOf(QLatin1Char('=')));
}

QString TdvRegistry::ReadString(const QString& name) const
{
    for (const Section& s : load()) {
        if (s.key.compare(FKey, Qt::CaseInsensitive) != 0)
            continue;
        for (const QString& line : s.lines)
            if (valueName(line).compare(name, Qt::CaseInsensitive) == 0)
                return line.mid(line.indexOf(QLatin1Char('=')) + 1);
    }
    return QString();
}

void TdvRegistry::WriteString(const QString& name, const QString& value)
{
    if (FKey.isEmpty())
        throw TdvError(QStringLiteral("No key is open"));
    QDir().mkpath(QFileInfo(HiveFile(FHive)).absolutePath());
    const TdvFileLock lock(lockFile(FHive));
    QList<Section> sections = load();
    for (Section& s : sections) {
        if (s.key.compare(FKey, Qt::CaseInsensitive) != 0)
            continue;
        for (QString& line : s.lines) {
            if (valueName(line).compare(name, Qt::CaseInsensitive) == 0) {
                line = valueName(line) + QLatin1Char('=') + value;
                save(sections);
                return;
            }
        }
        s.lines.append(name + QLatin1Char('=') + value);
        save(sections);
        return;
    }
    throw TdvError(QStringLiteral("The key %1 does not exist").arg(FKey));
}
