#include "engine/dvProcesses.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {
constexpr int kSlots = 1024;
std::atomic<pid_t> groups[kSlots];

void onTerminate(int sig)
{
    killAllChildGroups();
    _exit(128 + sig);
}
} // namespace

void registerChildGroup(pid_t group)
{
    for (auto& slot : groups) {
        pid_t empty = 0;
        if (slot.compare_exchange_strong(empty, group))
            return;
    }
}

void unregisterChildGroup(pid_t group)
{
    for (auto& slot : groups) {
        pid_t expected = group;
        if (slot.compare_exchange_strong(expected, 0))
            return;
    }
}

void killAllChildGroups()
{
    for (auto& slot : groups) {
        const pid_t group = slot.load();
        if (group > 0)
            ::kill(-group, SIGKILL);
    }
}

int liveChildGroups()
{
    int n = 0;
    for (auto& slot : groups)
        if (slot.load() > 0)
            ++n;
    return n;
}

void installTerminationHandlers()
{
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
