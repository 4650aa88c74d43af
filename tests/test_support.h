// Shared by the unit tests: a callback table that writes every call down as
// text while its arguments are valid.
#pragma once

#include <string>
#include <vector>

#include "PTabletSettingsAPI.h"

namespace ptsa_test {

// Each call as slot(arguments): "tilt(-3)", "pen(serial,penId,btId,battery)",
// "topSwitch(function,text,hoverClick)", "wedge3(function,text)",
// "topSingleOptions(1,88:text)". The recorder itself is the context.
struct Recorder {
    static const PevraNUV_Callbacks kTable;
    std::vector<std::string> calls;
    std::vector<const void*> pointers;  // the record pointer of each call, or null

    // The calls since the last Take, one a line; "" for none.
    std::string Take();
};

template <std::size_t N>
std::string Narrow(const PevraNUV_Char (&field)[N]) {
    std::string text;
    for (std::size_t i = 0; i < N && field[i] != 0; ++i) text += static_cast<char>(field[i]);
    return text;
}

}  // namespace ptsa_test
