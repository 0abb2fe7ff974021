#include "gui/dvSession.h"

#include "base/dvPlaces.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace {
// Raised when the layout of the file changes, so that an older file is read as no session.
constexpr int kSessionFormat = 1;
} // namespace

QString TdvSession::FileName()
{
    return userFile(QStandardPaths::AppConfigLocation, QStringLiteral("session.conf"));
}

TdvSession TdvSession::Load()
{
    TdvSession session;
    const QString name = FileName();
    if (!QFileInfo::exists(name))
        return session;
    QSettings file(name, QSettings::IniFormat);
    if (file.status() != QSettings::NoError || file.value(QStringLiteral("Format")).toInt() != kSessionFormat)
        return session;
    session.Found = true;
    session.ProjectFile = file.value(QStringLiteral("Project/File")).toString();
    session.Options = file.value(QStringLiteral("Project/Options")).toStringList();
    session.SavedOptions = file.value(QStringLiteral("Project/Saved")).toStringList();
    session.Geometry = file.value(QStringLiteral("Window/Geometry")).toByteArray();
    session.ListColumns = file.value(QStringLiteral("Window/ListColumns")).toByteArray();
    return session;
}

QString TdvSession::Save() const
{
    // QSettings writes a new file beside the old one and renames it over it: never half a session.
    QSettings file(FileName(), QSettings::IniFormat);
    file.clear();
    file.setValue(QStringLiteral("Format"), kSessionFormat);
    file.setValue(QStringLiteral("Project/File"), ProjectFile);
    file.setValue(QStringLiteral("Project/Options"), Options);
    file.setValue(QStringLiteral("Project/Saved"), SavedOptions);
    file.setValue(QStringLiteral("Window/Geometry"), Geometry);
    file.setValue(QStringLiteral("Window/ListColumns"), ListColumns);
    file.sync();
    switch (file.status()) {
    case QSettings::NoError:
        return QString();
    case QSettings::AccessError:
        return QCoreApplication::translate("TdvSession", "%1 cannot be written").arg(FileName());
    case QSettings::FormatError:
        break;
    }
    return QCoreApplication::translate("TdvSession", "%1 is damaged").arg(FileName());
}
