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
    // Fetches a web source into the work folder; `deck` becomes the local file. Answers the failure, if any.
    QString fetchItem(TdvNode* item, QString& deck);
    // The routes in their order: export, office suite, printer. Answers whether one wrote `out`; otherwise
    // `failure` says why. `note` says what a PDF of the printer lacks.
    bool runRoutes(TdvBatch* batch, const QString& source, const QString& out, QString& failure,
                   QString& note);
    // The item's result, state, note and tally.
    void reportOutcome(TdvBatch* batch, TdvNode* item, const QString& target, const QString& out, bool done,
                       QString failure, const QString& note);
    void exportPresentation(const QString& out);
    void printPresentation(TdvBatch* batch, const QString& source, const QString& out,
                           const QString& exportMessage, QString& note);
    // Prints on a printer of this machine and waits for its PDF at `out`; answers the item's note.
    QString printHere(TdvBatch* batch, const QString& source, const QString& out);
    void throwIfTimedOut() const;
    // The item's office ran into its memory limit: no other route loads the deck again.
    bool outOfMemory() const;
};
