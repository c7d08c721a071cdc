// Nothing to do on POSIX: see the header.
#include "PlatformErrorMode.h"

void platform_hide_critical_error_dialogs() {}
