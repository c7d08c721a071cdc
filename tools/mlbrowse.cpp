// mlbrowse: read-only look into the library of the installation folder it
// runs in, through the media server's browse, metadata and search queries.
//
//   mlbrowse [-f FILTER] [-s START] [-c COUNT] [-o FORMAT] browse ID
//   mlbrowse [-f FILTER] [-o FORMAT] meta ID
//   mlbrowse [-f FILTER] [-s START] [-c COUNT] [-o FORMAT] search ID CRITERIA
//
// The document goes to standard output, the returned and total counts to
// standard error. -h/--help and --version print their text on standard
// output, from any folder. Exit status: 0 done, 1 the query failed (a bad or unknown
// id, bad criteria, with one line of reason on standard error), 2 bad usage
// or no library.
#include <apr_file_info.h>
#include <apr_getopt.h>

#include <cstdio>
#include <cstring>
#include <string_view>

#include "CommonNumbers.h"
#include "MLVersion.h"
#include "MSDB.h"
#include "MSDBQuery.h"
#include "ToolSupport.h"

namespace {

constexpr const char *kProgram = "mlbrowse";
constexpr const char *kUsage =
    "usage: mlbrowse [options] browse ID\n"
    "       mlbrowse [options] meta ID\n"
    "       mlbrowse [options] search ID CRITERIA\n"
    "Run from an installation folder. ID is an object id path such as 0 or 0/1/42.\n"
    "options:\n"
    "  -f, --filter FILTER   property names to print, comma-separated (default *)\n"
    "  -s, --start N         index of the first child or hit (default 0)\n"
    "  -c, --count N         number of children or hits, 0 for all (default 0)\n"
    "  -o, --format NAME     didl, resultset, xhtml, xhtml-list, rss, asx, smil or by-value\n"
    "  -h, --help            print this text\n"
    "      --version         print the version\n";

// --version has no letter: a code outside the characters of short options.
constexpr int kVersionOption = 256;

struct FormatName {
  std::string_view name;
  SerializeFormat format;
};
constexpr FormatName kFormats[] = {
    {"didl", FORMAT_DIDL_LITE}, {"resultset", FORMAT_RESULTSET}, {"xhtml", FORMAT_XHTML},
    {"xhtml-list", FORMAT_XHTML_LIST}, {"rss", FORMAT_RSS}, {"asx", FORMAT_ASX},
    {"smil", FORMAT_SMIL}, {"by-value", FORMAT_BY_VALUE},
};

constexpr apr_getopt_option_t kOptions[] = {
    {"filter", 'f', 1, "property filter"}, {"start", 's', 1, "start index"}, {"count", 'c', 1, "count"},
    {"format", 'o', 1, "output format"},   {"help", 'h', 0, "usage"},
    {"version", kVersionOption, 0, "version"}, {nullptr, 0, 0, nullptr},
};

struct Request {
  const char *filter = "*";
  unsigned int start = 0;
  unsigned int count = 0;
  SerializeFormat format = FORMAT_DIDL_LITE;
  const char *command = nullptr;
  const char *id = nullptr;
  const char *criteria = nullptr;
  bool answered = false;  // --help or --version printed: no query
};

bool usage_error(const char *message, const char *argument) {
  std::fprintf(stderr, "%s: %s%s\n%s", kProgram, message, argument, kUsage);
  return false;
}

bool set_option(Request &request, int option, const char *argument) {
  switch (option) {
    case 'f':
      request.filter = argument;
      return true;
    case 's':
      return parse_uint(argument, &request.start) || usage_error("not a start index: ", argument);
    case 'c':
      return parse_uint(argument, &request.count) || usage_error("not a count: ", argument);
    case 'h':
      std::fputs(kUsage, stdout);
      return request.answered = true;
    case kVersionOption:
      return request.answered = ml_version_option(kProgram, "--version");
    default:
      for (const FormatName &format : kFormats) {
        if (format.name == argument) {
          request.format = format.format;
          return true;
        }
      }
      return usage_error("unknown format: ", argument);
  }
}

bool parse_arguments(apr_pool_t *pool, int argc, const char *const *argv, Request &request) {
  apr_getopt_t *getopt = nullptr;
  apr_getopt_init(&getopt, pool, argc, argv);
  getopt->errfn = nullptr;
  getopt->interleave = 1;  // options may also follow the command
  int option = 0;
  const char *argument = nullptr;
  apr_status_t status;
  while ((status = apr_getopt_long(getopt, kOptions, &option, &argument)) == APR_SUCCESS) {
    if (!set_option(request, option, argument)) return false;
  }
  if (status != APR_EOF) return usage_error("invalid option", "");
  if (request.answered) return true;
  const int left = argc - getopt->ind;
  const char *const *rest = getopt->argv + getopt->ind;  // the permuted copy
  request.command = left > 0 ? rest[0] : "";
  const bool search = std::strcmp(request.command, "search") == 0;
  const bool known = search || std::strcmp(request.command, "browse") == 0 || std::strcmp(request.command, "meta") == 0;
  if (!known) return usage_error("unknown command: ", request.command);
  if (left != (search ? 3 : 2)) return usage_error("wrong number of arguments for ", request.command);
  request.id = rest[1];
  request.criteria = search ? rest[2] : nullptr;
  return true;
}

int run_query(apr_pool_t *pool, MediaLibraryDB *db, const Request &request) {
  const char *document = nullptr;
  int returned = 0;
  long total = 0;
  int status;
  if (std::strcmp(request.command, "meta") == 0) {
    status = msdb_fetch_metadata(pool, db, request.id, request.filter, nullptr, nullptr, request.format, nullptr,
                                 &document);
  } else if (request.criteria == nullptr) {
    status = cds_metadata_fetch_children2(pool, db, &request.id, 1, request.filter, request.start, request.count,
                                          nullptr, nullptr, request.format, nullptr, &returned, &total, &document);
  } else {
    status = msdb_search(pool, db, &request.id, 1, request.criteria, request.filter, request.start, request.count, 0,
                         nullptr, nullptr, request.format, nullptr, &returned, &total, &document);
  }
  if (status != APR_SUCCESS) return 1;
  std::printf("%s\n", document);
  if (request.criteria != nullptr || std::strcmp(request.command, "browse") == 0) {
    std::fprintf(stderr, "returned %d, total %ld\n", returned, total);
  }
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  ToolRun run(kProgram, true);
  if (!run.ok()) return 2;
  apr_pool_t *pool = run.pool();
  Request request;
  if (!parse_arguments(pool, argc, argv, request)) return 2;
  if (request.answered) return 0;
  char *cwd = nullptr;
  const char *content_db = nullptr;
  const char *admin_db = nullptr;
  if (apr_filepath_get(&cwd, 0, pool) != APR_SUCCESS || !run.library_paths(cwd, argv[0], &content_db, &admin_db)) {
    return 2;
  }
  MediaLibraryDB *db = nullptr;
  if (msdb_init(pool, content_db, admin_db, &db) != APR_SUCCESS) return 2;
  int status = run_query(pool, db, request);
  msdb_terminate(db);
  return status;
}
