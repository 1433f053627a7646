#pragma once
// Pictures of the desktop program for people and README: the main window
// with its panes and a command window, and the profile dialog, in the
// light and the dark look; then the tool windows, each added by a small
// function of its own. Runs inside the program's event loop.

#include <QString>

class CMainFrame;
class CSettingsBackend;

// Saves the PNG files in dir one after another, then quits the program.
void TakeScreenshots(CMainFrame& frame, CSettingsBackend& settings, const QString& dir);
