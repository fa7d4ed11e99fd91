// Public within qx_mis: the error a request can end with.
#pragma once
#include <string>

#include "protocol/errors.h"

namespace mis {

// Thrown inside request handling with one of the protocol's error codes (protocol/errors.h),
// and turned into the request's error reply; it never leaves the handler.
struct Fault {
    int code;
    std::string message;
};

[[noreturn]] inline void fail(int code, std::string message)
{
    throw Fault{code, std::move(message)};
}

} // namespace mis
