// Public within qx_mis: the request handler. It reads JSON-RPC lines of clients, carries out
// the management operations on the model, and routes replies and notifications to clients
// through an Outbox. It knows nothing of sockets, so tests and fuzzers drive it directly.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "filter.h"
#include "model.h"

namespace mis {

// Where replies and notifications go: one complete line (without the newline) per call.
class Outbox {
public:
    virtual ~Outbox() = default;
    virtual void send(int client, const std::string& line) = 0;
};

// Runs actions carried out by external programs. The runner later calls
// Service::finish_action with the same client and request id.
class ActionRunner {
public:
    virtual ~ActionRunner() = default;
    virtual void run(int client, const nlohmann::json& id, const ActionDef& action,
                     const std::vector<std::string>& args) = 0;
};

// How deeply one request line may nest arrays and objects; the request object itself is the
// first level. The JSON library copies, prints and frees values by recursion, so a line within
// the size limit nested ~100,000 deep would run the server out of stack. No request of this
// protocol needs more than five levels (a batch holding a set with its values).
constexpr int MAX_JSON_DEPTH = 64;

class Service {
public:
    Service(Model& model, Outbox& out, ActionRunner* runner = nullptr);

    void connect(int client);
    void disconnect(int client);  // drops its subscriptions and watches
    bool connected(int client) const { return sessions_.count(client) != 0; }
    size_t clients() const { return sessions_.size(); }

    // One request line; replies (and the notifications it causes, first) go to the outbox.
    void handle_line(int client, const std::string& line);

    // The end of an external action started through the runner.
    void finish_action(int client, const nlohmann::json& id, bool ok, const std::string& text);

    // Changes made by the network itself (the simulation): the same notifications as a
    // client's requests cause.
    std::vector<size_t> change(MObject& o, const ValueList& values, bool enforce_access);
    MObject& create(MObject& parent, const ClassDef& c, const ValueList& values);
    size_t remove(MObject& o, std::vector<std::string>* names = nullptr);
    void raw_event(const std::string& event, const std::string& name);

    Model& model() { return model_; }

private:
    struct Subscription {
        int id;
        int client;
        std::string base;
        std::shared_ptr<Filter> filter;  // null: every child
    };
    struct Session {
        std::string client_name, host;
        std::set<int> subscriptions;
        std::set<std::string> watches;
    };

    Model& model_;
    const Schema& schema_;
    Outbox& out_;
    ActionRunner* runner_;
    std::map<int, Session> sessions_;
    std::unordered_map<std::string, std::vector<std::shared_ptr<Subscription>>> subs_by_base_;
    std::map<int, std::shared_ptr<Subscription>> subs_;
    std::unordered_map<std::string, std::set<int>> watchers_;
    int next_subscription_ = 1;

    void refuse_deep(int client, const std::string& line);
    nlohmann::json dispatch(int client, const std::string& method, const nlohmann::json& params,
                            const nlohmann::json& id, bool& deferred);
    nlohmann::json describe(const MObject& o) const;
    nlohmann::json describe_blank(const ClassDef& c) const;
    nlohmann::json derive(int client, const nlohmann::json& p);
    nlohmann::json action(int client, const nlohmann::json& p, const nlohmann::json& id, bool& deferred);

    void event_to(int client, const nlohmann::json& params);
    void membership(const MObject& o, const std::string& event, const std::vector<std::string>* values);
};

// Serialises one JSON value as a protocol line; text that is not UTF-8 is replaced, never thrown.
std::string to_line(const nlohmann::json& j);

}  // namespace mis
