// JSON-RPC requests to management operations, and the routing of notifications.
#include "service.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "fault.h"
#include "log.h"
#include "names.h"
#include "protocol/json_nesting.h"

namespace mis {

using protocol::E_ACTION_FAILED, protocol::E_BAD_FILTER, protocol::E_BAD_PARAMS,
    protocol::E_CLASS_CONFLICT, protocol::E_INTERNAL, protocol::E_INVALID_REQUEST,
    protocol::E_LIMIT, protocol::E_NO_ACTION, protocol::E_NO_ATTRIBUTE, protocol::E_NO_CLASS,
    protocol::E_NO_METHOD, protocol::E_NO_OBJECT, protocol::E_NO_SUBSCRIPTION, protocol::E_PARSE,
    protocol::E_SYNTAX, protocol::E_AUTH_REQUIRED, protocol::E_LOGIN_FAILED, protocol::E_ACCESS,
    protocol::E_CHANGED, protocol::E_STORAGE;

using nlohmann::json;

std::string to_line(const json& j)
{
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

namespace {

// Parameter access that turns a missing or mistyped parameter into -32602.
std::string str_param(const json& p, const char* key, bool required = true, const char* def = "")
{
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) {
        if (required) fail(E_BAD_PARAMS, std::string("missing parameter '") + key + "'");
        return def;
    }
    if (!it->is_string())
        fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be a string");
    return it->get<std::string>();
}

bool bool_param(const json& p, const char* key)
{
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) return false;
    if (!it->is_boolean())
        fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be true or false");
    return it->get<bool>();
}

// An integer from lo to hi. It is read as 64 bits and checked before it narrows: get<int>
// alone would wrap 4294967297 round to 1. Fractions and numbers past 64 bits are refused too.
int int_param(const json& p, const char* key, int lo, int hi)
{
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
ValueList values_param(const json& p, const char* key, bool required)
{
    ValueList out;
    auto it = p.find(key);
    if (it == p.end() || it->is_null()) {
        if (required) fail(E_BAD_PARAMS, std::string("missing parameter '") + key + "'");
        return out;
    }
    if (!it->is_object())
        fail(E_BAD_PARAMS, std::string("parameter '") + key + "' must be an object");
    for (auto& [k, v] : it->items()) {
        if (v.is_string())
            out.emplace_back(k, v.get<std::string>());
        else if (v.is_number() || v.is_boolean())
            out.emplace_back(k, v.dump());
        else
            fail(E_BAD_PARAMS, "the value of '" + k + "' must be a string");
    }
    return out;
}

// Reply lines, with the id given as text: the id as the client wrote it. The members come in
// the order the JSON library writes an object's (by name).
std::string result_line(const std::string& id, const std::string& result)
{
    std::string line;
    line.reserve(result.size() + id.size() + 32);
    line += "{\"id\":";
    line += id;
    line += ",\"jsonrpc\":\"2.0\",\"result\":";
    line += result;
    line += '}';
    return line;
}
std::string result_line(const std::string& id, const json& result)
{
    return result_line(id, to_line(result));
}

// Appends s as a JSON string, as to_line would write it: ASCII text without control
// characters is written here, quotes and backslashes escaped (names are full of quotes), in runs
// between them rather than a character at a time (a derive of 20,000 names spent most of its
// time here); anything else goes through the library.
void append_json_string(std::string& out, const std::string& s)
{
    size_t start = out.size();
    out += '"';
    size_t run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        auto u = static_cast<unsigned char>(s[i]);
        if (u < 0x20 || u >= 0x80) {
            out.resize(start);
            out += to_line(json(s));
            return;
        }
        if (u != '"' && u != '\\') continue;
        out.append(s, run, i - run);
        out += '\\';
        run = i;
    }
    out.append(s, run, s.size() - run);
    out += '"';
}

// The result of derive and search as text: base, count, objects (each {"class","name"}), and
// then the one member that follows (subscription or truncated), members in name order as the
// library writes them. `objects` yields the name and class of each object in turn.
template <typename Each>
std::string objects_result(const std::string& base, size_t count, Each objects,
                           const std::string& last_member)
{
    std::string out = "{\"base\":";
    append_json_string(out, base);
    out += ",\"count\":" + std::to_string(count) + ",\"objects\":[";
    bool first = true;
    objects([&](const std::string& name, const std::string& cls) {
        out += first ? "{\"class\":" : ",{\"class\":";
        first = false;
        append_json_string(out, cls);
        out += ",\"name\":";
        append_json_string(out, name);
        out += '}';
    });
    out += ']';
    out += last_member;
    out += '}';
    return out;
}
std::string error_line(const std::string& id, int code, const std::string& msg,
                       const json& data = nullptr)
{
    json e = {{"code", code}, {"message", msg}};
    if (!data.is_null()) e["data"] = data;
    return "{\"error\":" + to_line(e) + ",\"id\":" + id + ",\"jsonrpc\":\"2.0\"}";
}

// The name a write's parameters give its object, as the client wrote it: what the audit trail
// records of a write refused before its object was looked up.
std::string written_object(const json& params)
{
    for (const char* key : {"name", "parent"}) {
        auto it = params.find(key);
        if (it != params.end() && it->is_string()) return it->get<std::string>();
    }
    return "";
}

size_t skip_blanks(const std::string& s, size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    return i;
}

// Where the JSON value that begins at s[i] ends: a string, a number or word, or an array or
// object with everything inside it. s is JSON the parser accepted.
size_t value_end(const std::string& s, size_t i)
{
    int depth = 0;
    bool in_string = false;
    for (; i < s.size(); ++i) {
        char ch = s[i];
        if (in_string) {
            if (ch == '\\') {
                ++i;
            } else if (ch == '"') {
                in_string = false;
                if (depth == 0) return i + 1;
            }
        } else if (ch == '"') {
            in_string = true;
        } else if (ch == '[' || ch == '{') {
            ++depth;
        } else if (ch == ']' || ch == '}') {
            if (depth == 0) return i;
            if (--depth == 0) return i + 1;
        } else if (depth == 0 && (ch == ',' || ch == ':' || ch == ' ' || ch == '\t' ||
                                  ch == '\n' || ch == '\r')) {
            return i;
        }
    }
    return s.size();
}

// The text of the "id" member of the object that begins at s[i], as written; "" without one.
// Of two "id" members the last counts, as it does for the parser.
std::string id_member(const std::string& s, size_t i)
{
    std::string id;
    i = skip_blanks(s, i + 1);
    while (i < s.size() && s[i] == '"') {
        size_t key_end = value_end(s, i);
        std::string key = s.substr(i, key_end - i);
        i = skip_blanks(s, key_end);
        if (i >= s.size() || s[i] != ':') break;
        i = skip_blanks(s, i + 1);
        size_t end = value_end(s, i);
        if (key == "\"id\"" ||
            (key.find('\\') != std::string::npos && json::parse(key, nullptr, false) == "id"))
            id = s.substr(i, end - i);
        i = skip_blanks(s, end);
        if (i < s.size() && s[i] == ',') i = skip_blanks(s, i + 1);
    }
    return id;
}

// The id texts of a line the parser accepted: one for a request object, one for each element
// of a batch ("" for those without an id, or that are no object), none for anything else.
// The reply's id must be the request's own: the parser reads 123456789012345678901234567890
// as a double, which it writes back as 1.2345678901234568e+29, and -0 as 0.
std::vector<std::string> id_texts(const std::string& line)
{
    std::vector<std::string> ids;
    size_t i = line.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0; // a byte-order mark is skipped
    i = skip_blanks(line, i);
    if (i < line.size() && line[i] == '{') ids.push_back(id_member(line, i));
    if (i >= line.size() || line[i] != '[') return ids;
    for (i = skip_blanks(line, i + 1); i < line.size() && line[i] != ']';) {
        ids.push_back(line[i] == '{' ? id_member(line, i) : "");
        size_t end = value_end(line, i);
        if (end == i) break; // not a value: the line is not what the parser read
        i = skip_blanks(line, end);
        if (i < line.size() && line[i] == ',') i = skip_blanks(line, i + 1);
    }
    return ids;
}

// The id a reply carries: the client's text when it reads as the id the parser took, else the
// parser's value written anew.
std::string echo_id(const json& id, const std::string& raw)
{
    if (!raw.empty() && json::parse(raw, nullptr, false) == id) return raw;
    return to_line(id);
}

} // namespace

Service::Service(Model& model, Outbox& out, ActionRunner* runner, size_t batch_hold)
    : model_(model), schema_(model.schema()), out_(out), runner_(runner), batch_hold_(batch_hold)
{}

void Service::connect(int client, const std::string& address)
{
    sessions_[client].address = address;
}

void Service::disconnect(int client)
{
    auto s = sessions_.find(client);
    if (s == sessions_.end()) return;
    drop_subscriptions({s->second.subscriptions.begin(), s->second.subscriptions.end()});
    for (auto& n : s->second.watches) {
        auto w = watchers_.find(n);
        if (w == watchers_.end()) continue;
        w->second.erase(client);
        if (w->second.empty()) watchers_.erase(w);
    }
    // Answers of its batches still waiting for action programs go nowhere now.
    for (auto b = batches_.begin(); b != batches_.end();)
        b = b->second.client == client ? batches_.erase(b) : std::next(b);
    sessions_.erase(s);
}

void Service::handle_line(int client, const std::string& line)
{
    // A line that comes before the batch is carried out (no server sends one) waits for it.
    while (batch_running(client)) continue_batch(client);
    if (protocol::nested_deeper(line.data(), line.size(), MAX_JSON_DEPTH))
        return refuse_deep(client, line);
    json req = json::parse(line, nullptr, false);
    if (req.is_discarded()) {
        log_line("client %d: parse error: %s", client, excerpt(line).c_str());
        out_.send(client, error_line("null", E_PARSE, "parse error: the line is not JSON"));
        return;
    }
    std::vector<std::string> ids = id_texts(line);
    if (req.is_array()) return begin_batch(client, std::move(req), std::move(ids));
    std::string answer = execute(client, req, ids.empty() ? "" : ids[0], nullptr);
    if (!answer.empty()) out_.send(client, answer);
}

// A batch's requests are carried out in order, one for each call of continue_batch. Their
// answers form one array, in the order of the requests, on one line. An answer is written as
// text at once and the request's parsed form freed, so that the batch costs no more than its
// line, the answer being made and the text not yet handed on: up to the hold, the array is
// kept, and sent whole at the end; past it the line is begun on the outbox and continued with
// each answer. An action program's answer may come later: its slot waits, and the answers
// after it are kept until it is in.
void Service::begin_batch(int client, json requests, std::vector<std::string> ids)
{
    if (requests.empty() || requests.size() > MAX_BATCH) {
        std::string why = requests.empty() ? "an empty batch"
                                           : "a batch of " + std::to_string(requests.size()) +
                                                 " requests; at most " + std::to_string(MAX_BATCH);
        log_line("client %d: batch refused: %s", client, why.c_str());
        out_.send(client, error_line("null", E_INVALID_REQUEST, "invalid request: " + why));
        return;
    }
    long long n = next_batch_++;
    Batch& b = batches_[n];
    b.client = client;
    b.total = requests.size();
    b.requests = std::move(requests);
    b.ids = std::move(ids);
    b.ids.resize(b.total);
    sessions_[client].running = n;
}

bool Service::batch_running(int client) const
{
    auto s = sessions_.find(client);
    return s != sessions_.end() && s->second.running != 0;
}

bool Service::batch_ready(int client) const
{
    auto s = sessions_.find(client);
    if (s == sessions_.end() || s->second.running == 0) return false;
    auto b = batches_.find(s->second.running);
    if (b == batches_.end()) return false;
    const Batch& x = b->second;
    return x.text.size() + x.later_bytes < batch_hold_ && x.waiting.size() < MAX_BATCH_ACTIONS;
}

void Service::continue_batch(int client)
{
    auto s = sessions_.find(client);
    if (s == sessions_.end() || s->second.running == 0) return;
    long long n = s->second.running;
    auto it = batches_.find(n);
    if (it == batches_.end()) {
        s->second.running = 0;
        return;
    }
    Batch& b = it->second;
    size_t i = b.next++;
    json req = std::move(b.requests[i]);
    std::string raw_id = std::move(b.ids[i]);
    if (b.next == b.total) {
        s->second.running = 0;
        b.requests = json();
        std::vector<std::string>().swap(b.ids);
    }
    // A request with an id holds its slot before it is carried out: an action's runner may
    // answer at once.
    bool has_id = req.is_object() && req.contains("id");
    json tag;
    size_t slot = 0;
    if (has_id) {
        slot = b.slots++;
        b.waiting.insert(slot);
        tag = {{"batch", n}, {"slot", slot}, {"id", echo_id(req["id"], raw_id)}};
    }
    std::string answer = execute(client, req, raw_id, has_id ? &tag : nullptr);
    it = batches_.find(n);
    if (it == batches_.end()) return;
    if (!answer.empty()) {
        if (has_id)
            it->second.waiting.erase(slot);
        else
            slot = it->second.slots++; // an element that is no request is answered all the same
        place(it->second, slot, std::move(answer));
    }
    settle(n);
}

// An action's answer for its slot.
void Service::fill_slot(long long batch, size_t slot, std::string answer)
{
    auto b = batches_.find(batch);
    if (b == batches_.end() || !b->second.waiting.erase(slot)) return; // gone, or filled already
    place(b->second, slot, std::move(answer));
    settle(batch);
}

// Puts an answer into the array when all before it are in, else keeps it until they are.
void Service::place(Batch& b, size_t slot, std::string answer)
{
    if (slot != b.in_order) {
        b.later_bytes += answer.size();
        b.later.emplace(slot, std::move(answer));
        return;
    }
    auto append = [&b](const std::string& a) {
        b.text += b.answered++ == 0 ? '[' : ',';
        b.text += a;
        ++b.in_order;
    };
    append(answer);
    for (auto it = b.later.begin(); it != b.later.end() && it->first == b.in_order;) {
        b.later_bytes -= it->second.size();
        append(it->second);
        it = b.later.erase(it);
    }
}

// Hands on what the batch has ready: all of it, ended, once every answer is in (a whole line
// when it was never begun); else the part in order, once the line is begun or the part passes
// the hold and no other batch of the client has a line begun.
void Service::settle(long long batch)
{
    auto it = batches_.find(batch);
    if (it == batches_.end()) return;
    Batch& b = it->second;
    Session& s = sessions_[b.client];
    if (b.next == b.total && b.waiting.empty()) {
        int client = b.client;
        bool had_line = b.opened;
        if (b.answered > 0) { // a batch of notifications only has nothing to answer
            b.text += ']';
            if (b.opened)
                out_.send_part(client, b.text, true);
            else
                out_.send(client, b.text);
        }
        batches_.erase(it);
        if (had_line) {
            s.line = 0;
            // The running batch may have waited for the line.
            if (s.running) settle(s.running);
        }
        return;
    }
    if (b.text.empty()) return;
    if (!b.opened) {
        if (b.text.size() < batch_hold_ || s.line != 0) return;
        b.opened = true;
        s.line = batch;
    }
    out_.send_part(b.client, b.text, false);
    std::string().swap(b.text);
}

// One request object: its reply line, or "" when it has none (a notification) or when the
// reply comes later, at an action program's end, through finish_action with `tag` (made here
// when tag is null). raw_id is the text of its id as the client wrote it.
std::string Service::execute(int client, const json& req, const std::string& raw_id,
                             const json* tag)
{
    bool has_id = req.is_object() && req.contains("id");
    json id = has_id ? req["id"] : json();
    std::string id_text = "null";
    std::string method;
    json audit; // the entry of a write when there is a trail; written before the reply
    try {
        // An id that is not a string, number or null cannot be echoed: the request is refused
        // before anything of it is carried out, with id null.
        if (!(id.is_number() || id.is_string() || id.is_null()))
            fail(E_INVALID_REQUEST, "invalid request: id must be a string, a number or null");
        id_text = echo_id(id, raw_id);
        if (!req.is_object() || req.value("jsonrpc", json()) != "2.0" || !req.contains("method") ||
            !req["method"].is_string())
            fail(E_INVALID_REQUEST,
                 "invalid request: expected {\"jsonrpc\":\"2.0\",\"id\":..,\"method\":..}");
        method = req["method"].get<std::string>();
        // The params are read where they lie: a copy would double what a line costs.
        static const json no_params = json::object();
        auto given = req.find("params");
        const json& params = given == req.end() || given->is_null() ? no_params : *given;
        auto handler = METHODS.find(method);
        if (audit_ && handler != METHODS.end() && handler->second.writes) {
            const Session& s = sessions_[client];
            audit = {{"user", s.user ? s.user->name : ""},
                     {"address", s.address},
                     {"method", method},
                     {"object", params.is_object() ? written_object(params) : ""}};
        }
        if (!params.is_object()) fail(E_BAD_PARAMS, "params must be an object");
        if (handler == METHODS.end()) fail(E_NO_METHOD, "unknown method '" + method + "'");
        if (users_) check_role(sessions_[client], method, handler->second.role);
        // A write that could not be recorded is not carried out.
        if (audit.is_object() && !audit_->healthy())
            fail(E_STORAGE, "writes are refused while the audit trail cannot be written: " +
                                audit_->why());
        Call call{client, params,
                  has_id ? (tag ? *tag : json{{"id", id_text}}) : json(), false, {}, audit};
        json result = (this->*handler->second.handler)(call);
        if (call.deferred) return "";
        if (audit.is_object()) write_audit(std::move(audit), 0, "");
        if (!has_id) return "";
        return call.text.empty() ? result_line(id_text, result) : result_line(id_text, call.text);
    } catch (const Fault& f) {
        log_line("client %d: %s failed: %s", client,
                 method.empty() ? "request" : excerpt(method).c_str(), excerpt(f.message).c_str());
        if (audit.is_object()) write_audit(std::move(audit), f.code, f.message);
        if (has_id || f.code == E_INVALID_REQUEST)
            return error_line(id_text, f.code, f.message, f.data);
    } catch (const std::exception& e) {
        // A fault of our own must cost the request, never the server.
        log_line("client %d: %s: internal error: %s", client, excerpt(method).c_str(),
                 excerpt(e.what()).c_str());
        std::string why = std::string("internal error: ") + e.what();
        if (audit.is_object()) write_audit(std::move(audit), E_INTERNAL, why);
        if (has_id) return error_line(id_text, E_INTERNAL, why);
    }
    return "";
}

// Completes a write's entry with its result ("ok", or the error's code and message) and
// appends it to the trail. A write carried out whose line cannot be written is answered all
// the same (it is done), and logged; later writes are refused until the trail works again.
void Service::write_audit(json entry, int code, const std::string& message)
{
    entry["result"] = code == 0 ? json("ok") : json{{"code", code}, {"message", message}};
    if (!audit_->append(entry))
        log_line("audit: %s (%s of %s, result %s)", audit_->why().c_str(),
                 entry.value("method", "").c_str(), excerpt(entry.value("object", "")).c_str(),
                 code == 0 ? "ok" : std::to_string(code).c_str());
}

// Answers a line nested past MAX_JSON_DEPTH. It is parsed once more, keeping only what lies
// within the limit (the parser itself works without recursion), so that the reply can carry
// the request's id and say whether the excess lies in its params.
void Service::refuse_deep(int client, const std::string& line)
{
    std::string member, deep_in; // the request member being read; the one holding the excess
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
        out_.send(client, error_line("null", E_PARSE, "parse error: the line is not JSON"));
        return;
    }
    bool in_params = req.is_object() && deep_in == "params";
    bool has_id = req.is_object() && req.contains("id");
    json id = has_id ? req["id"] : json();
    std::vector<std::string> ids = req.is_object() ? id_texts(line) : std::vector<std::string>();
    std::string id_text =
        id.is_number() || id.is_string() ? echo_id(id, ids.empty() ? "" : ids[0]) : "null";
    int code = in_params ? E_BAD_PARAMS : E_INVALID_REQUEST;
    std::string what = in_params ? "params" : "request";
    log_line("client %d: %s nested over %d levels refused", client, what.c_str(), MAX_JSON_DEPTH);
    // A notification gets no reply to a fault in its params, as to any other fault of them.
    if (has_id || !in_params)
        out_.send(client, error_line(id_text, code,
                                     "invalid " + what + ": arrays and objects nested over " +
                                         std::to_string(MAX_JSON_DEPTH) + " levels deep"));
}

// The methods of the protocol (docs/protocol.md), each with its handler.
const std::unordered_map<std::string, Service::Method> Service::METHODS = {
    {"login", {&Service::op_login, Role::Reader}},
    {"hello", {&Service::op_hello, Role::Reader}},
    {"get", {&Service::op_get, Role::Reader}},
    {"derive", {&Service::op_derive, Role::Reader}},
    {"cancel", {&Service::op_cancel, Role::Reader}},
    {"unsubscribe", {&Service::op_unsubscribe, Role::Reader}},
    {"watch", {&Service::op_watch, Role::Reader}},
    {"unwatch", {&Service::op_unwatch, Role::Reader}},
    {"validate", {&Service::op_validate, Role::Reader}},
    {"set", {&Service::op_set, Role::Operator, true}},
    {"blank", {&Service::op_blank, Role::Reader}},
    {"create", {&Service::op_create, Role::Admin, true}},
    {"delete", {&Service::op_delete, Role::Admin, true}},
    {"action", {&Service::op_action, Role::Operator, true}},
    {"syntax", {&Service::op_syntax, Role::Reader}},
    {"search", {&Service::op_search, Role::Reader}},
};

json Service::op_hello(Call& c)
{
    Session& session = sessions_[c.client];
    session.client_name = str_param(c.params, "client", false, "?");
    session.host = str_param(c.params, "host", false, "localhost");
    log_line("client %d: hello from %s (server known as %s)", c.client,
             excerpt(session.client_name).c_str(), excerpt(session.host).c_str());
    std::string mdr = "/systemId=" + quote(session.host) + "/metaName=\"MDR\"";
    return {{"server", "qx_mis"}, {"version", "0.1"}, {"root", "/"}, {"mdr", mdr}};
}

json Service::op_get(Call& c)
{
    MObject& o = model_.resolve(str_param(c.params, "name"));
    check_class(o, trim(str_param(c.params, "class", false)));
    return describe(o);
}

json Service::op_unsubscribe(Call& c)
{
    int sid = int_param(c.params, "subscription", 1, std::numeric_limits<int>::max());
    auto s = subs_.find(sid);
    if (s == subs_.end() || s->second->client != c.client)
        fail(E_NO_SUBSCRIPTION, "no such subscription " + std::to_string(sid));
    drop_subscriptions({sid});
    return {{"subscription", sid}};
}

json Service::op_watch(Call& c)
{
    std::string n = model_.canonical(str_param(c.params, "name"));
    if (!model_.find(n)) fail(E_NO_OBJECT, "no such object " + n);
    watchers_[n].insert(c.client);
    sessions_[c.client].watches.insert(n);
    return {{"name", n}};
}

json Service::op_unwatch(Call& c)
{
    std::string n = model_.canonical(str_param(c.params, "name"));
    auto w = watchers_.find(n);
    if (w != watchers_.end()) {
        w->second.erase(c.client);
        if (w->second.empty()) watchers_.erase(w);
    }
    sessions_[c.client].watches.erase(n);
    return {{"name", n}};
}

json Service::op_validate(Call& c)
{
    std::string an = str_param(c.params, "attribute"), v = str_param(c.params, "value");
    const AttributeDef* a = schema_.attribute(an);
    if (!a) fail(E_NO_ATTRIBUTE, "no such attribute " + an);
    std::string canon, why;
    if (!schema_.validate(*a->syntax, v, canon, why)) fail(E_SYNTAX, why);
    return {{"attribute", a->name}, {"value", canon}};
}

// With "expect", the values the client read: the set is refused, with nothing written, when
// one of those attributes holds another value now (E_CHANGED, naming the first in the
// request's order whose value differs, and its value now, in the message and the data).
// An expected value is compared in its syntax's canonical form when the syntax accepts it.
json Service::op_set(Call& c)
{
    MObject& o = model_.resolve(str_param(c.params, "name"));
    ValueList values = values_param(c.params, "values", true);
    ValueList expect = values_param(c.params, "expect", false);
    // The position of an attribute in o's class, by any name the schema knows it by.
    auto position = [&](const std::string& an) -> int {
        const AttributeDef* a = schema_.attribute(an);
        return a ? o.cls->find(a) : -1;
    };
    if (c.audit.is_object()) {
        c.audit["object"] = o.name;
        json before = json::object(), after = json::object();
        for (auto& [an, v] : values) {
            int at = position(an);
            if (at < 0) continue;
            before[o.cls->attrs[at].attr->name] = o.values[at];
            after[o.cls->attrs[at].attr->name] = v;
        }
        c.audit["old"] = before;
        c.audit["new"] = after;
    }
    for (auto& [an, v] : expect) {
        int at = position(an);
        if (at < 0) fail(E_NO_ATTRIBUTE, "expect: class " + o.cls->name + " has no attribute " + an);
        const AttributeDef* a = o.cls->attrs[at].attr;
        const std::string& now = o.values[at];
        std::string canon, why;
        bool same = schema_.validate(*a->syntax, v, canon, why) ? canon == now : v == now;
        if (!same)
            fail(E_CHANGED,
                 "attribute " + a->name + " of " + o.name +
                     " was changed by another client: its value is now \"" + now + "\"",
                 json{{"attribute", a->name}, {"value", now}});
    }
    auto changed = change(o, values, true);
    json names = json::array();
    for (size_t i : changed) names.push_back(o.cls->attrs[i].attr->name);
    if (c.audit.is_object())
        for (auto& [an, v] : values) {
            size_t at = static_cast<size_t>(position(an));
            c.audit["new"][o.cls->attrs[at].attr->name] = o.values[at];
        }
    return {{"name", o.name}, {"changed", names}};
}

json Service::op_blank(Call& c)
{
    std::string cn = trim(str_param(c.params, "class"));
    const ClassDef* k = schema_.cls(cn);
    if (!k) fail(E_NO_CLASS, "no such class " + cn);
    return describe_blank(*k);
}

json Service::op_create(Call& c)
{
    std::string cn = trim(str_param(c.params, "class"));
    ValueList values = values_param(c.params, "values", false);
    if (c.audit.is_object()) {
        c.audit["parent"] = c.audit["object"];
        c.audit["class"] = cn;
        json given = json::object();
        for (auto& [an, v] : values) given[an] = v;
        c.audit["new"] = given;
    }
    MObject& parent = model_.resolve(str_param(c.params, "parent"));
    if (c.audit.is_object()) c.audit["parent"] = c.audit["object"] = parent.name;
    const ClassDef* k = schema_.cls(cn);
    if (!k) fail(E_NO_CLASS, "no such class " + cn);
    MObject& o = create(parent, *k, values);
    if (c.audit.is_object()) {
        c.audit["object"] = o.name;
        json now = json::object();
        for (size_t i = 0; i < o.cls->attrs.size(); ++i) now[o.cls->attrs[i].attr->name] = o.values[i];
        c.audit["new"] = now;
    }
    return {{"name", o.name}, {"class", o.cls->name}};
}

json Service::op_delete(Call& c)
{
    MObject& o = model_.resolve(str_param(c.params, "name"));
    if (c.audit.is_object()) c.audit["object"] = o.name;
    std::vector<std::string> names;
    size_t n = remove(o, &names);
    if (c.audit.is_object()) c.audit["removed"] = names;
    return {{"count", n}, {"names", names}};
}

json Service::op_syntax(Call& c)
{
    std::string an = str_param(c.params, "attribute");
    const AttributeDef* a = schema_.attribute(an);
    if (!a) fail(E_NO_ATTRIBUTE, "no such attribute " + an);
    const Syntax& s = *a->syntax;
    return {{"attribute", a->name},
            {"name", s.name},
            {"description", s.description},
            {"rule", s.rule_text()},
            {"expansion", s.expansion}};
}

// With a non-empty class name: the class exists and o is of it or of a subclass.
void Service::check_class(const MObject& o, const std::string& cls) const
{
    if (cls.empty()) return;
    if (!schema_.cls(cls)) fail(E_NO_CLASS, "no such class " + cls);
    if (!o.cls->is_a(cls))
        fail(E_CLASS_CONFLICT, o.name + " is of class " + o.cls->name + ", not " + cls);
}

json Service::describe(const MObject& o) const
{
    json attrs = json::array();
    for (size_t i = 0; i < o.cls->attrs.size(); ++i) {
        const AttributeDef* a = o.cls->attrs[i].attr;
        attrs.push_back({{"name", a->name},
                         {"syntax", a->syntax->name},
                         {"access", a->read_only ? "read-only" : "read-write"},
                         {"value", o.values[i]}});
    }
    return {{"name", o.name}, {"class", o.cls->name}, {"attributes", attrs}};
}

json Service::describe_blank(const ClassDef& c) const
{
    MObject blank;
    blank.name = "NONE";
    blank.cls = &c;
    for (auto& ca : c.attrs) blank.values.push_back(ca.def);
    return describe(blank);
}

void Service::set_filter_memory(size_t per_client, size_t total)
{
    max_client_filter_bytes_ = per_client;
    max_filter_bytes_ = total;
}

// Refuses a subscription whose filter (its key and the bytes holding it takes) would pass the
// limits of the session or of all clients: a filter the session holds already costs nothing
// more, one another client holds costs the session its bytes and the server nothing.
void Service::check_filter_room(const Session& session, const std::string& key,
                                size_t bytes) const
{
    auto held = held_.find(key);
    if (held != held_.end() && session.filters.count(&held->second)) return;
    if (session.filters.size() >= MAX_SUBSCRIPTION_FILTERS)
        fail(E_LIMIT, "too many different filters: a client's subscriptions hold at most " +
                          std::to_string(MAX_SUBSCRIPTION_FILTERS) + "; unsubscribe some first");
    if (session.filter_bytes + bytes > max_client_filter_bytes_)
        fail(E_LIMIT, "filters too large: this filter takes " + std::to_string(bytes) +
                          " bytes parsed, and a client's subscriptions hold at most " +
                          std::to_string(max_client_filter_bytes_) + " bytes of filters (" +
                          std::to_string(session.filter_bytes) +
                          " held now); unsubscribe some first");
    if (held == held_.end() && filter_bytes_ + bytes > max_filter_bytes_)
        fail(E_LIMIT, "filters too large: this filter takes " + std::to_string(bytes) +
                          " bytes parsed, and the subscriptions of all clients hold at most " +
                          std::to_string(max_filter_bytes_) + " bytes of filters (" +
                          std::to_string(filter_bytes_) + " held now); try again later");
}

// The held filter of this key, the candidate itself when none is held yet, with one more
// holder of the session's; check_filter_room has allowed it.
Service::HeldFilter* Service::hold_filter(Session& session, std::string key, HeldFilter candidate)
{
    auto [it, fresh] = held_.try_emplace(std::move(key));
    HeldFilter& h = it->second;
    if (fresh) {
        h = std::move(candidate);
        h.key = &it->first;
        filter_bytes_ += h.bytes;
    }
    ++h.holders;
    if (session.filters[&h]++ == 0) session.filter_bytes += h.bytes;
    return &h;
}

namespace {

// The key a subscription is filed under for an equality term on attribute a with this value.
size_t term_hash(const AttributeDef* a, const std::string& value)
{
    return std::hash<const void*>()(a) ^ (std::hash<std::string>()(value) * 0x9e3779b97f4a7c15ull);
}

// Whether an equality on a is a test of the object's class and its superclasses.
bool is_class_test(const AttributeDef* a)
{
    return a->syntax->kind == Syntax::CLASSNAME && a->display == "objectClass";
}

// What the allocator hands out for a block of n bytes, as filter_cost counts it.
size_t heap_block(size_t n)
{
    return n == 0 ? 0 : (n + 15) / 16 * 16 + 16;
}

} // namespace

// Files a subscription among the routes of its base.
void Service::file(Subscription& s)
{
    Routes& r = routes_[s.base];
    if (!s.filter) {
        r.every.push_back(&s);
    } else if (!s.filter->anchors.empty()) {
        std::vector<size_t> done;
        for (const Filter* t : s.filter->anchors) {
            size_t h = term_hash(t->attr, t->value);
            if (std::find(done.begin(), done.end(), h) != done.end()) continue;
            done.push_back(h);
            r.by_term[h].push_back(&s);
        }
    } else {
        for (const AttributeDef* a : s.filter->attrs) r.by_attr[a].push_back(&s);
    }
}

// Drops the subscriptions with these ids: out of their routes, their sessions and the table of
// held filters. Each list of routes they were in is swept once, however many of them it held.
void Service::drop_subscriptions(const std::vector<int>& ids)
{
    struct Touched {
        bool every = false;
        std::set<size_t> terms;
        std::set<const AttributeDef*> attrs;
    };
    std::map<std::string, Touched> touched;
    std::vector<std::shared_ptr<Subscription>> gone;
    for (int id : ids) {
        auto it = subs_.find(id);
        if (it == subs_.end()) continue;
        Subscription& s = *it->second;
        s.gone = true;
        Touched& t = touched[s.base];
        if (!s.filter)
            t.every = true;
        else if (!s.filter->anchors.empty())
            for (const Filter* a : s.filter->anchors) t.terms.insert(term_hash(a->attr, a->value));
        else
            t.attrs.insert(s.filter->attrs.begin(), s.filter->attrs.end());
        gone.push_back(std::move(it->second));
        subs_.erase(it);
    }
    // Sweeps the gone out of a list; true when it is empty then.
    auto sweep = [](std::vector<Subscription*>& v) {
        v.erase(std::remove_if(v.begin(), v.end(), [](Subscription* x) { return x->gone; }),
                v.end());
        return v.empty();
    };
    for (auto& [base, t] : touched) {
        auto r = routes_.find(base);
        if (r == routes_.end()) continue;
        Routes& routes = r->second;
        if (t.every) sweep(routes.every);
        for (size_t h : t.terms) {
            auto v = routes.by_term.find(h);
            if (v != routes.by_term.end() && sweep(v->second)) routes.by_term.erase(v);
        }
        for (const AttributeDef* a : t.attrs) {
            auto v = routes.by_attr.find(a);
            if (v != routes.by_attr.end() && sweep(v->second)) routes.by_attr.erase(v);
        }
        if (routes.every.empty() && routes.by_term.empty() && routes.by_attr.empty())
            routes_.erase(r);
    }
    for (auto& s : gone) {
        auto session = sessions_.find(s->client);
        if (session != sessions_.end()) session->second.subscriptions.erase(s->id);
        HeldFilter* h = s->filter;
        if (!h) continue;
        if (session != sessions_.end()) {
            auto held = session->second.filters.find(h);
            if (held != session->second.filters.end() && --held->second == 0) {
                session->second.filter_bytes -= h->bytes;
                session->second.filters.erase(held);
            }
        }
        if (--h->holders == 0) {
            filter_bytes_ -= h->bytes;
            held_.erase(*h->key);
        }
    }
}

json Service::op_derive(Call& c)
{
    const json& p = c.params;
    Session& session = sessions_[c.client];
    bool subscribe = bool_param(p, "subscribe");
    bool paged = bool_param(p, "paged");
    size_t page_size = PAGE_SIZE;
    if (p.contains("page_size") && !p["page_size"].is_null())
        page_size = static_cast<size_t>(int_param(p, "page_size", 1, MAX_PAGE_SIZE));
    if (paged && c.tag.contains("batch"))
        fail(E_INVALID_REQUEST, "a paged derive must be a request of its own, not one of a batch");
    if (paged && !c.tag.is_object())
        fail(E_INVALID_REQUEST, "a paged derive needs an id: its pages are answers to it");
    if (paged && session.pagings.size() >= MAX_PAGINGS)
        fail(E_LIMIT, "too many paged derivations: a client has at most " +
                          std::to_string(MAX_PAGINGS) + " in progress at once");
    if (subscribe && session.subscriptions.size() >= MAX_SUBSCRIPTIONS)
        fail(E_LIMIT, "too many subscriptions: a client holds at most " +
                          std::to_string(MAX_SUBSCRIPTIONS) + "; unsubscribe some first");
    std::string base, filter_text, why;
    if (p.contains("derivation")) {
        if (!parse_derivation(schema_, str_param(p, "derivation"), base, filter_text, why))
            fail(E_BAD_FILTER, "malformed derivation string: " + why);
    } else {
        base = model_.canonical(str_param(p, "base"));
        filter_text = trim(str_param(p, "filter", false));
    }
    if (filter_text.size() > MAX_FILTER_BYTES)
        fail(E_LIMIT, "filter too long: " + std::to_string(filter_text.size()) +
                          " bytes, a filter holds at most " + std::to_string(MAX_FILTER_BYTES));
    std::unique_ptr<Filter> filter;
    if (!filter_text.empty()) {
        filter = parse_filter(schema_, filter_text, why);
        if (!filter) fail(E_BAD_FILTER, "malformed filter: " + why);
    }
    MObject* o = model_.find(base);
    if (!o) fail(E_NO_OBJECT, "no such object " + base);
    check_class(*o, trim(str_param(p, "class", false)));
    // A subscription's filter is measured, and checked against the limits, before any work is
    // done for it. What holding it takes: its parsed form, its key, its record with the vectors
    // of its anchors and attributes, and its place in the table.
    std::string key;
    HeldFilter candidate;
    if (subscribe && filter) {
        key = filter_key(*filter);
        candidate.anchors = anchor_terms(*filter, MAX_FILTER_ANCHORS);
        candidate.attrs = filter_attributes(*filter);
        candidate.bytes = filter_cost(*filter).bytes + heap_block(key.size() + 1) +
                          heap_block(sizeof(HeldFilter) + sizeof(std::string) + 16) +
                          heap_block(candidate.anchors.capacity() * sizeof(const Filter*)) +
                          heap_block(candidate.attrs.capacity() * sizeof(const AttributeDef*));
        check_filter_room(session, key, candidate.bytes);
    }
    const Filter* f = filter.get();
    std::vector<const std::pair<const std::string, MObject*>*> found; // name, child
    Paging pg;
    if (paged) {
        // Only where to resume is kept; the total is counted once, now. Without a filter it
        // is the number of children, which a walk of a million of them would only delay.
        pg.base = o->name;
        pg.snapshot = Model::last_serial();
        pg.page_size = page_size;
        pg.of = f ? 0 : o->children.size();
        if (f)
            for (auto& kid : o->children)
                if (f->matches(*kid.second->cls, kid.second->values)) pg.of++;
        if (filter) pg.filter = parse_filter(schema_, filter_text, why);
    } else {
        // The answer's size is known before it is made: one past what the client may leave
        // unread would cost it its connection, and the server its memory.
        size_t bytes = 64 + o->name.size();
        for (auto& kid : o->children)
            if (!f || f->matches(*kid.second->cls, kid.second->values)) {
                found.push_back(&kid);
                bytes += 23 + kid.first.size() + kid.second->cls->name.size() +
                         static_cast<size_t>(std::count(kid.first.begin(), kid.first.end(), '"'));
            }
        if (bytes > max_reply_)
            fail(E_LIMIT, "derivation too large for one reply: " + std::to_string(found.size()) +
                              " objects make some " + std::to_string(bytes >> 20) +
                              " MiB, and one reply holds at most " +
                              std::to_string(max_reply_ >> 20) +
                              " MiB; ask for its pages with \"paged\": true");
    }
    std::string last;
    if (subscribe) {
        HeldFilter* held = nullptr;
        if (filter) {
            candidate.filter = std::move(filter);
            held = hold_filter(session, std::move(key), std::move(candidate));
        }
        auto s = std::make_shared<Subscription>(
            Subscription{next_subscription_++, c.client, o->name, held});
        subs_[s->id] = s;
        file(*s);
        session.subscriptions.insert(s->id);
        pg.subscription = s->id;
        last = ",\"subscription\":" + std::to_string(s->id);
    }
    if (paged) {
        pg.id = c.tag.value("id", std::string("null"));
        bool done = false;
        c.text = next_page(pg, done);
        if (!done) session.pagings.push_back(std::move(pg));
        return nullptr;
    }
    c.text = objects_result(
        o->name, found.size(),
        [&](auto&& put) {
            for (auto* kid : found) put(kid->first, kid->second->cls->name);
        },
        last);
    return nullptr;
}

// The next page: the children after the resume point that existed when the derivation began
// and that its filter accepts, in name order. A child deleted meanwhile is simply not there, one
// made meanwhile is left to the subscription's OBJECT_CREATED, and as the resume point only moves
// forward no page names an object an earlier one named. A base deleted meanwhile ends the pages.
std::string Service::next_page(Paging& p, bool& done)
{
    std::vector<const std::pair<const std::string, MObject*>*> page;
    done = true;
    MObject* o = model_.find(p.base);
    if (o) {
        auto it = p.pages == 0 ? o->children.begin() : o->children.upper_bound(p.resume);
        auto looked = o->children.end();
        size_t bytes = 0, scanned = 0, budget = p.page_size * PAGE_SCAN_FACTOR;
        for (; it != o->children.end(); looked = it, ++it) {
            if (page.size() >= p.page_size || bytes >= PAGE_BYTES || scanned >= budget) {
                done = false;
                break;
            }
            scanned++;
            const MObject* kid = it->second;
            if (kid->serial > p.snapshot) continue;
            if (p.filter && !p.filter->matches(*kid->cls, kid->values)) continue;
            page.push_back(&*it);
            bytes += 23 + it->first.size() + kid->cls->name.size();
        }
        if (looked != o->children.end()) p.resume = looked->first;
    }
    p.pages++;
    p.sent += page.size();
    std::string tail = ",\"done\":" + std::string(done ? "true" : "false") +
                       ",\"of\":" + std::to_string(p.of) + ",\"page\":" + std::to_string(p.pages) +
                       ",\"sent\":" + std::to_string(p.sent);
    if (p.subscription) tail += ",\"subscription\":" + std::to_string(p.subscription);
    return objects_result(
        p.base, page.size(),
        [&](auto&& put) {
            for (auto* kid : page) put(kid->first, kid->second->cls->name);
        },
        tail);
}

bool Service::paging(int client) const
{
    auto s = sessions_.find(client);
    return s != sessions_.end() && !s->second.pagings.empty();
}

size_t Service::continue_paging(int client)
{
    auto s = sessions_.find(client);
    if (s == sessions_.end() || s->second.pagings.empty()) return 0;
    Paging& p = s->second.pagings.front();
    bool done = false;
    std::string line = result_line(p.id, next_page(p, done));
    if (done) s->second.pagings.pop_front();
    out_.send(client, line);
    return line.size() + 1;
}

// Stops a paged derivation of the client's: no page of it follows this answer (those sent
// already may still be on their way). Its subscription stays until unsubscribed.
json Service::op_cancel(Call& c)
{
    auto given = c.params.find("id");
    if (given == c.params.end() || !(given->is_number() || given->is_string()))
        fail(E_BAD_PARAMS, "parameter 'id' must be the id of a paged derive");
    std::string id = to_line(*given);
    auto& pagings = sessions_[c.client].pagings;
    bool stopped = false;
    for (auto it = pagings.begin(); it != pagings.end(); ++it)
        if (it->id == id) {
            pagings.erase(it);
            stopped = true;
            break;
        }
    return {{"id", *given}, {"stopped", stopped}};
}

// The objects below a base that a filter accepts: the base alone (depth 0), down depth levels,
// or the whole subtree (no depth). Every match is counted; the first `limit` in name order are
// named (limit 0 names none: a count alone), and `truncated` says whether the limit cut the
// answer. With `prune` an object the filter refuses hides everything below it, so that the
// search sees what deriving one level at a time with the same filter would reach.
json Service::op_search(Call& c)
{
    const json& p = c.params;
    std::string base = model_.canonical(str_param(p, "base"));
    std::string filter_text = trim(str_param(p, "filter", false)), why;
    if (filter_text.size() > MAX_FILTER_BYTES)
        fail(E_LIMIT, "filter too long: " + std::to_string(filter_text.size()) +
                          " bytes, a filter holds at most " + std::to_string(MAX_FILTER_BYTES));
    std::unique_ptr<Filter> filter;
    if (!filter_text.empty()) {
        filter = parse_filter(schema_, filter_text, why);
        if (!filter) fail(E_BAD_FILTER, "malformed filter: " + why);
    }
    bool has_depth = p.contains("depth") && !p["depth"].is_null();
    int depth = has_depth ? int_param(p, "depth", 0, std::numeric_limits<int>::max()) : -1;
    bool has_limit = p.contains("limit") && !p["limit"].is_null();
    int limit = has_limit ? int_param(p, "limit", 0, MAX_SEARCH_LIMIT) : DEFAULT_SEARCH_LIMIT;
    bool prune = bool_param(p, "prune");
    bool values = bool_param(p, "values");
    MObject* o = model_.find(base);
    if (!o || o->is_virtual) fail(E_NO_OBJECT, "no such object " + base);

    // A count alone keeps no list: a subtree of a million objects costs no memory to count.
    size_t count = 0;
    std::vector<const MObject*> found;
    auto match = [&](const MObject* m) {
        count++;
        if (limit > 0) found.push_back(m);
    };
    auto accepts = [&](const MObject& m) { return !filter || filter->matches(*m.cls, m.values); };
    if (depth == 0) {
        if (accepts(*o)) match(o);
    } else {
        // An explicit stack: the containment tree may be deeper than the call stack allows.
        std::vector<std::pair<const MObject*, int>> stack{{o, 0}};
        while (!stack.empty()) {
            auto [m, level] = stack.back();
            stack.pop_back();
            if (level > 0) {
                if (accepts(*m))
                    match(m);
                else if (prune)
                    continue;
            }
            if (depth < 0 || level < depth)
                for (auto& kid : m->children) stack.push_back({kid.second, level + 1});
        }
    }
    size_t shown = std::min(found.size(), static_cast<size_t>(limit));
    std::partial_sort(found.begin(), found.begin() + shown, found.end(),
                      [](const MObject* a, const MObject* b) { return a->name < b->name; });
    const char* truncated = count > shown ? ",\"truncated\":true" : ",\"truncated\":false";
    if (values) {
        c.text = objects_with_values(o->name, count, found.data(), shown, truncated);
        return nullptr;
    }
    c.text = objects_result(
        o->name, count,
        [&](auto&& put) {
            for (size_t i = 0; i < shown; i++) put(found[i]->name, found[i]->cls->name);
        },
        truncated);
    return nullptr;
}

// A search answer whose objects carry their attributes as get gives them. Refused, once the text
// passes what one reply may hold, rather than sent in part: the caller asks for less, or a level
// at a time.
std::string Service::objects_with_values(const std::string& base, size_t count,
                                         const MObject* const* objects, size_t n,
                                         const char* last_member) const
{
    std::string out = "{\"base\":";
    append_json_string(out, base);
    out += ",\"count\":" + std::to_string(count) + ",\"objects\":[";
    for (size_t i = 0; i < n; i++) {
        if (i) out += ',';
        out += to_line(describe(*objects[i]));
        if (out.size() > max_reply_)
            fail(E_LIMIT, "search too large for one reply with values: the first " +
                              std::to_string(i + 1) + " of " + std::to_string(n) +
                              " objects pass the " + std::to_string(max_reply_ >> 10) +
                              " KiB one reply holds; ask for fewer with \"limit\"");
    }
    out += ']';
    out += last_member;
    out += '}';
    return out;
}

json Service::op_action(Call& c)
{
    const json& p = c.params;
    if (c.audit.is_object()) {
        auto given = p.find("action");
        c.audit["action"] = given != p.end() && given->is_string() ? *given : json("");
        given = p.find("parameter");
        c.audit["parameter"] = given != p.end() && given->is_string() ? *given : json("");
    }
    MObject& o = model_.resolve(str_param(p, "name"));
    if (c.audit.is_object()) c.audit["object"] = o.name;
    std::string an = trim(str_param(p, "action"));
    std::string param = str_param(p, "parameter", false);
    const ActionDef* a = o.cls->action(an);
    if (!a) fail(E_NO_ACTION, "class " + o.cls->name + " has no action '" + an + "'");
    switch (a->kind) {
    case ActionDef::GET_OBJECT_CLASS: {
        const ClassDef* described = schema_.cls(trim(param));
        if (!described) fail(E_NO_CLASS, "no such class '" + trim(param) + "'");
        return {{"reply", schema_.describe(*described)}};
    }
    case ActionDef::RESET: {
        ValueList defaults;
        for (auto& ca : o.cls->attrs)
            if (!ca.attr->read_only && ca.attr != o.cls->naming)
                defaults.emplace_back(ca.attr->name, ca.def);
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
        c.deferred = true;
        // The entry goes with the tag: the line is written when the program's answer is in.
        if (c.audit.is_object()) c.tag["audit"] = c.audit;
        runner_->run(c.client, c.tag, *a, {o.name, an, param});
        return nullptr;
    }
    fail(E_NO_ACTION, "no such action " + an);
}

void Service::finish_action(int client, const json& tag, bool ok, const std::string& text)
{
    // The action ran, whether or not its client is still there to hear of it.
    if (audit_ && tag.is_object() && tag.contains("audit"))
        write_audit(tag["audit"], ok ? 0 : E_ACTION_FAILED, text);
    if (!connected(client) || !tag.is_object() || !tag.contains("id")) return;
    if (!ok) log_line("client %d: action failed: %s", client, excerpt(text).c_str());
    // The tag carries the request's id; for a request of a batch also the batch and the slot.
    std::string id = tag.value("id", std::string("null"));
    std::string reply =
        ok ? result_line(id, {{"reply", text}}) : error_line(id, E_ACTION_FAILED, text);
    if (!tag.contains("batch")) return out_.send(client, reply);
    fill_slot(tag.value("batch", 0LL), tag.value("slot", size_t(0)), std::move(reply));
}

// ---------------------------------------------------------------- logins

bool Service::require_logins(const UserFile& users, std::string& why)
{
    checks_ = std::make_unique<PasswordChecks>();
    if (checks_->fd() < 0) {
        why = checks_->why();
        checks_.reset();
        return false;
    }
    users_ = &users;
    return true;
}

// Refuses a request its session may not make: anything but a login before one, and a method
// above the user's role after it. Nothing of a refused request is carried out.
void Service::check_role(const Session& s, const std::string& method, Role needed) const
{
    if (!s.user) {
        if (method != "login") fail(E_AUTH_REQUIRED, "authentication required: log in first");
        return;
    }
    if (needed > s.user->role)
        fail(E_ACCESS, "user " + s.user->name + " (" + role_name(s.user->role) + ") may not " +
                           method + ": it needs the " + role_name(needed) + " role");
}

// The password is checked on the checks' thread, after the wait that earlier failures of the
// user or the address earn; finish_logins answers. An unknown user is checked against a decoy,
// so the answer takes as long and says the same as for a wrong password.
json Service::op_login(Call& c)
{
    Session& s = sessions_[c.client];
    if (!users_) fail(E_LOGIN_FAILED, "this server has no users: no login is needed");
    if (c.tag.contains("batch")) fail(E_INVALID_REQUEST, "login must be a request of its own");
    // A notification has no id to answer: whether it succeeded could never be told.
    if (!c.tag.is_object()) fail(E_INVALID_REQUEST, "login needs an id");
    if (s.user) fail(E_INVALID_REQUEST, "already logged in as " + s.user->name);
    if (s.login_checking) fail(E_INVALID_REQUEST, "a login of this connection is being checked");
    std::string user = str_param(c.params, "user");
    std::string password = str_param(c.params, "password");
    const User* known = users_->find(user);
    auto now = PasswordChecks::Clock::now();
    uint64_t ticket = next_login_++;
    bool queued = checks_->submit(ticket, known ? known->hash : "", password,
                                  now + throttle_.delay(user, s.address, now));
    wipe(password);
    if (!queued) fail(E_LIMIT, "too many logins are being checked; try again later");
    logins_[ticket] = {c.client, c.tag, user};
    s.login_checking = true;
    c.deferred = true;
    return json();
}

void Service::finish_logins()
{
    if (!checks_) return;
    for (const PasswordChecks::Result& r : checks_->take()) {
        auto p = logins_.find(r.ticket);
        if (p == logins_.end()) continue;
        PendingLogin login = std::move(p->second);
        logins_.erase(p);
        auto s = sessions_.find(login.client);
        if (s == sessions_.end()) continue;
        s->second.login_checking = false;
        std::string id = login.tag.value("id", std::string("null"));
        const std::string& from = s->second.address;
        const User* u = r.ok ? users_->find(login.user) : nullptr;
        if (!u) {
            throttle_.failed(login.user, from, PasswordChecks::Clock::now());
            log_line("client %d: login as '%s' from %s refused", login.client,
                     excerpt(login.user).c_str(), from.c_str());
            out_.send(login.client,
                      error_line(id, E_LOGIN_FAILED, "login failed: unknown user or wrong password"));
            continue;
        }
        throttle_.succeeded(login.user, from);
        s->second.user = u;
        log_line("client %d: logged in as %s (%s) from %s", login.client, u->name.c_str(),
                 role_name(u->role), from.c_str());
        out_.send(login.client, result_line(id, json{{"user", u->name}, {"role", role_name(u->role)}}));
    }
}

// ---------------------------------------------------------------- notifications

void Service::event_to(int client, const json& params)
{
    out_.send(client, to_line({{"jsonrpc", "2.0"}, {"method", "event"}, {"params", params}}));
}

void Service::raw_event(const std::string& event, const std::string& name)
{
    if (sessions_.empty()) return;
    std::string line = to_line({{"jsonrpc", "2.0"},
                                {"method", "rawEvent"},
                                {"params", {{"event", event}, {"name", name}}}});
    for (auto& [c, s] : sessions_) out_.send(c, line);
}

// The subscriptions on o's parent that an event about o may concern, each once, in the order
// they were made. For a creation or a deletion (changed null): those without a filter, those
// filed under an equality term that one of the values names, and those whose filter has no
// such terms. For a change of the attributes at the positions `changed` from `before` to
// `values`: those filed under a term that the new values or the old values of the changed
// attributes name, and those without terms that name a changed attribute -- in both cases only
// filters that name a changed attribute, for no other can change its answer. Subscriptions
// without a filter see no change.
std::vector<Service::Subscription*> Service::concerned(const MObject& o,
                                                       const std::vector<std::string>& values,
                                                       const std::vector<std::string>* before,
                                                       const std::vector<size_t>* changed)
{
    std::vector<Subscription*> out;
    if (!o.parent) return out;
    auto r = routes_.find(o.parent->name);
    if (r == routes_.end()) return out;
    const Routes& routes = r->second;
    unsigned long long pass = ++routing_pass_;
    auto names_changed = [&](const Subscription* s) {
        if (!changed) return true;
        for (size_t i : *changed)
            if (std::find(s->filter->attrs.begin(), s->filter->attrs.end(),
                          o.cls->attrs[i].attr) != s->filter->attrs.end())
                return true;
        return false;
    };
    auto take = [&](const std::vector<Subscription*>& v, bool check) {
        for (Subscription* s : v)
            if (s->seen != pass) {
                s->seen = pass;
                if (!check || names_changed(s)) out.push_back(s);
            }
    };
    auto by_term = [&](const AttributeDef* a, const std::string& value) {
        auto v = routes.by_term.find(term_hash(a, value));
        if (v != routes.by_term.end()) take(v->second, true);
    };
    auto terms_of = [&](size_t i, const std::vector<std::string>& vals) {
        const AttributeDef* a = o.cls->attrs[i].attr;
        if (is_class_test(a)) {
            for (const ClassDef* k = o.cls; k; k = k->super) by_term(a, k->name);
        } else if (i < vals.size()) {
            by_term(a, vals[i]);
        }
    };
    if (!changed) take(routes.every, false);
    for (size_t i = 0; i < o.cls->attrs.size(); ++i) terms_of(i, values);
    if (changed) {
        for (size_t i : *changed) {
            terms_of(i, *before);
            auto v = routes.by_attr.find(o.cls->attrs[i].attr);
            if (v != routes.by_attr.end()) take(v->second, false);
        }
    } else {
        for (auto& [a, v] : routes.by_attr) take(v, false);
    }
    std::sort(out.begin(), out.end(),
              [](const Subscription* a, const Subscription* b) { return a->id < b->id; });
    return out;
}

// OBJECT_CREATED or OBJECT_DESTROYED to the subscriptions on o's parent whose filter accepts
// o (with the given values, or o's own).
void Service::membership(const MObject& o, const std::string& event,
                         const std::vector<std::string>* values)
{
    const auto& v = values ? *values : o.values;
    for (Subscription* s : concerned(o, v, nullptr, nullptr))
        if (!s->filter || s->filter->filter->matches(*o.cls, v))
            event_to(s->client, {{"event", event},
                                 {"subscription", s->id},
                                 {"name", o.name},
                                 {"class", o.cls->name}});
}

std::vector<size_t> Service::change(MObject& o, const ValueList& values, bool enforce_access)
{
    std::vector<std::string> before;
    auto changed = model_.set(o, values, enforce_access, &before);
    if (changed.empty()) return changed;
    auto w = watchers_.find(o.name);
    for (size_t i : changed) {
        if (w != watchers_.end())
            for (int c : w->second)
                event_to(c, {{"event", "ATTR_CHANGED"},
                             {"name", o.name},
                             {"attribute", o.cls->attrs[i].attr->name},
                             {"value", o.values[i]}});
        raw_event("ATTR_CHANGED", o.name);
    }
    // A filtered subscription sees the object enter or leave its set.
    for (Subscription* s : concerned(o, o.values, &before, &changed)) {
        const Filter& f = *s->filter->filter;
        bool was = f.matches(*o.cls, before), is = f.matches(*o.cls, o.values);
        if (was == is) continue;
        const char* ev = is ? "OBJECT_CREATED" : "OBJECT_DESTROYED";
        // Nothing was created or destroyed: the raw ATTR_CHANGED above already told every
        // client what happened; only this subscriber's view changes.
        event_to(s->client, {{"event", ev},
                             {"subscription", s->id},
                             {"name", o.name},
                             {"class", o.cls->name}});
    }
    return changed;
}

MObject& Service::create(MObject& parent, const ClassDef& c, const ValueList& values)
{
    MObject& o = model_.create(parent, c, values);
    membership(o, "OBJECT_CREATED", nullptr);
    raw_event("OBJECT_CREATED", o.name);
    return o;
}

size_t Service::remove(MObject& o, std::vector<std::string>* names)
{
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

} // namespace mis
