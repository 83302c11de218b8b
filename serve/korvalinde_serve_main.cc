// korvalinde-serve: korvalinde-path's answers, key pages and korvalinde-html's
// reports over HTTP, reloaded on SIGHUP.
#include "http_server.h"
#include "program_messages.h"
#include "serve_options.h"
#include "served_data.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <new>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

// How long requests in flight may take to finish once the server is told to stop.
constexpr int STOP_GRACE_MS = 5000;

void log_line(const std::string& text) {
    std::string line = "korvalinde-serve: " + text + "\n";
    (void)write(STDERR_FILENO, line.data(), line.size()); // nowhere else to say it
}

// A load frees as much as it keeps (the import's graph, the names' map),
// in small pieces that malloc would keep for reuse: handed back to the
// system, they leave room for the workers' search spaces.
void give_back_free_memory() {
    (void)malloc_trim(0); // only says whether anything was released
}

// Waits for signals and acts on them in this thread: the handlers do nothing.
int run_until_stopped(server_state& state, const serve_settings& settings, int signals) {
    for (;;) {
        signalfd_siginfo info{};
        ssize_t n = read(signals, &info, sizeof info);
        if (n < 0 && errno == EINTR) continue;
        if (n != static_cast<ssize_t>(sizeof info)) {
            log_line(std::string("reading signals: ") + std::strerror(errno));
            stop_server(state, STOP_GRACE_MS);
            return 1;
        }
        if (info.ssi_signo == SIGHUP) {
            std::string error;
            std::shared_ptr<const served_data> fresh;
            try {
                fresh = load_served_data(settings, error);
            } catch (const std::bad_alloc&) {
                // The old generation still fits: keep serving it.
                error = "out of memory";
            }
            if (fresh == nullptr) {
                log_line("reload failed, still serving the previous files: " + error);
                continue;
            }
            int keys = fresh->ix.key_count;
            replace_data(state, std::move(fresh));
            give_back_free_memory();
            log_line("reloaded: " + std::to_string(keys) + " keys");
            continue;
        }
        stop_server(state, STOP_GRACE_MS);
        return 0;
    }
}

int serve(const serve_settings& settings) {
    // Blocked before any thread starts, so that every thread inherits the
    // mask and the signals reach only the descriptor read above.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGHUP);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    if (pthread_sigmask(SIG_BLOCK, &mask, nullptr) != 0) {
        log_line("cannot block signals");
        return 1;
    }
    if (std::signal(SIGPIPE, SIG_IGN) == SIG_ERR) { // a client gone is an error on its socket
        log_line("cannot ignore SIGPIPE");
        return 1;
    }
    int signals = signalfd(-1, &mask, SFD_CLOEXEC);
    if (signals < 0) {
        log_line(std::string("signalfd: ") + std::strerror(errno));
        return 1;
    }
    std::string error;
    std::shared_ptr<const served_data> data = load_served_data(settings, error);
    if (data == nullptr) {
        log_line(error);
        return 1;
    }
    server_state state;
    replace_data(state, std::move(data));
    give_back_free_memory();
    uint16_t port = 0;
    if (!start_server(state, settings, port, error)) {
        log_line(error);
        return 1;
    }
    bool v6 = settings.address.find(':') != std::string::npos;
    std::printf("listening on http://%s%s%s:%u/\n", v6 ? "[" : "", settings.address.c_str(),
                v6 ? "]" : "", static_cast<unsigned>(port));
    if (std::fflush(stdout) != 0) log_line("cannot write the address to standard output");
    int status = run_until_stopped(state, settings, signals);
    (void)close(signals); // ending anyway
    return status;
}

} // namespace

int main(int argc, char** argv) {
    set_program_name("korvalinde-serve");
    end_on_out_of_memory();
    try {
        serve_settings settings;
        if (std::optional<int> status = read_serve_options(argc, argv, settings)) return *status;
        return serve(settings);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory();
    }
}
