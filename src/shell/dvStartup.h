#pragma once

#include "project/dvProject.h"

#include <QString>

class TdvConvertorClass;

// Where `--office-server` takes its clients: a TCP address, or a Unix socket. Neither when the option was
// not given.
struct TdvListenAddress
{
    QString Host;
    int Port = 0;
    QString SocketPath;
    bool Given() const { return Port > 0 || !SocketPath.isEmpty(); }
};

// Reads "[ADDRESS:]PORT": an IPv4 address or a host name (127.0.0.1 when left out) and a port from 1 to
// 65535; or "unix:PATH", a Unix socket (a relative path counts from the current folder). Fails with a
// message that says what is wrong.
TdvListenAddress parseListenAddress(const QString& text);

// The process-wide objects in their order of creation, torn down in reverse.
class TdvStartup
{
public:
    // Creates the singletons, fills the product identity and reads the command line. Throws TdvExit for the
    // notices that end the program during start-up.
    TdvStartup(int argc, char** argv, const TdvConvertorClass* convertorClass);
    ~TdvStartup();
    TdvStartup(const TdvStartup&) = delete;
    TdvStartup& operator=(const TdvStartup&) = delete;

    // Console mode applies when PureConsole is set and the source is no web address.
    static bool IsConsoleMode();
    // The address of `--office-server`: the run keeps an office for other machines instead of converting.
    const TdvListenAddress& OfficeServer() const { return FOfficeServer; }

private:
    static void teardown();

    TdvListenAddress FOfficeServer;
};

// The project's ties to the application and the product information, looked up when used.
TdvProjectHost shellProjectHost();

// Fills the project's identity values with this product's.
void applyProductIdentity(const TdvConvertorClass* convertorClass);

// Runs the console mode; answers the exit code.
int runConsole();
