// The office listeners of a run: their addresses, and which of them can be reached.
#include "engine/dvConvertor.h"

#include "base/dvError.h"

#include <QDir>
#include <QStringList>

QStringList TdvServers::Parse(const QString& text)
{
    QStringList entries;
    for (const QString& word : text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.compare(QLatin1String("local"), Qt::CaseInsensitive) == 0) {
            entries.append(QStringLiteral("local"));
            continue;
        }
        QString entry = word;
        QString host;
        int port = 0;
        if (word.startsWith(QLatin1String("unix:"), Qt::CaseInsensitive)) {
            const QString path = word.mid(5);
            if (path.isEmpty())
                throw TdvError(QStringLiteral("OfficeServers: \"%1\" names no socket (unix:PATH)").arg(word));
            entry = QStringLiteral("unix:") + QDir::cleanPath(QDir::current().absoluteFilePath(path));
        } else if (!SplitAddress(word, host, port)) {
            throw TdvError(
                QStringLiteral("OfficeServers: \"%1\" is neither host:port, unix:PATH nor local").arg(word));
        }
        // Two connections of one program to one office share the office's objects and break each other.
        for (const QString& earlier : std::as_const(entries))
            if (SocketPath(earlier).isEmpty() ? earlier.compare(entry, Qt::CaseInsensitive) == 0
                                              : earlier == entry)
                throw TdvError(
                    QStringLiteral("OfficeServers: %1 is named twice; one program keeps one "
                                   "connection to an office, so start another listener for another "
                                   "worker")
                        .arg(entry));
        entries.append(entry);
    }
    return entries;
}

QString TdvServers::SocketPath(const QString& entry)
{
    return entry.startsWith(QLatin1String("unix:")) ? entry.mid(5) : QString();
}

bool TdvServers::SplitAddress(const QString& entry, QString& host, int& port)
{
    const int colon = entry.lastIndexOf(QLatin1Char(':'));
    host = colon > 0 ? entry.left(colon) : QString();
    bool numeric = false;
    port = entry.mid(colon + 1).toInt(&numeric);
    const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
    if (bracketed)
        host = host.mid(1, host.size() - 2);
    return !host.isEmpty() && numeric && port > 0 && port <= 65535 &&
           (bracketed || !host.contains(QLatin1Char(':')));
}

TdvServers::TdvServers(QStringList entries) : FEntries(std::move(entries))
{
    for (int i = 0; i < FEntries.size(); ++i)
        FDown.append(QString());
}

void TdvServers::SetUp(int index)
{
    std::lock_guard lock(FLock);
    FDown[index].clear();
}

void TdvServers::SetDown(int index, const QString& reason)
{
    std::lock_guard lock(FLock);
    FDown[index] = reason.isEmpty() ? QStringLiteral("unreachable") : reason;
}

bool TdvServers::AllDown() const
{
    std::lock_guard lock(FLock);
    for (int i = 0; i < FEntries.size(); ++i)
        if (IsLocal(FEntries[i]) || FDown[i].isEmpty())
            return false;
    return !FEntries.isEmpty();
}

QString TdvServers::DownMessage() const
{
    std::lock_guard lock(FLock);
    QStringList parts;
    for (int i = 0; i < FEntries.size(); ++i)
        if (!FDown[i].isEmpty())
            parts.append(FDown[i]);
    return QStringLiteral("No office can be reached: ") + parts.join(QStringLiteral("; "));
}
