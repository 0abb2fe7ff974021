#include "gui/dvSources.h"

#include "base/dvFileUtils.h"
#include "project/dvProject.h"

#include <QFileInfo>

bool isPresentationName(const QString& path)
{
    // The patterns of the source filter: "Description (...)|*.ppt;*.pptx|...".
    const QStringList parts = gProject ? gProject->SourceFilter.split(QLatin1Char('|')) : QStringList();
    const QString name = extractFileName(path);
    for (int i = 1; i < parts.size(); i += 2)
        for (const QString& pattern : parts.at(i).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            if (pattern != QLatin1String("*") && pattern != QLatin1String("*.*") &&
                wildcardMatch(pattern.trimmed(), name))
                return true;
    return false;
}

TdvSources sortSources(const QStringList& paths)
{
    TdvSources sources;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (info.isDir()) {
            QString folder = path;
            while (folder.size() > 1 && folder.endsWith(QLatin1Char('/')))
                folder.chop(1);
            sources.Folders.append(folder);
        } else if (info.isFile() && isPresentationName(path)) {
            sources.Files.append(path);
        } else {
            sources.Refused.append(path);
        }
    }
    return sources;
}

QStringList presentationsIn(const QString& folder, const QString& pattern, bool subdirs, bool skipHidden)
{
    QStringList found;
    QString root = folder;
    if (!root.endsWith(QLatin1Char('/')))
        root += QLatin1Char('/');
    SearchFolder(
        root, pattern, subdirs, skipHidden ? faNoHidden : faAnyFile,
        [&found](const QString& path) { found.append(path); }, [] { return false; });
    return found;
}
