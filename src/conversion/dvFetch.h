#pragma once

// Web sources: the program fetches the deck itself, so that no office ever reaches the network.

#include <QString>

// The most a deck from the web may weigh.
constexpr qint64 kMaxDownloadBytes = qint64(1) << 30;

// Fetches the http(s) address `url` into the file `file`: at most `maxBytes`, and within `limitSeconds` for
// the whole download (0: no limit). Fails with a TdvError that says why in words (the HTTP status, a host
// not found, too large); a failed download leaves no file.
void fetchDeck(const QString& url, const QString& file, qint64 maxBytes, int limitSeconds);
