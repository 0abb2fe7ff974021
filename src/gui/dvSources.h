#pragma once

#include <QString>
#include <QStringList>

// What the window takes as presentations: the names its Files dialog offers.
bool isPresentationName(const QString& path);

// Dropped or named paths sorted by what they are.
struct TdvSources
{
    QStringList Files;   // presentations, in the order given
    QStringList Folders; // folders to search, without their trailing "/"
    QStringList Refused; // everything else: other files and paths that do not exist
};
TdvSources sortSources(const QStringList& paths);

// The presentations in a folder that the source pattern finds, in the walk's order.
QStringList presentationsIn(const QString& folder, const QString& pattern, bool subdirs, bool skipHidden);
