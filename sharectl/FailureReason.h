// FailureReason: why an action of sharectl failed, as the log received it
// (the first ERROR of the action, or the failed transfer behind it), printed
// under the action's fixed failure text so that the user sees why without
// opening logs/medialib.log. Process-wide state guarded by
// a mutex (scan threads log too); texts are copied, no pool is kept.
#pragma once

// Makes the log hand its WARN and ERROR records to this module; from then
// on the reason of the action since the last failure_reason_reset is kept.
void failure_reason_watch();
// Forgets the kept reason: an action begins.
void failure_reason_reset();
// Prints "Reason: <text>" on its own line when a reason was kept.
void failure_reason_print();
