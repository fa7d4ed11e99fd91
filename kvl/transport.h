/*
 * transport.h - one kind of server behind a Platform.  PRIVATE: only the library sources in kvl/.
 *
 * KVL reaches two kinds of server: qx_mis over JSON-RPC (kvl/jsonrpc/) and
 * LDAP v3 directories through OpenLDAP's libldap (kvl/ldap/).  A transport
 * carries KVL's requests over its wire; everything else (request ids and
 * their replies, the waits and their time-outs, the Xt inputs of the socket,
 * notifications and their callbacks, albums and images, the loss of the
 * connection) is the platform's, written once in the common files.
 *
 * The contract, for each kind of server:
 *   open        makes the connection to host (the text given to connect):
 *               sets plat.fd, host and host_port, calls plat.opened() once
 *               the socket stands, then greets or binds, which may wait
 *               through plat.wait(); false with err set on failure (the
 *               platform then closes).
 *   send        starts the request id (method and params in KVL's
 *               vocabulary, the methods of docs/protocol.md).  The answer
 *               goes into plat.pending[id] through plat.answer / plat.fail
 *               when it comes, which may be at once.  Never waits.  False
 *               when the connection was lost on the way (plat.lost called).
 *   read_input  plat.fd is readable: takes what is there without waiting,
 *               answering requests and queuing notifications (plat.events,
 *               in the shapes platform.cpp dispatches).
 *   flush       writes queued output without waiting; false when the
 *               connection was lost meanwhile.
 *   forget      nobody waits for the answer to id any more (its wait ended).
 *   close       closes quietly; plat.fd is -1 afterwards.
 *   to_fdn      the FDN of a name as a user may type it for this kind of
 *               server (a directory's DN); "" when it names nothing.  Never
 *               waits.  FDNs come back as they are.
 *   user_name   the reverse: an FDN as the server's users write names (a
 *               directory's DN); the FDN itself where that is the form, or
 *               where the name has no other (the root DSE).  Never waits.
 * open may set plat.default_root: the FDN the host text names as the root
 * to show (a directory URL's base DN).
 * A transport calls plat.lost(why) or plat.drop(why) when the connection
 * goes; the platform then fails the waits and raises DISCONNECTED.
 */
#ifndef KVL_TRANSPORT_H
#define KVL_TRANSPORT_H

#include "kvl/kvl_private.h"

#include <memory>
#include <string>

struct KvlTransport {
    virtual ~KvlTransport() {}
    virtual bool open(PlatformImpl& plat, const std::string& host, const std::string& app,
                      double timeout, Error& err) = 0;
    virtual bool send(PlatformImpl& plat, long id, const char* method, const json& params) = 0;
    virtual void read_input(PlatformImpl& plat) = 0;
    virtual bool flush(PlatformImpl& plat) { return plat.connected; }
    virtual void forget(PlatformImpl& plat, long id) {}
    virtual void close(PlatformImpl& plat) = 0;
    virtual std::string to_fdn(const std::string& name) { return name; }
    virtual std::string user_name(const std::string& fdn) { return fdn; }
};

/* True when host names a directory: an ldap://, ldaps:// or ldapi:// URL. */
bool kvl_is_ldap_url(const std::string& host);

/* The transport for host: LDAP for a directory's URL, else JSON-RPC (a host
 * name, host:port, qx://, qxs://). */
std::unique_ptr<KvlTransport> kvl_transport_for(const std::string& host);

std::unique_ptr<KvlTransport> kvl_ldap_transport();

#endif /* KVL_TRANSPORT_H */
