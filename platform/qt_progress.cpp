#include "platform/qt_progress.h"
