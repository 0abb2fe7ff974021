#pragma once

// Follows one direction of a UNO remote protocol (URP) connection as its bytes pass through, keeping none of
// them: which messages are requests that wait for an answer and which are answers. The office listener
// relays its clients' connections and so knows, without taking part, whether a client waits on the office.

#include <cstddef>
#include <cstdint>

class TdvUrpWatch
{
public:
    // The next bytes of the stream, in any pieces.
    void Feed(const unsigned char* data, std::size_t size);

    // Requests seen that wait for an answer: every call but the one-way release of a reference (and a
    // request marked one-way by its flags).
    std::int64_t Requests() const { return FRequests; }
    // Answers seen (results and exceptions alike).
    std::int64_t Replies() const { return FReplies; }

private:
    void classify();

    unsigned char FHeader[8] = {};
    int FHeaderHave = 0;
    std::uint64_t FBodyLeft = 0; // bytes of the current block still to come
    // The first bytes of the block's first message: the flags, maybe more flags, the function id.
    unsigned char FStart[4] = {};
    int FStartHave = 0;
    bool FClassified = false;
    std::int64_t FRequests = 0;
    std::int64_t FReplies = 0;
};
