/* attribute.cpp - records of edited attributes and the list of pending edits. */
#include "meta/attribute.h"

AttributeList Attribute::attr_list;

void AttributeList::append(Attribute* rec)
{
    items_.emplace_back(rec);
}

bool AttributeList::holds(const Attribute* rec) const
{
    for (const auto& item : items_)
        if (item.get() == rec) return true;
    return false;
}

Attribute* AttributeList::find(const DataUnit& name) const
{
    for (const auto& item : items_)
        if (item->get_name() == name) return item.get();
    return nullptr;
}

Attribute::Attribute(const DataUnit& name_, const DataUnit& value_) : name(name_), value(value_)
{
    if (!is_hashed()) attr_list.append(this);
}

int Attribute::is_hashed()
{
    Attribute* listed = attr_list.find(name);
    if (!listed) return 0;
    listed->set_value(value);
    return 1;
}

void Attribute::record(const DataUnit& name, const DataUnit& value)
{
    auto* rec = new Attribute(name, value);
    if (!attr_list.holds(rec)) delete rec;
}
