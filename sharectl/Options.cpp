// The option table, the -Y type table, the option loop and the plain
// arguments and summary after it.
#include "Options.h"

#include <apr_strings.h>
#include <strings.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "FailureReason.h"
#include "MLVersion.h"
#include "Messages.h"
#include "Shares.h"

namespace {

// --version has no letter: a code outside the characters of short options.
constexpr int kVersionOption = 256;

constexpr apr_getopt_option_t kOptions[] = {
    {"list", 'L', 0, "list the shared media sources"},
    {"share", 'S', 1, "share a file or folder for audio, video and images"},
    {"audurl", 'A', 1, "share an audio URL"},
    {"imgurl", 'I', 1, "share an image URL"},
    {"vidurl", 'V', 1, "share a video URL"},
    {"audfeed", 'B', 1, "share an internet audio feed"},
    {"imgfeed", 'J', 1, "share an internet image feed"},
    {"vidfeed", 'W', 1, "share an internet video feed"},
    {"title", 'T', 1, "title for the next share"},
    {"tags", 'G', 1, "comma-separated tags for the next share"},
    {"refresh", 'R', 0, "refresh all media sources"},
    {"unshare", 'U', 1, "remove a media source"},
    {"help", 'H', 0, "print the usage text"},
    {"version", kVersionOption, 0, "print the version"},
    {"audfolder", 'D', 1, "share a file or folder for audio only"},
    {"imgfolder", 'K', 1, "share a file or folder for images only"},
    {"vidfolder", 'X', 1, "share a file or folder for video only"},
    {"type", 'Y', 1, "media-source type for the next share"},
    {"norefresh", 'N', 0, "do not scan sources shared after this option"},
    {"account", 'C', 1, "add or update a user account given as user:password@domain"},
    {nullptr, 0, 0, nullptr},
};

// Media-source type names as -Y accepts them; slot 0 is unused.
constexpr const char *kSourceTypes[] = {"",       "internal", "file",    "folder",  "fs",     "audurl",
                                        "imgurl", "vidurl",   "audfeed", "imgfeed", "vidfeed", "didlite"};

// Types under which -S/-D/-K/-X share a path rather than a URL.
constexpr const char *kPathTypes[] = {"file", "folder", "fs"};

struct UrlOption {
  int letter;
  const char *type;
  bool feed;  // feeds print the wait notice before every share
};
constexpr UrlOption kUrlOptions[] = {
    {'A', "audurl", false},  {'I', "imgurl", false},  {'V', "vidurl", false},
    {'B', "audfeed", true},  {'J', "imgfeed", true},  {'W', "vidfeed", true},
};

struct PathOption {
  int letter;
  int audio, video, photo;
};
constexpr PathOption kPathOptions[] = {
    {'S', 1, 1, 1}, {'D', 1, 0, 0}, {'K', 0, 0, 1}, {'X', 0, 1, 0}};

const char *find_source_type(const char *name) {
  if (!name || !*name) return nullptr;
  for (std::size_t i = 1; i < std::size(kSourceTypes); ++i)
    if (strcasecmp(name, kSourceTypes[i]) == 0) return kSourceTypes[i];
  return nullptr;
}

bool is_path_type(const char *type) {
  for (const char *path_type : kPathTypes)
    if (strcasecmp(type, path_type) == 0) return true;
  return false;
}

void forget_share_settings(RunState &run) {
  run.title = nullptr;
  run.tags = nullptr;
  run.source_type = nullptr;
}

// A failed action: its fixed text is printed, the logged reason follows.
void record(RunState &run, int status) {
  if (status == 0) return;
  run.failed = true;
  failure_reason_print();
}

void on_url_option(RunState &run, const UrlOption &option, const char *url) {
  if (option.feed) std::fputs(MSG_PLEASE_WAIT, stdout);
  record(run, share_url(run, url, option.type));
  forget_share_settings(run);
}

void on_path_option(RunState &run, const PathOption &option, const char *argument) {
  if (!run.done) std::fputs(MSG_PLEASE_WAIT, stdout);
  if (run.source_type && !is_path_type(run.source_type))
    record(run, share_url(run, argument, run.source_type));
  else if (share_path(run, argument, option.audio, option.video, option.photo) != 0) {
    std::fputs(MSG_PATH_FAILED, stdout);
    record(run, APR_EGENERAL);
  }
  forget_share_settings(run);
}

void dispatch(RunState &run, int letter, const char *argument) {
  failure_reason_reset();
  for (const UrlOption &option : kUrlOptions)
    if (option.letter == letter) return on_url_option(run, option, argument);
  for (const PathOption &option : kPathOptions)
    if (option.letter == letter) return on_path_option(run, option, argument);
  switch (letter) {
    case 'T': run.title = apr_pstrdup(run.root, argument); break;
    case 'G': run.tags = apr_pstrdup(run.root, argument); break;
    case 'Y': run.source_type = find_source_type(argument); break;
    case 'N': run.refresh_after_share = 0; break;
    case 'U': record(run, unshare(run, argument)); break;
    case 'L': record(run, list_sources(run)); break;
    case 'R':
      if (!run.done) std::fputs(MSG_PLEASE_WAIT, stdout);
      record(run, refresh_all(run));
      break;
    case 'C': record(run, record_account(run, argument)); break;
    case 'H': std::fputs(SHARECTL_USAGE, stdout); break;
    case kVersionOption: ml_version_option("sharectl", "--version"); break;
  }
}

void print_summary(const RunState &run) {
  int seconds = static_cast<int>((apr_time_now() - run.start_time) / APR_USEC_PER_SEC);
  std::printf("\n\n%d item(s) were updated/added\n%d item(s) were removed\nTime: %02d:%02d:%02d\n",
              run.items_added, run.items_removed, seconds / 3600, (seconds / 60) % 60, seconds % 60);
}

// Without any valid option, plain arguments are folders or files to share
// for every media kind, always scanned.
bool share_plain_arguments(RunState &run) {
  apr_getopt_t *os = run.options;
  std::fputs(MSG_PLEASE_WAIT, stdout);
  run.refresh_after_share = 1;
  for (int i = os->ind; i < os->argc; ++i) {
    if (share_path(run, os->argv[i], 1, 1, 1) != 0) {
      std::fputs(MSG_PLAIN_PATH_FAILED, stdout);
      failure_reason_print();
      return false;
    }
  }
  return true;
}

void after_options(RunState &run) {
  apr_getopt_t *os = run.options;
  bool has_plain = os->ind < os->argc;
  bool summary = run.done;
  if (run.option_seen) {
    if (has_plain) {
      std::fputs("Invalid (some) command line arguments, please use -H or --help for help.\n", stdout);
      run.failed = true;
    }
  } else if (!has_plain || os->argv[os->ind][0] == '-') {
    std::fputs("Please use -H or --help for a listing of command line arguments.\n", stdout);
  } else if (share_plain_arguments(run)) {
    summary = true;
  } else {
    run.failed = true;
    return;
  }
  if (summary) print_summary(run);
}

}  // namespace

void options_run(RunState &run) {
  failure_reason_watch();
  for (;;) {
    int letter = 0;
    const char *argument = nullptr;
    apr_status_t status = apr_getopt_long(run.options, kOptions, &letter, &argument);
    if (status == APR_EOF) break;
    if (status != APR_SUCCESS) {
      // APR has already told the user what was wrong with the option.
      run.failed = true;
      continue;
    }
    run.option_seen = 1;
    dispatch(run, letter, argument);
  }
  after_options(run);
}

bool options_print_only(int argc, char **argv) {
  if (argc < 2) return false;
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-H") != 0 && std::strcmp(argv[i], "--help") != 0 &&
        std::strcmp(argv[i], "--version") != 0)
      return false;
  for (int i = 1; i < argc; ++i)
    if (!ml_version_option("sharectl", argv[i])) std::fputs(SHARECTL_USAGE, stdout);
  return true;
}
