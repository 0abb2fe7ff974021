#pragma once

// The windowed mode: the application, the main window, the about box and the event loop. Answers the exit
// code: 1 when no display can be used or an unattended run could not write its log, else 0.
int runWindowed(int argc, char** argv);
