// Starting the scanner information tool: "gaugery" from this program's own
// folder (else from the search path), with no arguments; it finds its unit
// through [Common] Select. The tool does not wait for it to end, but
// collects the processes that have ended, so none stays a zombie.
#pragma once

#include "unit_list_window.h"

#include "platform/process.h"

#include <filesystem>
#include <vector>

namespace lumarc::configtool {

class GaugeryStarter : public ProgramStarter {
public:
    // program: the file to start (by default gaugery beside this program).
    explicit GaugeryStarter(std::filesystem::path program = {});
    bool start() override;
    Wait waitUntilReady(std::chrono::milliseconds timeout) override;

    // The file start() runs, and the process it started last (null before).
    const std::filesystem::path& program() const { return m_program; }
    platform::Process* last() { return m_started.empty() ? nullptr : &m_started.back(); }

private:
    std::filesystem::path m_program;
    std::vector<platform::Process> m_started;
};

} // namespace lumarc::configtool
