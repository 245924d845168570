#pragma once

// Placeholder until the window lands.
