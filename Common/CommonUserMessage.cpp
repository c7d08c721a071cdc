// The user-message table and its look-ups.
#include "CommonUserMessage.h"

#include "log4c.h"

namespace {

// Codes 108-110, 113 and 114 hold their ampersand already escaped, as the
// documents they go into expect.
constexpr const char *kLanguage0[USER_MESSAGE_CODES] = {
    /* 0 */ nullptr,
    /* 1 */ "%s",
    /* 2 */ "%s%s",
    /* 3 */ "Started streaming \"%s\" to \"%s\"",
    /* 4 */ "Ended streaming \"%s\" to \"%s\"",
    /* 5 */ "Starting/resuming transcoding of \"%s\"",
    /* 6 */ "Suspended transcoding of \"%s\"",
    /* 7 */ "Aborted transcoding of \"%s\"",
    /* 8 */ "Successfully completed transcoding of \"%s\"",
    /* 9 */ "Started downloading \"%s\"",
    /* 10 */ "Aborted downloading \"%s\"",
    /* 11 */ "Successfully completed downloading \"%s\"",
    /* 12 */ "Failed downloading \"%s\"",
    /* 13 */ "Started media sharing",
    /* 14 */ "Stopped media sharing",
    /* 15 */ "The media sharing service is now being stopped.\nYou can restart the service and this application from the Windows Start Menu.",
    /* 16 */ "Started full refresh in the background",
    /* 17 */ "Successfully completed full refresh",
    /* 18 */ "Failed to complete the full refresh",
    /* 19 */ "Attempting to cancel background refresh operation",
    /* 20 */ "Successfully canceled background refresh operation",
    /* 21 */ "Failed to cancel background refresh operation",
    /* 22 */ "Started refreshing %s",
    /* 23 */ "Successfully completed refreshing %s",
    /* 24 */ "Failed refreshing %s",
    /* 25 */ "Detected %s at IP address: %s",
    /* 26 */ "Could not retrieve the list of content sources.",
    /* 27 */ "Could not determine if the list of content sources changed.",
    /* 28 */ "Addition started successfully and will continue in the background.",
    /* 29 */ "Update started successfully and will continue in the background.",
    /* 30 */ "Removal of the content source and all associated media started successfully and will continue in the background.",
    /* 31 */ "Refresh started successfully and will continue in the background.",
    /* 32 */ "Refresh failed, please try again later.",
    /* 33 */ "Media library re-creation started successfully and will continue in the background.",
    /* 34 */ "Library re-creation could not be started.",
    /* 35 */ "Library cleanup was successful but full refresh could not be started, please try again later.",
    /* 36 */ "Full library refresh started successfully and will continue in the background.",
    /* 37 */ "Full library refresh could not be started, please try again later.",
    /* 38 */ "Refresh canceled successfully.",
    /* 39 */ "Refresh cancellation failed",
    /* 40 */ "Invalid source url, please correct it and re-submit.",
    /* 41 */ "Failed to add, some fields may be invalid or content source already exists in the library or the library may be locked, please correct and try again later.",
    /* 42 */ "Failed update, some fields may be invalid or content source already exists in the library or the library may be locked, please correct and try again later.",
    /* 43 */ "Failed to delete, please try again later.",
    /* 44 */ "Content source does not exist in the library, it may have already been deleted or may need to be added.",
    /* 45 */ "Content source already exists.",
    /* 46 */ "Content source does not exist or is not currently accessible.\nIf this is a mapped network drive or a UNC pathname, you will need to change the log-on account of the media sharing service to some user with administrator rights (<a href=\"https://zentoria.example/help/network-shares\" target=\"_blank\">click to learn more</a>).",
    /* 47 */ "Invalid type, please correct it and re-submit.",
    /* 48 */ "Failed to process the content source, please check that it is accessible and try again.",
    /* 49 */ "Could not delete library objetcs that are no longer required.",
    /* 50 */ "Could not delete container objects that are no longer required.",
    /* 51 */ "Could not start database transaction, please try again later.",
    /* 52 */ "Could not commit database transaction, please try again later.",
    /* 53 */ "Cannot lock database, it may be currently updated by some other process, Please try again later.",
    /* 54 */ "Audio",
    /* 55 */ "Music",
    /* 56 */ "Music Indexes",
    /* 57 */ "All",
    /* 58 */ "Playlists",
    /* 59 */ "Genres",
    /* 60 */ "Artists",
    /* 61 */ "Albums",
    /* 62 */ "Genres / Artists / Albums",
    /* 63 */ "Genres / Albums",
    /* 64 */ "Genres / Artists",
    /* 65 */ "Artists / Albums",
    /* 66 */ "Year / Artists / Albums",
    /* 67 */ "Photo",
    /* 68 */ "Photos",
    /* 69 */ "Photo Indexes",
    /* 70 */ "Dates",
    /* 71 */ "Video",
    /* 72 */ "Videos",
    /* 73 */ "Video Indexes",
    /* 74 */ "Publishers",
    /* 75 */ "Folders",
    /* 76 */ "Tags",
    /* 77 */ "Internet",
    /* 78 */ "Internet Playlists",
    /* 79 */ "Today's recommendations",
    /* 80 */ "Favorites",
    /* 81 */ "Personal content from the web",
    /* 82 */ "This operation is supported only when the GUI is running on the same computer as the media server.",
    /* 83 */ "Could not open this pathname, please make sure it is correct.",
    /* 84 */ "Invalid pathname.",
    /* 85 */ "All the temporary files not currently in use, were deleted.",
    /* 86 */ "Failed to delete temporary files.",
    /* 87 */ "The media sharing service is restarting...",
    /* 88 */ "Could not restart the media sharing service.",
    /* 89 */ "Could not stop the media sharing service.",
    /* 90 */ "Failed to retrieve media source details.",
    /* 91 */ "Invalid IP address \"%s\", please correct it and try again.",
    /* 92 */ "Changes to IP address and/or port will take effect after the next service restart.",
    /* 93 */ "Enabling or disabling the modifications of names and tags for readability will take effect for all media shared from now on, if you would like it to also be done for media shared in the past you will need to reconstruct the library.",
    /* 94 */ "Enabling or disabling the reading of tags from AVI files will take effect for all media shared from now on, if you would like it to also be done for media shared in the past you will need to reconstruct the library.",
    /* 95 */ "Enabling or disabling the sorting of items under the folder category by file name will take effect for all media shared from now on, if you would like it to also be done for media shared in the past you will need to reconstruct the library.",
    /* 96 */ "The modified value for the number of items per feed, will take effect for all media shared from now on, if you would like it to also be done for media shared in the past you will need to reconstruct the library.",
    /* 97 */ "Could not retrieve settings, please check if the configuration file is locked.",
    /* 98 */ "Could not save settings, please check if the configuration file is locked.",
    /* 99 */ "The new settings were successfully saved.",
    /* 100 */ "This operation is supported only on Windows.",
    /* 101 */ "Added media source %s",
    /* 102 */ "Updated media source %s",
    /* 103 */ "Removed media source %s",
    /* 104 */ "Successfully completed CPU benchmark - real-time transcode is set to %s.",
    /* 105 */ "The user name you've entered for %s does not exist or is incorrect. Please make sure you're using the exact user name of the content you've chosen to share.",
    /* 106 */ "News",
    /* 107 */ "Sports",
    /* 108 */ "Business &amp; Finance",
    /* 109 */ "Culture &amp; Entertainment",
    /* 110 */ "Lifestyle &amp; Fashion",
    /* 111 */ "Movies",
    /* 112 */ "YouTube",
    /* 113 */ "Nature &amp; Tourism",
    /* 114 */ "Computers &amp; Technology",
};

constexpr const char *const *kLanguages[USER_MESSAGE_LANGUAGES] = {kLanguage0};

// The user-interface language; only language 0 exists so far.
constexpr int kCurrentLanguage = 0;

}  // namespace

const char *user_message_get(int language, int code) {
  if (language < 0 || code < 0 || language >= USER_MESSAGE_LANGUAGES || code >= USER_MESSAGE_CODES) {
    LOG4C("CommonUserMessage", LOG4C_ERROR, INTERNAL_ERROR_TEXT);
    return nullptr;
  }
  const char *text = kLanguages[language][code];
  return text ? text : kLanguage0[code];
}

const char *user_message_current(int code) { return user_message_get(kCurrentLanguage, code); }
