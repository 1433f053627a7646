#include "shell/ui/AppLook.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace {

struct _LOOK {
    int id;
    const char* name;
    QRgb window;     // frames, menus and bars
    QRgb base;       // text views and lists
    QRgb text;
    QRgb highlight;  // selection
    QRgb button;
};

// Light looks keep dark text on light grey or tinted frames; the black
// look turns the whole palette dark.
const _LOOK kLooks[] = {
    {210, "Windows 2000", 0xD4D0C8, 0xFFFFFF, 0x000000, 0x0A246A, 0xD4D0C8},
    {211, "Office XP", 0xF0EEEA, 0xFFFFFF, 0x000000, 0x316AC5, 0xF7F6F3},
    {212, "Windows XP", 0xECE9D8, 0xFFFFFF, 0x000000, 0x316AC5, 0xF4F3EE},
    {213, "Office 2003", 0xC4DAFA, 0xFFFFFF, 0x000000, 0x3169C6, 0xDDECFE},
    {214, "Visual Studio 2005", 0xEEEDE5, 0xFFFFFF, 0x000000, 0x3399FF, 0xF5F4EE},
    {215, "Office 2007 (Blue Style)", 0xBFDBFF, 0xFFFFFF, 0x15428B, 0x3D7BD9, 0xDCE9FA},
    {216, "Office 2007 (Black Style)", 0x353535, 0x1E1E1E, 0xE8E8E8, 0xF0A030, 0x454545},
    {217, "Office 2007 (Silver Style)", 0xD0D4DD, 0xFFFFFF, 0x202020, 0x6E8AB8, 0xE3E6EC},
    {218, "Office 2007 (Aqua Style)", 0xC4D8E8, 0xFFFFFF, 0x0C3050, 0x2E8BB0, 0xDCEAF4},
};

const _LOOK* Find(int look)
{
    for (const auto& l : kLooks)
        if (l.id == look)
            return &l;
    return nullptr;
}

}  // namespace

bool IsLook(int look)
{
    return Find(look) != nullptr;
}

QString LookName(int look)
{
    const _LOOK* l = Find(look);
    return l ? QString::fromLatin1(l->name) : QString();
}

void ApplyLook(int look)
{
    const _LOOK* l = Find(look);
    if (!l)
        l = Find(kDefaultLook);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QColor window(l->window), base(l->base), text(l->text), button(l->button), highlight(l->highlight);
    bool dark = window.lightness() < 128;
    QPalette p;
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, dark ? base.lighter(130) : window.lighter(106));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, button);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, dark ? QColor(Qt::black) : QColor(Qt::white));
    p.setColor(QPalette::ToolTipBase, dark ? window.lighter(150) : QColor(0xFFFFE1));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dark ? text.darker(160) : QColor(0x808080));
    p.setColor(QPalette::Light, button.lighter(150));
    p.setColor(QPalette::Midlight, button.lighter(120));
    p.setColor(QPalette::Mid, button.darker(130));
    p.setColor(QPalette::Dark, button.darker(160));
    p.setColor(QPalette::Shadow, dark ? QColor(Qt::black) : button.darker(250));
    p.setColor(QPalette::Link, dark ? QColor(0x7FB2F0) : QColor(0x0645AD));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dark ? text.darker(200) : QColor(0x909090));
    QApplication::setPalette(p);
}
