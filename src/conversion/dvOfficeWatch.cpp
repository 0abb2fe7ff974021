// The item watch: kills a worker's office when one item has taken longer than its limit.
#include "conversion/dvOffice.h"

#include <chrono>
#include <mutex>
#include <thread>

TdvOfficeWatch::~TdvOfficeWatch()
{
    {
        std::lock_guard guard(FLock);
        FStop = true;
        FOffice.reset();
    }
    FWake.notify_all();
    if (FThread.joinable())
        FThread.join();
}

void TdvOfficeWatch::Arm(const std::shared_ptr<TdvOffice>& office, std::chrono::milliseconds limit)
{
    {
        std::lock_guard guard(FLock);
        FOffice = office;
        FDeadline = std::chrono::steady_clock::now() + limit;
        FArmed = true;
        ++FArming;
        if (!FThread.joinable())
            FThread = std::thread([this] { run(); });
    }
    FWake.notify_all();
}

void TdvOfficeWatch::Disarm()
{
    std::lock_guard guard(FLock);
    FArmed = false;
    FOffice.reset();
}

void TdvOfficeWatch::run()
{
    using std::chrono::steady_clock;
    // The watch wakes every slice while armed. A wake far later than it slept means that this program
    // itself was stopped meanwhile (SIGSTOP, a suspended job): that time is not the office's, and the
    // deadline moves by it.
    constexpr auto kSlice = std::chrono::milliseconds(250);
    constexpr auto kLate = std::chrono::seconds(2);
    std::unique_lock guard(FLock);
    while (!FStop) {
        if (!FArmed) {
            FWake.wait(guard);
            continue;
        }
        const int armed = FArming;
        const auto before = steady_clock::now();
        const auto wake = std::min(FDeadline, before + kSlice);
        FWake.wait_until(guard, wake);
        const auto after = steady_clock::now();
        const auto meant = std::max(wake - before, steady_clock::duration::zero());
        if (FArmed && armed == FArming && after - before > meant + kLate)
            FDeadline += (after - before) - meant;
        if (FArmed && after >= FDeadline) {
            FArmed = false;
            FFired = true;
            if (std::shared_ptr<TdvOffice> office = FOffice.lock())
                office->Kill();
            FOffice.reset();
        }
    }
}
