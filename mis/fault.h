// Public within qx_mis: the error a request can end with.
#pragma once
#include <string>

namespace mis {

// Management error codes of the wire protocol (see docs/protocol.md).
enum ErrorCode {
    E_PARSE = -32700,
    E_INVALID_REQUEST = -32600,
    E_NO_METHOD = -32601,
    E_BAD_PARAMS = -32602,
    E_NO_OBJECT = -32001,
    E_NO_ATTRIBUTE = -32002,
    E_NO_CLASS = -32003,
    E_CLASS_CONFLICT = -32004,
    E_DUPLICATE = -32005,
    E_SYNTAX = -32006,
    E_ACCESS = -32007,
    E_NAME_BINDING = -32008,
    E_NO_ACTION = -32009,
    E_ACTION_FAILED = -32010,
    E_BAD_NAME = -32011,
    E_BAD_FILTER = -32012,
    E_NO_SUBSCRIPTION = -32013,
    E_FULL = -32020,
    E_STORAGE = -32021,
};

// Thrown inside request handling and turned into the request's error reply;
// it never leaves the handler.
struct Fault {
    int code;
    std::string message;
};

[[noreturn]] inline void fail(int code, std::string message) { throw Fault{code, std::move(message)}; }

}  // namespace mis
