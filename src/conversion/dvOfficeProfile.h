#pragma once

// The office's profiles: the template each user's offices start from (made once, by the first office), the
// private copy of it that each office gets, and the settings added to a copy.

#include <QByteArray>
#include <QString>

// Copies a folder tree; answers empty text, or what failed in the system's words ("Too many open files").
QString copyTree(const QString& from, const QString& to);
// Adds settings (registry items) to a profile copy's registrymodifications.xcu.
bool addSettings(const QString& profile, const QByteArray& items);
// The settings of an office that strangers reach: no macro runs, whatever a document or its location says.
QByteArray noMacrosSettings();
// The pipe an office accepts our bridge on, read by the office from its profile at its start.
QByteArray acceptSetting(const QString& pipe);
// Profile copies (and pipes) of programs that were killed are removed, their offices ended; once per process.
void removeStaleProfiles();
