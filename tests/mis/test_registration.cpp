// A client whose connection epoll refuses to watch is dropped with the reason, and the server
// goes on serving the others. epoll_ctl is wrapped at link time (-Wl,--wrap=epoll_ctl) so that
// it fails, as it may for want of kernel memory, for the first client alone.
#include <gtest/gtest.h>
#include <sys/epoll.h>

#include "mis_process.h"
#include "server.h"
#include "store.h"

extern "C" int __real_epoll_ctl(int epfd, int op, int fd, epoll_event* ev);

// The tags of clients have 3 in their top byte and the client's number below.
extern "C" int __wrap_epoll_ctl(int epfd, int op, int fd, epoll_event* ev)
{
    if (op == EPOLL_CTL_ADD && ev && ev->data.u64 == ((3ull << 56) | 1)) {
        errno = ENOMEM;
        return -1;
    }
    return __real_epoll_ctl(epfd, op, fd, ev);
}

namespace {

TEST(Registration, AClientEpollCannotWatchIsDroppedAndOthersAreServed)
{
    qxtest::TempDir dir;
    const std::string log_path = dir.path + "/qx_mis.log";
    int ports[2];
    ASSERT_EQ(pipe(ports), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::string err;
        auto schema = mis::Schema::load(QX_SAMPLE_DIR "/schema.txt", err);
        auto store = mis::make_memory_store();
        if (!schema || !qxtest::log_to(log_path)) _exit(2);
        mis::Model model(*schema, *store);
        mis::Server server(model);
        bool up =
            model.open(QX_SAMPLE_DIR "/network.txt", err) && server.listen("127.0.0.1", 0, err);
        int port = up ? server.port() : -1;
        if (write(ports[1], &port, sizeof port) != sizeof port || !up) _exit(3);
        _exit(server.run());
    }
    close(ports[1]);
    int port = -1;
    ASSERT_EQ(read(ports[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));
    close(ports[0]);
    ASSERT_GT(port, 0) << qxtest::read_file(log_path);
    {
        qxtest::Client first(port), second(port);
        EXPECT_TRUE(first.next().is_null() && first.closed()); // closed without a word
        EXPECT_EQ(second.result("hello")["server"], "qx_mis");
    }
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string log = qxtest::read_file(log_path);
    EXPECT_NE(log.find("client 1 (127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("cannot watch its connection: epoll_ctl: Cannot allocate memory; "
                       "dropping it"),
              std::string::npos)
        << log;
}

} // namespace
