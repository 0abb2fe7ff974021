#include "gui/dvRunStatus.h"

#include "engine/dvRun.h"

QString durationText(qint64 ms)
{
    const qint64 seconds = (std::max<qint64>(ms, 0) + 500) / 1000;
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    const QLatin1Char zero('0');
    return h > 0 ? QStringLiteral("%1:%2:%3").arg(h).arg(m, 2, 10, zero).arg(s, 2, 10, zero)
                 : QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, zero);
}

QString TdvRunStatus::Text() const
{
    QString counts = tr("%1 of %2, %3 failed").arg(Done).arg(Total).arg(Failed) +
                     (StandIns > 0 ? QStringLiteral("; ") + standInFontsCount(StandIns) : QString());
    const QString dash = QStringLiteral(" \u2013 ");
    if (Running && !Ending.isEmpty())
        return Finishing == 1 ? tr("%1: finishing 1 file").arg(Ending)
                              : tr("%1: finishing %2 files").arg(Ending).arg(Finishing);
    if (Running) {
        QString text = counts + dash + tr("%1 elapsed").arg(durationText(ElapsedMs));
        // Once every file is listed, the pace so far says how long the rest takes.
        if (Listed && Done > 0 && Total > Done)
            text += QStringLiteral(", ") +
                    tr("about %1 left").arg(durationText(ElapsedMs * (Total - Done) / Done));
        return text;
    }
    switch (LastEnd) {
    case End::Paused:
        return tr("Paused: %1. Resume goes on with the files not yet converted.").arg(counts);
    case End::Stopped:
        return tr("Stopped: %1, %2 not done. Convert lists the source again and starts over.")
            .arg(counts)
            .arg(NotDone);
    case End::Finished:
        return counts + dash + tr("took %1").arg(durationText(ElapsedMs));
    case End::None:
        break;
    }
    return counts;
}
