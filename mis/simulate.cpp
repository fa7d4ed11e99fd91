// The simulation of a live network.
#include "simulate.h"

#include <algorithm>
#include <ctime>

#include "fault.h"
#include "log.h"

namespace mis {

namespace {

// What a network element changes by itself: its read-only state (enumerations, flags and
// gauges), never what an operator sets nor what names the object. Logs and their records
// change only by alarms being added.
bool changeable(const ClassDef& c, const ClassAttr& ca, const AttributeDef* object_class)
{
    const Syntax::Kind k = ca.attr->syntax->kind;
    return (k == Syntax::ENUM || k == Syntax::BOOLEAN || k == Syntax::INTEGER) &&
           ca.attr->read_only && ca.attr != c.naming && ca.attr != object_class && !c.is_a("log") &&
           !c.is_a("logRecord");
}

bool is_counter(const AttributeDef* a)
{
    const std::string& d = a->display;
    auto ends = [&](const char* w) {
        std::string x = w;
        return d.size() >= x.size() && d.compare(d.size() - x.size(), x.size(), x) == 0;
    };
    return ends("Seconds") || ends("Count");
}

std::string now_time()
{
    char buf[20];
    std::time_t t = std::time(nullptr);
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", std::gmtime(&t));
    return buf;
}

} // namespace

Simulator::Simulator(Service& service, unsigned seed) : service_(service), rng_(seed) {}

MObject* Simulator::pick_changeable()
{
    Model& m = service_.model();
    const AttributeDef* oc = m.schema().object_class_attr();
    // Walk down from the root at random until an object with changeable state turns up.
    for (int attempt = 0; attempt < 20; ++attempt) {
        MObject* o = &m.root();
        while (!o->children.empty()) {
            auto it = o->children.begin();
            std::advance(it, static_cast<long>(below(o->children.size())));
            o = it->second;
            bool has = false;
            for (auto& ca : o->cls->attrs) has = has || changeable(*o->cls, ca, oc);
            if (has && below(3) == 0) return o;
        }
        for (auto& ca : o->cls->attrs)
            if (o != &m.root() && changeable(*o->cls, ca, oc)) return o;
    }
    return nullptr;
}

void Simulator::tick()
{
    Model& m = service_.model();
    const AttributeDef* oc = m.schema().object_class_attr();
    MObject* last = nullptr;
    for (int n = 0; n < 3; ++n) {
        MObject* o = pick_changeable();
        if (!o) return;
        std::vector<const ClassAttr*> attrs;
        for (auto& ca : o->cls->attrs)
            if (changeable(*o->cls, ca, oc)) attrs.push_back(&ca);
        const ClassAttr& ca = *attrs[below(attrs.size())];
        const Syntax& s = *ca.attr->syntax;
        std::string cur = o->value(ca.attr), next;
        if (s.kind == Syntax::BOOLEAN)
            next = cur == "true" ? "false" : "true";
        else if (s.kind == Syntax::INTEGER) {
            // Gauges wander a little; counters only grow.
            long long v = 0;
            parse_integer(cur, v);
            long long step = static_cast<long long>(below(7)) - 3;
            if (is_counter(ca.attr)) step = static_cast<long long>(below(5)) + 1;
            v = std::max(s.min, std::min(s.max, v + step));
            next = std::to_string(v);
            if (next == cur) continue;
        } else if (s.values.size() > 1) {
            do next = s.values[below(s.values.size())];
            while (next == cur);
        } else
            continue;
        service_.change(*o, {{ca.attr->name, next}}, false);
        last = o;
    }
    if (last) raise_alarm(*last);
}

// Adds an alarm record about an object to the alarm log of the object's system (the log
// beneath its top-level object), then announces the alarm to every client.
void Simulator::raise_alarm(MObject& about)
{
    Model& m = service_.model();
    const ClassDef* rec = m.schema().cls("alarmRecord");
    if (!rec || !rec->naming) return;
    MObject* top = &about;
    while (top->parent && top->parent != &m.root()) top = top->parent;
    MObject* log = nullptr;
    for (auto& [n, k] : top->children)
        for (auto& u : rec->under)
            if (!log && k->cls->is_a(u)) log = k;
    if (!log) return;

    // Keep the log bounded: the oldest records (lowest numbers) go first.
    while (log->children.size() >= MAX_RECORDS) {
        MObject* oldest = nullptr;
        long long low = 0;
        for (auto& [n, k] : log->children) {
            long long id;
            if (parse_integer(k->value(rec->naming), id) && (!oldest || id < low))
                oldest = k, low = id;
        }
        if (!oldest) break;
        service_.remove(*oldest);
    }
    long long next = 1;
    for (auto& [n, k] : log->children) {
        long long id;
        if (parse_integer(k->value(rec->naming), id) && id >= next) next = id + 1;
    }
    const Schema& s = m.schema();
    ValueList v = {{rec->naming->name, std::to_string(next)}};
    auto set_if = [&](const char* attr, const std::string& value) {
        const AttributeDef* a = s.attribute(attr);
        if (a && rec->find(a) >= 0) v.emplace_back(a->name, value);
    };
    auto pick = [&](const char* attr) -> std::string {
        const AttributeDef* a = s.attribute(attr);
        if (!a || a->syntax->kind != Syntax::ENUM || a->syntax->values.empty()) return "";
        return a->syntax->values[below(a->syntax->values.size())];
    };
    static const char* const kinds[] = {"communicationsAlarm", "equipmentAlarm",
                                        "qualityOfServiceAlarm"};
    std::string kind = kinds[below(3)];
    std::string severity = pick("perceivedSeverity"), cause = pick("probableCause");
    set_if("eventType", kind);
    set_if("eventTime", now_time());
    set_if("alarmedObject", about.name);
    if (!severity.empty()) set_if("perceivedSeverity", severity);
    if (!cause.empty()) set_if("probableCause", cause);
    try {
        service_.create(*log, *rec, v);
    } catch (const Fault& f) {
        log_line("simulation: cannot add an alarm record to %s: %s", log->name.c_str(),
                 f.message.c_str());
        return;
    }
    service_.raw_event(kind, about.name);
}

} // namespace mis
