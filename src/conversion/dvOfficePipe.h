#pragma once

// The bridge's connection to an office of this machine: the socket of the office's pipe, reached by its
// path, so that it can lie in a folder only this user enters.

#include "conversion/dvUno.h"

#include <com/sun/star/connection/XConnection.hpp>

#include <sys/types.h>

// Connects to the office's pipe socket at `path`. Answers an empty reference while nobody listens there yet;
// fails with a message when the process that listens is not a member of the office's process group `group`
// (another program took the name first).
css::uno::Reference<css::connection::XConnection> connectOfficePipe(const QString& path, pid_t group);

// Sends all of `bytes` on a connected socket (interrupted calls retried, never SIGPIPE). Answers 0 once all
// is sent, the errno of a send that failed, or -1 when the other side has closed the connection.
int sendAll(int socket, const css::uno::Sequence<sal_Int8>& bytes);
