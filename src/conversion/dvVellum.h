#pragma once

#include "conversion/dvPowerPointOle.h"

// The product's converter: one presentation to one PDF, through the presentation application's own
// export, then the office suite, then a printer. Every route writes into a part file beside the target,
// which replaces the target only once a route has succeeded.
class TdvVellum : public TdvPowerPointOle
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override;
    bool IsNotes() const;

private:
    void exportPresentation(const QString& out);
    void printPresentation(TdvBatch* batch, const QString& out, const QString& exportMessage);
    void throwIfTimedOut() const;
};

// The file a conversion writes before it is complete: hidden, in the target's folder (so the final rename
// stays on one file system), removed unless committed.
class TdvPartFile
{
public:
    explicit TdvPartFile(const QString& target);
    ~TdvPartFile();
    TdvPartFile(const TdvPartFile&) = delete;
    TdvPartFile& operator=(const TdvPartFile&) = delete;

    const QString& Path() const { return FPath; }
    bool Written() const; // a file that is not empty
    // Renames the part over the target; on failure the message says why.
    bool Commit(QString& failure);

private:
    QString FTarget;
    QString FPath;
    bool FCommitted = false;
};
