#pragma once

#include "base/dvError.h"
#include <QString>

// The regular-expression engine: case-insensitive search anywhere in the input, first-match replace.
class ERegexException : public TdvError
{
public:
    using TdvError::TdvError;
};

class Regex
{
public:
    enum Option { IgnoreCase = 1, MultiLine = 2 };
    static bool IsMatch(const QString& pattern, int options, const QString& input);
    static QString Replace(const QString& pattern, const QString& input, const QString& replacement);
};

// A file-name pattern ("*.ppt?") as a regular expression (".*\.ppt.?$").
QString MaskToRegex(const QString& mask);

// Tests a regular expression anywhere in a path, letter case ignored; a malformed expression lets the path
// pass.
class TdvMatch
{
public:
    static bool IsMatch(const QString& path, const QString& pattern);
};

// True when every name that wildcardMatch accepts for the mask also passes the mask's expression (searched in
// a path ending with that name, when the name holds no line break): plain ASCII masks whose characters the
// expression takes literally. The walk then need not run the expression for the names it found.
bool maskFollowsFromName(const QString& mask);

// The source test: the path must match the mask's expression and, when set, the user's RegExt.
bool sourceMatches(const QString& path, const QString& mask, const QString& regExt);
