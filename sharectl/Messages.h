// The console texts of sharectl that more than one action prints.
#pragma once

inline constexpr const char *MSG_PLEASE_WAIT = "\nPlease wait, this may take a while...\n\n";
inline constexpr const char *MSG_URL_ADDED = "The URL was added/updated.\n";
inline constexpr const char *MSG_URL_FAILED =
    "\n\nCould not add/update url, please verify it and make sure your system can play it.\n";
inline constexpr const char *MSG_PATH_FAILED =
    "\n\nCould not add/update file/folder(s), please make sure you use absolute path names. This may also "
    "happen when the media server is refreshing the library, in which case you need to try again later or "
    "stop the media server.\n";
// The plain-argument form has a comma after "later".
inline constexpr const char *MSG_PLAIN_PATH_FAILED =
    "\n\nCould not add/update file/folder(s), please make sure you use absolute path names. This may also "
    "happen when the media server is refreshing the library, in which case you need to try again later, or "
    "stop the media server.\n";
// printf format: the argument given where a path belongs.
inline constexpr const char *MSG_NOT_A_PATH =
    "Invalid %s, please use -A or -I or -V to add audio/image/video URLs, or -B or -J or -W to add "
    "audio/image/video Feeds\n";
inline constexpr const char *MSG_FAILED_TO_INITIALIZE = "Failed to initialize properly, aborting...\n";
