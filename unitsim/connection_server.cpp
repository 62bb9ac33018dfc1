// Accepting and serving connections on threads.
#include "connection_server.h"

namespace lumarc::unitsim {

Result<std::unique_ptr<ConnectionServer>> ConnectionServer::start(const platform::Endpoint& at,
                                                                   Serve serve)
{
    auto listener = platform::listenTcp(at, 64);
    if (!listener)
        return listener.error();
    auto stop = platform::Event::create(platform::EventReset::Manual);
    if (!stop)
        return stop.error();
    std::unique_ptr<ConnectionServer> server(
        new ConnectionServer(std::move(*listener), std::move(*stop), std::move(serve)));
    server->m_acceptor = std::jthread([s = server.get()] { s->acceptLoop(); });
    return server;
}

ConnectionServer::ConnectionServer(platform::UniqueFd listener, platform::Event stop, Serve serve)
    : m_listener(std::move(listener)), m_stop(std::move(stop)), m_serve(std::move(serve))
{
}

ConnectionServer::~ConnectionServer()
{
    (void)m_stop.set();
    if (m_acceptor.joinable())
        m_acceptor.join();
    std::list<Worker> workers;
    {
        std::scoped_lock lock(m_mutex);
        workers.swap(m_workers);
    }
    workers.clear(); // joins; every wait of a worker watches the stop event
}

size_t ConnectionServer::connections() const
{
    std::scoped_lock lock(m_mutex);
    return m_connections;
}

void ConnectionServer::acceptLoop()
{
    for (;;) {
        auto ready = platform::waitReadable(m_listener.get(), std::chrono::milliseconds(-1),
                                            m_stop.fd());
        if (!ready)
            return; // shut-down
        platform::Endpoint peer;
        auto connection = platform::acceptTcp(m_listener.get(), &peer);
        if (!connection)
            continue;
        std::scoped_lock lock(m_mutex);
        ++m_connections;
        m_workers.remove_if([](const Worker& w) { return w.done->load(); });
        auto done = std::make_shared<std::atomic<bool>>(false);
        m_workers.push_back(
            {done, std::jthread([this, done, fd = std::move(*connection), peer]() mutable {
                 m_serve(std::move(fd), peer, m_stop.fd());
                 done->store(true);
             })});
    }
}

} // namespace lumarc::unitsim
