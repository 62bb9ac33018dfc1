// lumarc: manages a Lumarc unit from the command line.
#include "lumarc_command.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumarc::tools::runLumarc(args, std::cin, std::cout, std::cerr);
}
