// lumarc-scan: scans a page from a Lumarc unit's scanner into a PNG file.
#include "scan_command.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumarc::tools::runScan(args, std::cout, std::cerr);
}
