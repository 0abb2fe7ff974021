#pragma once

#include "project/dvProject.h"

class TdvConvertorClass;

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

private:
    static void teardown();
};

// The project's ties to the application and the product information, looked up when used.
TdvProjectHost shellProjectHost();

// Fills the project's identity values with this product's.
void applyProductIdentity(const TdvConvertorClass* convertorClass);

// Runs the console mode; answers the exit code.
int runConsole();
