#include "cli/cli_command.h"

int main(int argc, char** argv)
{
    return kqget::runCliCommand({argv + 1, argv + argc});
}
