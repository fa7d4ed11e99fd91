// How KVL reads a derivation's reply and keeps an album's members: a reply
// fed to the connection in pieces over a socket pair (one byte at a time,
// across the read buffer's size), checked against the general JSON parser;
// lines the direct reader must leave to the general path; the member set's
// look-ups and removals.
#include <gtest/gtest.h>

#include "kvl/kvl.h"
#include "kvl/kvl_private.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

const long kId = 7;

/* A connection whose server end the test writes: the request kId waits for a
 * derivation's reply. */
struct Pipe {
    std::shared_ptr<PlatformImpl> plat = std::make_shared<PlatformImpl>();
    int server = -1;

    Pipe()
    {
        int sv[2];
        EXPECT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
        fcntl(sv[0], F_SETFL, fcntl(sv[0], F_GETFL) | O_NONBLOCK);
        int size = 1 << 20;
        setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        plat->fd = sv[0];
        plat->connected = plat->greeted = true;
        plat->host_port = "pipe";
        plat->pending[kId].want_members = true;
        server = sv[1];
    }
    ~Pipe() { close(server); }

    /* Writes text in pieces of `piece` bytes, the client reading after each. */
    void feed(const std::string& text, size_t piece)
    {
        for (size_t at = 0; at < text.size() && plat->connected; at += piece) {
            size_t n = std::min(piece, text.size() - at);
            ASSERT_EQ(static_cast<ssize_t>(n), write(server, text.data() + at, n));
            plat->read_input();
        }
    }
    KvlReply& reply() { return plat->pending[kId]; }
};

std::string reply_line(const std::string& objects, const std::string& more = "")
{
    return "{\"id\":" + std::to_string(kId) + ",\"jsonrpc\":\"2.0\",\"result\":{\"count\":2," +
           more + "\"objects\":" + objects + ",\"subscription\":3}}\n";
}

/* The names and classes of a member set, in order. */
std::vector<std::string> members_of(const AlbumSnapshot& snap)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < snap.list.size(); i++)
        if (!snap.list[i].removed)
            out.push_back(snap.name_of(i) + " " +
                          snap.text.substr(snap.list[i].cls, snap.list[i].cls_len));
    return out;
}

/* The same as the general parser reads them from the line. */
std::vector<std::string> parsed_members(const std::string& line)
{
    json j = json::parse(line);
    std::vector<std::string> out;
    for (auto& o : j["result"]["objects"])
        out.push_back(o["name"].get<std::string>() + " " + o.value("class", std::string()));
    return out;
}

/* A reply of n objects padded so that the line, newline included, is `size`
 * bytes long. */
std::string reply_of_size(int n, size_t size)
{
    std::string objects = "[";
    for (int i = 0; i < n; i++)
        objects += std::string(i ? "," : "") +
                   "{\"class\":\"alarmRecord\",\"name\":\"/logId=\\\"l\\\"/logRecordId=" +
                   std::to_string(i) + "\"}";
    objects += "]";
    std::string line = reply_line(objects, "\"pad\":\"\",");
    if (line.size() < size) line.insert(line.find("\"pad\":\"") + 7, size - line.size(), 'p');
    return line;
}

} // namespace

// Escapes, multi-byte UTF-8 and surrogate pairs, with every byte boundary
// between two reads; and replies around the read buffer's size.
TEST(KvlReader, ReplyInPiecesReadsAsTheParserDoes)
{
    const std::string tricky = reply_line(
        "[{\"name\":\"/systemId=\\\"q\\\\\\\"uote\\\"\",\"class\":\"managedElement\"},"
        "{\"class\":\"caf\xc3\xa9\",\"name\":\"/u=\\u00e9\\u20AC\\ud83d\\ude00\\/"
        "\\b\\f\\n\\r\\t\"},"
        "{\"name\":\"/raw=\xe2\x82\xac\xf0\x9f\x98\x80\xc3\xa9\",\"class\":\"caf\xc3\xa9\"},"
        "{\"name\":\"\",\"extra\":\"x\"}]");
    const size_t chunk = kvl_read_chunk;
    struct Case {
        const char* what;
        std::string line;
        size_t piece;
    } cases[] = {
        {"escapes and UTF-8, one byte at a time", tricky, 1},
        {"escapes and UTF-8, three bytes at a time", tricky, 3},
        {"escapes and UTF-8 at once", tricky, tricky.size()},
        {"a line of the buffer's size without its newline", reply_of_size(5, chunk + 1), chunk},
        {"a line of the buffer's size with its newline", reply_of_size(5, chunk), chunk},
        {"a line one byte over the buffer's size", reply_of_size(5, chunk + 2), chunk},
        {"a reply of many buffers, read whole", reply_of_size(5000, 0), 1 << 20},
        {"a reply of many buffers, odd pieces", reply_of_size(5000, 0), 4093},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pipe pipe;
        pipe.feed(c.line, c.piece);
        KvlReply& r = pipe.reply();
        ASSERT_TRUE(r.done && r.ok);
        ASSERT_TRUE(r.members) << "left to the general parser";
        EXPECT_EQ(parsed_members(c.line), members_of(*r.members));
        json expected = json::parse(c.line)["result"];
        expected.erase("objects");
        EXPECT_EQ(expected, r.result);
        EXPECT_TRUE(pipe.plat->inbuf.empty());
        EXPECT_TRUE(pipe.plat->connected);
    }
}

// Lines the direct reader must not take: the general path decides, as it
// did before the reader existed.
TEST(KvlReader, OtherShapesGoTheGeneralWay)
{
    const std::string deep = std::string(100, '[') + std::string(100, ']');
    struct Case {
        const char* what;
        std::string line;
        bool done;      /* the request is answered */
        bool members;   /* by the direct reader */
        bool connected; /* the connection stays */
    } cases[] = {
        {"the result before the id",
         "{\"result\":{\"objects\":[{\"name\":\"/a=1\",\"class\":\"c\"}]},\"id\":7}\n", true, true,
         true},
        {"an object with a number in it", reply_line("[{\"name\":\"/a=1\",\"n\":1}]"), true, false,
         true},
        {"an error reply", "{\"id\":7,\"error\":{\"code\":-32001,\"message\":\"no\"}}\n", true,
         false, true},
        {"a broken UTF-8 byte", reply_line("[{\"name\":\"/a=\xff\"}]"), false, false, true},
        {"an overlong UTF-8 form", reply_line("[{\"name\":\"/a=\xc0\xaf\"}]"), false, false, true},
        {"a lone low surrogate", reply_line("[{\"name\":\"/a=\\udc00\"}]"), false, false, true},
        {"a raw control character", reply_line("[{\"name\":\"/a=\t\"}]"), false, false, true},
        {"a bad escape", reply_line("[{\"name\":\"/a=\\x\"}]"), false, false, true},
        {"text after the object", reply_line("[]").insert(reply_line("[]").size() - 1, "x"), false,
         false, true},
        {"a value nested 100 deep", reply_line("[]", "\"x\":" + deep + ","), false, false, false},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pipe pipe;
        pipe.feed(c.line, 1);
        KvlReply& r = pipe.reply();
        EXPECT_EQ(c.connected, pipe.plat->connected);
        if (!c.connected) continue;
        EXPECT_EQ(c.done, r.done);
        EXPECT_EQ(c.members, r.members != nullptr);
    }
}

// Look-ups, removals (marked, then compacted), re-adding, and iteration over
// what is left, in order.
TEST(KvlReader, MemberSetKeepsOrderThroughRemovals)
{
    AlbumSnapshot snap;
    std::vector<std::string> expected;
    for (int i = 0; i < 300; i++) {
        std::string name = "/n=" + std::to_string(i);
        EXPECT_TRUE(snap.add(name, i < 150 ? "a" : "b"));
        expected.push_back(name + (i < 150 ? " a" : " b"));
    }
    EXPECT_FALSE(snap.add("/n=5", "a")) << "a name is held once";
    /* Removes 2 of 3, past the point where removed members are compacted. */
    for (int i = 0; i < 300; i++)
        if (i % 3) {
            EXPECT_TRUE(snap.remove("/n=" + std::to_string(i)));
        }
    EXPECT_FALSE(snap.remove("/n=1"));
    EXPECT_TRUE(snap.add("/n=1", "c"));
    std::vector<std::string> left;
    for (int i = 0; i < 300; i += 3) left.push_back(expected[i]);
    left.push_back("/n=1 c");
    EXPECT_EQ(left, members_of(snap));
    EXPECT_EQ(left.size(), snap.live);
    for (int i = 0; i < 300; i++)
        EXPECT_EQ(i % 3 == 0 || i == 1, snap.holds("/n=" + std::to_string(i))) << i;

    /* The iterator skips removed members and makes each image when asked. */
    snap.remove("/n=0");
    AlbumImage ai;
    ai.snap_ = std::make_shared<AlbumSnapshot>(snap);
    ai.index_ = -1;
    std::vector<std::string> seen;
    for (ai.next_image(); ai; ai.next_image())
        seen.push_back(std::string(ai->get_objname().str()) + " " + ai->get_objclass().str());
    left.erase(left.begin());
    EXPECT_EQ(left, seen);
}
