// libFuzzer target: request lines into the JSON-RPC service, over the sample network in a
// memory store, through Service::handle_line, the entry point the server calls for each line.
// Whatever arrives, the service must answer without crashing or leaking.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "log.h"
#include "model.h"
#include "service.h"

namespace {

struct CountingOutbox : mis::Outbox {
    size_t lines = 0;
    void send(int, const std::string&) override { ++lines; }
    void send_part(int, const std::string&, bool last) override { lines += last; }
};

// Action programs: the first of each input ends at once, inside run (as one that cannot start
// does); the others end after the line that started them, one in three failing.
struct Runner : mis::ActionRunner {
    mis::Service* service = nullptr;
    std::vector<std::pair<int, nlohmann::json>> running;
    size_t started = 0;
    void run(int client, const nlohmann::json& tag, const mis::ActionDef&,
             const std::vector<std::string>&) override
    {
        if (started++ == 0) return service->finish_action(client, tag, false, "cannot start");
        running.emplace_back(client, tag);
    }
    void finish()
    {
        auto done = std::move(running);
        running.clear();
        for (size_t i = 0; i < done.size(); ++i)
            service->finish_action(done[i].first, done[i].second, i % 3 != 2, "report");
    }
};

struct World {
    std::unique_ptr<mis::Schema> schema;
    std::unique_ptr<mis::Store> store;
    std::unique_ptr<mis::Model> model;
    CountingOutbox out;
    Runner runner;
    std::unique_ptr<mis::Service> service;
    int runs = 0;

    void reset()
    {
        std::string err;
        if (!schema) schema = mis::Schema::load(QX_SAMPLE_DIR "/schema.txt", err);
        if (!schema) __builtin_trap();
        service.reset();
        model.reset();
        store = mis::make_memory_store();
        model = std::make_unique<mis::Model>(*schema, *store);
        if (!model->open(QX_SAMPLE_DIR "/network.txt", err)) __builtin_trap();
        service = std::make_unique<mis::Service>(*model, out, &runner);
        runner.service = service.get();
        runner.running.clear();
        service->connect(1);
        service->connect(2);
    }
};

// Built in place: the service keeps pointers to the world's outbox and runner.
World& world()
{
    static World w;
    static bool ready = [] {
        mis::log_enabled = false;
        w.reset();
        return true;
    }();
    (void)ready;
    return w;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    World& w = world();
    // Deletions wear the network down; start afresh now and then.
    if (++w.runs % 2000 == 0 || w.model->size() < 200) w.reset();
    std::string text(reinterpret_cast<const char*>(data), size);
    size_t start = 0;
    int client = 1;
    while (start <= text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        w.service->handle_line(client, text.substr(start, nl - start));
        // The requests of a batch, as the server's turns carry them out; actions end midway.
        for (int step = 0; w.service->batch_running(client); ++step) {
            w.service->continue_batch(client);
            if (step % 5 == 4) w.runner.finish();
        }
        w.runner.finish();
        client = 3 - client;
        start = nl + 1;
    }
    // A client leaving drops its subscriptions and watches; it comes back for the next input.
    w.runner.started = 0;
    w.service->disconnect(2);
    w.service->connect(2);
    return 0;
}
