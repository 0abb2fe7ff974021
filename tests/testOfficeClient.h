#pragma once

#include <QString>
#include <memory>

// A UNO client of an office listener, as a program on another machine is one: a bridge over TCP to
// 127.0.0.1:port and the office's Desktop. Failures throw TdvError with the office's text.
class TestOfficeClient
{
public:
    explicit TestOfficeClient(int port);
    ~TestOfficeClient();
    TestOfficeClient(const TestOfficeClient&) = delete;
    TestOfficeClient& operator=(const TestOfficeClient&) = delete;

    // Makes a new presentation, hidden, and answers its number for Close. The client closes what is left.
    int OpenPresentation();
    void Close(int presentation);
    // The office's own setting: no macro runs, whatever the document.
    bool MacrosDisabled() const;

private:
    struct Bridge;
    std::unique_ptr<Bridge> FBridge;
};
