#pragma once

// "PowerPoint.Application" answered by LibreOffice Impress in the calling worker's own office: Version,
// Path, Presentations.Open, SaveAs, ExportAsFixedFormat, HasVBProject, the printer members, Close and Quit.

#include "conversion/dvAutomation.h"

#include <memory>

std::shared_ptr<TdvAutoObject> createImpressApplication();
