// A request as the raw clients send it: its bytes, prepared once, and its
// kind, classified once.
#pragma once

#include <vector>

#include "recording.h"
#include "wire_view.h"

namespace PevraNUV::bench {

struct Request {
    Message bytes;
    Kind kind;
};

inline std::vector<Request> Prepare(const std::vector<Message>& recorded) {
    std::vector<Request> requests;
    for (const Message& bytes : recorded) requests.push_back({bytes, Classify(View(bytes.data(), bytes.size()))});
    return requests;
}

}  // namespace PevraNUV::bench
