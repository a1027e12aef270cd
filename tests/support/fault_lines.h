// The library's own log line for each failing call of the simulated world:
// one table for the player's set-up tests and the fault sweep.
#pragma once

#include <string>
#include <vector>

namespace testfaults {

struct FaultLine {
    const char* point;
    // The failing call of the point, counted from the opening of the OSD in
    // a session that loads one file; 0 for a line that needs the session to
    // go on past the load (the sweep's whole session meets it).
    int nth;
    // Met by a time-shifted server MPEG (the push graph), or by a file the
    // graph manager renders.
    bool push;
    // The line after its time stamp, "<tag>: message"; a line written with
    // the failure's code goes on with " (ERROR: ".
    const char* line;
};

const std::vector<FaultLine>& faultLines();

// What a session whose every call of `point` fails writes, one text for
// each line (a line contains its text).
std::vector<std::string> linesWhenEveryCallFails(const std::string& point);

} // namespace testfaults
