// PlatformCodePage: the name of the system's default character set, the one
// that text of unknown encoding (file names, old tags) is read in.
//
// On Linux it is the character set of the user's locale, read without
// changing the process's locale; an unset, "C" or "POSIX" locale (plain
// ASCII) reads as "ISO-8859-1" so that every byte still converts. The name is
// a constant string; thread-safe.
#pragma once

const char *platform_system_encoding();
