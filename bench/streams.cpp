// What a deck costs when the office reads it from a stream of ours and writes the PDF into another, against
// an office that opens the file and writes the PDF itself: one warm office converts every deck both ways,
// round after round, the two ways in turn, and the medians per deck and the sums are printed. The office
// is not isolated, so that it can open the decks' files at all; an office here writes the PDF itself either
// way, so the two ways differ in how the deck reaches the office.
//   bench_streams [--rounds N] FOLDER|DECK...
#include "conversion/dvOffice.h"
#include "conversion/dvUno.h"
#include "engine/dvProcesses.h"

#include <com/sun/star/document/MacroExecMode.hpp>
#include <com/sun/star/document/UpdateDocMode.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/util/XCloseable.hpp>

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

using namespace css;

namespace {

beans::PropertyValue prop(const char* name, const uno::Any& value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

uno::Sequence<beans::PropertyValue> sequence(const std::vector<beans::PropertyValue>& list)
{
    return uno::Sequence<beans::PropertyValue>(list.data(), sal_Int32(list.size()));
}

// Converts one deck as the presentation route does; answers the milliseconds, or -1 when it failed.
double convertOnce(TdvOffice& office, const QString& deck, const QString& pdf)
{
    QElapsedTimer clock;
    clock.start();
    try {
        const uno::Reference<lang::XComponent> document = loadDocument(
            office, documentUrl(deck),
            sequence({prop("Hidden", uno::Any(true)),
                      prop("MacroExecutionMode", uno::Any(sal_Int16(document::MacroExecMode::NEVER_EXECUTE))),
                      prop("UpdateDocMode", uno::Any(sal_Int16(document::UpdateDocMode::NO_UPDATE)))}));
        if (!document.is())
            return -1;
        const uno::Reference<frame::XStorable> storable(document, uno::UNO_QUERY_THROW);
        storeDocument(office, storable, documentUrl(pdf),
                      sequence({prop("FilterName", uno::Any(OUString("impress_pdf_Export"))),
                                prop("FilterData",
                                     uno::Any(sequence({prop("ReduceImageResolution", uno::Any(false))})))}));
        uno::Reference<util::XCloseable>(document, uno::UNO_QUERY_THROW)->close(true);
    } catch (const uno::Exception&) {
        return -1;
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The office's template profile is the program's own, in its cache folder.
    QCoreApplication::setApplicationName(QStringLiteral("vellum"));
    qputenv("VELLUM_NO_ISOLATION", "1");
    installTerminationHandlers();
    QStringList args = app.arguments().mid(1);
    int rounds = 3;
    if (args.size() >= 2 && args[0] == QLatin1String("--rounds")) {
        rounds = std::max(args[1].toInt(), 1);
        args = args.mid(2);
    }
    QStringList decks;
    for (const QString& arg : args) {
        if (!QFileInfo(arg).isDir()) {
            decks << QFileInfo(arg).absoluteFilePath();
            continue;
        }
        QDirIterator it(arg, {QStringLiteral("*.ppt"), QStringLiteral("*.pptx"), QStringLiteral("*.pptm")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            decks << it.next();
    }
    if (decks.isEmpty()) {
        fprintf(stderr, "usage: %s [--rounds N] FOLDER|DECK...\n", argv[0]);
        return 2;
    }
    decks.sort();
    QTemporaryDir work;
    std::shared_ptr<TdvOffice> office;
    try {
        office = TdvOffice::Start();
    } catch (const std::exception& e) {
        fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    // Each deck once before the clock runs, so that both ways meet a warm office and warm caches.
    for (const QString& deck : std::as_const(decks))
        convertOnce(*office, deck, work.filePath(QStringLiteral("warm.pdf")));

    const char* const ways[] = {"file", "stream"};
    std::map<QString, std::vector<double>> times[2];
    int failed[2] = {0, 0};
    for (int round = 0; round < rounds; ++round) {
        for (const QString& deck : std::as_const(decks)) {
            // The two ways take turns at going first.
            for (int k = 0; k < 2; ++k) {
                const int way = (round + k) % 2;
                office->SetStreamFiles(way == 1);
                const double ms = convertOnce(*office, deck, work.filePath(QStringLiteral("out.pdf")));
                if (ms < 0)
                    ++failed[way];
                else
                    times[way][deck].push_back(ms);
            }
        }
        fprintf(stderr, "round %d of %d done\n", round + 1, rounds);
    }
    office->Terminate();
    killAllChildGroups();

    // Per deck the median of its rounds; the sums over the decks converted both ways.
    double sum[2] = {0, 0};
    std::vector<double> ratios;
    for (const QString& deck : std::as_const(decks)) {
        if (times[0][deck].empty() || times[1][deck].empty())
            continue;
        const double file = median(times[0][deck]);
        const double stream = median(times[1][deck]);
        sum[0] += file;
        sum[1] += stream;
        if (qEnvironmentVariableIsSet("BENCH_EACH"))
            printf("  %8.1f %8.1f ms  %s\n", file, stream, qPrintable(QFileInfo(deck).fileName()));
        ratios.push_back(stream / file);
    }
    printf("%lld decks, %d rounds, each way on one warm office\n", static_cast<long long>(decks.size()),
           rounds);
    for (int way = 0; way < 2; ++way)
        printf("  %-6s %8.1f s in all, %d failed\n", ways[way], sum[way] / 1000, failed[way]);
    printf("  stream - file: %+.1f ms per deck on average (%+.1f %% of the time); median ratio %.3f\n",
           (sum[1] - sum[0]) / std::max<double>(1, double(ratios.size())),
           sum[0] > 0 ? 100 * (sum[1] - sum[0]) / sum[0] : 0, median(ratios));
    return 0;
}
