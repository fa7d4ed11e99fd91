/*
 * kvl_private.h - inside the KVL library.  PRIVATE: only the library sources in kvl/ include it.
 *
 * The handle classes of kvl.h (Platform, Image, Album) share implementation
 * records through shared_ptr.  PlatformImpl holds what every kind of server
 * shares: request ids and their replies, queued notifications and their
 * dispatch, the waits, the Xt inputs of the connection's socket, its loss.
 * What goes over the wire is a transport's (kvl/transport.h): JSON-RPC to
 * qx_mis in kvl/jsonrpc/, LDAP v3 to directories in kvl/ldap/.  Requests are
 * named by KVL's own vocabulary (the methods of docs/protocol.md, with JSON
 * parameters and results); a transport maps them onto its wire.  The albums
 * and tracked images of a connection are found through weak registries so
 * that a callback may destroy them while an event is being dispatched.
 */
#ifndef KVL_KVL_PRIVATE_H
#define KVL_KVL_PRIVATE_H

#include "kvl/album_pages.h"
#include "kvl/kvl.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

using json = nlohmann::json;

/* The shared text buffer of DataUnit: count, size, bytes and a NUL. */
struct DUBuffer {
    int refs;
    size_t size;
    char bytes[1];
};

/* The event record handed to callbacks as call data.  refcount and marker
 * must stay the first two words (CurrentEvent checks them). */
struct KvlEvent {
    int32_t refcount;
    uint32_t marker;
    DataUnit name;
    DataUnit objname;
    DataUnit objclass;
    DataUnit attribute;
    DataUnit value;
    long subscription;
    int handled;
    KvlEvent* next_free;
};

KvlEvent* kvl_event_new();
void kvl_event_ref(KvlEvent* ev);
void kvl_event_unref(KvlEvent* ev);
void kvl_exception_record(const char* message);

/* Maps a server error code to a KvlErrorType. */
int kvl_error_type_for_code(int code);

/* One page of a paged derivation's answer: the rest of its result ("done",
 * "of", "subscription", ...) and its members, those the set held already
 * marked removed. */
struct KvlPage {
    json rest;
    std::shared_ptr<AlbumSnapshot> members;
    long received = 0;   /* the set's size once this page was in */
    size_t removals = 0; /* the set's removals then: while they stay, it holds the whole page */
};

/* One answer to a request. */
struct KvlReply {
    bool done = false;
    bool ok = false;
    json result;
    int type = 0; /* KvlErrorType when !ok */
    int code = 0; /* server code when the server answered an error */
    std::string message;
    json data;                 /* the error's data, when the server gave one */
    uint64_t out_end = 0;      /* the request is wholly written once out_written reaches this */
    bool want_members = false; /* a derivation: its objects go into members */
    std::shared_ptr<AlbumSnapshot> members;
    /* A search with values whose transport made the images itself, booted,
     * in name order (else they come as get answers in the result). */
    std::vector<Image> images;
    /* A search with values whose matches go to each as they come instead;
     * each_stopped once it has said no more. */
    std::function<bool(Image&)> each;
    bool each_stopped = false;
    /* A paged derivation: its pages are gathered into members as they come
     * (PlatformImpl::page), and wait with wake_on_page hands them on. */
    bool paged = false;
    std::weak_ptr<AlbumImpl> album; /* the album the set is for */
    size_t pages_seen = 0;
    std::deque<KvlPage> pages; /* not yet handed on */
};

/* Limits on what the server may send and on what may wait to be sent to it.
 * Past any of them the server is taken for broken and the connection is
 * dropped, as if it had closed it. */
/* qx_mis drops a client rather than queue more than 64 MiB of replies for
 * it, so no line it sends is longer.  Its 1 MiB limit on requests would be
 * too tight here: a derivation reply takes about 84 bytes per child, so
 * 12,500 children pass 1 MiB.  The slack covers the line being read. */
const size_t kvl_max_line = (64u << 20) + (1u << 20);
/* JSON nesting of a notification or reply: the protocol needs four levels;
 * deeper is refused before parsing, which recurses once per level. */
const int kvl_max_depth = 64;
/* An event name ("ATTR_CHANGED", "communicationsAlarm"): it ends up in
 * labels, and X refuses a request for a text of a few hundred kilobytes. */
const size_t kvl_max_event_name = 256;
/* A server's error message is cut to this many bytes (with "...") before it
 * reaches an Error, which programs put into labels and dialogs. */
const size_t kvl_max_message = 4096;
/* Requests written but not yet taken by the server.  Requests are small; a
 * server that leaves this much unread has stopped reading. */
const size_t kvl_max_unsent = 8u << 20;

/* Bytes asked of the socket per read. */
const size_t kvl_read_chunk = 65536;

struct ImageImpl;
struct AlbumImpl;
struct KvlTransport;

/* The JSON-RPC transport, which a platform has until connect picks another. */
std::unique_ptr<KvlTransport> kvl_jsonrpc_transport();

struct PlatformImpl : std::enable_shared_from_this<PlatformImpl> {
    std::string type, name;
    std::unique_ptr<KvlTransport> transport; /* the wire: JSON-RPC until connect picks */
    int fd = -1; /* the connection's socket (the transport's), watched by the waits */
    bool connected = false;
    bool greeted = false;      /* the server answered hello: losing it now raises DISCONNECTED */
    std::string unowned_error; /* last error line no request owned (e.g. "server full") */
    std::string host;          /* as the server is known (no port) */
    std::string host_port;     /* "host:port" for messages */
    std::string mdr;
    std::string default_root; /* FDN the host text names as the root, "" for none */
    std::string login_user;   /* who the server took the connection for ("" anonymous) */
    std::string login_role;   /* the role the server gave login_user ("" when it has none) */
    /* The socket's buffers, for a transport that reads and writes the socket
     * itself (JSON-RPC); one whose library does that (LDAP) leaves them empty. */
    std::string inbuf;  /* bytes read, not yet a whole message */
    size_t scanned = 0; /* inbuf[0, scanned) holds no newline */
    std::string outbuf; /* requests not yet taken by the socket, from out_off on */
    size_t out_off = 0;
    uint64_t out_queued = 0;  /* bytes of requests queued since the connection opened */
    uint64_t out_written = 0; /* of which the socket has taken this many */
    std::string drop_reason;  /* why the library dropped the connection ("" when it did not) */
    long next_id = 1;
    std::map<long, KvlReply> pending; /* requests waiting for their reply */
    std::set<long> ignored;           /* requests whose reply nobody wants */
    std::deque<json> events;          /* notifications not yet dispatched */
    unsigned long input_id = 0;       /* the XtInputId of the socket, 0 when none */
    unsigned long output_id = 0;      /* its XtInputId for writing, while output waits */
    XtAppContext input_app = nullptr;
    std::map<std::string, Callback> callbacks; /* RAW_EVENT, DISCONNECTED, KVL_ERROR */
    /* The albums made on this platform.  raw may be followed while ref has
     * not expired (one thread): looking through them all for each reported
     * creation then takes no reference to each. */
    struct KnownAlbum {
        std::weak_ptr<AlbumImpl> ref;
        AlbumImpl* raw;
    };
    std::vector<KnownAlbum> albums;
    /* The album of each subscription, for the events: a burst of creations
     * derives an album for each, and a scan of all albums per event made
     * following a burst cost the square of its size. */
    std::unordered_map<long, std::weak_ptr<AlbumImpl>> album_of_subscription;
    std::vector<std::weak_ptr<ImageImpl>> tracked;
    std::map<std::string, int> watch_count; /* canonical name -> tracked images */
    unsigned long derive_seq = 0;

    PlatformImpl();
    ~PlatformImpl();

    /* Picks the transport for host (kvl_transport_for), opens the connection
     * and greets the server; fills err on failure.  Waits. */
    bool open(const std::string& host_arg, const std::string& app, double timeout, Error& err);
    void close_quietly();
    /* The connection stands from now on (after the transport made it). */
    void opened();

    /* Hands a request to the transport, which writes what the socket takes
     * without blocking; the rest goes out when the socket is writable (an Xt
     * input with an application context, the waits' poll otherwise).  Returns
     * its id, or 0 when not connected or when the connection was lost or
     * dropped (err set). */
    long send(const char* method, const json& params, Error* err, bool want_reply = true);
    /* Writes queued output until the socket would block; false when the
     * connection was lost meanwhile.  Never waits. */
    bool flush();
    /* The answer to id, by a transport: done, with result or error. */
    void answer(long id, json result);
    void fail(long id, int error_type, const std::string& message, int code = 0,
              json data = json());
    void watch_output(); /* a write input exactly while output waits (with Xt) */
    /* Waits for the reply to id (see the event-loop rule in kvl.h).  With
     * wake_on_page, also returns as soon as a page of a paged derivation is in:
     * the reply then carries the pages, done is false and id stays pending. */
    KvlReply wait(long id, double timeout, const std::string& what, bool wake_on_page = false);
    /* A page of the paged derivation id, from a transport: its members join
     * the reply's set (the first page makes the set the album's filling one,
     * so that events meanwhile change it), and its result ends the reply when
     * "done" is not false. */
    void page(long id, json rest, std::shared_ptr<AlbumSnapshot> members);
    /* send + wait; on failure sets err from the reply and returns false, and
     * puts the error's data (null without) into result.
     * With members, the result's objects come there instead of in result;
     * images takes the images a transport made (KvlReply::images). */
    bool request(const char* method, const json& params, double timeout, Error& err,
                 const std::string& what, json* result,
                 std::shared_ptr<AlbumSnapshot>* members = nullptr,
                 std::vector<Image>* images = nullptr,
                 const std::function<bool(Image&)>* each = nullptr);

    void attach_input(); /* registers the socket with Xt when possible */
    void detach_input();
    void read_input();      /* the transport reads what is there, never waiting */
    void dispatch_events(); /* runs the callbacks of queued notifications */
    void dispatch_one(const json& note);
    void lost(const std::string& why);
    /* The server broke the protocol or its limits: the connection is dropped
     * and treated as lost; why goes into the waits' messages and the
     * DISCONNECTED event's value. */
    void drop(const std::string& why);
    /* "connection to HOST:PORT lost", with the reason when the library dropped it. */
    std::string lost_message() const;
    void run_platform_callback(const DataUnit& event, KvlEvent* ev);

    void watch(const std::string& canonical);
    void unwatch(const std::string& canonical);
    std::shared_ptr<AlbumImpl> album_for_subscription(long sub);
};

/* Every platform that has ever connected, so set_app_context can attach. */
std::vector<std::weak_ptr<PlatformImpl>>& kvl_platforms();

/* Sets err to "not connected ..." when plat is unusable; true when usable. */
bool kvl_check_connected(const std::shared_ptr<PlatformImpl>& plat, Error& err);

/* Resolves the special and non-positive time-outs to seconds. */
double kvl_effective_timeout(double t);

/* The password in the file path names (QX_PASSWORD_FILE), its trailing line
 * end taken off: refused when group or others may read the file, with why
 * naming the file and what to do.  The text goes nowhere but `password`. */
bool kvl_read_password_file(const char* path, KvlSecret& password, std::string& why);

/* The monotonic clock in seconds, and a number of seconds as "2.5 s". */
double kvl_now_seconds();
std::string kvl_format_seconds(double s);

struct AttrValue {
    std::string name; /* full name */
    std::string access;
    DataUnit value;
    DataUnit read; /* the value as read: what store expects the server to hold */
    bool changed = false;
    /* The values are bytes, not text (a directory's photos and
     * certificates): value shows only their sizes, and bytes holds the
     * values themselves, as the server holds them. */
    bool binary = false;
    std::vector<std::string> bytes;
    std::vector<std::string> read_bytes; /* changed bytes: those read, as read is for text */
};

struct ImageImpl : std::enable_shared_from_this<ImageImpl> {
    std::shared_ptr<PlatformImpl> plat;
    std::string name;         /* as given, then the server's form */
    std::string user_name;    /* the name as the server's users write it, when the server gave it */
    std::string want_class;   /* class the object must have ("" any) */
    std::string cls;          /* the object's class once known */
    bool blank = false;       /* NONE: an object yet to be created */
    bool booted = false;      /* values are the server's (or the class's blank ones) */
    bool fetch_tried = false; /* the one lazy fetch has been made */
    bool present = false;     /* exists on the server as far as we know */
    bool canonical = false;   /* name is the server's form */
    /* The server lists only the attributes that have values (a directory):
     * one it leaves out is empty, and may be given values. */
    bool partial = false;
    std::vector<AttrValue> attrs;
    bool tracked = false;
    bool watching = false; /* counted in plat->watch_count under watched_name */
    std::string watched_name;
    std::map<std::string, Callback> callbacks;
    /* Of the last store refused with KVL_ERR_CHANGED: the attribute another
     * client changed and its value then; "" after any other outcome. */
    std::string conflict_attr, conflict_value;

    ~ImageImpl();
    AttrValue* find(const std::string& attr); /* full or display name */
    void start_watch();
    void stop_watch();
};

/* The members of an album at one moment.  Iterators keep the snapshot they
 * started on; a change made while one does goes to a copy.
 *
 * A container may hold 100,000 children, so a member is a few words: its
 * name and class are pieces of one text (classes repeat and are stored once
 * per run of equal ones), and an open-addressing table of member numbers
 * finds a member by name.  The Image of a member is made only when an
 * iterator is asked for it.  A removed member stays in the list, marked,
 * until removed ones outnumber the others. */
struct AlbumSnapshot {
    struct Member {
        uint32_t name; /* offset of the name in text; a NUL follows it */
        uint32_t name_len;
        uint32_t cls; /* offset of the class in text */
        uint32_t cls_len : 31;
        uint32_t removed : 1;
    };
    std::shared_ptr<PlatformImpl> plat; /* of the images made from members */
    std::string text;                   /* the names and classes */
    std::vector<Member> list;           /* in the order the server gave them */
    std::vector<uint32_t> slots;        /* 0 free, else index into list + 1 */
    size_t live = 0;                    /* members not removed */
    size_t removals = 0; /* members remove() took out, ever: unchanged, nothing went */

    void clear();
    /* The name is text[name_at, text.size()): adds the member with class cls,
     * or drops the name again when a member has it already (false). */
    bool take_member(size_t name_at, const char* cls, size_t cls_len);
    /* The same without the look-up, for a whole list read at once; index_all
     * then indexes them together (a repeated name counts once). */
    bool append(size_t name_at, const char* cls, size_t cls_len);
    void index_all();
    bool add(const std::string& name, const std::string& cls);
    bool add(const char* name, size_t name_len, const char* cls, size_t cls_len);
    bool remove(const std::string& name);
    bool holds(const std::string& name) const { return find(name.data(), name.size()) >= 0; }
    long find(const char* name, size_t n) const; /* index into list, -1 when absent */
    std::string name_of(size_t i) const { return text.substr(list[i].name, list[i].name_len); }
    Image image(size_t i) const;

private:
    void insert_slot(uint32_t index);
    void rebuild(); /* drops removed members and their text */
};

/* A reply whose result lists objects, as kvl_read_member_reply reads it. */
struct KvlMemberReply {
    std::function<bool(long)> wanted; /* whether the request of this id takes members */
    long id = 0;
    json rest;             /* the result without its objects */
    AlbumSnapshot members; /* its objects */
};

/* Reads a reply line {"id":N,"result":{"objects":[{"name":..,"class":..},..],..}}
 * straight into a member set, when wanted(N) says the request takes one.
 * False, with out unusable, for any other line or shape: the caller then
 * parses the line the general way. */
bool kvl_read_member_reply(const char* text, size_t n, KvlMemberReply& out);

struct AlbumImpl : std::enable_shared_from_this<AlbumImpl> {
    std::shared_ptr<PlatformImpl> plat;
    std::string nickname;
    std::string derivation;
    std::string actual_class;
    bool track = false;
    long subscription = 0;
    unsigned long derived_seq = 0; /* when it was last derived (0: never) */
    std::shared_ptr<AlbumSnapshot> members = std::make_shared<AlbumSnapshot>();
    /* While a paged derivation fills it: the set so far, which the events of
     * the new subscription change (members stays the previous set until the
     * last page). */
    std::shared_ptr<AlbumSnapshot> filling;
    AlbumPageProc page_proc = nullptr; /* Album::set_page_callback */
    void* page_data = nullptr;
    std::map<std::string, Callback> callbacks;

    ~AlbumImpl();
    bool holds(const std::string& name) const;
    void add_member(const std::string& name, const std::string& cls);
    void remove_member(const std::string& name);
    /* The album's subscription is sub from now on (0: none); the old one is
     * given up. */
    void take_subscription(long sub);
};

/* Members a page of a derivation asks for: QX_KVL_PAGE_SIZE when it holds
 * 1 to 10,000, else 0 (the server's own page size). */
long kvl_page_size();

/* Image handle booted from a get answer (its name, class and attributes),
 * as Image::boot() leaves one. */
Image kvl_make_booted_image(const std::shared_ptr<PlatformImpl>& plat, const json& result);
/* Takes into a the values of bytes of an attribute's JSON (its "bytes", base64
 * each); false, none taken, when it has none: its values are text. */
bool kvl_take_bytes(AttrValue& a, const json& holder);
/* How values of bytes show as text: each as its size, "(40 bytes)", one a
 * line. */
std::string kvl_bytes_text(const std::vector<std::string>& values);
std::string kvl_bytes_text(size_t size);

/* Image handle made from what a derivation or an event reports. */
Image kvl_make_member_image(const std::shared_ptr<PlatformImpl>& plat, std::string name,
                            std::string cls);

#endif /* KVL_KVL_PRIVATE_H */
