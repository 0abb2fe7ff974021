#include "conversion/dvFonts.h"

#include <QFile>
#include <QProcess>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

QStringList names(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* name : list)
        result.append(QString::fromLatin1(name));
    return result;
}

// Families that set text with the same character widths, so that lines break where the deck's author saw
// them break. The first names of each are the fonts decks ask for; the rest are their metric-compatible
// stand-ins, of which the set-up installs Carlito, Caladea and the Liberation fonts.
const QList<QStringList>& metricFamilies()
{
    static const QList<QStringList> families = {
        names({"Calibri", "Calibri Light", "Carlito"}),
        names({"Cambria", "Caladea"}),
        names({"Arial", "Helvetica", "Liberation Sans", "Arimo", "Albany", "Albany AMT", "Nimbus Sans",
               "Nimbus Sans L"}),
        names({"Arial Narrow", "Helvetica Narrow", "Liberation Sans Narrow", "Nimbus Sans Narrow"}),
        names({"Times New Roman", "Times", "Liberation Serif", "Tinos", "Thorndale", "Thorndale AMT",
               "Nimbus Roman", "Nimbus Roman No9 L"}),
        names({"Courier New", "Courier", "Liberation Mono", "Cousine", "Cumberland", "Cumberland AMT",
               "Nimbus Mono", "Nimbus Mono L", "Nimbus Mono PS"}),
        // The office recodes the characters of these symbol fonts to OpenSymbol: the same symbols.
        names({"Symbol", "MT Symbol", "Wingdings", "Wingdings 2", "Wingdings 3", "Webdings", "Monotype Sorts",
               "MT Extra", "StarSymbol", "StarBats", "StarMath", "OpenSymbol"}),
    };
    return families;
}

// Names the office sets in its default font although a shipped font matches them by design, with the
// fonts that do, best first: the heading font of current Office themes, and the Courier of older decks
// (Liberation Mono has Courier New's widths, which are Courier's).
const QList<std::pair<QString, QStringList>>& replacementCandidates()
{
    static const QList<std::pair<QString, QStringList>> table = {
        {QStringLiteral("Calibri Light"), names({"Calibri", "Carlito"})},
        {QStringLiteral("Courier"), names({"Courier New", "Liberation Mono"})},
    };
    return table;
}

// Family names as fontconfig and the office compare them: without letter case and blanks.
QString key(const QString& family)
{
    QString k = family.toLower();
    k.remove(QLatin1Char(' '));
    return k;
}

// The family of a name the office reports, without the "/style" it may append.
QString familyOf(const QString& reported)
{
    return reported.section(QLatin1Char('/'), 0, 0).trimmed();
}

int metricClass(const QString& family)
{
    const QString k = key(family);
    const QList<QStringList>& families = metricFamilies();
    for (int i = 0; i < families.size(); ++i)
        for (const QString& name : families[i])
            if (key(name) == k)
                return i;
    return -1;
}

QString joinSorted(QStringList names)
{
    names.removeDuplicates();
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    return names.join(QStringLiteral(", "));
}

} // namespace

bool isSameOrMetricCompatible(const QString& requested, const QString& used)
{
    const QString a = familyOf(requested);
    const QString b = familyOf(used);
    if (a.isEmpty() || b.isEmpty())
        return false;
    if (key(a) == key(b))
        return true;
    const int c = metricClass(a);
    return c >= 0 && c == metricClass(b);
}

namespace {

// Whether a PDF's font (a PostScript name: "NotoSansCJKjp-Regular") can be a face of the family ("Noto Sans
// CJK JP"). Loose on purpose: a family is dropped from a note only when no font could be of it.
bool drawsFamily(const QStringList& pdfFonts, const QString& family)
{
    // The faces of one CJK collection differ only in their region ("Noto Sans CJK SC", "NotoSansCJKjp"),
    // and the office may name one of them and embed another.
    const auto stem = [](const QString& k) {
        const qsizetype cjk = k.indexOf(QLatin1String("cjk"));
        return cjk >= 0 ? k.left(cjk + 3) : k;
    };
    const QString k = stem(key(family));
    return std::any_of(pdfFonts.begin(), pdfFonts.end(), [&](const QString& font) {
        const QString name = stem(key(font.section(QLatin1Char('-'), 0, 0)));
        return !name.isEmpty() && (name.startsWith(k) || k.startsWith(name));
    });
}

} // namespace

QString standInFontsNote(const QList<TdvFontUse>& uses, const QStringList& pdfFonts)
{
    QStringList missing;
    QStringList standIns;
    for (const TdvFontUse& use : uses) {
        if (use.Used.isEmpty())
            continue;
        // The office's own defaults ask for a list of names, any of which will do.
        const QStringList names = familyOf(use.Requested).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (names.isEmpty())
            continue;
        const QString used = familyOf(use.Used.first());
        const bool fits = std::any_of(names.begin(), names.end(), [&](const QString& name) {
            return isSameOrMetricCompatible(name, used);
        });
        if (fits || (!pdfFonts.isEmpty() && !drawsFamily(pdfFonts, used)))
            continue;
        missing.append(names.first().trimmed());
        standIns.append(used);
    }
    if (missing.isEmpty())
        return QString();
    missing.removeDuplicates();
    return QStringLiteral("%1 not installed: %2 (set in %3)")
        .arg(missing.size() == 1 ? QStringLiteral("Font") : QStringLiteral("Fonts"), joinSorted(missing),
             joinSorted(standIns));
}

QStringList pdfFontNames(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // The office writes its font dictionaries as plain objects: "/BaseFont/BAAAAA+DejaVuSans".
    const QByteArray data = file.readAll();
    QStringList names;
    for (qsizetype at = data.indexOf("/BaseFont"); at >= 0; at = data.indexOf("/BaseFont", at + 1)) {
        qsizetype i = at + 9;
        while (i < data.size() && (data[i] == ' ' || data[i] == '\n' || data[i] == '\r'))
            ++i;
        if (i >= data.size() || data[i] != '/')
            continue;
        const qsizetype start = ++i;
        while (i < data.size() && !strchr(" \t\r\n/[]<>(){}%", data[i]))
            ++i;
        QString name = QString::fromLatin1(data.mid(start, i - start));
        // A subset's name begins with six capitals and "+".
        if (name.size() > 7 && name[6] == QLatin1Char('+'))
            name = name.mid(7);
        if (!name.isEmpty())
            names.append(name);
    }
    names.removeDuplicates();
    return names;
}

QList<std::pair<QString, QString>> fontReplacements(const QStringList& installed)
{
    QSet<QString> have;
    for (const QString& family : installed)
        have.insert(key(family));
    QList<std::pair<QString, QString>> table;
    for (const auto& [name, matches] : replacementCandidates()) {
        if (have.contains(key(name)))
            continue;
        for (const QString& match : matches) {
            if (have.contains(key(match))) {
                table.append({name, match});
                break;
            }
        }
    }
    return table;
}

QStringList installedFontFamilies()
{
    // Read again after a while: a listener keeps running while someone installs a font, and a font the
    // machine now has must no longer be replaced. The offices a run starts at once share one reading.
    static std::mutex lock;
    static QStringList families;
    static std::chrono::steady_clock::time_point readAt;
    static bool read = false;
    std::lock_guard guard(lock);
    const auto now = std::chrono::steady_clock::now();
    if (read && now - readAt < std::chrono::seconds(60))
        return families;
    read = true;
    readAt = now;
    families.clear();
    QProcess list;
    list.start(QStringLiteral("fc-list"), {QStringLiteral("--format"), QStringLiteral("%{family}\\n")});
    if (!list.waitForFinished(10000) || list.exitStatus() != QProcess::NormalExit || list.exitCode() != 0) {
        list.kill();
        list.waitForFinished(1000);
        return families;
    }
    // Each font names its family once per language: "Noto Sans CJK JP,Noto Sans CJK JP Regular".
    const QString text = QString::fromUtf8(list.readAllStandardOutput());
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        for (const QString& name : line.split(QLatin1Char(','), Qt::SkipEmptyParts))
            families.append(name.trimmed());
    families.removeDuplicates();
    return families;
}
