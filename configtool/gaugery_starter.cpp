// Starting the scanner information tool.
#include "gaugery_starter.h"

#include "platform/debug_output.h"
#include "platform/folders.h"

#include <algorithm>

namespace lumarc::configtool {
namespace {

constexpr const char* kProgramName = "gaugery";

std::filesystem::path defaultProgram()
{
    // The program's own folder first, as the system's program search does.
    std::error_code ec;
    const auto beside = platform::programFolder() / kProgramName;
    if (std::filesystem::exists(beside, ec))
        return beside;
    return kProgramName;
}

} // namespace

GaugeryStarter::GaugeryStarter(std::filesystem::path program)
    : m_program(program.empty() ? defaultProgram() : std::move(program))
{
}

bool GaugeryStarter::start()
{
    // Processes that ended meanwhile are collected here.
    std::erase_if(m_started, [](platform::Process& process) { return !process.running(); });
    auto process = platform::Process::start({m_program.string()});
    if (!process) {
        platform::debugOutput("(Unitdesk) " + m_program.string() + ": " + process.error().text +
                              "\n");
        return false;
    }
    m_started.push_back(std::move(*process));
    return true;
}

ProgramStarter::Wait GaugeryStarter::waitUntilReady(std::chrono::milliseconds timeout)
{
    if (m_started.empty())
        return Wait::Failed;
    switch (m_started.back().waitForInputIdle(timeout)) {
    case platform::IdleWait::Idle:
    case platform::IdleWait::Ended:
        return Wait::Ready;
    case platform::IdleWait::TimedOut:
        break;
    }
    return Wait::TimedOut;
}

} // namespace lumarc::configtool
