#pragma once

#include <sys/types.h>

// Process groups of the office processes this program started. The signal handlers and the program's exit
// end every group still registered; a guardian process ends them when the program dies without either
// (SIGKILL, a crash). The table is a fixed array of atomics so that a signal handler can walk it.
void registerChildGroup(pid_t group);
void unregisterChildGroup(pid_t group);
void killAllChildGroups(); // async-signal-safe
int liveChildGroups();

// Makes this program the reaper of its offices' orphans, and reaps the strays that this brings (programs
// started detached, such as the desktop's opener).
void adoptOrphans();

// SIGINT, SIGTERM, SIGHUP and SIGQUIT end the offices and the program (exit code 128 + signal), in every
// mode.
void installTerminationHandlers();
