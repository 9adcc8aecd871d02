// qx480: sets up and reads a QX480DDG from the command line.
#include <iostream>

#include "platform.h"
#include "qx480_tool.h"

int main(int argc, char** argv) {
    qx480::tool::PrepareConsole();
    return qx480::tool::RunQx480(qx480::tool::ProgramArguments(argc, argv), std::cout, std::cerr);
}
