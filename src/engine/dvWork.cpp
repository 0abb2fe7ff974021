#include "engine/dvWork.h"

#include "engine/dvBatch.h"

TdvWork::TdvWork(TdvItemObserver* observer, const QString& regExt, bool skipHidden)
    : FBatch(std::make_unique<TdvBatch>()), FObserver(observer)
{
    FBatch->SetSearchRules(regExt, skipHidden);
    FBatch->Observer = observer;
}

TdvWork::~TdvWork()
{
    EndListing();
    FBatch->Observer = nullptr;
}

void TdvWork::List(const QString& source, const QString& target, bool subdirs,
                   std::function<bool(const QString&)> filter)
{
    FBatch->ListFilter = std::move(filter);
    FFed = true;
    FBatch->StartSearch(source, target, subdirs);
}

void TdvWork::Add(const QString& path)
{
    FFed = true;
    FBatch->AddSingleSource(path);
}

void TdvWork::EndListing()
{
    FBatch->Terminate();
    FBatch->WaitFor();
}

bool TdvWork::Listed() const
{
    return FBatch->IsListed();
}

int TdvWork::Count() const
{
    return FBatch->ItemCount();
}

bool TdvWork::Exhausted() const
{
    return FBatch->IsExhausted();
}

QString TdvWork::SourceFolder() const
{
    return FBatch->FSourceFolder;
}

void TdvWork::SetSourceFolder(const QString& folder)
{
    FBatch->FSourceFolder = folder;
}

QString TdvWork::Mask() const
{
    return FBatch->FMask;
}

bool TdvWork::Subdirs() const
{
    return FBatch->FSubdirs;
}

std::unique_ptr<TdvRun> TdvWork::NewRun(const TdvRunOptions& options, const QString& target, TdvUsage* usage)
{
    auto run = std::make_unique<TdvRun>(options, FBatch.get(), target, FObserver);
    run->SetUsage(usage);
    return run;
}
