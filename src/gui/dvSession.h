#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the window had when it was last closed, kept in the user's config folder, so that nothing typed is
// lost on close: the project's file and option lines (with the lines as last saved, to tell whether they were
// changed since) and the window's place and the list's columns.
struct TdvSession
{
    bool Found = false;       // a session was read
    QString ProjectFile;      // empty for an untitled project
    QStringList Options;      // the option lines on screen
    QStringList SavedOptions; // the lines as the project file holds them (or as a new project began)
    QByteArray Geometry;      // QWidget::saveGeometry
    QByteArray ListColumns;   // QHeaderView::saveState

    // The session file ("session.conf" in the user's config folder).
    static QString FileName();
    static TdvSession Load();
    // Written whole or not at all; answers the reason when it could not be written, else empty text.
    QString Save() const;
};
