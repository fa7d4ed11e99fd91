// Public within qx_mis: the error a request can end with.
#pragma once
#include <nlohmann/json.hpp>
#include <string>

#include "protocol/errors.h"

namespace mis {

// Thrown inside request handling with one of the protocol's error codes (protocol/errors.h),
// and turned into the request's error reply; it never leaves the handler.
struct Fault {
    int code;
    std::string message;
    nlohmann::json data = nullptr; // the error's "data" member; null: none
};

[[noreturn]] inline void fail(int code, std::string message, nlohmann::json data = nullptr)
{
    throw Fault{code, std::move(message), std::move(data)};
}

} // namespace mis
