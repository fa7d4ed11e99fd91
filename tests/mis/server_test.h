// Test support: the sample network's names and a fixture with a fresh server and one client.
#pragma once
#include <gtest/gtest.h>

#include "mis_process.h"

namespace qxtest {

const std::string LEEDS = "/systemId=\"leeds-core-1\"";
const std::string LOG = LEEDS + "/logId=\"alarmLog\"";
const std::string RACK1 = LEEDS + "/equipmentId=\"rack-1\"";
const std::string PORT1 =
    RACK1 + "/shelfId=\"shelf-1\"/slotNumber=3/circuitPackId=\"stm16-lr\"/tTPId=\"port-1\"";

// The names of the objects of a derive or search result, in order.
inline std::vector<std::string> names_of(const json& result)
{
    std::vector<std::string> out;
    for (auto& o : result["objects"]) out.push_back(o["name"]);
    return out;
}

// A connection that reads the server's lines as text, for what parsing would hide (the exact
// characters of an id) or what is too large to keep (a batch answer of many megabytes).
class RawClient {
public:
    explicit RawClient(int port)
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0)
            throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    }
    ~RawClient() { close(fd_); }
    RawClient(const RawClient&) = delete;

    void send(const std::string& text)
    {
        for (size_t off = 0; off < text.size();) {
            ssize_t w = ::send(fd_, text.data() + off, text.size() - off, MSG_NOSIGNAL);
            if (w <= 0) return;
            off += static_cast<size_t>(w);
        }
    }

    // Hands the bytes of the next line (without its newline) to `take` as they come, keeping
    // none; false when the connection closed or stayed silent for timeout_ms first.
    template <class Take> bool stream_line(Take take, int timeout_ms = 10000)
    {
        for (;;) {
            size_t nl = buf_.find('\n');
            take(buf_.data(), nl == std::string::npos ? buf_.size() : nl);
            if (nl != std::string::npos) {
                buf_.erase(0, nl + 1);
                return true;
            }
            buf_.clear();
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, timeout_ms) <= 0) return false;
            char tmp[65536];
            ssize_t r = recv(fd_, tmp, sizeof tmp, 0);
            if (r <= 0) return false;
            buf_.assign(tmp, static_cast<size_t>(r));
        }
    }

    // The next line as text; "" when none came.
    std::string line(int timeout_ms = 10000)
    {
        std::string out;
        if (!stream_line([&](const char* p, size_t n) { out.append(p, n); }, timeout_ms))
            return "";
        return out;
    }

private:
    int fd_ = -1;
    std::string buf_;
};

class ServerTest : public ::testing::Test {
protected:
    TempDir dir;
    MisProcess mis{dir.path};
    Client c{mis.port()};

    // The server still answers after whatever a test sent it.
    void TearDown() override
    {
        Client probe(mis.port());
        EXPECT_EQ(probe.result("get", {{"name", "/"}})["class"], "root") << mis.log();
    }
};

} // namespace qxtest
