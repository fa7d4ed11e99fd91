/*
 * kvl.h - the KVL management client library.  PUBLIC HEADER.
 *
 * KVL is the one path from a client program (the Tarnwick editor, command-line
 * tools, tests) to qx_mis (JSON-RPC, docs/protocol.md) and to LDAP v3
 * directories (libldap; docs/kvl.md "Directories"), and offers:
 *
 *   DataUnit      shared, reference-counted text
 *   DUArray       array of DataUnits
 *   Error         error state (type and message) of every KVL object
 *   Callback      (scheduler context, function, client data)
 *   SchedContext  where callbacks run; set_app_context() ties it to Xt
 *   Platform      the connection to a server
 *   Image         local image of one managed object
 *   Album         set of images derived from a derivation string
 *   AlbumImage    iterator over an album
 *   Syntax        description of an attribute's syntax
 *   CurrentEvent  checked wrapper of the event record a callback receives
 *
 * ---------------------------------------------------------------------------
 * TIME-OUTS
 *   Every operation that waits for the server takes a time-out in seconds.
 *   The special value KVL_DEFAULT_TIMEOUT (-12345.0) means the library's
 *   default time-out: 30 seconds, or the number of seconds in the environment
 *   variable QX_KVL_TIMEOUT when it holds a positive number (read at each
 *   wait, see kvl_default_timeout()).  Any other value that is zero or
 *   negative also means the default.
 *
 * ENVIRONMENT
 *   QX_KVL_TIMEOUT  default time-out in seconds (above).
 *   QX_MIS_PORT     server port used when the host given to connect() names
 *                   none; 7130 when unset.
 *
 * THE EVENT LOOP RULE (which callbacks may run during which waits)
 *   Everything runs on one thread.  After set_app_context(app) the library
 *   registers its socket with XtAppAddInput; server notifications are then
 *   read and their callbacks run from the Xt main loop.  Every operation that
 *   waits for the server (Platform::connect, Image::boot / store / destroy /
 *   create_within / call / set_str and the lazy first read of an image,
 *   Album::derive, the first Syntax::get / count / expansion) sends its
 *   request and then runs XtAppProcessEvent until its reply arrives, its
 *   time-out passes or the connection is lost.  So during ANY of these waits ANY callback may run:
 *   Xt timers, work procedures, widget callbacks, and every KVL callback
 *   (RAW_EVENT, DISCONNECTED, OBJECT_CREATED, OBJECT_DESTROYED, ATTR_CHANGED).
 *   A KVL callback may itself start another wait; replies are matched by id,
 *   so nested waits are safe.  Without an application context the waits poll
 *   the socket instead and KVL callbacks run inside the waits the same way;
 *   kvl_poll() lets such programs take notifications outside a wait.
 *   Operations not listed above never wait and never run callbacks.
 *
 * NOTIFICATIONS
 *   - Platform::when(RAW_EVENT, cb): every server event, with its name (for
 *     example "ATTR_CHANGED" or "communicationsAlarm") and object name.
 *   - Platform::when(DISCONNECTED, cb): runs once when the connection is lost;
 *     every pending wait then fails with "connection to HOST:PORT lost".
 *     (Platform::disconnect() closes without it.)  When the loss is found by
 *     an operation that does not wait, the callback runs from the Xt loop.
 *     The library itself drops a server that breaks the protocol's limits
 *     (a line nested more than 64 deep, an event name over 256 bytes, a
 *     line over 65 MiB, 8 MiB of requests left unread, a request not even
 *     read within its wait's time-out): that counts as a loss, the waits'
 *     message ends with ": <why>" and the event's value is the why.
 *
 * SENDING
 *   Requests never block: what the socket does not take at once is queued
 *   and written when it is writable (an Xt input after set_app_context,
 *   the waits' and kvl_poll()'s poll otherwise).  A server's error message
 *   longer than 4 KiB reaches the Error cut, ending in "...".
 *   - Album::when(OBJECT_CREATED / OBJECT_DESTROYED, cb): for a tracked album
 *     (TRACKMODE TRACK); the album's membership is updated before the callback
 *     runs.
 *   - Image::when(ATTR_CHANGED, cb): for a tracked image; the image's local
 *     value is updated before the callback runs (unless it has an unstored
 *     change of its own).  The event's name is the display name of the
 *     attribute, get_attribute() its full name, get_value() the new text.
 *   Each object holds ONE callback per event name: when() replaces the
 *   callback registered before; an empty Callback() switches the event off.
 *   The call data of a KVL callback is a pointer to an event record; wrap it
 *   in a CurrentEvent to read it.
 *
 * ERRORS
 *   No exceptions are thrown.  A failing operation returns false (or an empty
 *   DataUnit), sets its object's error type and a message a person can act on,
 *   and calls Error::error_entry_callback (when set) with the object.
 */
#ifndef KVL_KVL_H
#define KVL_KVL_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

/* The Xt application context type, declared as <X11/Intrinsic.h> does, so that
 * this header does not bring in the X11 macros (None, Bool, Status ...). */
typedef struct _XtAppStruct* XtAppContext;

class Album;
class Image;
class Platform;
class SchedContext;

/* The special time-out value that stands for the library's default. */
#define KVL_DEFAULT_TIMEOUT (-12345.0)

/* The server port used when neither the host nor QX_MIS_PORT names one. */
#define KVL_DEFAULT_PORT 7130

/* ------------------------------------------------------------------ DataUnit
 * A value handle {shared buffer, start, length}.  The buffer holds a reference
 * count, the bytes, their size and a NUL after them.  Building a unit from a
 * string copies the bytes; a null or empty string gives a null unit of length
 * 0.  Copies share the buffer, which is freed when the last unit lets go.
 * str() is "" for a null unit, else a NUL-terminated string valid as long as
 * some unit shares the buffer.  The constants below (RAW_EVENT ...) live in
 * static storage and are never freed.
 */
struct DUBuffer;

class DataUnit {
public:
    DataUnit() : buf_(nullptr), data_(nullptr), len_(0) {}
    DataUnit(const char* s);           /* copies; null or "" -> null unit */
    DataUnit(const char* s, size_t n); /* copies n bytes; n == 0 -> null unit */
    DataUnit(const DataUnit& o);
    DataUnit(DataUnit&& o) noexcept;
    DataUnit& operator=(const DataUnit& o);
    DataUnit& operator=(DataUnit&& o) noexcept;
    ~DataUnit();

    /* A unit over a string literal in static storage: no buffer, no count. */
    struct Static {};
    constexpr DataUnit(Static, const char* lit, size_t n) : buf_(nullptr), data_(lit), len_(n) {}

    const char* str() const { return data_ ? data_ : ""; }
    operator const char*() const { return str(); }
    explicit operator bool() const { return len_ != 0; } /* true when not empty */
    size_t length() const { return len_; }
    bool is_null() const { return len_ == 0; }
    bool is_empty() const { return len_ == 0; }

    /* Units are equal when their lengths are equal and either both are empty,
     * both refer to the same storage at the same position, or their bytes
     * compare equal over that length. */
    bool operator==(const DataUnit& o) const;
    bool operator!=(const DataUnit& o) const { return !(*this == o); }
    bool operator==(const char* s) const { return *this == DataUnit(s); }
    bool operator!=(const char* s) const { return !(*this == s); }

    /* Number of units sharing this unit's buffer (0 for null and static units). */
    int share_count() const;
    /* True when both units use the same buffer. */
    bool shares_with(const DataUnit& o) const;

private:
    void release();
    DUBuffer* buf_;    /* null for null units and static units */
    const char* data_; /* first byte of the unit */
    size_t len_;
};

inline bool operator==(const char* s, const DataUnit& u)
{
    return u == s;
}
inline bool operator!=(const char* s, const DataUnit& u)
{
    return u != s;
}

/* ------------------------------------------------------------------- DUArray
 * An array of DataUnits.  An empty array has no element storage and a count
 * of 0.  resize(n) releases the old contents and leaves n null units.
 */
class DUArray {
public:
    DUArray() : units_(nullptr), count_(0) {}
    explicit DUArray(int n);
    DUArray(const DUArray& o); /* the copy shares each unit's text */
    DUArray(DUArray&& o) noexcept;
    DUArray& operator=(const DUArray& o);
    DUArray& operator=(DUArray&& o) noexcept;
    ~DUArray();

    void resize(int n); /* releases old contents; n <= 0 empties */
    int count() const { return count_; }
    DataUnit& operator[](int i) { return units_[i]; } /* 0 <= i < count() */
    const DataUnit& operator[](int i) const { return units_[i]; }
    DataUnit get(int i) const;          /* null unit when i is out of range */
    void set(int i, const DataUnit& u); /* ignored when i is out of range */
    void append(const DataUnit& u);
    void take(DUArray& from); /* takes over from's contents; from ends empty */
    void clear() { resize(0); }

private:
    DataUnit* units_;
    int count_;
};

/* Names of events and properties, and other constant units. */
extern const DataUnit RAW_EVENT;        /* platform: every server event */
extern const DataUnit DISCONNECTED;     /* platform: the connection was lost */
extern const DataUnit KVL_ERROR;        /* platform: the server sent an error no request owns */
extern const DataUnit OBJECT_CREATED;   /* album: an object entered the set */
extern const DataUnit OBJECT_DESTROYED; /* album: an object left the set */
extern const DataUnit ATTR_CHANGED;     /* image: an attribute changed on the server */
extern const DataUnit TRACKMODE;        /* property of albums and images */
extern const DataUnit TRACK;            /*   value: notify changes */
extern const DataUnit NOTRACK;          /*   value: do not (the default) */
extern const DataUnit ACTUAL_CLASS;     /* album property: class the base object must have */
extern const DataUnit NICKNAME;         /* album property: the nickname given at creation */
extern const DataUnit DERIVATION;       /* album property: the derivation string */
extern const DataUnit REPLACE;          /* modify operator of Image::set_str */
extern const DataUnit NONE;             /* object name of an object yet to be created */

/* --------------------------------------------------------------------- Error */
enum KvlErrorType {
    KVL_OK = 0,
    KVL_ERR_NOT_CONNECTED,  /* no connection (never made, or lost earlier) */
    KVL_ERR_CONNECT,        /* connect failed: no server, refused, bad greeting */
    KVL_ERR_DISCONNECTED,   /* the connection was lost during the operation */
    KVL_ERR_TIMEOUT,        /* no reply within the time-out */
    KVL_ERR_ARGUMENT,       /* the caller passed something unusable */
    KVL_ERR_PROTOCOL,       /* the server's reply was not understood */
    KVL_ERR_NO_OBJECT,      /* server -32001 */
    KVL_ERR_NO_ATTRIBUTE,   /* server -32002, or not in the image */
    KVL_ERR_NO_CLASS,       /* server -32003 */
    KVL_ERR_CLASS_CONFLICT, /* server -32004 */
    KVL_ERR_DUPLICATE,      /* server -32005 */
    KVL_ERR_SYNTAX,         /* server -32006: value refused by the syntax */
    KVL_ERR_ACCESS,         /* server -32007: read-only, or the root */
    KVL_ERR_NAME_BINDING,   /* server -32008 */
    KVL_ERR_NO_ACTION,      /* server -32009 */
    KVL_ERR_ACTION_FAILED,  /* server -32010 */
    KVL_ERR_BAD_NAME,       /* server -32011 */
    KVL_ERR_BAD_DERIVATION, /* server -32012, or refused by set_derivation */
    KVL_ERR_SERVER,         /* any other error the server reported */
    KVL_ERR_CHANGED         /* server -32017: store found a value changed by another client */
};

class Error {
public:
    typedef void (*EntryProc)(Error*);

    Error() : type_(KVL_OK), server_code_(0) {}
    virtual ~Error() {}

    int get_error_type() const { return type_; }
    const char* get_error_string() const { return message_.str(); } /* "" when no error */
    int get_server_code() const { return server_code_; } /* the server's JSON-RPC code, or 0 */
    void reset_error();

    /* Called with the object each time an error is set on it; null: nothing. */
    static EntryProc error_entry_callback;

    /* Library use: record an error and call error_entry_callback. */
    void set_error(int type, const DataUnit& message, int server_code = 0);

private:
    int type_;
    DataUnit message_;
    int server_code_;
};

/* ---------------------------------------------------- SchedContext, Callback */
typedef void (*KvlCallbackProc)(void* client_data, void* call_data);

/* A scheduler context says how callbacks registered under it are run: through
 * the Xt application context handed to set_app_context(), or directly from
 * the library's polling waits when there is none. */
class SchedContext {
public:
    static SchedContext* current();
    XtAppContext app_context() const { return app_; }
    void set_app_context(XtAppContext app) { app_ = app; }

private:
    XtAppContext app_ = nullptr;
};

/* Hands the application context to the scheduler: from then on server events
 * are delivered through the Xt loop and waits run XtAppProcessEvent.  Call it
 * once at start-up, before Platform::connect; null returns to polling. */
void set_app_context(XtAppContext app);

class Callback {
public:
    Callback() : context(SchedContext::current()), proc(nullptr), client_data(nullptr) {}
    Callback(SchedContext* ctx, KvlCallbackProc p, void* client = nullptr)
        : context(ctx), proc(p), client_data(client)
    {}
    Callback(KvlCallbackProc p, void* client = nullptr)
        : context(SchedContext::current()), proc(p), client_data(client)
    {}

    bool is_empty() const { return proc == nullptr; }
    void invoke(void* call_data) const
    {
        if (proc) proc(client_data, call_data);
    }

    SchedContext* context;
    KvlCallbackProc proc; /* null: a callback that names no function */
    void* client_data;
};

/* ------------------------------------------------------------------ Platform
 * A Platform is a handle: copies share one connection.  connect() makes the
 * connection and makes this platform Platform::def_platform.
 */
struct PlatformImpl;

class Platform : public Error {
public:
    Platform();
    Platform(const DataUnit& type, const DataUnit& name); /* e.g. "QX", "" */
    Platform(const Platform& o);
    Platform& operator=(const Platform& o);
    ~Platform();

    /* host is "name", "name:port", "qx://name[:port]" or empty (localhost;
     * port QX_MIS_PORT or 7130), "qxs://name[:port]" (the same in TLS, the
     * certificate checked against QX_TLS_CA or the system's store), or an
     * ldap://, ldaps://, ldapi:// URL (a directory).  Connects, greets or binds, waits for it (see above). */
    bool connect(const DataUnit& host, const DataUnit& app_name,
                 double timeout = KVL_DEFAULT_TIMEOUT);
    void disconnect(); /* closes quietly: no DISCONNECTED */
    bool is_connected() const;

    bool when(const DataUnit& event, const Callback& cb); /* RAW_EVENT, DISCONNECTED, KVL_ERROR */

    DataUnit get_type() const;
    DataUnit get_name() const;
    DataUnit get_host() const;     /* "host:port" of the connection */
    DataUnit get_mdr_name() const; /* the repository object the server named */
    /* The root the host text named (a directory URL's base DN, as an FDN);
     * empty when it named none. */
    DataUnit get_default_root() const;
    /* Who the server took the connection for: the user a qx_mis login named
     * (USER@HOST), a directory's bind DN; empty when anonymous.  Never waits. */
    DataUnit get_user() const;
    /* The role qx_mis gave that user ("reader", "operator", "admin"); empty
     * for a directory and without a login.  Never waits. */
    DataUnit get_role() const;
    /* The FDN of a name in the form the server's users write (a DN for a
     * directory; an FDN is taken as it is); empty when it is not a name.
     * Never waits. */
    DataUnit to_fdn(const DataUnit& name) const;
    /* An FDN as the server's users write names: a DN for a directory
     * (uid=ann,ou=people,dc=example,dc=org), the FDN itself for qx_mis and
     * for names with no other form ("/").  Never waits. */
    DataUnit user_name(const DataUnit& fdn) const;

    /* The connected platform; images, albums and syntaxes use it by default. */
    static Platform def_platform;

    std::shared_ptr<PlatformImpl> impl_; /* library use */
};

/* ----------------------------------------------------- Directory passwords
 * A bind DN's password, asked of the application when no password file is
 * set.  KvlSecret holds the text for one bind: its bytes are wiped
 * (explicit_bzero) when it is replaced, cleared or destroyed, and it cannot be
 * copied, so no second copy of a password outlives its use.
 */
class KvlSecret {
public:
    KvlSecret() = default;
    ~KvlSecret() { clear(); }
    KvlSecret(const KvlSecret&) = delete;
    KvlSecret& operator=(const KvlSecret&) = delete;

    void assign(const char* text, size_t n); /* wipes what it held before */
    void clear();
    const char* data() const { return buf_ ? buf_ : ""; }
    size_t size() const { return len_; }

private:
    char* buf_ = nullptr;
    size_t len_ = 0;
};

/* What a password source is told for one try of a bind or a login. */
struct KvlPasswordRequest {
    const char* bind_dn; /* the DN the bind names, as the user gave it; for
                            a qx_mis login, the user's name */
    const char* server;  /* scheme://host:port */
    const char* refusal; /* the server's refusal of the previous try
                            ("Invalid credentials", "login failed: ..."),
                            "" on the first */
    int attempt;         /* 1, 2, 3 */
    int attempts;        /* how many tries there are: 3 */
};

/*
 * KvlPasswordSource: the application's way of supplying a password.
 * CONTRACT: Platform::connect to a directory calls ask() when a bind DN is
 * named, and to qx_mis when the host names a user (USER@HOST), while
 * QX_PASSWORD_FILE is unset and a source is installed; once per try,
 * at most `attempts` times, again after each refusal of the credentials.
 * ask() puts the password into `password` and returns true, or returns false
 * to cancel (the connection then fails naming the bind DN or the user).  ask() may wait
 * (run a nested event loop): the connection waits with it, and the connect's
 * time-out starts again after the answer.  The source never logs, prints or
 * stores the password; KVL wipes `password` after the bind.
 */
class KvlPasswordSource {
public:
    virtual ~KvlPasswordSource() = default;
    virtual bool ask(const KvlPasswordRequest& request, KvlSecret& password) = 0;
};

/* Installs the password source (not owned; nullptr removes it).  Without one
 * a bind DN needs QX_PASSWORD_FILE. */
void kvl_set_password_source(KvlPasswordSource* source);
KvlPasswordSource* kvl_password_source();

/* --------------------------------------------------------------------- Image
 * The local image of one managed object.  An Image is a handle: copies share
 * the object's values, tracking state and callbacks (each copy keeps its own
 * error state).  Attributes are named by full name ("x721:userLabel") or by
 * display name ("userLabel") everywhere.
 *
 * An image made but not booted fetches its values once, when first read
 * (get_objclass, get_attr_names, get_str, exists, set_str, set_from_ref).
 * An image named NONE with a class is a blank object of that class: booting
 * it fetches the class's attributes with their default values.
 */
struct ImageImpl;

class Image : public Error {
public:
    Image(); /* empty: no object */
    Image(const DataUnit& objname, const DataUnit& objclass,
          Platform& platform = Platform::def_platform); /* objclass "" = any class */
    Image(const Image& o);
    Image& operator=(const Image& o);
    virtual ~Image();

    /* Reads the object (checking its class when the image has one), or, for
     * NONE, the class's blank values.  Drops unstored changes.  Waits. */
    bool boot(double timeout = KVL_DEFAULT_TIMEOUT);
    bool exists();         /* booted and present on the server */
    bool is_empty() const; /* made with no object */

    DataUnit get_objname(); /* the server's form once known */
    /* The name as the server's users write it (a directory's DN), as
     * Platform::user_name gives it; or, when the server gave it with the
     * object, in the server's own form, not worked out again. */
    DataUnit get_user_name();
    DataUnit get_objclass();
    /* flag 0: every attribute; flag 1: only the read-write ones.  Full names,
     * in schema order. */
    DUArray get_attr_names(int flag = 0);
    /* The value as text (format is accepted for compatibility: every format
     * gives the text form).  Empty with an error when there is no such
     * attribute. */
    DataUnit get_str(const DataUnit& attr, int format = 0);
    /* Puts a value into the local copy after the server has checked it
     * against the attribute's syntax (a wait); a refused value fails
     * (KVL_ERR_SYNTAX, the server's reason) and leaves the image unchanged.
     * Text that is not valid UTF-8 is refused the same way without asking.
     * modify must be REPLACE. */
    bool set_str(const DataUnit& attr, const DataUnit& value, const DataUnit& modify = REPLACE,
                 int format = 0);
    /* True when the attribute's values are bytes, not text (a directory's
     * photos and certificates): get_str shows only their sizes, and values
     * receives the values themselves, as the server holds them.  False, with
     * values empty, for an attribute of text or none of that name.  Waits
     * unless read. */
    bool get_bytes(const DataUnit& attr, DUArray& values);
    /* Gives such an attribute these values of bytes, all of them at once;
     * they count as changed, for store (which replaces the values the server
     * holds, unless someone changed them since they were read) or for the
     * object this image creates.  An attribute of text is not given bytes
     * (KVL_ERR_SYNTAX: set_str takes text).  A directory lists an entry
     * with the attributes that have values only: one it has none of yet
     * (get_str gives "" for it, without an error) may be given values by
     * set_str or, as they are, by set_bytes. */
    bool set_bytes(const DataUnit& attr, const DUArray& values);

    /* TRACKMODE TRACK: watch the object for ATTR_CHANGED; NOTRACK: stop. */
    bool set_prop(const DataUnit& name, const DataUnit& value);
    DataUnit get_prop(const DataUnit& name); /* TRACKMODE */

    /* Writes the changed values in one request, all or none; waits.  With
     * each it sends the value the image read for that attribute (at its
     * last boot, store or mark_read): when another client has changed one
     * of them on the server since, nothing is written and store fails with
     * KVL_ERR_CHANGED; changed_on_server then names the attribute and its
     * value now.  The image keeps its changes; boot reads the server's. */
    bool store(double timeout = KVL_DEFAULT_TIMEOUT);
    /* Takes the values the image holds now as those it read: a change
     * notification updates the values of a tracked image but not what store
     * expects of the server, until a program shows the new values and calls
     * this (or boots). */
    void mark_read();
    /* After store failed with KVL_ERR_CHANGED: the full name of the attribute
     * another client changed and the value it has now; false otherwise. */
    bool changed_on_server(DataUnit& attr, DataUnit& value) const;
    bool destroy(double timeout = KVL_DEFAULT_TIMEOUT); /* deletes object and subtree; waits */
    /* Creates an object of this image's class beneath parent from this
     * image's values; afterwards this image is the new object and created
     * (when not empty) names it too.  Waits. */
    bool create_within(const DataUnit& parent, Image& created,
                       double timeout = KVL_DEFAULT_TIMEOUT);
    /* Copies from ref the values of every attribute this image's class has
     * (objectClass excepted); they count as changed. */
    bool set_from_ref(Image& ref);
    /* The most recently derived live album whose set holds this object; an
     * album with an error when there is none. */
    Album first_album();
    /* Runs an action; the reply text, or an empty unit on failure.  Waits. */
    DataUnit call(const DataUnit& action, const DataUnit& argument,
                  double timeout = KVL_DEFAULT_TIMEOUT);

    bool when(const DataUnit& event, const Callback& cb); /* ATTR_CHANGED */

    std::shared_ptr<ImageImpl> impl_; /* library use */
};

/* --------------------------------------------------------------------- Album
 * A set of images derived from a derivation string:
 *     FDN "/" STAR   or   FDN "/" STAR "/CMISFilter(" LDAP-filter ")"   (STAR = *)
 * An Album is a handle: assignment shares the derived set and the callbacks.
 * Properties: NICKNAME (read-only), TRACKMODE (TRACK / NOTRACK), ACTUAL_CLASS
 * (the class the base object must have), DERIVATION (read-only).
 */
struct AlbumImpl;
class AlbumImage;

class Album : public Error {
public:
    Album();
    Album(const DataUnit& nickname, Platform& platform = Platform::def_platform);
    Album(const Album& o);
    Album& operator=(const Album& o);
    ~Album();

    bool set_derivation(const DataUnit& derivation); /* checks its form locally */
    bool set_prop(const DataUnit& name, const DataUnit& value);
    DataUnit get_prop(const DataUnit& name);
    /* Asks the server for the set (and, when tracked, subscribes to its
     * changes).  Waits.  On failure the album keeps its previous set. */
    bool derive(double timeout = KVL_DEFAULT_TIMEOUT);
    /* derive() for count albums at once: every request is sent before the
     * first reply is waited for, so the server answers them one after the
     * other without a round trip between them.  Waits (once, for all of
     * them, at most timeout).  Each album ends as its own derive() would
     * leave it, its error set when it failed; returns how many succeeded. */
    static int derive_all(Album* const* albums, size_t count, double timeout = KVL_DEFAULT_TIMEOUT);
    int num_images() const;
    AlbumImage first_image() const;
    /* The class that the derivation or the creation report gave the member
     * named name (as the server writes it); empty when the set does not hold
     * it.  Never waits. */
    DataUnit member_class(const DataUnit& name) const;
    bool when(const DataUnit& event, const Callback& cb); /* OBJECT_CREATED, OBJECT_DESTROYED */

    std::shared_ptr<AlbumImpl> impl_; /* library use */
};

/* Iterator over an album's images, in the order the server gave them.  It
 * walks the set as it was when first_image() was called, so changes that
 * callbacks make to the album meanwhile do not disturb it.
 *     for (AlbumImage ai = album.first_image(); ai; ai.next_image())
 *         use(ai.image().get_objname());
 */
struct AlbumSnapshot;

class AlbumImage {
public:
    AlbumImage();
    AlbumImage(const AlbumImage& o);
    AlbumImage& operator=(const AlbumImage& o);
    ~AlbumImage();

    bool is_valid() const; /* false past the last image */
    explicit operator bool() const { return is_valid(); }
    AlbumImage& next_image(); /* moves on; returns itself */
    /* The current image (empty past the end): made when first asked for, and
     * the reference holds until the iterator moves on.  Copy the Image to
     * keep it longer; copies share the same image. */
    Image& image();
    Image& operator*() { return image(); }
    Image* operator->() { return &image(); }

    std::shared_ptr<AlbumSnapshot> snap_; /* library use */
    int index_ = 0;
    Image current_; /* library use: the image at current_index_ */
    int current_index_ = -1;
};

/* -------------------------------------------------------------------- Syntax
 * The syntax of an attribute, looked up by attribute name (full or display
 * name).  The description is fetched from the server on first use (a wait).
 *   get(0)  "<syntax name>: <description>"
 *   get(1)  the validation rule, e.g. "disabled | enabled"
 *   expansion()  a Syntax whose get(0) is the whole expansion text (lines
 *                joined by newlines) and get(1..n) its single lines.
 * Out-of-range indexes and failures give an empty unit.
 */
class Syntax : public Error {
public:
    Syntax();
    Syntax(const DataUnit& name, Platform& platform = Platform::def_platform);
    DataUnit get(int index);
    Syntax expansion();
    int count(); /* number of entries */

private:
    bool fetch();
    DataUnit name_;
    std::shared_ptr<PlatformImpl> platform_;
    DUArray entries_;
    DUArray expansion_;
    bool fetched_ = false;
    bool is_expansion_ = false;
};

/* -------------------------------------------------------------------- Search
 * One question to the server: the objects below base that filter accepts.
 * depth 0 looks at base alone, n > 0 down n levels below it, a negative depth
 * at the whole subtree.  limit is the most names wanted (0: the server's
 * default, 1,000).  run() waits (see the event-loop rule above); on success
 * names and classes hold the first matches in name order, count every match,
 * truncated whether the limit left some out.  On failure run() returns false
 * and the error carries the server's message (a malformed filter is
 * KVL_ERR_BAD_DERIVATION).
 * With values set before run(), the answer carries every match's values as
 * well: images then holds the matches, in the order of names, each booted as
 * Image::boot() leaves it, so that reading a whole subtree costs one request
 * instead of one for each object.  A server refuses such a search when its
 * answer would pass what one reply may hold (KVL_ERR_SERVER, server code
 * -32014): ask fewer.
 */
class Search : public Error {
public:
    explicit Search(Platform& platform = Platform::def_platform);
    bool run(const DataUnit& base, const DataUnit& filter, int depth, int limit,
             double timeout = KVL_DEFAULT_TIMEOUT);
    /* The count alone, in one request however large the subtree: the objects
     * below base that deriving one level at a time with filter reaches (an
     * object the filter refuses hides everything below it).  On success count
     * holds it and names stays empty.  Waits, as run() does. */
    bool count_reachable(const DataUnit& base, const DataUnit& filter,
                         double timeout = KVL_DEFAULT_TIMEOUT);

    DUArray names;
    DUArray classes;
    long count = 0;
    bool truncated = false;
    bool values = false;       /* set before run(): the matches' values are wanted */
    std::vector<Image> images; /* with values: the matches, booted */
    /* With values: set before run() to have the matches' passwords as well
     * (a directory's userPassword, as bytes), for a copy of the subtree such
     * as an export.  The server still decides what it lets this user read.
     * Such images are the caller's alone; never show them.  qx_mis keeps no
     * password among an object's attributes. */
    bool secrets = false;
    /* With values: set before run() to have each match handed over as it
     * comes rather than kept in images (names and classes then stay empty),
     * so that a subtree of any size takes the memory of one page of it.  A
     * directory hands them in the order it sends them, which puts an entry
     * after its parent unless it was moved beneath a later one; qx_mis in
     * name order.  each must not wait.  When it returns false no more are
     * handed, and run() fails (KVL_ERR_ARGUMENT) once the server has
     * stopped. */
    std::function<bool(Image&)> each;

private:
    bool ask(const DataUnit& base, const DataUnit& filter, int depth, int limit, bool count_only,
             double timeout);
    std::shared_ptr<PlatformImpl> platform_;
};

/* -------------------------------------------------------------- CurrentEvent
 * The call data of every KVL callback points at an event record that begins
 * with a 32-bit reference count and a 32-bit marker word:
 *   KVL_EVENT_LIVE  (0xDEEDFEED)  a live event: wrapping it adds a reference;
 *   KVL_EVENT_FREED (0xABADDEED)  an event already released: the wrapper stays
 *       empty and the exception state records "CurrentEvent freed before
 *       callback!!!";
 *   anything else: the wrapper stays empty and the exception state records
 *       "Attempt to initialize CurrentEvent with bad pointer".
 * A null call data gives an empty wrapper and no message.  Nothing is thrown.
 * The wrapper releases its reference when it is destroyed.  Released records
 * are kept (marked freed) in a small pool for reuse rather than returned to
 * the heap, so a late look at one finds the freed marker.
 */
#define KVL_EVENT_LIVE  0xDEEDFEEDu
#define KVL_EVENT_FREED 0xABADDEEDu

struct KvlEvent;

class CurrentEvent {
public:
    explicit CurrentEvent(void* call_data);
    CurrentEvent(const CurrentEvent& o);
    CurrentEvent& operator=(const CurrentEvent& o);
    ~CurrentEvent();

    bool is_empty() const { return ev_ == nullptr; }
    /* "OBJECT_CREATED", "DISCONNECTED", raw event names ("ATTR_CHANGED",
     * alarm names ...); for an image's ATTR_CHANGED callback the display
     * name of the attribute that changed ("userLabel"). */
    DataUnit get_name() const;
    DataUnit get_objname() const;   /* FDN of the object concerned ("host:port" for DISCONNECTED) */
    DataUnit get_objclass() const;  /* its class when the event names one */
    DataUnit get_attribute() const; /* ATTR_CHANGED: full attribute name */
    DataUnit get_value() const;     /* ATTR_CHANGED: the new value; DISCONNECTED: why the
                                     * connection went ("closed by the server", an
                                     * error, or why the library dropped it) */
    /* Marks the event as handled by a callback; 1 when the wrapper holds a
     * live event, 0 when it is empty. */
    int do_something();

private:
    KvlEvent* ev_;
};

/* The library's exception state: the last message recorded (or "") and how
 * many were recorded since the last clear. */
const char* kvl_exception_message();
int kvl_exception_count();
void kvl_exception_clear();

/* Default time-out in seconds (QX_KVL_TIMEOUT or 30). */
double kvl_default_timeout();

/* Without an application context: reads and dispatches notifications for up
 * to `seconds` (0: only what is already there).  Returns the number of
 * events dispatched. */
int kvl_poll(double seconds);

#endif /* KVL_KVL_H */
