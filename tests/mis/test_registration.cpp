// A client whose connection epoll refuses to watch is dropped with the reason, and the server
// goes on serving the others. epoll_ctl is wrapped at link time (-Wl,--wrap=epoll_ctl) so that
// it fails, as it may for want of kernel memory, for the first client alone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "log.h"
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

int connect_to(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        close(fd);
        return -1;
    }
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

// Everything the peer sends until it closes or a newline, whichever comes first.
std::string read_line(int fd)
{
    std::string got;
    char ch;
    while (recv(fd, &ch, 1, 0) == 1 && ch != '\n') got += ch;
    return got;
}

TEST(Registration, AClientEpollCannotWatchIsDroppedAndOthersAreServed)
{
    int ports[2], logs[2];
    ASSERT_EQ(pipe(ports), 0);
    ASSERT_EQ(pipe(logs), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(logs[1], 2);
        std::string err;
        auto schema = mis::Schema::load(QX_SAMPLE_DIR "/schema.txt", err);
        auto store = mis::make_memory_store();
        if (!schema) _exit(2);
        mis::Model model(*schema, *store);
        mis::Server server(model);
        if (!model.open(QX_SAMPLE_DIR "/network.txt", err) || !server.listen("127.0.0.1", 0, err))
            _exit(3);
        int port = server.port();
        if (write(ports[1], &port, sizeof port) != sizeof port) _exit(4);
        _exit(server.run());
    }
    close(ports[1]);
    close(logs[1]);
    int port = 0;
    ASSERT_EQ(read(ports[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));

    int first = connect_to(port);
    ASSERT_GE(first, 0);
    EXPECT_EQ(read_line(first), ""); // closed without a word
    int second = connect_to(port);
    ASSERT_GE(second, 0);
    std::string hello = R"({"jsonrpc":"2.0","id":7,"method":"hello","params":{}})" "\n";
    ASSERT_EQ(send(second, hello.data(), hello.size(), 0), static_cast<ssize_t>(hello.size()));
    EXPECT_NE(read_line(second).find(R"("id":7)"), std::string::npos);
    close(first);
    close(second);

    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    std::string log;
    char buf[4096];
    for (ssize_t r; (r = read(logs[0], buf, sizeof buf)) > 0;) log.append(buf, r);
    close(logs[0]);
    close(ports[0]);
    EXPECT_NE(log.find("client 1 (127.0.0.1:"), std::string::npos) << log;
    EXPECT_NE(log.find("cannot watch its connection: epoll_ctl: Cannot allocate memory; dropping it"),
              std::string::npos)
        << log;
}

} // namespace
