// Test support: a CA and server certificates made with the openssl tool in a temporary folder.
//
//     Certificates certs;
//     ASSERT_TRUE(certs.make(why)) << why;
//     certs.path("good.pem"), certs.path("good.key"), certs.path("ca.pem")
//
// "good" is signed by the CA for 127.0.0.1 and localhost, "wronghost" by the CA for
// wrong.example, "expired" by the CA for 127.0.0.1 but already past its end, and "self" signs
// itself for 127.0.0.1. Keys are mode 0600.
#pragma once
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace qxtest {

class Certificates {
public:
    bool make(std::string& why)
    {
        return run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("ca.key"),
                    "-out", path("ca.pem"), "-days", "30", "-subj", "/CN=Tarnwick test CA"},
                   why) &&
               signed_by_ca("good", "IP:127.0.0.1,DNS:localhost", "30", why) &&
               signed_by_ca("wronghost", "DNS:wrong.example", "30", why) &&
               // Its end a day before its start: expired from the moment it is made.
               signed_by_ca("expired", "IP:127.0.0.1,DNS:localhost", "-1", why) &&
               run({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", path("self.key"),
                    "-out", path("self.pem"), "-days", "30", "-subj", "/CN=127.0.0.1", "-addext",
                    "subjectAltName=IP:127.0.0.1"},
                   why) &&
               chmod(path("self.key").c_str(), 0600) == 0;
    }
    std::string path(const std::string& file) const { return dir_.path + "/" + file; }

private:
    bool signed_by_ca(const std::string& name, const std::string& san, const std::string& days,
                      std::string& why)
    {
        std::ofstream(path(name + ".ext")) << "subjectAltName=" << san << "\n";
        return run({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", path(name + ".key"), "-out",
                    path(name + ".csr"), "-subj", "/CN=" + name},
                   why) &&
               run({"x509", "-req", "-in", path(name + ".csr"), "-CA", path("ca.pem"), "-CAkey",
                    path("ca.key"), "-CAcreateserial", "-out", path(name + ".pem"), "-days", days,
                    "-extfile", path(name + ".ext")},
                   why) &&
               chmod(path(name + ".key").c_str(), 0600) == 0;
    }
    static bool run(std::vector<std::string> args, std::string& why)
    {
        args.insert(args.begin(), "openssl");
        std::string out;
        if (run_program(args, "", out) == 0) return true;
        why = "openssl " + args[1] + " failed: " + out;
        return false;
    }
    TempDir dir_;
};

} // namespace qxtest
