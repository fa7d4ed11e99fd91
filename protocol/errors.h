// Public: the error codes of the qx_mis wire protocol (docs/protocol.md), one list for the
// server and for the client library. Header only; it includes nothing.
#pragma once

namespace protocol {

enum ErrorCode {
    // JSON-RPC 2.0's own
    E_PARSE = -32700,           // the line is not JSON
    E_INVALID_REQUEST = -32600, // not a JSON-RPC 2.0 request object (or batch)
    E_NO_METHOD = -32601,       // unknown method
    E_BAD_PARAMS = -32602,      // parameters missing or of the wrong type
    E_INTERNAL = -32603,        // a fault of the server's own; the request had no effect
    // management errors
    E_NO_OBJECT = -32001,       // no such object
    E_NO_ATTRIBUTE = -32002,    // no such attribute, in the schema or the object's class
    E_NO_CLASS = -32003,        // no such class
    E_CLASS_CONFLICT = -32004,  // the object is not of the class asked for
    E_DUPLICATE = -32005,       // an object of that name exists
    E_SYNTAX = -32006,          // value refused by the attribute's syntax
    E_ACCESS = -32007,          // read-only attribute, or the root object
    E_NAME_BINDING = -32008,    // the class may not live beneath that parent
    E_NO_ACTION = -32009,       // no such action for the object's class
    E_ACTION_FAILED = -32010,   // the action failed
    E_BAD_NAME = -32011,        // malformed object name
    E_BAD_FILTER = -32012,      // malformed derivation string or filter
    E_NO_SUBSCRIPTION = -32013, // no such subscription
    E_LIMIT = -32014,           // a limit of the server refuses the request (the message names it)
    E_AUTH_REQUIRED = -32015,   // the server has users and the connection has not logged in
    E_LOGIN_FAILED = -32016,    // unknown user or wrong password (the two are not told apart)
    E_CHANGED = -32017,         // set's expected value differs from the attribute's value now
    E_FULL = -32020,            // the server is full; the connection is closed
    E_STORAGE = -32021,         // storage failure; nothing was changed
};

} // namespace protocol
