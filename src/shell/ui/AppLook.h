#pragma once
// The application looks 210 to 218, drawn with Qt's Fusion style and a
// palette of their own. GUI thread only.

#include <QString>

constexpr int kFirstLook = 210;
constexpr int kLastLook = 218;
constexpr int kDefaultLook = 214;

bool IsLook(int look);
// The menu text of a look ("Office 2007 (Black Style)", ...).
QString LookName(int look);
// Applies the look to the whole application; an unknown number applies
// the default look.
void ApplyLook(int look);
