#pragma once

// One office kept listening for the UNO clients of other machines (`vellum --office-server`).

#include <QString>

// Where the listener takes its clients and how it keeps its office.
struct TdvOfficeServerSettings
{
    QString Host; // an IPv4 address or host name, with Port
    int Port = 0;
    QString SocketPath;     // or a Unix socket, in a folder only this user can enter
    int RestartAfter = 200; // documents closed before a fresh office (0: never)
    int CallLimit = 300;    // seconds a client may wait on a silent office (0: no limit)
    int MemoryLimitMiB = 0; // address space of each office process (0: none)
};

// Takes UNO clients on the address and relays each connection to an office of its own, which it keeps
// running: a new one when it dies (after a pause that grows from 1 s to 30 s while it keeps dying), at once
// when a client leaves during a call or waits past the limit without a word from the office (the office is
// killed: it may be stuck in the deck), and a fresh one once `RestartAfter` documents have been closed and
// none is open. Prints a line when an office listens and one for every restart. Ends the office and answers 0
// on SIGINT or SIGTERM; answers 1, with a message on standard error, when the address is taken or no office
// can be started.
int runOfficeServer(const TdvOfficeServerSettings& settings);
