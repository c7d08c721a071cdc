// Stand-in for the SSDP announcer until it lands: announces nothing.
#include "Ssdp.h"

#include <apr_errno.h>

#include "log4c.h"

struct Ssdp {};

int ssdp_start(const SsdpSettings &, Ssdp **out) {
  log4c_log("Ssdp", LOG4C_WARN, "SSDP is not built in: players must be given the description URL", __FILE__,
            __LINE__);
  *out = new Ssdp;
  return APR_SUCCESS;
}

void ssdp_stop(Ssdp *ssdp) { delete ssdp; }
