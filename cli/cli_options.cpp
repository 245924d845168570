#include "cli/cli_options.h"
