#include "relay/ui/LinkPane.h"

namespace {

CGridProperty::Kind kindOf(const _PROPDEF& e)
{
    if (e.options)
        return CGridProperty::Kind::Choice;
    if (e.type == VarType::Bool)
        return CGridProperty::Kind::Bool;
    if (e.type == VarType::String)
        return CGridProperty::Kind::Text;
    return CGridProperty::Kind::Number;
}

QVariant gridValue(const _PROPDEF& e, const CVariant& v)
{
    if (e.options && v.isString()) {
        const _PROPOPT* o = FindOption(e.options, v.text());
        return qlonglong(o ? o->value : 0);
    }
    switch (kindOf(e)) {
    case CGridProperty::Kind::Bool: return v.number() != 0;
    case CGridProperty::Kind::Text: return QString::fromStdString(v.text());
    default: return qlonglong(v.number());
    }
}

CVariant settingValue(const _PROPDEF& e, const QVariant& v)
{
    if (e.options && e.type == VarType::String) {
        const _PROPOPT* o = FindOptionByValue(e.options, static_cast<int32_t>(v.toLongLong()));
        return CVariant::FromString(o ? o->name : "");
    }
    switch (kindOf(e)) {
    case CGridProperty::Kind::Bool: return CVariant::FromBool(v.toBool());
    case CGridProperty::Kind::Text: return CVariant::FromString(v.toString().toStdString());
    default: return CVariant::FromInt(static_cast<int32_t>(v.toLongLong()));
    }
}

}  // namespace

void AddSettings(CPropertyGrid& grid, CGridProperty* group, const PropertyList& entries, const SettingAccess& access)
{
    for (const _PROPDEF& e : entries) {
        CVariant v;
        access.get(e.id, v);
        CGridProperty* p = grid.Add(group, kindOf(e), e.id, QString::fromUtf8(e.name), gridValue(e, v));
        if (e.options) {
            ChoiceOptions options;
            for (const _PROPOPT* o = e.options; o->name; ++o)
                options.emplace_back(QString::fromUtf8(o->name), o->value);
            p->SetOptions(std::move(options));
        }
    }
}

bool SyncSettings(CPropertyGrid& grid, const PropertyList& entries, const SettingAccess& access, bool commit)
{
    bool ok = true;
    for (const _PROPDEF& e : entries) {
        CGridProperty* p = grid.Find(e.id);
        if (!p)
            continue;
        if (commit && p->IsModified()) {
            if (!access.set(e.id, settingValue(e, p->Value()))) {
                ok = false;
                continue;
            }
        }
        CVariant v;
        if (access.get(e.id, v)) {
            p->SetValue(gridValue(e, v));
            p->SetReference(p->Value());
        }
    }
    return ok;
}
