#pragma once
// A relay for tests: served on a thread of its own on 127.0.0.1 and a free
// port, its log kept.

#include <mutex>
#include <stdexcept>
#include <string>
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
        relay_ = netio::RelayThread::start(
            options,
            [this](std::string_view line) {
                const std::lock_guard lock(mutex_);
                log_.emplace_back(line);
            },
            error);
        if (!relay_) throw std::runtime_error(error);
    }
    void stop() { relay_.reset(); }
    std::uint16_t port() const { return relay_->port(); }
    std::vector<std::string> log() {
        const std::lock_guard lock(mutex_);
        return log_;
    }

  private:
    std::mutex mutex_;  // before the relay, whose thread writes the log until it is gone
    std::vector<std::string> log_;
    std::unique_ptr<netio::RelayThread> relay_;
};

}  // namespace zobra::test
