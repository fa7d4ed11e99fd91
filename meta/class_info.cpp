/* class_info.cpp - class metadata from the server's metadata repository. */
#include "meta/class_info.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/globals.h"
#include "meta/attribute.h"

Image ClassInfo::mdr;
ClassInfoList ClassInfo::class_list;

namespace {

const char LABEL_MARK[] = "label \"";
const char LABELS_MARK[] = "labels {";
/* The longest word read at a label: the name and its closing quote. */
const size_t MAX_WORD = 63;

/* The name at the double quote text[quote]: the next word (blanks skipped),
 * at most MAX_WORD characters, less its last character. */
DataUnit name_at(const std::string& text, size_t quote)
{
    size_t i = quote + 1;
    while (i < text.size() && isspace((unsigned char)text[i])) i++;
    size_t end = i;
    while (end < text.size() && end - i < MAX_WORD && !isspace((unsigned char)text[end])) end++;
    if (end == i) return DataUnit();
    return DataUnit(text.data() + i, end - i - 1);
}

/* Moves the names of the scratch records into names, in order. */
void store_names(const AttributeList& scratch, DUArray& names)
{
    names.resize((int)scratch.entries());
    int i = 0;
    for (const auto& rec : scratch.items()) names[i++] = rec->get_name();
}

/* A record with only the name set, for the parsers' scratch lists (which are
 * not the list of pending edits). */
std::unique_ptr<Attribute> scratch_record(const DataUnit& name)
{
    return std::make_unique<Attribute>(name);
}

} // namespace

ClassInfo* ClassInfoList::find(const DataUnit& cls) const
{
    for (const auto& rec : items_)
        if (rec->class_name == cls) return rec.get();
    return nullptr;
}

int ClassInfo::initialize()
{
    char name[1024];
    snprintf(name, sizeof name, "/systemId=\"%s\"/metaName=\"MDR\"",
             platform_host ? platform_host : "");
    mdr = Image(DataUnit(name), DataUnit(), Platform::def_platform);
    return mdr.get_error_type() == 0 ? 1 : 0;
}

ClassInfo::ClassInfo(const DataUnit& name) : class_name(name)
{
    fill();
}

ClassInfo::ClassInfo(const char* object_name)
{
    Image object(DataUnit(object_name), DataUnit(), Platform::def_platform);
    if (!object.boot(DeriveTimeout)) return;
    class_name = object.get_objclass();
    fill();
}

void ClassInfo::fill()
{
    if (class_name.is_empty()) return;
    /* Made on first use, and again after a failure. */
    if (mdr.is_empty() || mdr.get_error_type() != 0) initialize();
    /* Copied: a callback run during the wait may make mdr again. */
    Image repository = mdr;
    DataUnit reply = repository.call(DataUnit("getObjectClass"), class_name, KVL_DEFAULT_TIMEOUT);
    if (repository.get_error_type() != 0)
        mdr.set_error(repository.get_error_type(), DataUnit(repository.get_error_string()));
    parse_actions(reply);
    parse_attributes(reply);
}

void ClassInfo::parse_actions(const DataUnit& reply)
{
    std::string text(reply.str(), reply.length());
    AttributeList scratch;
    size_t at = text.find("actions");
    if (at != std::string::npos) at = text.find(LABEL_MARK, at);
    while (at != std::string::npos) {
        size_t quote = at + strlen(LABEL_MARK) - 1;
        scratch.append(scratch_record(name_at(text, quote)));
        at = text.find(LABEL_MARK, quote + 1);
    }
    store_names(scratch, actions);
}

void ClassInfo::parse_attributes(const DataUnit& reply)
{
    std::string text(reply.str(), reply.length());
    AttributeList scratch;
    size_t at = text.find("attributes");
    if (at != std::string::npos) at = text.find(LABELS_MARK, at);
    while (at != std::string::npos) {
        size_t label = text.find(LABEL_MARK, at + strlen(LABELS_MARK));
        if (label == std::string::npos) break;
        size_t quote = label + strlen(LABEL_MARK) - 1;
        scratch.append(scratch_record(name_at(text, quote)));
        at = text.find(LABELS_MARK, quote + 1);
    }
    store_names(scratch, attributes);
}

ClassInfo* ClassInfo::get_class(const DataUnit& object_name)
{
    Image object(object_name, DataUnit(), Platform::def_platform);
    DataUnit cls = object.get_objclass();
    if (cls.is_empty()) return nullptr;
    return class_list.find(cls);
}

int ClassInfo::is_hashed(const DataUnit& object_name)
{
    Image object(object_name, DataUnit(), Platform::def_platform);
    if (!object.boot(DeriveTimeout)) return 0;
    DataUnit cls = object.get_objclass();
    return !cls.is_empty() && class_list.find(cls) ? 1 : 0;
}

int ClassInfo::insert()
{
    class_list.append(this);
    return 1;
}
