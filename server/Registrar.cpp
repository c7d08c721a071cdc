// X_MS_MediaReceiverRegistrar:1 actions: every device is authorised and
// validated (access is decided by the server's access rules, not here).
#include "Control.h"

namespace {

int authorized(ActionCall &call) {
  call.outputs = {{"Result", "1"}};
  return UPNP_OK;
}

int register_device(ActionCall &call) {
  call.outputs = {{"RegistrationRespMsg", ""}};
  return UPNP_OK;
}

}  // namespace

const ActionEntry REGISTRAR_ACTIONS[] = {
    {"IsAuthorized", authorized},
    {"IsValidated", authorized},
    {"RegisterDevice", register_device},
};
const int REGISTRAR_ACTION_COUNT = static_cast<int>(std::size(REGISTRAR_ACTIONS));
