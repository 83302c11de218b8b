#include "progress.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace {

using progress_clock = std::chrono::steady_clock;

constexpr auto FIRST_DRAW_AFTER = std::chrono::seconds(1);
constexpr auto REDRAW_EVERY = std::chrono::milliseconds(250);

struct progress_state {
    std::atomic<int64_t> done{0};
    int64_t total = 0;
    const char* phase = "";
    const char* unit = "";
    progress_clock::time_point started;
    std::thread ticker;
    std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    int drawn_length = 0; // characters of the line on screen, 0 if none
};

// Member construction neither allocates nor throws.
progress_state state; // NOLINT(cert-err58-cpp): see above

// Writes the whole buffer to standard error. The display is a courtesy: a
// failed write is not worth disturbing the run for, so errors end the attempt.
void write_stderr(const char* text, size_t length) {
    while (length > 0) {
        ssize_t n = write(STDERR_FILENO, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<size_t>(n);
    }
}

void format_duration(char* buf, int size, double seconds) {
    auto s = static_cast<int64_t>(std::llround(seconds));
    if (s >= 3600)
        std::snprintf(buf, static_cast<size_t>(size), "%lldh%02lldm",
                      static_cast<long long>(s / 3600), static_cast<long long>(s / 60 % 60));
    else if (s >= 60)
        std::snprintf(buf, static_cast<size_t>(size), "%lldm%02llds",
                      static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    else
        std::snprintf(buf, static_cast<size_t>(size), "%llds", static_cast<long long>(s));
}

void draw() {
    double seconds = std::chrono::duration<double>(progress_clock::now() - state.started).count();
    char line[256];
    int length = progress_format(line + 1, sizeof line - 1, state.phase,
                                 state.done.load(std::memory_order_relaxed), state.total, seconds,
                                 state.unit);
    line[0] = '\r';
    // Blank out what is left of a longer earlier line.
    int shown = length;
    while (shown < state.drawn_length && shown + 2 < static_cast<int>(sizeof line))
        line[1 + shown++] = ' ';
    write_stderr(line, static_cast<size_t>(shown) + 1);
    state.drawn_length = length;
}

void clear_line() {
    if (state.drawn_length == 0) return;
    char line[258];
    int n = std::min(state.drawn_length, 255);
    line[0] = '\r';
    std::memset(line + 1, ' ', static_cast<size_t>(n));
    line[n + 1] = '\r';
    write_stderr(line, static_cast<size_t>(n) + 2);
    state.drawn_length = 0;
}

void tick() {
    std::unique_lock<std::mutex> guard(state.lock);
    if (state.wake.wait_until(guard, state.started + FIRST_DRAW_AFTER,
                              [] { return state.stopping; }))
        return;
    for (;;) {
        draw();
        if (state.wake.wait_for(guard, REDRAW_EVERY, [] { return state.stopping; })) return;
    }
}

} // namespace

int progress_format(char* buf, int size, const char* phase, int64_t done, int64_t total,
                    double seconds, const char* unit) {
    double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
    if (total <= 0) {
        int n = std::snprintf(buf, static_cast<size_t>(size), "%s: %lld %s, %.0f/s", phase,
                              static_cast<long long>(done), unit, rate);
        return n < 0 ? 0 : std::min(n, size - 1);
    }
    char eta[32];
    if (rate > 0 && done <= total)
        format_duration(eta, sizeof eta, static_cast<double>(total - done) / rate);
    else
        std::snprintf(eta, sizeof eta, "?");
    int n =
        std::snprintf(buf, static_cast<size_t>(size), "%s: %lld/%lld %s, %.0f/s, %s left", phase,
                      static_cast<long long>(done), static_cast<long long>(total), unit, rate, eta);
    if (n < 0) return 0;
    return std::min(n, size - 1);
}

void progress_begin(const char* phase, int64_t total, const char* unit) {
    progress_end();
    state.done.store(0, std::memory_order_relaxed);
    state.total = total;
    state.phase = phase;
    state.unit = unit;
    state.started = progress_clock::now();
    state.stopping = false;
    state.drawn_length = 0;
    if (!progress_displayed()) return;
    try {
        state.ticker = std::thread(tick);
    } catch (const std::system_error&) {
        // The display is a courtesy: without a thread for it the phase runs
        // the same, undisplayed.
    }
}

bool progress_displayed() {
    return isatty(STDERR_FILENO) == 1;
}

void progress_advance(int64_t n) {
    state.done.fetch_add(n, std::memory_order_relaxed);
}

void progress_end() {
    if (!state.ticker.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(state.lock);
        state.stopping = true;
    }
    state.wake.notify_all();
    state.ticker.join();
    clear_line();
}
