#include "CommonProcess.h"

#include <apr_strings.h>

#include "Common.h"
#include "log4c.h"
#include "log4c_pool.h"

namespace {
// A process attribute for a child that keeps our standard streams and is
// looked up on PATH; null after the ERROR naming the step that failed.
apr_procattr_t *make_attributes(apr_pool_t *pool, const char *folder) {
  apr_procattr_t *attributes = nullptr;
  if (apr_procattr_create(&attributes, pool) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not create process attribute");
    return nullptr;
  }
  if (apr_procattr_cmdtype_set(attributes, APR_PROGRAM_PATH) != APR_SUCCESS ||
      apr_procattr_error_check_set(attributes, 1) != APR_SUCCESS ||
      (folder != nullptr && apr_procattr_dir_set(attributes, folder) != APR_SUCCESS)) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not modify process attribute");
    return nullptr;
  }
  return attributes;
}
}  // namespace

apr_proc_t *process_run(apr_pool_t *pool, const char *command, const char *const *args,
                        const char *folder, int wait, int *exit_code) {
  apr_procattr_t *attributes = make_attributes(pool, folder);
  if (attributes == nullptr) return nullptr;
  const char *const default_args[] = {command, nullptr};
  auto *process = static_cast<apr_proc_t *>(apr_pcalloc(pool, sizeof(apr_proc_t)));
  if (apr_proc_create(process, command, args != nullptr ? args : default_args, nullptr, attributes,
                      pool) != APR_SUCCESS) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, "Could not create process");
    return nullptr;
  }
  int code = 0;
  apr_exit_why_e why = APR_PROC_EXIT;
  apr_status_t status = apr_proc_wait(process, &code, &why, wait ? APR_WAIT : APR_NOWAIT);
  bool ended = status == APR_CHILD_DONE && APR_PROC_CHECK_EXIT(why);
  if (!(ended || (!wait && status == APR_CHILD_NOTDONE))) {
    LOG4C(COMMON_MODULE, LOG4C_ERROR, log4c_sprintf("Child process error command: %s", command));
    return nullptr;
  }
  if (exit_code != nullptr) *exit_code = ended ? code : 0;
  return process;
}

int process_run_simple(const char *command, const char *const *args, const char *folder, int wait) {
  Pool pool(nullptr);
  int code = 0;
  if (process_run(pool, command, args, folder, wait, &code) == nullptr) return -1;
  return wait ? code : 0;
}
