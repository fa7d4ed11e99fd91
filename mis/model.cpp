// The containment tree in memory, written through the store.
#include "model.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <malloc.h>
#include <sstream>

#include "fault.h"
#include "names.h"

namespace mis {

using protocol::E_ACCESS, protocol::E_BAD_NAME, protocol::E_DUPLICATE, protocol::E_NAME_BINDING,
    protocol::E_NO_ATTRIBUTE, protocol::E_NO_OBJECT, protocol::E_STORAGE, protocol::E_SYNTAX;

const std::string& MObject::value(const AttributeDef* a) const
{
    static const std::string none;
    int at = cls->find(a);
    return at < 0 ? none : values[at];
}

Model::Model(const Schema& schema, Store& store) : schema_(schema), store_(store) {}
Model::~Model() = default;

StoredObject Model::stored(const MObject& o) const
{
    StoredObject s;
    s.name = o.name;
    s.parent = o.parent ? o.parent->name : "";
    s.cls = o.cls->name;
    for (size_t i = 0; i < o.cls->attrs.size(); ++i)
        s.attrs.emplace_back(o.cls->attrs[i].attr->name, o.values[i]);
    return s;
}

static unsigned long long serial_counter = 0;

unsigned long long Model::last_serial()
{
    return serial_counter;
}

static std::unique_ptr<MObject> blank_object(const ClassDef& c)
{
    auto o = std::make_unique<MObject>();
    o->serial = ++serial_counter;
    o->cls = &c;
    for (auto& ca : c.attrs) o->values.push_back(ca.def);
    return o;
}

bool Model::open(const std::string& network_path, std::string& err)
{
    bool ok;
    {
        std::vector<StoredObject> rows;
        if (!store_.load(rows, err)) return false;
        if (!rows.empty()) {
            ok = load(rows, err);
        } else {
            // The network file is read only when the store turns out to be empty.
            std::string text;
            if (!read_file(network_path, text)) {
                err = network_path + ": cannot read the network file";
                return false;
            }
            ok = seed(text, network_path, err);
        }
    }
    // The rows read and the text parsed lie between the objects made from them; give their
    // pages back, or a million objects loaded keep twice their own size resident.
    malloc_trim(0);
    return ok;
}

bool Model::load(const std::vector<StoredObject>& rows, std::string& err)
{
    const ClassDef* root_class = schema_.cls("root");
    for (auto& r : rows) {
        const ClassDef* c = r.name == "/" ? root_class : schema_.cls(r.cls);
        if (!c) {
            std::fprintf(stderr, "qx_mis: dropping stored object %s of unknown class %s\n",
                         r.name.c_str(), r.cls.c_str());
            continue;
        }
        auto o = blank_object(*c);
        o->name = r.name;
        for (auto& [an, v] : r.attrs) {
            int at = c->find(schema_.attribute(an));
            if (at >= 0 && schema_.attribute(an) != schema_.object_class_attr()) o->values[at] = v;
        }
        objects_[o->name] = std::move(o);
    }
    if (!objects_.count("/")) {
        auto o = blank_object(*root_class);
        o->name = "/";
        Change ch;
        ch.put.push_back(stored(*o));
        if (!store_.apply(ch, err)) return false;
        objects_["/"] = std::move(o);
    }
    root_ = objects_["/"].get();
    // Link children to parents; an object whose parent is missing cannot be reached and is dropped.
    std::vector<std::string> orphans;
    std::unordered_map<std::string, std::string> parent_of;
    for (auto& r : rows) parent_of[r.name] = r.parent;
    for (auto& [name, o] : objects_) {
        if (o.get() == root_) continue;
        auto p = objects_.find(parent_of[name]);
        if (p == objects_.end()) {
            orphans.push_back(name);
            continue;
        }
        o->parent = p->second.get();
        p->second->children[name] = o.get();
    }
    for (auto& n : orphans) {
        std::fprintf(stderr, "qx_mis: dropping stored object %s whose parent is missing\n",
                     n.c_str());
        objects_.erase(n);
    }
    return true;
}

// One "object <FDN> <class>" line of the network file: the object, made beneath its parent
// (listed before); "" or what is wrong with the line.
std::string Model::seed_object(const std::string& t, MObject*& made)
{
    if (t.compare(0, 7, "object ") != 0) return "expected: object <FDN> <class>";
    size_t sp = t.find_last_of(" \t");
    std::string fdn = trim(t.substr(7, sp - 7)), cname = t.substr(sp + 1);
    const ClassDef* c = schema_.cls(cname);
    if (!c) return "unknown class " + cname;
    std::vector<Rdn> rdns;
    std::string why;
    if (!parse_name(schema_, fdn, rdns, why)) return why;
    if (rdns.empty()) return "the root object is not listed";
    Rdn last = rdns.back();
    rdns.pop_back();
    std::string pname = format_name(schema_, rdns);
    auto p = objects_.find(pname);
    if (p == objects_.end()) return "parent " + pname + " is not listed before";
    try {
        check_binding(*p->second, *c);
    } catch (const Fault& f) {
        return f.message;
    }
    if (!c->naming || c->naming->display != last.attr)
        return "class " + cname + " is named by " + (c->naming ? c->naming->display : "nothing") +
               ", not " + last.attr;
    auto o = blank_object(*c);
    rdns.push_back(last);
    o->name = format_name(schema_, rdns);
    if (objects_.count(o->name)) return "duplicate object " + o->name;
    o->values[c->find(c->naming)] = last.value;
    o->parent = p->second.get();
    p->second->children[o->name] = o.get();
    made = o.get();
    objects_[o->name] = std::move(o);
    return "";
}

// One "<attribute> = <value>" line of the network file, the value in quotes or bare: it is
// checked and set on the object; "" or what is wrong with the line.
std::string Model::seed_value(MObject& o, const std::string& t)
{
    size_t eq = t.find('=');
    if (eq == std::string::npos) return "expected: <attribute> = <value>";
    std::string an = trim(t.substr(0, eq)), v = trim(t.substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        std::string u;
        for (size_t i = 1; i + 1 < v.size(); ++i) {
            if (v[i] == '\\' && i + 2 < v.size()) ++i;
            u += v[i];
        }
        v = u;
    }
    try {
        auto [at, canon] = check_value(*o.cls, an, v);
        if (o.cls->attrs[at].attr == o.cls->naming)
            return "the naming attribute comes from the name";
        o.values[at] = canon;
    } catch (const Fault& f) {
        return f.message;
    }
    return "";
}

bool Model::seed(const std::string& text, const std::string& origin, std::string& err)
{
    const ClassDef* root_class = schema_.cls("root");
    {
        auto r = blank_object(*root_class);
        r->name = "/";
        root_ = r.get();
        objects_["/"] = std::move(r);
    }
    std::istringstream in(text);
    std::string line;
    int lineno = 0;
    MObject* cur = nullptr;
    auto bad = [&](const std::string& what) {
        err = origin + ":" + std::to_string(lineno) + ": " + what;
        objects_.clear();
        root_ = nullptr;
        return false;
    };
    while (std::getline(in, line)) {
        ++lineno;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        // An object line begins at the margin; its attribute lines are indented below it.
        bool object_line = !std::isspace(static_cast<unsigned char>(line[0]));
        if (!object_line && !cur) return bad("attribute line before any object");
        std::string why = object_line ? seed_object(t, cur) : seed_value(*cur, t);
        if (!why.empty()) return bad(why);
    }
    Change ch;
    for (auto& [n, o] : objects_) ch.put.push_back(stored(*o));
    if (!store_.apply(ch, err)) {
        objects_.clear();
        root_ = nullptr;
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- look-up

std::string Model::canonical(const std::string& text) const
{
    std::string out, why;
    if (!canonical_name(schema_, text, out, why)) fail(E_BAD_NAME, "malformed object name: " + why);
    return out;
}

MObject* Model::find(const std::string& canonical)
{
    auto it = objects_.find(canonical);
    if (it != objects_.end()) return it->second.get();
    auto v = virtuals_.find(canonical);
    if (v != virtuals_.end()) return v->second.get();
    return make_virtual(canonical);
}

// The metadata repository answers under /systemId="H"/metaName="MDR" whatever H the client
// knows the server by; each such name gets a virtual object on first use.
MObject* Model::make_virtual(const std::string& canonical)
{
    std::vector<Rdn> rdns;
    std::string why;
    if (!parse_name(schema_, canonical, rdns, why) || rdns.size() != 2 ||
        rdns[0].attr != "systemId" || rdns[1].attr != "metaName" || rdns[1].value != "MDR")
        return nullptr;
    const ClassDef* c = schema_.cls("metadataRepository");
    if (virtuals_.size() >= 1024)
        virtuals_.clear(); // bounds memory against clients naming many hosts
    auto o = blank_object(*c);
    o->name = canonical;
    o->is_virtual = true;
    o->values[c->find(c->naming)] = "MDR";
    MObject* p = o.get();
    virtuals_[canonical] = std::move(o);
    return p;
}

MObject& Model::resolve(const std::string& text)
{
    std::string n = canonical(text);
    MObject* o = find(n);
    if (!o) fail(E_NO_OBJECT, "no such object " + n);
    return *o;
}

std::pair<size_t, std::string> Model::check_value(const ClassDef& c, const std::string& attr,
                                                  const std::string& text) const
{
    const AttributeDef* a = schema_.attribute(attr);
    if (!a) fail(E_NO_ATTRIBUTE, "no such attribute " + attr);
    int at = c.find(a);
    if (at < 0) fail(E_NO_ATTRIBUTE, "class " + c.name + " has no attribute " + a->name);
    std::string canon, why;
    if (!schema_.validate(*a->syntax, text, canon, why)) fail(E_SYNTAX, why);
    return {static_cast<size_t>(at), canon};
}

void Model::check_binding(const MObject& parent, const ClassDef& c) const
{
    if (!c.naming) fail(E_NAME_BINDING, "objects of class " + c.name + " cannot be created");
    for (auto& u : c.under)
        if (parent.cls->is_a(u)) return;
    std::string allowed;
    for (auto& u : c.under) allowed += (allowed.empty() ? "" : ", ") + u;
    fail(E_NAME_BINDING, "class " + c.name + " may not live beneath " + parent.name + " (class " +
                             parent.cls->name +
                             "; allowed beneath: " + (allowed.empty() ? "nothing" : allowed) + ")");
}

// ---------------------------------------------------------------- changes

MObject& Model::create(MObject& parent, const ClassDef& c, const ValueList& values)
{
    if (parent.is_virtual) fail(E_NAME_BINDING, "no object can live beneath " + parent.name);
    check_binding(parent, c);
    auto o = blank_object(c);
    for (auto& [an, v] : values) {
        const AttributeDef* a = schema_.attribute(an);
        if (a == schema_.object_class_attr()) continue; // always the class itself
        auto [at, canon] = check_value(c, an, v);
        o->values[at] = canon;
    }
    size_t nat = c.find(c.naming);
    const std::string& nv = o->values[nat];
    if (nv.empty()) fail(E_SYNTAX, "the naming attribute " + c.naming->name + " needs a value");
    if (c.naming->syntax->kind == Syntax::OBJECTNAME)
        fail(E_SYNTAX, "an object name cannot name an object");
    std::vector<Rdn> rdns;
    std::string why;
    parse_name(schema_, parent.name, rdns, why);
    rdns.push_back({c.naming->display, nv});
    o->name = format_name(schema_, rdns);
    if (objects_.count(o->name))
        fail(E_DUPLICATE, "an object named " + o->name + " exists already");
    o->parent = &parent;
    Change ch;
    ch.put.push_back(stored(*o));
    std::string err;
    if (!store_.apply(ch, err)) fail(E_STORAGE, "storage failure, nothing created: " + err);
    MObject* p = o.get();
    parent.children[p->name] = p;
    objects_[p->name] = std::move(o);
    return *p;
}

std::vector<size_t> Model::set(MObject& o, const ValueList& values, bool enforce_access,
                               std::vector<std::string>* old_values)
{
    if (o.is_virtual) fail(E_ACCESS, "the attributes of " + o.name + " cannot be replaced");
    std::vector<std::string> next = o.values;
    for (auto& [an, v] : values) {
        auto [at, canon] = check_value(*o.cls, an, v);
        const AttributeDef* a = o.cls->attrs[at].attr;
        if (a == o.cls->naming || a == schema_.object_class_attr())
            fail(E_ACCESS, "attribute " + a->name + " names the object and cannot be replaced");
        if (enforce_access && a->read_only)
            fail(E_ACCESS, "attribute " + a->name + " is read-only");
        next[at] = canon;
    }
    std::vector<size_t> changed;
    for (size_t i = 0; i < next.size(); ++i)
        if (next[i] != o.values[i]) changed.push_back(i);
    if (changed.empty()) return changed;
    std::vector<std::string> before = o.values;
    o.values.swap(next);
    Change ch;
    ch.put.push_back(stored(o));
    std::string err;
    if (!store_.apply(ch, err)) {
        o.values.swap(next);
        fail(E_STORAGE, "storage failure, nothing changed: " + err);
    }
    if (old_values) *old_values = std::move(before);
    return changed;
}

std::vector<std::unique_ptr<MObject>> Model::remove(MObject& o)
{
    if (&o == root_) fail(E_ACCESS, "the root object cannot be deleted");
    if (o.is_virtual) fail(E_ACCESS, o.name + " cannot be deleted");
    // Collect the subtree with each object's depth below o, then order deepest first.
    std::vector<std::pair<int, MObject*>> all;
    std::vector<std::pair<int, MObject*>> stack{{0, &o}};
    while (!stack.empty()) {
        auto [d, x] = stack.back();
        stack.pop_back();
        all.push_back({d, x});
        for (auto& [n, k] : x->children) stack.push_back({d + 1, k});
    }
    std::stable_sort(all.begin(), all.end(), [](auto& a, auto& b) { return a.first > b.first; });
    Change ch;
    for (auto& [d, x] : all) ch.remove.push_back(x->name);
    std::string err;
    if (!store_.apply(ch, err)) fail(E_STORAGE, "storage failure, nothing deleted: " + err);
    o.parent->children.erase(o.name);
    std::vector<std::unique_ptr<MObject>> out;
    for (auto& [d, x] : all) {
        auto it = objects_.find(x->name);
        out.push_back(std::move(it->second));
        objects_.erase(it);
        out.back()->children.clear();
    }
    return out;
}

} // namespace mis
