// CommonUserMessage: the texts the user sees, by language and numeric code.
//
// One language (0) with codes 0..114; several texts are printf formats with
// "%s". The table is constant and needs no lock. The titles of the library's
// standard containers (codes 54..81) come from here too.
#pragma once

inline constexpr int USER_MESSAGE_LANGUAGES = 1;
inline constexpr int USER_MESSAGE_CODES = 115;

// The text for (language, code); when that entry is empty, language 0's.
// Out-of-range arguments log the internal-error text on "CommonUserMessage"
// and give null; code 0 gives null without a message.
const char *user_message_get(int language, int code);

// user_message_get for the current user-interface language.
const char *user_message_current(int code);

// The text logged whenever the program meets a state it should never reach.
inline constexpr const char *INTERNAL_ERROR_TEXT =
    "Internal server error, unexpected software state encountered. It is recommended to close the application.";
