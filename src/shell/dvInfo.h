#pragma once

#include "base/dvUsage.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

class TdvRun;

// The names the product goes by, in links, reports and the project's identity.
struct TdvProductName
{
    QString Title;
    QString ShortName;
    QString Version;
};
// This program's: "Vellum Converter", "vellum" and the build's version.
TdvProductName productName();

// Product information: usage record, help, web and mail links, unhandled errors.
class TdvInfo : public TdvUsage
{
public:
    // Reads the usage record of the program at programPath (its install stamp and the record's name follow
    // from it) and counts a start.
    TdvInfo(const QString& programPath, TdvProductName product);
    ~TdvInfo() override;

    void OpenLink(const QString& page, const QString& argument, const QString& extra);
    void IncCounter(const QString& name, int value, int step) override;
    void AppException(const QString& sender, const QString& message);
    // Counts a run that has ended (items, successes, failures) and opens the error report when any failed.
    void RunEnded(const TdvRun& run);

    QString Counter(const QString& name) const;
    QString CounterString() const;
    QString LinkFor(const QString& page, const QString& argument, const QString& extra) const;
    QString HelpFile() const;
    QString RecordFileName() const;
    void ReadRecord();
    void WriteRecord() const;

    // The program whose record this is and whose help HelpFile finds (set at construction).
    QString ProgramPath;
    // The maker's site and support address (build settings; empty opens nothing of that kind).
    QString SiteRoot;
    QString SupportMail;
    qint32 InstallStamp = -1;
    QStringList Record; // name=value entries

    // Opens a link with the desktop's default program. Console mode starts a detached xdg-open; the window
    // installs Qt's opener; tests install a recorder so nothing is ever launched.
    std::function<void(const QString&)> Opener;
    // Shows an unexpected error that no report page receives, because no site is configured: standard
    // error by default; the window puts its message box here.
    std::function<void(const QString&)> ShowError;

private:
    void setEntry(const QString& name, const QString& value);

    const TdvProductName FProduct;

    // Workers count office versions while the window or the console counts runs.
    mutable std::recursive_mutex FLock;
};

// Join texts in comma-text form: an entry with a blank, control character, comma or double quote is quoted,
// inner quotes doubled.
QString commaText(const QStringList& list);
// An error text on standard error, one line.
void printError(const QString& message);

extern TdvInfo* gInfo;
