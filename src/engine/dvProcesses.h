#pragma once

#include <sys/types.h>

// Process groups of the office processes this program started. The signal handlers of the console mode and
// the program's exit end every group still registered, so no office outlives the program. The table is a
// fixed array of atomics so that a signal handler can walk it.
void registerChildGroup(pid_t group);
void unregisterChildGroup(pid_t group);
void killAllChildGroups(); // async-signal-safe
int liveChildGroups();

// Console mode: SIGINT and SIGTERM end the offices and the program (exit code 128 + signal).
void installTerminationHandlers();
