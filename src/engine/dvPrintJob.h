#pragma once

#include <QHash>
#include <QString>

// What a print job writes, looked for outside the office once the office has sent the job: the PDF of the
// office's own printer at the path its job file named, or the file a CUPS queue of cups-pdf writes into its
// output folder under the deck's name, which is then moved to that path. Used by polling: Begin before the
// job is sent, Poll until it answers true or the wait's bound has passed, Failure after that.
class TdvPrintedFile
{
public:
    // `printer` is the printer the job goes to, `out` where its PDF is to end up, `deck` the deck's path or
    // address, after whose name a queue names its file.
    TdvPrintedFile(QString printer, QString out, QString deck);

    // Before the job: what the queue's output folder holds already, so that the job's own file is told apart.
    void Begin();
    // One look: true once the whole PDF is at `out`.
    bool Poll();
    // Why there is no PDF after a wait of `seconds`.
    QString Failure(int seconds) const;

    // The folder cups-pdf writes into, from its configuration text (its "Out" line, "${HOME}/PDF" without
    // one), for a user with this home and name.
    static QString CupsPdfFolder(const QString& configuration, const QString& home, const QString& user);
    // Unfinished jobs of this user on a CUPS queue; -1 when CUPS cannot be asked.
    static int ActiveJobs(const QString& queue);

private:
    bool isQueue() const;
    bool pollQueue();

    QString FPrinter;
    QString FOut;
    QString FDeck;
    QString FFolder;                 // a queue's output folder
    QHash<QString, QString> FBefore; // what it held before the job: name -> size and time
    qint64 FStarted = 0;             // when the job was sent, in ms since the epoch
    QString FLastFile;               // the file seen at the last look, and its size then
    qint64 FLastSize = -1;
    int FJobs = 0;        // unfinished jobs at the last look
    int FCandidates = 0;  // new files at the last look that none of could be told apart
    QString FMoveProblem; // why the queue's file could not be taken
};
