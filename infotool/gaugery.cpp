// gaugery: the scanner information tool. Started by the configuration tool
// for the unit it stored in [Common] Select; takes no arguments beyond
// --help and --version.
#include "gaugery_program.h"
#include "texts.h"

#include "platform/com.h"
#include "platform/message_pump.h"
#include "platform/message_window.h"
#include "platform/signal_watch.h"
#include "qtcommon/message_bridge.h"
#include "qtcommon/qt_message_boxes.h"
#include "tools/cli.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

namespace {

constexpr const char* kUsage = R"(Usage: gaugery [OPTION]
The Lumarc scanner information tool: shows the identification and the
capabilities of the scanner attached to the unit selected in the
configuration tool ([Common] Select of Quenty.ini), and shows, clears and
writes back the counters and settings kept in the scanner's EEPROM.

  -h, --help     show this help and exit
  -V, --version  show the version and exit

The unit is put into scanner-information mode while the tool runs and left
in its normal mode at the end, also when the tool is ended by SIGTERM,
SIGINT or SIGHUP. One copy runs at a time; a second one ends at once.

Exit status: 0, or 2 for a usage error.
)";

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: the signals reach the program as messages.
    lumarc::platform::blockSignals({SIGTERM, SIGINT, SIGHUP});
    std::signal(SIGPIPE, SIG_IGN);

    if (const auto ended = lumarc::tools::helpAndVersionOnly(argc, argv, "gaugery", kUsage))
        return *ended;

    using namespace lumarc::infotool;
    QApplication application(argc, argv);
    // Exchanges with the unit keep the windows painted, but take no clicks.
    lumarc::platform::setPendingMessagesHook([] {
        lumarc::platform::dispatchPendingMessages();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    lumarc::platform::ComScope com;
    const Texts texts = Texts::load();
    application.setApplicationDisplayName(QString::fromStdString(texts(sid::kProgramTitle)));
    ZorvanManagement management;
    lumarc::qtcommon::QtMessageBoxes boxes("Gaugery");
    GaugeryProgram program(management, boxes, texts);
    const auto bridge = lumarc::qtcommon::SignalBridge::start([&program](int) { program.requestStop(); });
    const int status = program.run();
    lumarc::platform::setPendingMessagesHook({});
    return status;
}
