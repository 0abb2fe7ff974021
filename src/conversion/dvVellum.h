#pragma once

#include "conversion/dvPowerPointOle.h"

// The product's converter: one presentation to one PDF, through the presentation application's own
// export, then the office suite, then a printer. Every route writes into the worker's own folder; the
// finished file is moved into the claimed target only once a route has succeeded.
class TdvVellum : public TdvPowerPointOle
{
public:
    void Convert(TdvBatch* batch, TdvNode* item) override;
    bool IsNotes() const;

private:
    void exportPresentation(const QString& out);
    void printPresentation(TdvBatch* batch, const QString& out, const QString& exportMessage);
    void throwIfTimedOut() const;
};
