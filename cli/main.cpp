#include "cli/cli_command.h"
#include "cli/host_system.h"

int main(int argc, char** argv)
{
    const int status = kqget::runCliCommand(kqget::commandArguments(argc, argv));
    kqget::endProcess(status);
}
