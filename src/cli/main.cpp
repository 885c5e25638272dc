// Entry point of the aamsg command.
#include "cli/cli.hpp"

int main(int argc, char** argv) { return aamsg::runDriver(argc, argv); }
