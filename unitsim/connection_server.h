// A TCP server of the simulated unit: one thread accepts, each connection is
// served on a thread of its own (finished ones are joined as new ones come),
// and the destructor wakes every wait and joins them all.
#pragma once

#include "platform/event.h"
#include "platform/net_socket.h"

#include <atomic>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace lumarc::unitsim {

class ConnectionServer {
public:
    // Serves one connection; returns when done with it. The stop event's
    // descriptor (wakeFd) ends every wait of a serve at shut-down.
    using Serve = std::function<void(platform::UniqueFd connection, platform::Endpoint peer,
                                     int wakeFd)>;

    static Result<std::unique_ptr<ConnectionServer>> start(const platform::Endpoint& at,
                                                           Serve serve);
    ~ConnectionServer();

    size_t connections() const;
    // The stop event, for waits between reads ("wait this long unless
    // stopping").
    const platform::Event& stopEvent() const { return m_stop; }

private:
    ConnectionServer(platform::UniqueFd listener, platform::Event stop, Serve serve);
    void acceptLoop();

    struct Worker {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };

    platform::UniqueFd m_listener;
    platform::Event m_stop;
    Serve m_serve;
    mutable std::mutex m_mutex;
    size_t m_connections = 0;
    std::list<Worker> m_workers;
    std::jthread m_acceptor;
};

} // namespace lumarc::unitsim
