#pragma once

// PowerPoint's constants that the converter passes and the presentation application answers.
inline constexpr int ppSaveAsPDF = 32;
inline constexpr int ppFixedFormatTypePDF = 2;
inline constexpr int ppFixedFormatIntentPrint = 2;
inline constexpr int ppPrintHandoutVerticalFirst = 1;
inline constexpr int ppPrintOutputSlides = 1;
inline constexpr int ppPrintOutputNotesPages = 5;
inline constexpr int ppPrintAll = 1;
