// JSON-RPC requests to management operations, and the routing of notifications.
#include "service.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "fault.h"
#include "log.h"
#include "names.h"

namespace mis {

using nlohmann::json;

std::string to_line(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

namespace {

// Parameter access that turns a missing or mistyped parameter into -32602.
std::string str_param(const json& p, const char* key, bool required = true, const char* def = "") {
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) {
        if (required) fail(E_BAD_PARAMS, std::string("missing parameter '") + key + "'");
        return def;
    }
    if (!it->is_string()) fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be a string");
    return it->get<std::string>();
}

bool bool_param(const json& p, const char* key) {
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) return false;
    if (!it->is_boolean()) fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be true or false");
    return it->get<bool>();
}

// An integer from lo to hi. It is read as 64 bits and checked before it narrows: get<int>
// alone would wrap 4294967297 round to 1. Fractions and numbers past 64 bits are refused too.
int int_param(const json& p, const char* key, int lo, int hi) {
    auto it = p.find(key);
    bool ok = it != p.end() && it->is_number_integer();
    if (ok && it->is_number_unsigned())
        ok = it->get<unsigned long long>() <= static_cast<unsigned long long>(hi);
    if (ok) ok = it->get<long long>() >= lo && it->get<long long>() <= hi;
    if (!ok)
        fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be an integer from " +
                               std::to_string(lo) + " to " + std::to_string(hi));
    return static_cast<int>(it->get<long long>());
}

// Values as an object of attribute name -> text (numbers and booleans are taken as their text).
ValueList values_param(const json& p, const char* key, bool required) {
    ValueList out;
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) {
        if (required) fail(E_BAD_PARAMS, std::string("missing parameter '") + key + "'");
        return out;
    }
    if (!it->is_object()) fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be an object");
    for (auto& [k, v] : it->items()) {
        if (v.is_string()) out.emplace_back(k, v.get<std::string>());
        else if (v.is_number() || v.is_boolean()) out.emplace_back(k, v.dump());
        else fail(E_BAD_PARAMS, "the value of '" + k + "' must be a string");
    }
    return out;
}

json error_reply(const json& id, int code, const std::string& msg) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", msg}}}};
}

// Whether the line nests arrays and objects deeper than limit, read byte by byte without
// building anything: brackets inside strings do not count. Up to the first syntax error the
// parser sees the same brackets, and it stops there, so it never goes deeper than this count.
bool nested_deeper(const std::string& line, int limit) {
    int depth = 0;
    bool in_string = false;
    for (size_t i = 0; i < line.size(); ++i) {
        char ch = line[i];
        if (in_string) {
            if (ch == '\\') ++i;
            else if (ch == '"') in_string = false;
        } else if (ch == '"') {
            in_string = true;
        } else if (ch == '[' || ch == '{') {
            if (++depth > limit) return true;
        } else if (ch == ']' || ch == '}') {
            --depth;
        }
    }
    return false;
}

}  // namespace

Service::Service(Model& model, Outbox& out, ActionRunner* runner)
    : model_(model), schema_(model.schema()), out_(out), runner_(runner) {}

void Service::connect(int client) { sessions_[client]; }

void Service::disconnect(int client) {
    auto s = sessions_.find(client);
    if (s == sessions_.end()) return;
    for (int id : s->second.subscriptions) {
        auto it = subs_.find(id);
        if (it == subs_.end()) continue;
        auto& v = subs_by_base_[it->second->base];
        v.erase(std::remove(v.begin(), v.end(), it->second), v.end());
        if (v.empty()) subs_by_base_.erase(it->second->base);
        subs_.erase(it);
    }
    for (auto& n : s->second.watches) {
        auto w = watchers_.find(n);
        if (w == watchers_.end()) continue;
        w->second.erase(client);
        if (w->second.empty()) watchers_.erase(w);
    }
    sessions_.erase(s);
}

void Service::handle_line(int client, const std::string& line) {
    if (nested_deeper(line, MAX_JSON_DEPTH)) return refuse_deep(client, line);
    json id = nullptr;
    json req = json::parse(line, nullptr, false);
    if (req.is_discarded()) {
        log_line("client %d: parse error: %s", client, excerpt(line).c_str());
        out_.send(client, to_line(error_reply(nullptr, E_PARSE, "parse error: the line is not JSON")));
        return;
    }
    bool has_id = req.is_object() && req.contains("id");
    if (has_id) id = req["id"];
    std::string method;
    try {
        // An id that is not a string, number or null cannot be echoed: the request is refused
        // before anything of it is carried out, with id null.
        if (!(id.is_number() || id.is_string() || id.is_null())) {
            id = nullptr;
            fail(E_INVALID_REQUEST, "invalid request: id must be a string, a number or null");
        }
        if (!req.is_object() || req.value("jsonrpc", json()) != "2.0" || !req.contains("method") ||
            !req["method"].is_string())
            fail(E_INVALID_REQUEST, "invalid request: expected {\"jsonrpc\":\"2.0\",\"id\":..,\"method\":..}");
        method = req["method"].get<std::string>();
        json params = req.value("params", json::object());
        if (params.is_null()) params = json::object();
        if (!params.is_object()) fail(E_BAD_PARAMS, "params must be an object");
        bool deferred = false;
        json result = dispatch(client, method, params, id, deferred);
        if (has_id && !deferred) out_.send(client, to_line({{"jsonrpc", "2.0"}, {"id", id}, {"result", result}}));
    } catch (const Fault& f) {
        log_line("client %d: %s failed: %s", client,
                 method.empty() ? "request" : excerpt(method).c_str(), excerpt(f.message).c_str());
        if (has_id || f.code == E_INVALID_REQUEST) out_.send(client, to_line(error_reply(id, f.code, f.message)));
    } catch (const std::exception& e) {
        // A fault of our own must cost the request, never the server.
        log_line("client %d: %s: internal error: %s", client, excerpt(method).c_str(),
                 excerpt(e.what()).c_str());
        if (has_id) out_.send(client, to_line(error_reply(id, E_INTERNAL, std::string("internal error: ") + e.what())));
    }
}

// Answers a line nested past MAX_JSON_DEPTH. It is parsed once more, keeping only what lies
// within the limit (the parser itself works without recursion), so that the reply can carry
// the request's id and say whether the excess lies in its params.
void Service::refuse_deep(int client, const std::string& line) {
    std::string member, deep_in;  // the request member being read; the one holding the excess
    auto keep = [&](int depth, json::parse_event_t ev, json& parsed) {
        if (ev == json::parse_event_t::key && depth == 1) member = parsed.get<std::string>();
        bool opens =
            ev == json::parse_event_t::object_start || ev == json::parse_event_t::array_start;
        if (!opens || depth < MAX_JSON_DEPTH) return true;
        if (deep_in.empty()) deep_in = member.empty() ? "?" : member;
        return false;
    };
    json req = json::parse(line, keep, false);
    if (req.is_discarded()) {
        log_line("client %d: parse error in a line nested over %d levels", client, MAX_JSON_DEPTH);
        out_.send(client,
                  to_line(error_reply(nullptr, E_PARSE, "parse error: the line is not JSON")));
        return;
    }
    bool in_params = req.is_object() && deep_in == "params";
    bool has_id = req.is_object() && req.contains("id");
    json id = has_id ? req["id"] : json();
    if (!(id.is_number() || id.is_string())) id = nullptr;
    int code = in_params ? E_BAD_PARAMS : E_INVALID_REQUEST;
    std::string what = in_params ? "params" : "request";
    log_line("client %d: %s nested over %d levels refused", client, what.c_str(), MAX_JSON_DEPTH);
    // A notification gets no reply to a fault in its params, as to any other fault of them.
    if (has_id || !in_params)
        out_.send(client, to_line(error_reply(id, code, "invalid " + what +
                                                            ": arrays and objects nested over " +
                                                            std::to_string(MAX_JSON_DEPTH) +
                                                            " levels deep")));
}

json Service::dispatch(int client, const std::string& m, const json& p, const json& id, bool& deferred) {
    Session& session = sessions_[client];
    if (m == "hello") {
        session.client_name = str_param(p, "client", false, "?");
        session.host = str_param(p, "host", false, "localhost");
        log_line("client %d: hello from %s (server known as %s)", client,
                 excerpt(session.client_name).c_str(), excerpt(session.host).c_str());
        std::string mdr = "/systemId=" + quote(session.host) + "/metaName=\"MDR\"";
        return {{"server", "qx_mis"}, {"version", "0.1"}, {"root", "/"}, {"mdr", mdr}};
    }
    if (m == "get") {
        MObject& o = model_.resolve(str_param(p, "name"));
        std::string cls = trim(str_param(p, "class", false));
        if (!cls.empty()) {
            if (!schema_.cls(cls)) fail(E_NO_CLASS, "no such class " + cls);
            if (!o.cls->is_a(cls)) fail(E_CLASS_CONFLICT, o.name + " is of class " + o.cls->name + ", not " + cls);
        }
        return describe(o);
    }
    if (m == "derive") return derive(client, p);
    if (m == "unsubscribe") {
        int sid = int_param(p, "subscription", 1, std::numeric_limits<int>::max());
        auto s = subs_.find(sid);
        if (s == subs_.end() || s->second->client != client) fail(E_NO_SUBSCRIPTION, "no such subscription " + std::to_string(sid));
        auto& v = subs_by_base_[s->second->base];
        v.erase(std::remove(v.begin(), v.end(), s->second), v.end());
        if (v.empty()) subs_by_base_.erase(s->second->base);
        subs_.erase(s);
        session.subscriptions.erase(sid);
        return {{"subscription", sid}};
    }
    if (m == "watch" || m == "unwatch") {
        std::string n = model_.canonical(str_param(p, "name"));
        if (m == "watch") {
            if (!model_.find(n)) fail(E_NO_OBJECT, "no such object " + n);
            watchers_[n].insert(client);
            session.watches.insert(n);
        } else {
            auto w = watchers_.find(n);
            if (w != watchers_.end()) {
                w->second.erase(client);
                if (w->second.empty()) watchers_.erase(w);
            }
            session.watches.erase(n);
        }
        return {{"name", n}};
    }
    if (m == "validate") {
        std::string an = str_param(p, "attribute"), v = str_param(p, "value");
        const AttributeDef* a = schema_.attribute(an);
        if (!a) fail(E_NO_ATTRIBUTE, "no such attribute " + an);
        std::string canon, why;
        if (!schema_.validate(*a->syntax, v, canon, why)) fail(E_SYNTAX, why);
        return {{"attribute", a->name}, {"value", canon}};
    }
    if (m == "set") {
        MObject& o = model_.resolve(str_param(p, "name"));
        ValueList values = values_param(p, "values", true);
        auto changed = change(o, values, true);
        json names = json::array();
        for (size_t i : changed) names.push_back(o.cls->attrs[i].attr->name);
        return {{"name", o.name}, {"changed", names}};
    }
    if (m == "blank") {
        std::string cn = trim(str_param(p, "class"));
        const ClassDef* c = schema_.cls(cn);
        if (!c) fail(E_NO_CLASS, "no such class " + cn);
        return describe_blank(*c);
    }
    if (m == "create") {
        std::string cn = trim(str_param(p, "class"));
        MObject& parent = model_.resolve(str_param(p, "parent"));
        const ClassDef* c = schema_.cls(cn);
        if (!c) fail(E_NO_CLASS, "no such class " + cn);
        MObject& o = create(parent, *c, values_param(p, "values", false));
        return {{"name", o.name}, {"class", o.cls->name}};
    }
    if (m == "delete") {
        MObject& o = model_.resolve(str_param(p, "name"));
        std::vector<std::string> names;
        size_t n = remove(o, &names);
        return {{"count", n}, {"names", names}};
    }
    if (m == "action") return action(client, p, id, deferred);
    if (m == "syntax") {
        std::string an = str_param(p, "attribute");
        const AttributeDef* a = schema_.attribute(an);
        if (!a) fail(E_NO_ATTRIBUTE, "no such attribute " + an);
        const Syntax& s = *a->syntax;
        return {{"attribute", a->name}, {"name", s.name}, {"description", s.description},
                {"rule", s.rule_text()}, {"expansion", s.expansion}};
    }
    fail(E_NO_METHOD, "unknown method '" + m + "'");
}

json Service::describe(const MObject& o) const {
    json attrs = json::array();
    for (size_t i = 0; i < o.cls->attrs.size(); ++i) {
        const AttributeDef* a = o.cls->attrs[i].attr;
        attrs.push_back({{"name", a->name}, {"syntax", a->syntax->name},
                         {"access", a->read_only ? "read-only" : "read-write"}, {"value", o.values[i]}});
    }
    return {{"name", o.name}, {"class", o.cls->name}, {"attributes", attrs}};
}

json Service::describe_blank(const ClassDef& c) const {
    MObject blank;
    blank.name = "NONE";
    blank.cls = &c;
    for (auto& ca : c.attrs) blank.values.push_back(ca.def);
    return describe(blank);
}

json Service::derive(int client, const json& p) {
    std::string base, filter_text, why;
    if (p.contains("derivation")) {
        if (!parse_derivation(schema_, str_param(p, "derivation"), base, filter_text, why))
            fail(E_BAD_FILTER, "malformed derivation string: " + why);
    } else {
        base = model_.canonical(str_param(p, "base"));
        filter_text = trim(str_param(p, "filter", false));
    }
    std::shared_ptr<Filter> filter;
    if (!filter_text.empty()) {
        filter = parse_filter(schema_, filter_text, why);
        if (!filter) fail(E_BAD_FILTER, "malformed filter: " + why);
    }
    MObject* o = model_.find(base);
    if (!o) fail(E_NO_OBJECT, "no such object " + base);
    std::string cls = trim(str_param(p, "class", false));
    if (!cls.empty()) {
        if (!schema_.cls(cls)) fail(E_NO_CLASS, "no such class " + cls);
        if (!o->cls->is_a(cls)) fail(E_CLASS_CONFLICT, o->name + " is of class " + o->cls->name + ", not " + cls);
    }
    json objects = json::array();
    for (auto& [n, k] : o->children)
        if (!filter || filter->matches(*k->cls, k->values)) objects.push_back({{"name", n}, {"class", k->cls->name}});
    json result = {{"base", o->name}, {"count", objects.size()}, {"objects", std::move(objects)}};
    if (bool_param(p, "subscribe")) {
        auto s = std::make_shared<Subscription>(Subscription{next_subscription_++, client, o->name, filter});
        subs_[s->id] = s;
        subs_by_base_[s->base].push_back(s);
        sessions_[client].subscriptions.insert(s->id);
        result["subscription"] = s->id;
    }
    return result;
}

json Service::action(int client, const json& p, const json& id, bool& deferred) {
    MObject& o = model_.resolve(str_param(p, "name"));
    std::string an = trim(str_param(p, "action"));
    std::string param = str_param(p, "parameter", false);
    const ActionDef* a = o.cls->action(an);
    if (!a) fail(E_NO_ACTION, "class " + o.cls->name + " has no action '" + an + "'");
    switch (a->kind) {
    case ActionDef::GET_OBJECT_CLASS: {
        const ClassDef* c = schema_.cls(trim(param));
        if (!c) fail(E_NO_CLASS, "no such class '" + trim(param) + "'");
        return {{"reply", schema_.describe(*c)}};
    }
    case ActionDef::RESET: {
        ValueList defaults;
        for (auto& ca : o.cls->attrs)
            if (!ca.attr->read_only && ca.attr != o.cls->naming) defaults.emplace_back(ca.attr->name, ca.def);
        auto changed = change(o, defaults, false);
        return {{"reply", "reset " + o.name + ": " + std::to_string(changed.size()) +
                              " attribute(s) set back to their defaults\n"}};
    }
    case ActionDef::SELF_TEST: {
        std::string r = "self test of " + o.name + "\n";
        r += "  class: " + o.cls->name + "\n";
        r += "  attributes checked: " + std::to_string(o.cls->attrs.size()) + "\n";
        r += "  contained objects: " + std::to_string(o.children.size()) + "\n";
        if (!param.empty()) r += "  parameter: " + param + "\n";
        r += "  result: passed\n";
        return {{"reply", r}};
    }
    case ActionDef::PROGRAM:
        if (!runner_) fail(E_ACTION_FAILED, "action " + an + " cannot run programs here");
        deferred = true;
        runner_->run(client, id, *a, {o.name, an, param});
        return nullptr;
    }
    fail(E_NO_ACTION, "no such action " + an);
}

void Service::finish_action(int client, const json& id, bool ok, const std::string& text) {
    if (!connected(client) || id.is_null()) return;
    if (ok) out_.send(client, to_line({{"jsonrpc", "2.0"}, {"id", id}, {"result", {{"reply", text}}}}));
    else {
        log_line("client %d: action failed: %s", client, excerpt(text).c_str());
        out_.send(client, to_line(error_reply(id, E_ACTION_FAILED, text)));
    }
}

// ---------------------------------------------------------------- notifications

void Service::event_to(int client, const json& params) {
    out_.send(client, to_line({{"jsonrpc", "2.0"}, {"method", "event"}, {"params", params}}));
}

void Service::raw_event(const std::string& event, const std::string& name) {
    if (sessions_.empty()) return;
    std::string line = to_line({{"jsonrpc", "2.0"}, {"method", "rawEvent"}, {"params", {{"event", event}, {"name", name}}}});
    for (auto& [c, s] : sessions_) out_.send(c, line);
}

// OBJECT_CREATED or OBJECT_DESTROYED to the subscriptions on o's parent whose filter accepts
// o (with the given values, or o's own).
void Service::membership(const MObject& o, const std::string& event, const std::vector<std::string>* values) {
    if (!o.parent) return;
    auto it = subs_by_base_.find(o.parent->name);
    if (it == subs_by_base_.end()) return;
    const auto& v = values ? *values : o.values;
    for (auto& s : it->second)
        if (!s->filter || s->filter->matches(*o.cls, v))
            event_to(s->client, {{"event", event}, {"subscription", s->id}, {"name", o.name}, {"class", o.cls->name}});
}

std::vector<size_t> Service::change(MObject& o, const ValueList& values, bool enforce_access) {
    std::vector<std::string> before;
    auto changed = model_.set(o, values, enforce_access, &before);
    if (changed.empty()) return changed;
    auto w = watchers_.find(o.name);
    for (size_t i : changed) {
        if (w != watchers_.end())
            for (int c : w->second)
                event_to(c, {{"event", "ATTR_CHANGED"}, {"name", o.name}, {"attribute", o.cls->attrs[i].attr->name},
                             {"value", o.values[i]}});
        raw_event("ATTR_CHANGED", o.name);
    }
    // A filtered subscription sees the object enter or leave its set.
    if (o.parent) {
        auto it = subs_by_base_.find(o.parent->name);
        if (it != subs_by_base_.end()) {
            auto subs = it->second;
            for (auto& s : subs) {
                if (!s->filter) continue;
                bool was = s->filter->matches(*o.cls, before), is = s->filter->matches(*o.cls, o.values);
                if (was == is) continue;
                const char* ev = is ? "OBJECT_CREATED" : "OBJECT_DESTROYED";
                // Nothing was created or destroyed: the raw ATTR_CHANGED above already told
                // every client what happened; only this subscriber's view changes.
                event_to(s->client, {{"event", ev}, {"subscription", s->id}, {"name", o.name}, {"class", o.cls->name}});
            }
        }
    }
    return changed;
}

MObject& Service::create(MObject& parent, const ClassDef& c, const ValueList& values) {
    MObject& o = model_.create(parent, c, values);
    membership(o, "OBJECT_CREATED", nullptr);
    raw_event("OBJECT_CREATED", o.name);
    return o;
}

size_t Service::remove(MObject& o, std::vector<std::string>* names) {
    auto gone = model_.remove(o);
    // Each object is reported beneath its former parent; the parents' objects are among the
    // removed ones (still alive in `gone`) or o's parent, which stays.
    for (auto& x : gone) {
        membership(*x, "OBJECT_DESTROYED", nullptr);
        raw_event("OBJECT_DESTROYED", x->name);
        auto w = watchers_.find(x->name);
        if (w != watchers_.end()) {
            for (int c : w->second) {
                auto s = sessions_.find(c);
                if (s != sessions_.end()) s->second.watches.erase(x->name);
            }
            watchers_.erase(w);
        }
        if (names) names->push_back(x->name);
    }
    return gone.size();
}

}  // namespace mis
