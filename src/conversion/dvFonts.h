#pragma once

// Fonts of a conversion: which font the office set for each font a deck asks for, whether that is the
// deck's own font or one with the same widths, and the names the office's replacement table maps. No UNO
// here; the office reports through TdvOffice.

#include <QList>
#include <QString>
#include <QStringList>
#include <utility>

// One requested font as the office set it while tracking was on, in the office's names: `Requested` is the
// name a document asked for (a ";" list of names for the office's own defaults, a "/style" after it when
// the request had a style), `Used` the font its text was set in, then the fonts of characters it lacks.
struct TdvFontUse
{
    QString Requested;
    QStringList Used;
    int Count = 0;
};

// Whether `used` draws text meant for `requested` as the deck's author saw it: the same family, a family
// with the same character widths (Carlito for Calibri and Calibri Light, Caladea for Cambria, Liberation
// Sans for Arial and Helvetica, Liberation Sans Narrow for Arial Narrow, Liberation Serif for Times New
// Roman and Times, Liberation Mono for Courier New and Courier), or OpenSymbol for a symbol font whose
// characters the office recodes to it (Symbol, Wingdings, Webdings, ...). Letter case and blanks do not
// count.
bool isSameOrMetricCompatible(const QString& requested, const QString& used);

// The note of a conversion whose text was set in stand-ins: "Fonts not installed: Segoe UI, Verdana (set
// in DejaVu Sans)", or empty when every requested font was itself or metric-compatible. Only the font each
// request was set in counts; a font that only drew characters the first one lacks is no stand-in. With the
// fonts the PDF embeds (`pdfFonts`, PostScript names), a stand-in that drew nothing in it is left out: the
// office also lays out text that never reaches the PDF, such as an empty footer or blanks.
QString standInFontsNote(const QList<TdvFontUse>& uses, const QStringList& pdfFonts = {});

// The PostScript names of the fonts a PDF file embeds ("DejaVuSans-Bold"), without their subset tags; empty
// when the file cannot be read or names none.
QStringList pdfFontNames(const QString& path);

// The entries of the office's font replacement table for the families in `installed`: each name that a
// shipped font matches by design but that the office would set in its default font, mapped to the first
// of its matches that is installed; a name the machine has itself gets no entry, because the office
// applies its table also to installed fonts.
QList<std::pair<QString, QString>> fontReplacements(const QStringList& installed);

// The font families of this machine as fontconfig lists them (every name of each), read once per process;
// empty when fontconfig cannot be asked.
QStringList installedFontFamilies();
