#pragma once

#include <QCoreApplication>
#include <QString>

// What the status line says about a run: how far it is, how long it took and how long it may still take,
// and how it ended.
struct TdvRunStatus
{
    Q_DECLARE_TR_FUNCTIONS(TdvRunStatus)
public:
    enum class End { None, Finished, Paused, Stopped };

    int Total = 0; // rows listed
    int Done = 0;  // rows with an outcome
    int Failed = 0;
    int NotDone = 0; // rows a stopped run did not finish
    bool Running = false;
    bool Listed = false;  // the listing is complete, so Total is the run's size
    QString Ending;       // "Pausing" or "Stopping" while the workers finish their files
    int Finishing = 0;    // workers still finishing
    qint64 ElapsedMs = 0; // since the run started, or what the last run took
    End LastEnd = End::None;

    QString Text() const;
};

// "0:42", "12:05", "1:02:03".
QString durationText(qint64 ms);
