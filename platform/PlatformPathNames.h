// PlatformPathNames: the short (8.3) and long forms of an existing path, as
// the Windows file system reports them with their true letter case.
//
// Linux file names have one form and keep their case, so both queries copy
// the path. Stateless and thread-safe.
#pragma once

#include <cstddef>

// Writes the short form of path into buffer (capacity bytes, NUL included)
// and returns its length; when it does not fit, returns the needed capacity
// (NUL included) and writes nothing; 0 when path is null.
std::size_t platform_short_path_name(const char *path, char *buffer, std::size_t capacity);

// As platform_short_path_name, for the long form.
std::size_t platform_long_path_name(const char *path, char *buffer, std::size_t capacity);
