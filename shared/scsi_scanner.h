// The scanner of a Lumarc unit as a scanning program sees it: the transport
// loaded by name and started for the unit, SCSI commands one at a time, and
// the steps of a scan (identity, capabilities from the vendor VPD page,
// SET WINDOW, SCAN, the image read in large pieces while the caller works
// on the previous one). lumarc-scan and the SANE backend both scan this way.
#pragma once

#include "platform/event.h"
#include "platform/library.h"
#include "platform/named_mutex.h"
#include "platform/result.h"
#include "scsinet/aspi.h"

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumarc::shared {

constexpr uint32_t kUnitsPerInch = 1200; // window coordinates
constexpr uint32_t kA4Width = 9921;      // 1/1200 inch
constexpr uint32_t kA4Length = 14031;

// Sense data in words a user can act on.
std::string describeSense(const uint8_t* sense);

// What went wrong, as the code of an Error whose text is a message for the
// user: the unit cannot be reached, it or its scanner is busy (serving
// another PC, another program on this PC scanning from it, or the scanner
// answering BUSY), the scanner refused a command (sense data in the text),
// the transport failed (time-out, connection lost), or the request is beyond
// what the scanner can do.
namespace scan_error {
constexpr uint32_t kUnreachable = 1;
constexpr uint32_t kBusy = 2;
constexpr uint32_t kScanner = 3;
constexpr uint32_t kTransport = 4;
constexpr uint32_t kRefused = 5;
} // namespace scan_error

// Commands to the scanner through the transport, one at a time. A command
// can be sent and finished later, so that the caller works while the
// transport fetches its data.
class ScsiChannel {
public:
    using SendCommand = uint32_t(void*);
    // completion: the event the transport signals; its descriptor is what a
    // caller waits on (poll) for the command sent last.
    ScsiChannel(SendCommand* send, std::unique_ptr<platform::Event> completion);
    ScsiChannel(const ScsiChannel&) = delete;
    ScsiChannel& operator=(const ScsiChannel&) = delete;
    // Waits for a command still on its way, so that the transport never
    // writes into memory that is gone.
    ~ScsiChannel();

    // Sends one command and returns at once. data must stay valid until the
    // command is finished: keep, when given, owns it and is held until then
    // (also by a channel destroyed meanwhile).
    void submit(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length, bool dataIn,
                const char* what, bool checkConditionAllowed = false,
                std::shared_ptr<void> keep = {});
    // Whether the command sent last has completed (without waiting).
    bool completed() const;
    // Waits at most limit for the command sent last to complete; true when
    // it has (finish() then returns without waiting).
    bool awaitCompletion(std::chrono::milliseconds limit);
    // Waits for the command sent last; its block holds status and sense.
    // A CHECK CONDITION is a failure only when the command did not expect one.
    Result<SRB_ExecSCSICmd> finish();
    // submit, then finish.
    Result<SRB_ExecSCSICmd> run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                                bool dataIn, const char* what, bool checkConditionAllowed = false);
    // The completion event's descriptor (readable when the command sent
    // last has completed).
    int completionFd() const { return m_done->fd(); }

private:
    struct Pending {
        SRB_ExecSCSICmd block{};
        std::shared_ptr<void> keep;
        const char* what = "";
        bool checkConditionAllowed = false;
        bool pending = false;
    };
    bool settle();

    SendCommand* m_send;
    std::unique_ptr<platform::Event> m_done;
    std::unique_ptr<Pending> m_pending;
};

// The transport of one scanning program, started for one unit. It stays
// loaded while the object lives.
//
// One program at a time scans from a unit's scanner: the connection claims
// the unit (a named mutex per unit address) for its lifetime, so that a
// second program of this user is told the scanner is busy instead of
// interleaving its commands with a scan in progress. The transport serves
// one unit per process; a program that wants another unit closes this
// connection first.
class ScannerConnection {
public:
    // Claims the unit, loads "DROVIK32.dll" and starts it for unit; the error
    // says why in the user's terms (kBusy when another program has the unit).
    static Result<std::unique_ptr<ScannerConnection>> open(const std::string& unit);
    ScsiChannel& channel() { return *m_channel; }

private:
    ScannerConnection() = default;
    // The channel goes first (it waits for a command on its way), then the
    // library unloads and closes the connection, and last the claim goes.
    std::optional<platform::NamedMutex> m_claim;
    std::optional<platform::Library> m_library;
    std::unique_ptr<ScsiChannel> m_channel;
};

struct ScannerIdentity {
    std::string vendor, product, revision;
};

// What the scanner says it can do, from its vendor VPD page F0 (numbers
// big-endian); nullopt when the scanner has no such page.
struct Capabilities {
    uint32_t basicX = 0, basicY = 0;            // dpi
    uint32_t minimum = 0, maximum = 0;          // resolutions both directions offer
    uint32_t windowWidth = 0, windowLength = 0; // pixels at the basic resolution
    bool colour = false, grey = false;
    bool flatbed = false, feeder = false; // physical functions
    std::string describe() const; // "50-1200 dpi, colour and grey"
};

// INQUIRY; a device that is no scanner is a failure.
Result<ScannerIdentity> readIdentity(ScsiChannel& channel);
std::optional<Capabilities> readCapabilities(ScsiChannel& channel);

// The scan window: 1/1200 inch from the top-left corner.
struct ScanWindow {
    uint32_t resolution = 300;
    uint32_t left = 0, top = 0, width = kA4Width, length = kA4Length;
    bool gray = false;

    uint32_t pixels() const { return width * resolution / kUnitsPerInch; }
    uint32_t lines() const { return length * resolution / kUnitsPerInch; }
    uint32_t channels() const { return gray ? 1 : 3; }
    uint32_t bytesPerLine() const { return pixels() * channels(); }
};

// What the scanner said it cannot do, in its terms; nullopt when it can.
std::optional<std::string> checkWindow(const ScanWindow& window, const Capabilities& c,
                                       const std::string& model);

// TEST UNIT READY, SET WINDOW and SCAN.
Status startScan(ScsiChannel& channel, const ScanWindow& window);

// The image of a started scan, in pieces of whole lines: while the caller
// works on one piece, the next is already on its way.
class ImageReader {
public:
    ImageReader(ScsiChannel& channel, const ScanWindow& window, size_t chunkBytes = 512 * 1024);
    // The next piece (whole lines); empty when the image is complete.
    Result<std::span<const uint8_t>> next();
    // Whether next() would return without waiting.
    bool ready() const;
    // Waits at most limit until next() would return without waiting.
    bool awaitReady(std::chrono::milliseconds limit);
    uint32_t linesDone() const { return m_linesDone; }

private:
    void submitRead(int buffer);

    ScsiChannel& m_channel;
    ScanWindow m_window;
    uint32_t m_linesPerRead;
    uint32_t m_linesRequested = 0; // lines asked for so far
    uint32_t m_linesDone = 0;      // lines handed out so far
    uint32_t m_inFlight = 0;       // lines of the read on its way (0: none)
    int m_readBuffer = 0;          // the buffer that read goes to
    std::shared_ptr<std::vector<uint8_t>> m_buffers[2];
};

} // namespace lumarc::shared
