// Internal to CommonXML: the file error report shared by the tree and the
// streaming readers. Stateless.
#pragma once

#include <apr_errno.h>

inline constexpr const char *kXmlModule = "CommonXML";

// ERROR on "CommonXML": format filled with path and the APR text of status.
void xml_log_file_error(const char *format, const char *path, apr_status_t status);
