// The HTTP side: libmicrohttpd's thread pool calls route_request with the
// generation in use when the request arrived, and logs each request.
#pragma once

#include "serve_options.h"
#include "served_data.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

struct MHD_Daemon;

struct server_state {
    std::mutex data_lock;
    std::shared_ptr<const served_data> data; // the generation new requests use
    std::atomic<bool> closing{false};        // answer with "Connection: close"
    std::atomic<int> in_flight{0};           // requests begun and not yet completed
    bool quiet = false;
    MHD_Daemon* daemon = nullptr;
};

std::shared_ptr<const served_data> current_data(server_state& state);
void replace_data(server_state& state, std::shared_ptr<const served_data> data);

// Starts listening; false with error set when the address cannot be had.
// The bound port (the one asked for, or the one picked for 0) in port.
bool start_server(server_state& state, const serve_settings& settings, uint16_t& port,
                  std::string& error);

// Stops accepting, lets the requests in flight finish for at most
// grace_ms, then stops the workers.
void stop_server(server_state& state, int grace_ms);
