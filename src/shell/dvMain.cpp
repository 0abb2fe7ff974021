#include "shell/dvMain.h"

#include "discovery/dvFileUtils.h"
#include "engine/dvBatch.h"
#include "engine/dvConvertor.h"
#include "project/dvProject.h"
#include "shell/dvInfo.h"

#include <cstdio>

TdvMain* gMain = nullptr;

QString stateWord(int state)
{
    switch (state) {
    case isDone:
        return QStringLiteral("Success");
    case isFailed:
        return QStringLiteral("Failure");
    default:
        return QStringLiteral("Running");
    }
}

TdvMain::TdvMain() = default;

TdvMain::~TdvMain()
{
    // Workers end before the batch they draw from.
    Convertor.reset();
    Batch.reset();
}

void TdvMain::Run()
{
    Log.clear();
    FDone = 0;
    Batch = std::make_unique<TdvBatch>();
    const bool subdir = gProject->Subdir();
    const QString target = gProject->Target();
    const QString source = gProject->Source();
    Batch->StartSearch(source, target, subdir);

    const int requested = gProject->ThreadsCount();
    Convertor.reset(TdvConvertor::CreateChain(Batch.get(), target, &TdvMain::LogItem, this));
    if (Convertor->FCount < requested)
        fprintf(stderr, "ThreadsCount %d is more than this machine can use; running %d workers\n", requested,
                Convertor->FCount);
    LiveConverters = Convertor->FCount;
    Convertor->StartChain();
    if (gInfo)
        gInfo->IncCounter(QStringLiteral("C"), 0, 1);

    // Every worker ends once the listing is complete and no item is left; joining them is the wait.
    Convertor->WaitChain();
    Batch->Terminate();
    Batch->WaitFor();
    Finish();
}

void TdvMain::LogItem(void* context, TdvBatch* batch, TdvNode* item)
{
    auto* self = static_cast<TdvMain*>(context);
    const QString word = stateWord(item->State);
    std::lock_guard lock(self->FLogLock);
    self->Log.append(QStringLiteral("%1 => %2 => %3").arg(word, item->Source, item->Result));
    ++self->FDone;
    if (self->ShowProgress) {
        QString result = item->Skipped ? QStringLiteral("(skipped, target exists)") : item->Result;
        if (!item->Note.isEmpty())
            result += QStringLiteral(" (%1)").arg(item->Note);
        // While the listing goes on the count so far is no total: "[7/8]" would say the run is nearly done.
        const QString count = batch->IsListed()
                                  ? QStringLiteral("%1/%2").arg(self->FDone).arg(batch->ItemCount())
                                  : QString::number(self->FDone);
        const QString line = QStringLiteral("[%1] %2 %3 => %4\n").arg(count, word, item->Source, result);
        fputs(line.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
}

void TdvMain::Finish()
{
    const int items = Batch->ItemCount();
    const int successes = Batch->Successes();
    const int failures = Batch->Failures();
    if (gInfo) {
        gInfo->IncCounter(QStringLiteral("A"), 0, items);
        gInfo->IncCounter(QStringLiteral("S"), 0, successes);
        gInfo->IncCounter(QStringLiteral("F"), 0, failures);
        if (failures > 0) {
            QString texts = commaText(Batch->FailureTexts());
            texts.replace(QLatin1Char('?'), QLatin1String("%3F"));
            gInfo->OpenLink(QString(), QStringLiteral("err&e=") + texts, QString());
        }
    }
    if (ShowProgress) {
        // Counted per item from the items themselves, so that the figures add up to what was listed.
        int converted = 0, skipped = 0, failed = 0;
        for (const TdvNode* item : std::as_const(Batch->LockItems())) {
            if (item->Skipped)
                ++skipped;
            else if (item->State == isDone)
                ++converted;
            else if (item->State == isFailed ||
                     !item->Result.isEmpty()) // an error that escaped its conversion
                ++failed;
        }
        Batch->UnlockItems();
        QString summary = QStringLiteral("%1 listed, %2 converted, %3 skipped, %4 failed")
                              .arg(items)
                              .arg(converted)
                              .arg(skipped)
                              .arg(failed);
        const int open = items - converted - skipped - failed;
        if (open > 0)
            summary += QStringLiteral(", %1 not done").arg(open);
        summary += QLatin1Char('\n');
        fputs(summary.toLocal8Bit().constData(), stdout);
        fflush(stdout);
    }
    const QString logFile = gProject->LogFile();
    if (!logFile.isEmpty())
        writeTextLines(logFile, Log);
}
