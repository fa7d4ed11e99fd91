/* attribute.cpp - records of edited attributes and the list of pending edits. */
#include "meta/attribute.h"

AttributeList Attribute::attr_list;

void AttributeList::append(std::unique_ptr<Attribute> rec)
{
    items_.push_back(std::move(rec));
}

Attribute& AttributeList::find_or_emplace(const DataUnit& name)
{
    if (Attribute* listed = find(name)) return *listed;
    items_.push_back(std::make_unique<Attribute>(name));
    return *items_.back();
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

void Attribute::record(const DataUnit& name, const DataUnit& value)
{
    attr_list.find_or_emplace(name).set_value(value);
}
