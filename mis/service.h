// Public within qx_mis: the request handler. It reads JSON-RPC lines of clients, carries out
// the management operations on the model, and routes replies and notifications to clients
// through an Outbox. It knows nothing of sockets, so tests and fuzzers drive it directly.
#pragma once
#include <functional>
#include <deque>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "audit.h"
#include "filter.h"
#include "model.h"
#include "password_checks.h"
#include "users.h"

namespace mis {

// Where replies and notifications go. A line is handed over whole (send), or, the answer of a
// large batch, in pieces (send_part). While a line is handed over in pieces, the whole lines
// sent for the same client meanwhile go out after it, so that nothing cuts into it.
class Outbox {
public:
    virtual ~Outbox() = default;
    // One complete line, without the newline.
    virtual void send(int client, const std::string& line) = 0;
    // The next piece of a line; the first piece begins it, the one marked last ends it (the
    // newline follows). A client has at most one line in pieces at a time.
    virtual void send_part(int client, const std::string& text, bool last) = 0;
};

// Runs actions carried out by external programs. The runner later calls
// Service::finish_action with the same client and tag, and may do so before run returns (a
// program that cannot start). The tag is an object of the service's own: it carries the text
// of the request's id and, for a request inside a batch, the batch and the place of its answer.
class ActionRunner {
public:
    virtual ~ActionRunner() = default;
    virtual void run(int client, const nlohmann::json& tag, const ActionDef& action,
                     const std::vector<std::string>& args) = 0;
};

// Limits on what one client may ask of the service. A request past one is refused with an
// error naming the limit (docs/protocol.md); the client stays connected.

// How deeply one request line may nest arrays and objects; the request object itself is the
// first level. The JSON library copies, prints and frees values by recursion, so a line within
// the size limit nested ~100,000 deep would run the server out of stack. No request of this
// protocol needs more than five levels (a batch holding a set with its values).
constexpr int MAX_JSON_DEPTH = 64;

// Requests in one batch. They are carried out one at a time, in the client's turns like lines
// of their own, and their answers form one line, the array, handed on as it grows.
constexpr size_t MAX_BATCH = 1000;

// Bytes of a batch's answers the service holds before it begins the line on the outbox. A batch
// whose answers stay below it is sent as one whole line, after the notifications its requests
// caused; a larger one goes out in pieces and its requests are carried out only as fast as the
// client reads. The server sets it to its own turn threshold.
constexpr size_t BATCH_HOLD = 1 << 20;

// Answers of action programs one batch waits for at once; its next request waits until one is
// in. Those answers may come in any order, and those after one still missing are held until it
// comes: at most this many action outputs.
constexpr size_t MAX_BATCH_ACTIONS = 8;

// Subscriptions one client holds at once. An editor subscribes to every object it derives, and
// it derives every object another client creates beneath an open one, so it holds one for each
// object it has opened or seen created. A subscription without its filter takes some 300 bytes,
// and as much again for each equality term it is filed under (at most MAX_FILTER_ANCHORS).
constexpr size_t MAX_SUBSCRIPTIONS = 100000;

// Different filters one client's subscriptions hold at once. Subscriptions whose filters reduce
// to the same one (parse_filter) share one parsed filter, whichever clients hold them.
constexpr size_t MAX_SUBSCRIPTION_FILTERS = 1000;

// Bytes of one filter's text. 100 subscriptions with 600 KB filters took 354 MB and made each
// set beneath them 90 times slower; a filter a person writes is a few hundred bytes.
constexpr size_t MAX_FILTER_BYTES = 16 * 1024;

// Bytes the parsed filters of subscriptions may take (filter_cost, with their keys): those one
// client holds, and those of all clients together, each shared filter counted once. A parsed
// filter takes some 150 bytes a term, 7 times its text when no term repeats, and 20 clients with
// 1000 such filters of 16 KiB each took 2.23 GB before these limits. The bytes also bound the
// work of routing an event: a write evaluates at most every filter held on its object's parent,
// twice, and evaluating a filter touches no more than its bytes: 32 MiB are some 220,000 terms,
// which a set of a value they all name evaluates in some 20 ms.
constexpr size_t MAX_CLIENT_FILTER_MEMORY = 8u << 20;
constexpr size_t MAX_FILTER_MEMORY = 32u << 20;

// Equality terms a subscription's filter is filed under, so that an event reaches only the
// subscriptions whose terms name a value of its object (anchor_terms); a filter with more, or
// with none, is evaluated for every event on its base that concerns an attribute it names.
constexpr size_t MAX_FILTER_ANCHORS = 8;

// Matches one search answers with at most, and without a limit of its own: 100,000 names make a
// reply of some 10 MB, well within a client's unread-output limit.
constexpr int MAX_SEARCH_LIMIT = 100000;
constexpr int DEFAULT_SEARCH_LIMIT = 1000;

// Paged derivations (derive with "paged": true). A page names at most its page size of objects
// (PAGE_SIZE unless the request asks for fewer or more, up to MAX_PAGE_SIZE) and stops early once
// its text passes PAGE_BYTES, so no line grows with the container. A client holds at most
// MAX_PAGINGS derivations in progress; the next is refused (-32014).
constexpr int PAGE_SIZE = 1000;
constexpr int MAX_PAGE_SIZE = 10000;
constexpr size_t PAGE_BYTES = 256 * 1024;
constexpr size_t MAX_PAGINGS = 16;
// Children a page looks at, at most, for each object it may name: with a filter that refuses
// most of them a page may come out short, or empty, rather than take a whole container's scan.
constexpr size_t PAGE_SCAN_FACTOR = 16;

// The bytes of a derive answer given whole (without "paged"): the server sets it to what one
// client may leave unread. A larger answer is refused (-32014) with a pointer to the pages.
constexpr size_t MAX_REPLY = (64u << 20) - (1u << 20);

class Service {
public:
    Service(Model& model, Outbox& out, ActionRunner* runner = nullptr,
            size_t batch_hold = BATCH_HOLD);

    // A new client, connected from address (host:port, for the log and the slowing of logins).
    void connect(int client, const std::string& address = "");
    void disconnect(int client); // drops its subscriptions, watches and waiting batches
    bool connected(int client) const { return sessions_.count(client) != 0; }
    size_t clients() const { return sessions_.size(); }

    // One request line, a request object or a batch of them; replies (and the notifications
    // they cause, first) go to the outbox. A batch is only begun: continue_batch carries out its
    // requests. Each answer carries the request's id as the client wrote it.
    void handle_line(int client, const std::string& line);

    // Whether the client's last batch has requests not yet carried out; while it has, the
    // client's next line waits (one sent all the same finishes the batch first, at once).
    bool batch_running(int client) const;
    // Whether its next request may be carried out now: the batch holds less than the hold of
    // answers it cannot hand on yet, and waits for fewer than MAX_BATCH_ACTIONS actions. When
    // not, it becomes ready again once the outbox takes its answers or an action's answer is in.
    bool batch_ready(int client) const;
    // Carries out the next request of the client's running batch (ready or not).
    void continue_batch(int client);

    // From now on every client must log in (method login) as one of users before anything
    // else, and may then call only the methods its role allows. users must outlive the
    // service. False, with why, when the password checks cannot start.
    bool require_logins(const UserFile& users, std::string& why);
    // Readable when password checks have finished (-1 without users); finish_logins then
    // answers their logins.
    int login_fd() const { return checks_ ? checks_->fd() : -1; }
    void finish_logins();

    // Whether the client has a paged derivation with pages still to send. Its pages are made
    // one for each call of continue_paging, which the server makes only while the client's
    // unsent output is under its turn threshold: pages go as fast as the client reads. Lines
    // of the client are served meanwhile (a cancel among them).
    bool paging(int client) const;
    // Sends the next page of the client's oldest paged derivation; returns its bytes.
    size_t continue_paging(int client);
    // The largest derive answer sent whole (MAX_REPLY by default).
    void set_max_reply(size_t bytes) { max_reply_ = bytes; }

    // From now on every write (set, create, delete, action), carried out or refused, is
    // appended to trail before its reply is handed to the outbox; while the trail cannot be
    // written, writes are refused. trail must outlive the service; null: no trail.
    void set_audit(AuditTrail* trail) { audit_ = trail; }

    // The end of an external action started through the runner, with the runner's tag.
    void finish_action(int client, const nlohmann::json& tag, bool ok, const std::string& text);

    // Changes made by the network itself (the simulation): the same notifications as a
    // client's requests cause.
    std::vector<size_t> change(MObject& o, const ValueList& values, bool enforce_access);
    MObject& create(MObject& parent, const ClassDef& c, const ValueList& values);
    size_t remove(MObject& o, std::vector<std::string>* names = nullptr);
    void raw_event(const std::string& event, const std::string& name);

    Model& model() { return model_; }

    // The limits on the bytes of parsed filters (MAX_CLIENT_FILTER_MEMORY, MAX_FILTER_MEMORY),
    // and the bytes all subscriptions' filters take now.
    void set_filter_memory(size_t per_client, size_t total);
    size_t filter_memory() const { return filter_bytes_; }

private:
    // A parsed filter held by subscriptions: one for each reduced filter (filter_key), shared by
    // every subscription with that filter, whichever client holds it.
    struct HeldFilter {
        const std::string* key = nullptr; // the key it is filed under in held_
        std::unique_ptr<Filter> filter;
        std::vector<const Filter*> anchors;     // empty: no anchor_terms within the limit
        std::vector<const AttributeDef*> attrs; // filter_attributes
        size_t bytes = 0;                       // what holding it takes
        size_t holders = 0;                     // subscriptions holding it
    };
    struct Subscription {
        int id;
        int client;
        std::string base;
        HeldFilter* filter = nullptr; // null: every child
        unsigned long long seen = 0;  // the last routing pass that picked it
        bool gone = false;            // being dropped
    };
    // The subscriptions on one base, filed so that an event about one of its children looks at
    // those that may concern it and at no others.
    struct Routes {
        std::vector<Subscription*> every; // without a filter
        // Filters with anchor terms, under the hash of each term's attribute and value.
        std::unordered_map<size_t, std::vector<Subscription*>> by_term;
        // Filters without, under each attribute they name.
        std::unordered_map<const AttributeDef*, std::vector<Subscription*>> by_attr;
    };
    // A paged derivation in progress: where the next page resumes, not a copy of the set, so
    // that it holds a few hundred bytes whatever the container's size.
    struct Paging {
        std::string id;                 // the request's id, as the client wrote it
        std::string base;               // canonical name of the base object
        std::unique_ptr<Filter> filter; // null: every child
        std::string resume;             // the last child looked at; the next page begins after it
        unsigned long long snapshot = 0; // children made later (larger serial) are not listed
        size_t page_size = PAGE_SIZE, of = 0, sent = 0, pages = 0;
        long subscription = 0;
    };
    struct Session {
        std::deque<Paging> pagings; // its paged derivations, the oldest first
        std::string client_name, host;
        std::string address;         // where it connected from
        const User* user = nullptr;  // logged in as; null before a login (or without users)
        bool login_checking = false; // its login's password is being checked
        long long running = 0; // its batch with requests still to carry out, or 0
        long long line = 0;    // its batch whose line the outbox has in part, or 0
        std::set<int> subscriptions;
        // The filters its subscriptions hold, with how many of them hold each; and their bytes.
        std::unordered_map<const HeldFilter*, size_t> filters;
        size_t filter_bytes = 0;
        std::set<std::string> watches;
    };

    Model& model_;
    const Schema& schema_;
    Outbox& out_;
    ActionRunner* runner_;
    std::map<int, Session> sessions_;
    std::unordered_map<std::string, Routes> routes_; // by base
    std::map<int, std::shared_ptr<Subscription>> subs_;
    std::unordered_map<std::string, HeldFilter> held_; // by filter_key
    size_t filter_bytes_ = 0, max_client_filter_bytes_ = MAX_CLIENT_FILTER_MEMORY,
           max_filter_bytes_ = MAX_FILTER_MEMORY;
    unsigned long long routing_pass_ = 0;
    std::unordered_map<std::string, std::set<int>> watchers_;
    int next_subscription_ = 1;

    // A batch whose answers are not all sent yet. Each answer has a slot, numbered in the order
    // of the requests; an answer is text from the moment it is made.
    struct Batch {
        int client = 0;
        nlohmann::json requests;      // those not carried out yet (the others are null)
        std::vector<std::string> ids; // the text of each request's id, "" when it has none
        size_t total = 0, next = 0;   // requests, and the next one to carry out
        size_t slots = 0;             // slots given out so far
        size_t in_order = 0;          // the slots before it are in `text` or sent
        size_t answered = 0;          // answers put into the array so far
        std::set<size_t> waiting;     // slots of actions whose answer is still to come
        std::map<size_t, std::string> later; // answers after a slot still waiting
        size_t later_bytes = 0;
        std::string text;    // the array's next part, not yet handed to the outbox
        bool opened = false; // the outbox has the array's first part
    };
    std::map<long long, Batch> batches_;
    long long next_batch_ = 1;
    size_t batch_hold_;
    size_t max_reply_ = MAX_REPLY;

    // The result of p's next page; done once the set is through.
    std::string next_page(Paging& p, bool& done);

    // One request being carried out by its method's handler.
    struct Call {
        int client;
        const nlohmann::json& params;
        nlohmann::json tag;    // what the action runner is handed: the id, or a batch slot
        bool deferred = false; // set by the handler: the reply comes through finish_action
        // Set by a handler whose answer may be large (derive, search): the result written as
        // JSON text, exactly as the library would print it, in place of the value returned.
        // Printing a tree of 20,000 names costs some 30 times writing their text.
        std::string text;
        // For a write with an audit trail: its entry (an object), which the handler completes
        // with the object's canonical name and the values it reads and writes; null otherwise.
        nlohmann::json& audit;
    };
    using Handler = nlohmann::json (Service::*)(Call&);
    // A method: what carries it out, the least role that may call it on a server with
    // users, and whether it writes (and so goes into the audit trail).
    struct Method {
        Handler handler;
        Role role;
        bool writes = false;
    };
    static const std::unordered_map<std::string, Method> METHODS;

    // Logins (login.cpp).
    struct PendingLogin {
        int client;
        nlohmann::json tag;
        std::string user;
    };
    const UserFile* users_ = nullptr;
    std::unique_ptr<PasswordChecks> checks_;
    LoginThrottle throttle_;
    std::map<uint64_t, PendingLogin> logins_; // by ticket
    uint64_t next_login_ = 1;
    nlohmann::json op_login(Call& c);
    void check_role(const Session& s, const std::string& method, Role needed) const;

    AuditTrail* audit_ = nullptr;
    void write_audit(nlohmann::json entry, int code, const std::string& message);

    void refuse_deep(int client, const std::string& line);
    std::string execute(int client, const nlohmann::json& req, const std::string& raw_id,
                        const nlohmann::json* tag);
    void begin_batch(int client, nlohmann::json requests, std::vector<std::string> ids);
    void fill_slot(long long batch, size_t slot, std::string answer);
    void place(Batch& b, size_t slot, std::string answer);
    void settle(long long batch);

    nlohmann::json op_hello(Call& c);
    nlohmann::json op_get(Call& c);
    nlohmann::json op_derive(Call& c);
    nlohmann::json op_cancel(Call& c);
    void check_filter_room(const Session& session, const std::string& key, size_t bytes) const;
    HeldFilter* hold_filter(Session& session, std::string key, HeldFilter candidate);
    void file(Subscription& s);
    void drop_subscriptions(const std::vector<int>& ids);
    std::vector<Subscription*> concerned(const MObject& o, const std::vector<std::string>& values,
                                         const std::vector<std::string>* before,
                                         const std::vector<size_t>* changed);
    nlohmann::json op_unsubscribe(Call& c);
    nlohmann::json op_watch(Call& c);
    nlohmann::json op_unwatch(Call& c);
    nlohmann::json op_validate(Call& c);
    nlohmann::json op_set(Call& c);
    nlohmann::json op_blank(Call& c);
    nlohmann::json op_create(Call& c);
    nlohmann::json op_delete(Call& c);
    nlohmann::json op_action(Call& c);
    nlohmann::json op_syntax(Call& c);
    nlohmann::json op_search(Call& c);

    void check_class(const MObject& o, const std::string& cls) const;
    nlohmann::json describe(const MObject& o) const;
    nlohmann::json describe_blank(const ClassDef& c) const;
    std::string objects_with_values(const std::string& base, size_t count,
                                    const MObject* const* objects, size_t n,
                                    const char* last_member) const;

    void event_to(int client, const nlohmann::json& params);
    void membership(const MObject& o, const std::string& event,
                    const std::vector<std::string>* values);
};

// Serialises one JSON value as a protocol line; text that is not UTF-8 is replaced, never thrown.
std::string to_line(const nlohmann::json& j);

} // namespace mis
