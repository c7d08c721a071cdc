// Process error mode. Windows shows a dialog when a program touches a drive
// with no medium; a console tool run by the server must never block on one.
// POSIX has no such dialogs, so there is nothing to switch off.
#pragma once

void platform_hide_critical_error_dialogs();
