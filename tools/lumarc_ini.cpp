// lumarc-ini: reads and changes ini files from the command line.
#include "ini_command.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumarc::tools::runIniCommand(args, std::cin, std::cout, std::cerr);
}
