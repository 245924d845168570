#include "cli/cli_command.h"
#include "cli/host_system.h"

int main(int argc, char** argv)
{
    return kqget::runCliCommand(kqget::commandArguments(argc, argv));
}
