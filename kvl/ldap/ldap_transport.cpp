/*
 * ldap_transport.cpp - the LDAP v3 transport (not built yet: it refuses).
 */
#include "kvl/transport.h"

namespace {

struct LdapTransport : KvlTransport {
    bool open(PlatformImpl& plat, const std::string& host, const std::string&, double,
              Error& err) override
    {
        err.set_error(KVL_ERR_CONNECT,
                      ("cannot connect to " + host + ": LDAP directories are not supported yet")
                          .c_str());
        return false;
    }
    bool send(PlatformImpl&, long, const char*, const json&) override { return false; }
    void read_input(PlatformImpl&) override {}
    void close(PlatformImpl& plat) override { plat.fd = -1; }
};

} // namespace

std::unique_ptr<KvlTransport> kvl_ldap_transport()
{
    return std::make_unique<LdapTransport>();
}
