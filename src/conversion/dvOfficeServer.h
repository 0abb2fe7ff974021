#pragma once

// One office kept listening for the UNO clients of other machines (`vellum --office-server`).

#include <QString>

// Runs an office that also accepts UNO clients on host:port and keeps it running: a new one when it dies
// (after a pause that grows from 1 s to 30 s while it keeps dying), a fresh one once `restartAfter`
// documents (0: never) have been closed and none is open. Prints a line when an office listens and one for
// every restart. Ends the office and answers 0 on SIGINT or SIGTERM; answers 1, with a message on standard
// error, when the port is taken or no office can be started.
int runOfficeServer(const QString& host, int port, int restartAfter);
