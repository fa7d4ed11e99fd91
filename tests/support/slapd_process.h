// Test support: runs a private OpenLDAP slapd (Debian's slapd package) with a configuration of
// its own in a temporary folder: an mdb database for dc=example,dc=org with the syncprov overlay
// (content synchronization), loaded from LDIF with slapadd while it is stopped, listening on a
// free loopback port and on an ldapi socket in the folder. Nothing of the system's own slapd
// instance is used. Another client's changes (ldapadd, ldapmodify, ldapdelete, ldapmodrdn) run
// the real tools with the manager's password in a file of mode 0600, never on a command line.
//
//     SlapdProcess ldap;                       // its own temporary folder, not started yet
//     ASSERT_TRUE(ldap.start(SlapdProcess::sample_ldif())) << ldap.failure();
//     platform.connect(ldap.url().c_str(), "test", 10);
//
// The binaries are looked up as $QX_SLAPD_BIN (default /usr/sbin/slapd) and, beside it,
// slapadd; the client tools on PATH.
#pragma once
#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "mis_process.h" // child_process.h, and MisProcess for the tests that use both

namespace qxtest {

class SlapdProcess : public ChildProcess {
public:
    static constexpr const char* kSuffix = "dc=example,dc=org";
    static constexpr const char* kManager = "cn=admin,dc=example,dc=org";
    static constexpr const char* kManagerPassword = "secret";

    SlapdProcess() : own_(new TempDir), dir_(own_->path) {}

    static std::string binary()
    {
        const char* env = std::getenv("QX_SLAPD_BIN");
        return env && *env ? env : "/usr/sbin/slapd";
    }
    static bool available() { return access(binary().c_str(), X_OK) == 0; }

    // Writes the configuration, loads ldif into a fresh database (when not empty) and starts
    // the server; waits until it answers on its port. limits are extra slapd.conf lines for
    // the database (a sizelimit, ACLs). False with failure() saying why.
    bool start(const std::string& ldif, const std::string& limits = "")
    {
        stop(SIGKILL);
        failure_.clear();
        std::string db = dir_ + "/db";
        empty_folder(db); // mdb's data.mdb and lock.mdb of an earlier start
        if (mkdir(db.c_str(), 0700) < 0 && errno != EEXIST)
            return fail("mkdir " + db + ": " + std::strerror(errno));
        for (auto [name, text] : {std::pair{"/slapd.conf", config(limits)},
                                  {"/manager.pw", std::string(kManagerPassword)},
                                  {"/data.ldif", ldif}})
            if (std::string why = write_file(dir_ + name, text, 0600); !why.empty())
                return fail(why);
        if (!ldif.empty()) {
            std::string out;
            int status = run_program(
                {slapadd(), "-q", "-w", "-f", dir_ + "/slapd.conf", "-l", dir_ + "/data.ldif"}, "",
                out);
            if (status != 0) return fail("slapadd failed (" + std::to_string(status) + "): " + out);
        }
        return restart();
    }

    // Starts the server again on the same database (after stop or kill_now).
    bool restart()
    {
        stop(SIGKILL);
        for (int attempt = 0; attempt < 5; attempt++) {
            port_ = free_port();
            std::string listen = url() + "/ " + ldapi_url();
            if (!tls_cert_.empty()) {
                tls_port_ = free_port();
                listen += " " + ldaps_url() + "/";
            }
            // -d 0: stays in the foreground, so that the pid is the server's.
            std::vector<std::string> args = {binary(), "-d", "0", "-f", dir_ + "/slapd.conf",
                                             "-h", listen};
            if (spawn(args, [&] { return log_to(dir_ + "/slapd.log"); }) && wait_listening())
                return true;
            stop(SIGKILL);
        }
        return fail("slapd did not start; its log: " + log());
    }

    // TLS: the server's certificate and key (PEM files), in effect from the next start; the
    // server then also listens on ldaps_url() and offers StartTLS on url().
    void use_tls(const std::string& cert, const std::string& key)
    {
        tls_cert_ = cert;
        tls_key_ = key;
    }
    std::string ldaps_url() const { return "ldaps://127.0.0.1:" + std::to_string(tls_port_); }

    std::string url() const { return "ldap://127.0.0.1:" + std::to_string(port_); }
    std::string ldapi_url() const { return "ldapi://" + escaped(dir_ + "/ldapi"); }
    const std::string& folder() const { return dir_; }
    std::string log() const { return read_file(dir_ + "/slapd.log"); }

    // Runs an LDAP client tool (ldapadd, ldapmodify, ldapdelete, ldapmodrdn) as the manager, with
    // input on its standard input; false, the tool's output on the standard error, when it fails.
    bool change(const std::string& name, const std::string& input,
                std::vector<std::string> args = {}) const
    {
        std::vector<std::string> argv = {name, "-x",     "-H", url(),
                                         "-D", kManager, "-y", dir_ + "/manager.pw"};
        argv.insert(argv.end(), args.begin(), args.end());
        std::string out;
        int status = run_program(argv, input, out);
        if (status != 0)
            std::fprintf(stderr, "%s failed (%d): %s\n", name.c_str(), status, out.c_str());
        return status == 0;
    }

    // A small directory: the base, people (one name with escapes, one in UTF-8, one with a
    // multi-valued RDN, one with a photo), groups, hosts and a staff branch for bound access.
    static std::string sample_ldif()
    {
        return R"(dn: dc=example,dc=org
objectClass: dcObject
objectClass: organization
dc: example
o: Example

dn: ou=people,dc=example,dc=org
objectClass: organizationalUnit
ou: people

dn: uid=ann,ou=people,dc=example,dc=org
objectClass: inetOrgPerson
uid: ann
cn: Ann Archer
sn: Archer
mail: ann@example.org
mail: a.archer@example.org
userPassword: ann-secret
jpegPhoto:: /9j/4AAQSkZJRgABAQAAAQABAAD/2wBDAAgGBgcGBQgHBwcJCQgKDA==

dn: cn=Smith\, John+uid=js,ou=people,dc=example,dc=org
objectClass: inetOrgPerson
cn: Smith, John
uid: js
sn: Smith

dn:: Y249Wm/DqyDDhW5nc3Ryw7ZtLG91PXBlb3BsZSxkYz1leGFtcGxlLGRjPW9yZw==
objectClass: inetOrgPerson
cn:: Wm/DqyDDhW5nc3Ryw7Zt
sn: Zoe

dn: cn=a/b \"q\" #1,ou=people,dc=example,dc=org
objectClass: inetOrgPerson
cn: a/b "q" #1
sn: Slash

dn: ou=groups,dc=example,dc=org
objectClass: organizationalUnit
ou: groups

dn: cn=admins,ou=groups,dc=example,dc=org
objectClass: groupOfNames
cn: admins
member: uid=ann,ou=people,dc=example,dc=org

dn: ou=hosts,dc=example,dc=org
objectClass: organizationalUnit
ou: hosts

dn: cn=leeds,ou=hosts,dc=example,dc=org
objectClass: device
cn: leeds
description: the core router

dn: ou=staff,dc=example,dc=org
objectClass: organizationalUnit
ou: staff

dn: uid=bob,ou=staff,dc=example,dc=org
objectClass: inetOrgPerson
uid: bob
cn: Bob Baker
sn: Baker
userPassword: bob-secret

)";
    }

    // n entries cn=e<i> below ou=<ou>,dc=example,dc=org, the ou itself first.
    static std::string many_ldif(const std::string& ou, int n)
    {
        std::string s = "dn: ou=" + ou +
                        ",dc=example,dc=org\nobjectClass: organizationalUnit\nou: " + ou + "\n\n";
        for (int i = 0; i < n; i++) {
            std::string cn = "e" + std::to_string(i);
            s += "dn: cn=" + cn + ",ou=" + ou +
                 ",dc=example,dc=org\nobjectClass: device\ncn: " + cn + "\n\n";
        }
        return s;
    }

    // Access for the tests of binding: passwords are only compared, never read; the staff
    // branch is for bound users only.
    static std::string bound_access()
    {
        return "access to attrs=userPassword by self write by anonymous auth by * none\n"
               "access to dn.subtree=\"ou=staff,dc=example,dc=org\" by users read by * none\n"
               "access to * by * read\n";
    }

private:
    std::string slapadd() const
    {
        std::string bin = binary();
        size_t slash = bin.rfind('/');
        return slash == std::string::npos ? "slapadd" : bin.substr(0, slash + 1) + "slapadd";
    }

    std::string config(const std::string& limits) const
    {
        std::string c;
        for (const char* schema : {"core", "cosine", "inetorgperson"})
            c += std::string("include /etc/ldap/schema/") + schema + ".schema\n";
        c += "modulepath /usr/lib/ldap\nmoduleload back_mdb\nmoduleload syncprov\n";
        if (!tls_cert_.empty())
            c += "TLSCertificateFile " + tls_cert_ + "\nTLSCertificateKeyFile " + tls_key_ + "\n";
        c += "pidfile " + dir_ + "/slapd.pid\ndatabase mdb\nsuffix \"" + kSuffix + "\"\n";
        // The file is 0600 in a 0700 folder: the manager's password in it stays private.
        c += "rootdn \"" + std::string(kManager) + "\"\nrootpw " + kManagerPassword + "\n";
        c += "directory " + dir_ + "/db\nmaxsize 1073741824\n";
        c += "index objectClass,entryCSN,entryUUID eq\n";
        // slapd 2.5 caps the entries of a paged search, all pages together, at its hard size
        // limit (the default 500) unless told otherwise; the size limit of a search without
        // paging stays the default.
        c += "limits * size.prtotal=unlimited\n" + limits;
        return c + "overlay syncprov\n";
    }

    static void empty_folder(const std::string& path)
    {
        DIR* d = opendir(path.c_str());
        if (!d) return;
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                unlink((path + "/" + e->d_name).c_str());
        closedir(d);
    }

    static std::string escaped(const std::string& path)
    {
        std::string out;
        for (char c : path) out += c == '/' ? std::string("%2F") : std::string(1, c);
        return out;
    }

    // Until the port takes a connection, or the process ends.
    bool wait_listening()
    {
        int code = 0, fd = -1;
        wait_until([&] { return ended(&code) || (fd = connect_loopback(port_)) >= 0; }, 20);
        if (fd >= 0) close(fd);
        return fd >= 0;
    }

    std::unique_ptr<TempDir> own_;
    std::string dir_;
    int port_ = 0;
    int tls_port_ = 0;
    std::string tls_cert_, tls_key_;
};

} // namespace qxtest
