#include "conversion/dvUrpWatch.h"

#include <algorithm>

namespace {

// A block: its body's length and its message count, both 32-bit big-endian, then the messages. A message
// opens with a flags byte; a long header (bit 7) is a reply unless bit 6 marks a request, has a second flags
// byte when bit 0 is set (bit 7 of it: the request must be answered) and a 16-bit function id when bit 2 is
// set, else an 8-bit one. A short header is always a request: its function id is in the low six bits, or
// 14 bits with the next byte when bit 6 is set.
constexpr unsigned char kLongHeader = 0x80;
constexpr unsigned char kRequest = 0x40;
constexpr unsigned char kMoreFlags = 0x01;
constexpr unsigned char kFunctionId16 = 0x04;
constexpr unsigned char kFunctionId14 = 0x40;
constexpr unsigned char kMustReply = 0x80;
// XInterface's release: one-way, and the only one-way call the bridges send of their own.
constexpr unsigned kRelease = 2;

// How many bytes of a message's start say what it is.
int startNeeded(const unsigned char* start, int have)
{
    if (have < 1)
        return 1;
    const unsigned char flags = start[0];
    if (!(flags & kLongHeader))
        return (flags & kFunctionId14) ? 2 : 1;
    if (!(flags & kRequest))
        return 1;
    return 1 + ((flags & kMoreFlags) ? 1 : 0) + ((flags & kFunctionId16) ? 2 : 1);
}

} // namespace

void TdvUrpWatch::Feed(const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        if (FHeaderHave < 8) {
            const int take = int(std::min<std::size_t>(size, std::size_t(8 - FHeaderHave)));
            std::copy(data, data + take, FHeader + FHeaderHave);
            FHeaderHave += take;
            data += take;
            size -= std::size_t(take);
            if (FHeaderHave < 8)
                return;
            FBodyLeft = std::uint64_t(FHeader[0]) << 24 | std::uint64_t(FHeader[1]) << 16 |
                        std::uint64_t(FHeader[2]) << 8 | std::uint64_t(FHeader[3]);
            FStartHave = 0;
            FClassified = false;
            if (FBodyLeft == 0) {
                FHeaderHave = 0;
                continue;
            }
        }
        const std::size_t take = std::size_t(std::min<std::uint64_t>(size, FBodyLeft));
        for (std::size_t i = 0; i < take && !FClassified; ++i) {
            FStart[FStartHave++] = data[i];
            if (FStartHave >= startNeeded(FStart, FStartHave))
                classify();
        }
        data += take;
        size -= take;
        FBodyLeft -= take;
        if (FBodyLeft == 0) {
            // A message cut short by its block is no call the office can answer; it closes the connection.
            FHeaderHave = 0;
        }
    }
}

void TdvUrpWatch::classify()
{
    FClassified = true;
    const unsigned char flags = FStart[0];
    if ((flags & kLongHeader) && !(flags & kRequest)) {
        ++FReplies;
        return;
    }
    unsigned function = 0;
    bool mustReply = false;
    if (!(flags & kLongHeader)) {
        function = (flags & kFunctionId14) ? unsigned(flags & 0x3f) << 8 | FStart[1] : unsigned(flags & 0x3f);
    } else {
        int at = 1;
        if (flags & kMoreFlags)
            mustReply = (FStart[at++] & kMustReply) != 0;
        function = (flags & kFunctionId16) ? unsigned(FStart[at]) << 8 | FStart[at + 1] : FStart[at];
    }
    if (function != kRelease || mustReply)
        ++FRequests;
}
