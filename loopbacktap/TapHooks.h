// TapHooks: switches the ALSA hooks of the capture library on. Until then,
// and in a child the player forks, every hooked call goes straight to ALSA.
#pragma once

namespace tap {

void hooks_install();
// In a forked child: the parent's captures are not the child's to send.
void hooks_forget_in_child();

}  // namespace tap
