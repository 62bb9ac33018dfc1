// A request handed to the transport, with everything the transport may
// touch until it signals completion: the request block, the completion
// event and the copy of the data phase.
#pragma once

#include "platform/event.h"
#include "scsinet/aspi.h"

#include <atomic>
#include <memory>
#include <vector>

namespace lumarc::stidev {

struct PendingRequest {
    explicit PendingRequest(platform::Event event) : done(std::move(event)) {}
    SRB_ExecSCSICmd block{};
    platform::Event done;
    std::vector<uint8_t> data;
};

// One completed request kept for the next escape, so that escapes do not
// create and close an event each time. Only a request whose completion
// signal was taken may be put back. Any thread may call.
class SpareRequest {
public:
    SpareRequest() = default;
    SpareRequest(const SpareRequest&) = delete;
    SpareRequest& operator=(const SpareRequest&) = delete;
    ~SpareRequest() { delete m_request.exchange(nullptr); }

    // The spare request with a cleared block, or null when there is none.
    std::unique_ptr<PendingRequest> take()
    {
        std::unique_ptr<PendingRequest> request(m_request.exchange(nullptr));
        if (request)
            request->block = SRB_ExecSCSICmd{};
        return request;
    }
    void put(std::unique_ptr<PendingRequest> request)
    {
        delete m_request.exchange(request.release());
    }

private:
    std::atomic<PendingRequest*> m_request{nullptr};
};

} // namespace lumarc::stidev
