// unitdesk: the configuration tool. Lists the Lumarc units the event module
// keeps in Quenty.ini, manages their users, PINs, names and trigger ports,
// and sets what each button of a unit starts on this PC.
#include "texts.h"
#include "unitdesk_program.h"

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

constexpr const char* kUsage = R"(Usage: unitdesk [OPTION]
The Lumarc configuration tool: lists the Lumarc units that the event module
(kicklet) keeps in Quenty.ini and asks it to search the network again;
adds, removes and marks units; manages a unit's users, administrator PIN,
name and trigger port, and backs up and restores its user table; sets the
program each of a unit's buttons starts on this PC (Lanyard.ini) and this
PC's trigger port; starts the scanner information tool (gaugery) for a unit.

  -h, --help     show this help and exit
  -V, --version  show the version and exit

The event module must be running (kicklet). One copy runs at a time: a
second one brings the first one's window to the front and ends. SIGTERM,
SIGINT and SIGHUP end the tool cleanly.

Exit status: 0, 1 when the tool could not start (for example without the
event module), or 2 for a usage error.
)";

} // namespace

int main(int argc, char** argv)
{
    // Before any thread exists: the signals reach the program as messages.
    lumarc::platform::blockSignals({SIGTERM, SIGINT, SIGHUP});
    std::signal(SIGPIPE, SIG_IGN);

    if (const auto ended = lumarc::tools::helpAndVersionOnly(argc, argv, "unitdesk", kUsage))
        return *ended;

    using namespace lumarc::configtool;
    QApplication application(argc, argv);
    // Exchanges with a unit keep the windows painted, but take no clicks.
    lumarc::platform::setPendingMessagesHook([] {
        lumarc::platform::dispatchPendingMessages();
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    const Texts texts = Texts::load();
    application.setApplicationDisplayName(QString::fromStdString(texts(sid::kProgramTitle)));
    application.setDesktopFileName("unitdesk");
    ZorvanManagement management;
    KickletWindow kicklet;
    lumarc::qtcommon::QtMessageBoxes boxes("Unitdesk");
    UnitdeskProgram program(management, kicklet, boxes, texts);
    const auto bridge =
        lumarc::qtcommon::SignalBridge::start([&program](int) { program.requestStop(); });
    const int status = program.run();
    lumarc::platform::setPendingMessagesHook({});
    return status;
}
