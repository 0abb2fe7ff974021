#pragma once

#include <QString>

// The usage record as the layers below the window and the console see it: counters they bump (office
// versions met, for example). The program's record implements it; a run without one counts nothing.
class TdvUsage
{
public:
    virtual ~TdvUsage() = default;
    virtual void IncCounter(const QString& name, int value, int step) = 0;
};
