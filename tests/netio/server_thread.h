#pragma once
// A relay server for tests: on 127.0.0.1 and a free port, served on a
// thread of its own as a hosting game serves it, its log kept.

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "netio/relay_server.h"

namespace zobra::test {

class ServerThread {
  public:
    explicit ServerThread(netio::RelayServerOptions options = {}) {
        options.bind = "127.0.0.1";
        options.port = 0;
        options.seed = 99;
        std::string error;
        server_ = netio::RelayServer::open(
            options,
            [this](std::string_view line) {
                const std::lock_guard lock(mutex_);
                log_.emplace_back(line);
            },
            error);
        if (!server_) throw std::runtime_error(error);
        port_ = server_->port();
        thread_ = std::thread([this] { server_->run(stop_); });
    }
    ~ServerThread() { stop(); }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        server_.reset();
    }
    std::uint16_t port() const { return port_; }
    std::vector<std::string> log() {
        const std::lock_guard lock(mutex_);
        return log_;
    }

  private:
    std::unique_ptr<netio::RelayServer> server_;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> log_;
};

}  // namespace zobra::test
