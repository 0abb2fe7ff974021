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
    QString OutputSettings() const override;

private:
    // What stops the item before any route runs (empty when nothing does), and the work file it writes.
    QString prepareItem(TdvNode* item, QString& out);
    // The routes in their order: export, office suite, printer. Answers whether one wrote `out`; otherwise
    // `failure` says why.
    bool runRoutes(TdvBatch* batch, const QString& source, const QString& out, QString& failure);
    // The item's result, state and tally.
    void reportOutcome(TdvBatch* batch, TdvNode* item, const QString& target, const QString& out, bool done,
                       QString failure);
    void exportPresentation(const QString& out);
    void printPresentation(TdvBatch* batch, const QString& out, const QString& exportMessage);
    void throwIfTimedOut() const;
};
