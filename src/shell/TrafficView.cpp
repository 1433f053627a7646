#include "shell/TrafficView.h"

void CTrafficView::Read(CSettingsStore& store)
{
    Each(*this, [&store](const char* key, auto& field) { store.Read(key, field); });
}

void CTrafficView::Write(CSettingsStore& store) const
{
    Each(*this, [&store](const char* key, const auto& field) { store.Write(key, field); });
}
