// lumarc-scan: scans a page from a Lumarc unit's scanner into a PNG file.
#include "scan_command.h"

#include "platform/output_file.h"

#include <iostream>

int main(int argc, char** argv)
{
    // Ctrl-C or a termination leaves no partial image behind.
    lumarc::platform::removePartialFilesOnSignals();
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumarc::tools::runScan(args, std::cout, std::cerr);
}
