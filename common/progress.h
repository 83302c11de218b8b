// A one-line progress display on standard error for the long phases of a
// run (import, set search, analysis).
//
// When standard error is a terminal and a phase has been running for more
// than a second, a background ticker redraws
//   "\r<phase>: <done>/<total> <unit>, <rate>/s, <eta> left"
// a few times a second and clears the line when the phase ends. When standard
// error is not a terminal nothing at all is written, so redirected runs and
// scripts see exactly the program's own output.
#pragma once

#include <cstdint>

// Starts a phase of total units (keys, records, files, ...). The phase name
// and the unit must stay valid until progress_end. One phase at a time.
void progress_begin(const char* phase, int64_t total, const char* unit = "keys");

// Whether phases are displayed: standard error is a terminal. Callers may
// skip the counting otherwise.
bool progress_displayed();

// Counts n more units as done. Safe to call from any thread; costs one atomic
// add.
void progress_advance(int64_t n);

// Ends the phase: stops the ticker and clears the line if one was drawn.
void progress_end();

// Begins a phase on construction and ends it on every way out of the scope,
// so no ticker thread outlives an early return.
struct progress_phase {
    progress_phase(const char* phase, int64_t total, const char* unit = "keys") {
        progress_begin(phase, total, unit);
    }
    ~progress_phase() { progress_end(); }
    progress_phase(const progress_phase&) = delete;
    progress_phase& operator=(const progress_phase&) = delete;
};

// Formats the display line (without the leading "\r") into buf; returns its
// length. A total of 0 or less is unknown: the line then shows what is done
// and the rate only. Exposed for testing.
int progress_format(char* buf, int size, const char* phase, int64_t done, int64_t total,
                    double seconds, const char* unit = "keys");
