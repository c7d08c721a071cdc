// Test helpers of the metafile reader: a callback that records every report
// (levels flattened into "instance/name" -> value maps) and a parse of a
// document written to a temporary file.
#pragma once

#include <apr_hash.h>

#include <map>
#include <string>
#include <vector>

#include "CommonMetaFile.h"
#include "LogCapture.h"

using Props = std::map<std::string, std::string>;

struct Report {
  int depth = 0;  // 1 container, 2 item, 3 sub-item
  Props container, item, sub;
};

inline Props flatten(const PropList *list) {
  Props props;
  if (list == nullptr) return props;
  for (apr_hash_index_t *at = apr_hash_first(nullptr, const_cast<PropList *>(list)); at; at = apr_hash_next(at)) {
    const void *key = nullptr;
    apr_ssize_t length = 0;
    void *value = nullptr;
    apr_hash_this(at, &key, &length, &value);
    std::string name(static_cast<const char *>(key), static_cast<std::size_t>(length));
    if (name.find('/') == std::string::npos || value == nullptr) continue;
    props[name] = static_cast<const char *>(value);
  }
  return props;
}

struct Recorder {
  std::vector<Report> reports;
  int fail_at = -1;  // index of the report whose callback fails
  int fail_status = 1;

  static int callback(const MetaFileLevels *levels, MetaFileParser *, void *context) {
    auto *self = static_cast<Recorder *>(context);
    Report report;
    report.depth = levels->list[3] != nullptr ? 3 : levels->list[2] != nullptr ? 2 : 1;
    report.container = flatten(levels->list[1]);
    report.item = flatten(levels->list[2]);
    report.sub = flatten(levels->list[3]);
    self->reports.push_back(report);
    return static_cast<int>(self->reports.size()) - 1 == self->fail_at ? self->fail_status : 0;
  }

  std::vector<Report> of_depth(int depth) const {
    std::vector<Report> out;
    for (const Report &report : reports) {
      if (report.depth == depth) out.push_back(report);
    }
    return out;
  }
};

// Writes text to dir/name and parses it as the type of its extension.
inline int parse_text(const TempDir &dir, const std::string &name, const std::string &text, Recorder *recorder,
                      int options = 0) {
  std::string path = dir.file(name);
  write_file(path, text);
  std::string extension = name.substr(name.rfind('.') + 1);
  return metafile_parse(media_type_by_extension(extension.c_str(), -1), options, path.c_str(), Recorder::callback,
                        recorder, nullptr, nullptr);
}
