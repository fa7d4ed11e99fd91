/*
 * scripted_server.h - a misbehaving server for client tests: it listens on
 * 127.0.0.1 (a free port), greets its one client as qx_mis does and then
 * plays a script against the connection from a thread of its own.
 */
#ifndef TESTS_KVL_SCRIPTED_SERVER_H
#define TESTS_KVL_SCRIPTED_SERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

class ScriptedServer {
public:
    /* The connection as the script sees it. */
    struct Peer {
        int fd;
        std::atomic<bool>& stop;

        /* The next line from the client ("" when it closed or stop was set). */
        std::string read_line()
        {
            std::string line;
            char c;
            while (!stop) {
                struct pollfd p = {fd, POLLIN, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                if (::read(fd, &c, 1) != 1) return "";
                if (c == '\n') return line;
                line += c;
            }
            return "";
        }
        /* Writes all of text; false once the client is gone or stop was set. */
        bool write(const std::string& text)
        {
            size_t off = 0;
            while (off < text.size() && !stop) {
                struct pollfd p = {fd, POLLOUT, 0};
                if (poll(&p, 1, 100) <= 0) continue;
                ssize_t n = ::send(fd, text.data() + off, text.size() - off, MSG_NOSIGNAL);
                if (n <= 0) return false;
                off += static_cast<size_t>(n);
            }
            return off == text.size();
        }
        /* The id of a request line. */
        static long id_of(const std::string& line)
        {
            nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            return j.is_object() && j.contains("id") && j["id"].is_number_integer()
                       ? j["id"].get<long>()
                       : 0;
        }
    };
    using Script = std::function<void(Peer&)>;

    /* Listens; a receive buffer of recv_buffer bytes when positive, so that
     * a server that stops reading fills up soon. */
    explicit ScriptedServer(Script script, int recv_buffer = 0) : script_(std::move(script))
    {
        listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (recv_buffer > 0)
            setsockopt(listen_fd_, SOL_SOCKET, SO_RCVBUF, &recv_buffer, sizeof recv_buffer);
        struct sockaddr_in sa = {};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
            listen(listen_fd_, 1) != 0 ||
            getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
            return;
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedServer()
    {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (client_fd_ >= 0) close(client_fd_);
        close(listen_fd_);
    }
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    void run()
    {
        while (!stop_) {
            struct pollfd p = {listen_fd_, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) break;
        }
        if (stop_) return;
        client_fd_ = accept(listen_fd_, nullptr, nullptr);
        if (client_fd_ < 0) return;
        Peer peer = {client_fd_, stop_};
        long id = Peer::id_of(peer.read_line());
        nlohmann::json hello = {{"jsonrpc", "2.0"},
                                {"id", id},
                                {"result",
                                 {{"server", "qx_mis"},
                                  {"version", "0.1"},
                                  {"root", "/"},
                                  {"mdr", "/systemId=\"localhost\"/metaName=\"MDR\""}}}};
        if (peer.write(hello.dump() + "\n")) script_(peer);
    }

    Script script_;
    int listen_fd_ = -1;
    int client_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

#endif /* TESTS_KVL_SCRIPTED_SERVER_H */
