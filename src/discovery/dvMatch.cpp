#include "discovery/dvMatch.h"

#include <QCache>
#include <QRegularExpression>

namespace {

// Compiled expressions are kept per thread: the walk tests every candidate with the same two patterns.
const QRegularExpression& compiled(const QString& pattern, int options)
{
    // The walk alternates between at most two patterns (the mask's and RegExt): those are found without
    // building a cache key.
    struct Recent
    {
        QString pattern;
        int options = -1;
        QRegularExpression regex;
    };
    thread_local Recent recent[2];
    thread_local int newest = 0;
    for (Recent& r : recent)
        if (r.options == options && r.pattern == pattern)
            return r.regex;
    thread_local QCache<QString, QRegularExpression> cache(64);
    const QString key = QString::number(options) + QLatin1Char(':') + pattern;
    if (QRegularExpression* hit = cache.object(key)) {
        newest = 1 - newest;
        recent[newest] = Recent{pattern, options, *hit};
        return recent[newest].regex;
    }
    QRegularExpression::PatternOptions qtOptions = QRegularExpression::NoPatternOption;
    if (options & Regex::IgnoreCase)
        qtOptions |= QRegularExpression::CaseInsensitiveOption;
    if (options & Regex::MultiLine)
        qtOptions |= QRegularExpression::MultilineOption;
    auto* regex = new QRegularExpression(pattern, qtOptions);
    if (!regex->isValid()) {
        const QString message = regex->errorString();
        delete regex;
        throw ERegexException(message);
    }
    cache.insert(key, regex);
    newest = 1 - newest;
    recent[newest] = Recent{pattern, options, *regex};
    return recent[newest].regex;
}

} // namespace

bool Regex::IsMatch(const QString& pattern, int options, const QString& input)
{
    return compiled(pattern, options).match(input).hasMatch();
}

QString Regex::Replace(const QString& pattern, const QString& input, const QString& replacement)
{
    const QRegularExpressionMatch match = compiled(pattern, 0).match(input);
    if (!match.hasMatch())
        return input;
    QString result = input;
    result.replace(match.capturedStart(), match.capturedLength(), replacement);
    return result;
}

QString MaskToRegex(const QString& mask)
{
    static const char* const steps[][2] = {
        {".", "\\."}, {"*", ".*"},  {"?", ".?"},  {"+", "\\+"}, {"^", "\\^"}, {"$", "\\$"},
        {"(", "\\("}, {")", "\\)"}, {"[", "\\["}, {"]", "\\]"}, {"{", "\\{"}, {"}", "\\}"},
    };
    QString result = mask;
    for (const auto& step : steps)
        result.replace(QLatin1String(step[0]), QLatin1String(step[1]));
    return result + QLatin1Char('$');
}

// The engine refuses text that is not valid UTF-16, and a file name that is not UTF-8 holds lone surrogates
// (decodeFileName): those stand for one unknown character each.
static QString validUtf16(const QString& text)
{
    QString valid = text;
    for (qsizetype i = 0; i < valid.size(); ++i) {
        const QChar c = valid.at(i);
        if (c.isHighSurrogate() && i + 1 < valid.size() && valid.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            valid[i] = QChar::ReplacementCharacter;
    }
    return valid;
}

bool TdvMatch::IsMatch(const QString& path, const QString& pattern)
{
    try {
        return Regex::IsMatch(pattern, Regex::IgnoreCase, validUtf16(path));
    } catch (const ERegexException&) {
        return true;
    }
}

bool maskFollowsFromName(const QString& mask)
{
    // "\\" and "|" are the two characters MaskToRegex leaves to the expression engine.
    for (const QChar c : mask)
        if (c.unicode() >= 0x80 || c == QLatin1Char('\\') || c == QLatin1Char('|') || c.unicode() < 0x20)
            return false;
    return true;
}

bool sourceMatches(const QString& path, const QString& mask, const QString& regExt)
{
    // The same mask for every path of a walk: translated once per thread.
    thread_local QString lastMask;
    thread_local QString lastRegex;
    if (mask != lastMask || lastRegex.isEmpty()) {
        lastRegex = MaskToRegex(mask);
        lastMask = mask;
    }
    if (!TdvMatch::IsMatch(path, lastRegex))
        return false;
    if (!regExt.isEmpty())
        return TdvMatch::IsMatch(path, regExt);
    return true;
}
