// lumarc-regsvr: registers or unregisters a COM server library.
#include "regsvr_command.h"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    return lumarc::tools::runRegsvr(args, std::cout, std::cerr);
}
