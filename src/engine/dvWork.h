#pragma once

#include "engine/dvItemEvents.h"
#include "engine/dvRun.h"

#include <QString>
#include <functional>
#include <memory>

class TdvBatch;

// The work on one batch: the listing of its items and the runs that convert them, one at a time. The
// window and the console drive a batch through it and follow its items through their observer; a run that
// is paused leaves the items not yet handed out to the next run of the same work. A run draws items from
// the work until its workers end: its owner frees it before the work.
class TdvWork
{
public:
    // `observer` (which may be null, and outlives the work) is told of every item as it is listed, begun and
    // ended. The listing follows `regExt` (a regular expression every path must match; none when empty) and
    // leaves hidden files out when `skipHidden` is set.
    TdvWork(TdvItemObserver* observer, const QString& regExt, bool skipHidden);
    // Ends the listing and waits for it.
    ~TdvWork();
    TdvWork(const TdvWork&) = delete;
    TdvWork& operator=(const TdvWork&) = delete;

    // Starts listing `source` (a folder with a pattern) on a thread of its own, every file that `filter`
    // lets through (none: every file); an item is converted as soon as a run takes it. Throws TdvError when
    // the target names no folder.
    void List(const QString& source, const QString& target, bool subdirs,
              std::function<bool(const QString&)> filter = {});
    // Adds one named source as an item; with it, the listing is complete.
    void Add(const QString& path);
    // Ends the listing and waits for its thread.
    void EndListing();
    // List or Add was called.
    bool Fed() const { return FFed; }
    bool Listed() const;
    int Count() const;
    // Every item has been handed out to a run.
    bool Exhausted() const;
    // What the listing looks in and for: the source's folder (items keep their place below the target
    // relative to it), its pattern, and whether sub-folders are searched.
    QString SourceFolder() const;
    void SetSourceFolder(const QString& folder);
    QString Mask() const;
    bool Subdirs() const;

    // Sets up a run of the items not yet handed out, into `target`, as `options` ask, counting in `usage`
    // (none: nothing counted); the run has not started, and the previous one must have ended. Throws
    // TdvError for an option the run cannot start with.
    std::unique_ptr<TdvRun> NewRun(const TdvRunOptions& options, const QString& target, TdvUsage* usage);

    // For the files a run keeps beside its items (the run log, an exported list), which must not be any of
    // them, and for the repeats of a watched folder, which remember what a run handled.
    TdvBatch& Batch() const { return *FBatch; }

private:
    std::unique_ptr<TdvBatch> FBatch;
    TdvItemObserver* FObserver;
    bool FFed = false;
};
