// Public within qx_mis: the error a request can end with.
#pragma once
#include <string>

#include "protocol/errors.h"

namespace mis {

// The protocol's error codes (E_PARSE, E_NO_OBJECT, ...), shared with the client library.
using namespace protocol;

// Thrown inside request handling and turned into the request's error reply;
// it never leaves the handler.
struct Fault {
    int code;
    std::string message;
};

[[noreturn]] inline void fail(int code, std::string message)
{
    throw Fault{code, std::move(message)};
}

} // namespace mis
