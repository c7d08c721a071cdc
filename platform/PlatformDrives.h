// PlatformDrives: the machine's logical drives, as the Windows drive query
// hands them out: roots separated by NUL, the list ended by a second NUL.
//
// On Linux the list is the single root "/". Stateless and thread-safe.
#pragma once

#include <cstddef>

// Writes the drive roots into buffer (capacity bytes) and returns the number
// of bytes written without the final NUL; when the list does not fit, nothing
// is written and the needed capacity is returned; 0 on failure.
std::size_t platform_logical_drives(char *buffer, std::size_t capacity);
