// The messages of the two pipes. They look like one-member JSON objects but
// are not JSON: keys and values are inserted and cut out verbatim, so a
// value may hold quotes, braces and backslashes that nothing escapes.
#pragma once

#include "text.h"

namespace settings_service {

struct Request {
    enum class Kind { Handshake, Read, Write, Malformed };
    Kind kind = Kind::Malformed;
    Text key;
    Text value;
};

// Handshake: exactly {"Connected":"?"}. Read: {"GetVal":"KEY"}.
// Write: {"KEY":"VALUE"}, the key ending at the first ":" sequence.
Request ParseRequest(const Text& message);

// {"KEY":"VALUE"}: a write request, and the form of every push.
Text WriteMessage(const Text& key, const Text& value);

// {"Val":"VALUE"}
Text ReadReply(const Text& value);

inline const Text kHandshakeRequest = u"{\"Connected\":\"?\"}";
inline const Text kAck = u"{\"Ack\":\"1\"}";
inline const Text kRefusal = u"{\"Ack\":\"0\"}";

}  // namespace settings_service
