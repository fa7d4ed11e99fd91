// Public within qx_mis: TLS connections (OpenSSL), TLS 1.2 at the least, for the ConnIo
// interface of conn_io.h.
#pragma once
#include <memory>
#include <string>

#include "conn_io.h"

namespace mis {

// Reads the server's certificate (PEM, with its chain) and key; nullptr with err naming the
// file and what is wrong: unreadable, not PEM, a key that does not match the certificate, or a
// key file that others may read (its mode named).
std::unique_ptr<ConnIoMaker> tls_conn_io_maker(const std::string& cert_file,
                                               const std::string& key_file, std::string& err);

} // namespace mis
