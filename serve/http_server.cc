#include "http_server.h"

#include "router.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <microhttpd.h>
#include <netinet/in.h>
#include <thread>
#include <unistd.h>

namespace {

// Bounds on what a client may hold: the request line and headers fit the
// connection's memory, an idle or slow connection is dropped, and only so
// many are open at once.
constexpr size_t CONNECTION_MEMORY = size_t{10} * 1024;
constexpr unsigned CONNECTION_TIMEOUT_SECONDS = 10;
constexpr unsigned CONNECTION_LIMIT = 256;

// One request from its first line to its completion.
struct request_log {
    std::string target; // as the client sent it, for the log
    std::string client;
    std::string method = "-";
    std::string version = "HTTP/1.1"; // as the request line gave it, once known
    int status = 0;
    long long bytes = 0;
    bool counted = false;
};

std::string printable(const char* text) {
    std::string out;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        if (c < 0x21 || c >= 0x7F || c == '"' || c == '\\') {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string client_address(MHD_Connection* connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    char text[INET6_ADDRSTRLEN] = "-";
    if (info == nullptr || info->client_addr == nullptr) return text;
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        (void)inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text,
                        sizeof text); // fits
    else if (a->sa_family == AF_INET6)
        (void)inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text,
                        sizeof text); // fits
    return text;
}

void* on_uri(void* cls, const char* uri, MHD_Connection* connection) {
    auto* state = static_cast<server_state*>(cls);
    auto* log = new (std::nothrow) request_log;
    if (log == nullptr) return nullptr;
    log->counted = true;
    state->in_flight.fetch_add(1);
    if (!state->quiet) {
        log->target = printable(uri);
        log->client = client_address(connection);
    }
    return log;
}

void write_log_line(const request_log& log) {
    time_t now = std::time(nullptr);
    tm parts{};
    char when[40] = "-";
    if (localtime_r(&now, &parts) != nullptr)
        (void)std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S %z", &parts); // fits
    std::string line = log.client + " - - [" + when + "] \"" + log.method + " " + log.target + " " +
                       log.version + "\" " +
                       (log.status != 0 ? std::to_string(log.status) : std::string("-")) + " " +
                       std::to_string(log.bytes) + "\n";
    // One write per line, so that lines of parallel requests never mix; a
    // log that cannot be written must not stop the answers.
    (void)write(STDERR_FILENO, line.data(), line.size());
}

void on_completed(void* cls, MHD_Connection* connection, void** con_cls,
                  MHD_RequestTerminationCode) {
    auto* state = static_cast<server_state*>(cls);
    auto* log = static_cast<request_log*>(*con_cls);
    if (log == nullptr) return;
    *con_cls = nullptr;
    if (!state->quiet) {
        const MHD_ConnectionInfo* info =
            MHD_get_connection_info(connection, MHD_CONNECTION_INFO_HTTP_STATUS);
        if (log->status == 0 && info != nullptr) log->status = static_cast<int>(info->http_status);
        write_log_line(*log);
    }
    if (log->counted) state->in_flight.fetch_sub(1);
    delete log;
}

int hex_digit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// Decodes a URL's path or a query parameter in place: "%XX" to its byte
// and "+" to a space, as HTML forms send it. "%00" stays as it is, so that
// no name is cut short at a zero byte.
size_t unescape_in_place(void*, MHD_Connection*, char* text) {
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        int high = in[0] == '%' ? hex_digit(in[1]) : -1;
        int low = high >= 0 ? hex_digit(in[2]) : -1;
        if (low >= 0 && (high | low) != 0) {
            *out++ = static_cast<char>(high << 4 | low);
            in += 2;
        } else {
            *out++ = *in == '+' ? ' ' : *in;
        }
    }
    *out = '\0';
    return static_cast<size_t>(out - text);
}

MHD_Result add_argument(void* cls, MHD_ValueKind, const char* key, const char* value) {
    auto* request = static_cast<http_request*>(cls);
    request->query.emplace_back(key != nullptr ? key : "", value != nullptr ? value : "");
    return MHD_YES;
}

MHD_Response* make_response(const http_response& r, bool closing) {
    MHD_Response* response =
        r.file_fd >= 0
            ? MHD_create_response_from_fd(static_cast<uint64_t>(r.file_size), r.file_fd)
            : MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()),
                                              MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        if (r.file_fd >= 0) (void)close(r.file_fd); // read-only: nothing to lose
        return nullptr;
    }
    bool added = MHD_add_response_header(response, "Content-Type", r.content_type.c_str());
    for (const auto& [name, value] : r.headers)
        added = MHD_add_response_header(response, name.c_str(), value.c_str()) && added;
    if (closing) added = MHD_add_response_header(response, "Connection", "close") && added;
    if (!added) {
        MHD_destroy_response(response);
        return nullptr;
    }
    return response;
}

MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method,
                      const char* version, const char*, size_t* upload_size, void** con_cls) {
    auto* state = static_cast<server_state*>(cls);
    auto* log = static_cast<request_log*>(*con_cls);
    // A body is not wanted: whatever arrives is passed over.
    if (*upload_size != 0) {
        *upload_size = 0;
        return MHD_YES;
    }
    http_request request;
    http_response answer;
    try {
        request.method = method;
        request.path = url;
        const char* tag = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "If-None-Match");
        if (tag != nullptr) request.if_none_match = tag;
        (void)MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, add_argument,
                                        &request); // the count is not needed
        std::shared_ptr<const served_data> data = current_data(*state);
        answer = route_request(*data, request);
    } catch (const std::bad_alloc&) {
        answer = http_response{};
        answer.status = 503;
        answer.body = "out of memory\n";
    }
    if (log != nullptr) {
        log->status = answer.status;
        // The body's size, as sent: none for HEAD.
        bool head = std::strcmp(method, "HEAD") == 0;
        log->bytes = head                  ? 0
                     : answer.file_fd >= 0 ? answer.file_size
                                           : static_cast<long long>(answer.body.size());
        if (!state->quiet) {
            log->method = printable(method);
            log->version = printable(version);
        }
    }
    MHD_Response* response = make_response(answer, state->closing.load());
    if (response == nullptr) return MHD_NO; // MHD closes the connection
    MHD_Result queued =
        MHD_queue_response(connection, static_cast<unsigned>(answer.status), response);
    MHD_destroy_response(response);
    return queued;
}

void on_error(void*, const char* format, va_list arguments) {
    char text[512];
    (void)std::vsnprintf(text, sizeof text, format, arguments); // truncated if longer
    std::string line = std::string("korvalinde-serve: ") + text;
    if (!line.ends_with('\n')) line += '\n';
    (void)write(STDERR_FILENO, line.data(), line.size()); // nothing better to do on failure
}

} // namespace

std::shared_ptr<const served_data> current_data(server_state& state) {
    std::lock_guard<std::mutex> hold(state.data_lock);
    return state.data;
}

void replace_data(server_state& state, std::shared_ptr<const served_data> data) {
    std::shared_ptr<const served_data> old;
    {
        std::lock_guard<std::mutex> hold(state.data_lock);
        old = std::move(state.data);
        state.data = std::move(data);
    }
    // The old generation goes when its last request finishes (here, when
    // there is none), outside the lock.
}

bool start_server(server_state& state, const serve_settings& settings, uint16_t& port,
                  std::string& error) {
    sockaddr_storage address{};
    unsigned flags =
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_USE_ITC | MHD_USE_ERROR_LOG;
    if (settings.address.find(':') != std::string::npos) {
        auto* a6 = reinterpret_cast<sockaddr_in6*>(&address);
        a6->sin6_family = AF_INET6;
        a6->sin6_port = htons(settings.port);
        if (inet_pton(AF_INET6, settings.address.c_str(), &a6->sin6_addr) != 1) {
            error = settings.address + ": not an IPv6 address";
            return false;
        }
        flags |= MHD_USE_IPv6;
    } else {
        auto* a4 = reinterpret_cast<sockaddr_in*>(&address);
        a4->sin_family = AF_INET;
        a4->sin_port = htons(settings.port);
        if (inet_pton(AF_INET, settings.address.c_str(), &a4->sin_addr) != 1) {
            error = settings.address + ": not an IPv4 address";
            return false;
        }
    }
    unsigned threads = settings.threads > 0 ? static_cast<unsigned>(settings.threads)
                                            : std::max(1U, std::thread::hardware_concurrency());
    state.quiet = settings.quiet;
    state.daemon = MHD_start_daemon(
        flags, 0, nullptr, nullptr, on_request, &state, MHD_OPTION_EXTERNAL_LOGGER, on_error,
        nullptr, MHD_OPTION_SOCK_ADDR, &address, MHD_OPTION_THREAD_POOL_SIZE, threads,
        MHD_OPTION_CONNECTION_LIMIT, CONNECTION_LIMIT, MHD_OPTION_CONNECTION_TIMEOUT,
        CONNECTION_TIMEOUT_SECONDS, MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY,
        MHD_OPTION_URI_LOG_CALLBACK, on_uri, &state, MHD_OPTION_NOTIFY_COMPLETED, on_completed,
        &state, MHD_OPTION_UNESCAPE_CALLBACK, unescape_in_place, nullptr, MHD_OPTION_END);
    if (state.daemon == nullptr) {
        bool v6 = (flags & MHD_USE_IPv6) != 0;
        error = "cannot listen on " + std::string(v6 ? "[" : "") + settings.address +
                (v6 ? "]:" : ":") + std::to_string(settings.port);
        return false;
    }
    const MHD_DaemonInfo* info = MHD_get_daemon_info(state.daemon, MHD_DAEMON_INFO_BIND_PORT);
    port = info != nullptr ? info->port : settings.port;
    return true;
}

void stop_server(server_state& state, int grace_ms) {
    state.closing = true;
    MHD_socket listener = MHD_quiesce_daemon(state.daemon);
    if (listener != MHD_INVALID_SOCKET) (void)close(listener); // no longer accepted on
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(grace_ms);
    while (state.in_flight.load() > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    MHD_stop_daemon(state.daemon);
    state.daemon = nullptr;
}
