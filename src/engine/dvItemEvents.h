#pragma once

#include <QString>

// An item's state; the values are the state's icon index and what the window and the log keep.
enum TdvItemState : int {
    isRunning = 0, // listed or running
    isDone = 1,    // converted or skipped
    isFailed = 2,
};

// What the batch and its runs tell about one item: a copy made as it happened, so that whoever listens
// never reads an item that a worker may be changing.
struct TdvItemEvent
{
    int Index = -1; // the item's number in the batch: its row in a list
    TdvItemState State = isRunning;
    bool Skipped = false;      // its target existed and the overwrite rule said skip
    bool StandInFonts = false; // converted, with some text in fonts that stood in for missing ones
    QString Source;
    QString Result;            // the target written, or why the item failed; empty while it runs
    QString Note;              // what the person should know beyond the result
    int Listed = 0;            // items listed when the event was made
    bool ListingEnded = false; // and whether that was all of them
};

// Who follows a batch and the runs on it. The batch tells of each item it lists on its search thread
// (or on the thread that adds it); a worker tells of each item it begins and ends. Calls are made outside
// the batch's lock and never wait for an answer: an observer keeps what it needs and returns.
class TdvItemObserver
{
public:
    virtual ~TdvItemObserver() = default;
    virtual void ItemListed(const TdvItemEvent& event) { (void)event; }
    virtual void ItemStarted(const TdvItemEvent& event) { (void)event; }
    virtual void ItemDone(const TdvItemEvent& event) { (void)event; }
};
