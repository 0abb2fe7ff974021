#pragma once

#include "base/dvPlaces.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <mutex>

// What earlier runs into one target folder left behind: the PDFs this program wrote there (from which
// presentation, as it was then, with which settings, and the PDF as it was written) and the presentations
// that failed. IsOverwrite=Update keeps a PDF only when this record vouches for it, so a file another
// program wrote or changed is never taken for up to date.
//
// One file per target folder in the user's data folder ("records/<hash of the folder>.rec"). Each item adds
// one whole line; a torn line (a crash during the write) is ignored when read. Two copies of the program at
// once each add their own lines under a lock on "<file>.lock"; the file is now and then rewritten with only
// the last line of each target and deck, into a new file that replaces the old one whole.
class TdvRecord
{
public:
    // Opens the record of the target folder. With `load`, reads what earlier runs wrote (the up-to-date
    // tests need it); without, only adds to it. Throws TdvError naming the file when it cannot be had.
    TdvRecord(const QString& targetFolder, bool load);
    // Compacts the file when it has grown to many times what it holds.
    ~TdvRecord();
    TdvRecord(const TdvRecord&) = delete;
    TdvRecord& operator=(const TdvRecord&) = delete;

    // The record file of a target folder.
    static QString FileFor(const QString& targetFolder);
    const QString& File() const { return FFile; }

    // Whether `target`, as it is now, is the very PDF this program wrote from `source` as it is now (same
    // size and modification time) with the same settings.
    bool UpToDate(const QString& target, const TdvFileId& targetNow, const QString& source,
                  const TdvFileId& sourceNow, const QString& settings) const;
    // The failure text of `source` when it failed before as it is now, with the same settings; else empty.
    QString FailedBefore(const QString& source, const TdvFileId& sourceNow, const QString& settings) const;

    // What an item came to. `sourceThen` is the deck as it was when its conversion began.
    void Written(const QString& target, const TdvFileId& targetNow, const QString& source,
                 const TdvFileId& sourceThen, const QString& settings);
    void Failed(const QString& source, const TdvFileId& sourceThen, const QString& settings,
                const QString& text);

    // Lines read and distinct entries, for the compaction rule and the tests.
    int Lines() const { return FLines; }
    int Entries() const { return int(FWritten.size() + FFailed.size()); }
    // Rewrites the file with the last line of each target and deck.
    void Compact();

private:
    struct WrittenEntry
    {
        quint64 Source = 0; // hash of the deck's path
        quint64 Settings = 0;
        qint64 SourceSize = -1;
        qint64 SourceModified = 0;
        quint64 Inode = 0;
        qint64 Size = -1;
        qint64 Modified = 0;
    };
    struct FailedEntry
    {
        quint64 Settings = 0;
        qint64 SourceSize = -1;
        qint64 SourceModified = 0;
        QByteArray Text; // escaped
    };

    void read();
    void parse(const QByteArray& line);
    void append(const QByteArray& line);

    QString FFile;
    QString FLockFile;
    bool FLoaded = false;
    qint64 FSizeAtOpen = 0;
    int FLines = 0;
    QHash<QByteArray, WrittenEntry> FWritten; // by escaped target path
    QHash<QByteArray, FailedEntry> FFailed;   // by escaped source path
    mutable std::mutex FLock;
};
