// CommonCancel: how a long operation is asked to stop and what it returns
// then. The check is polled between steps, on the operation's own thread;
// it returns non-zero when the operation must stop, and the operation then
// returns COMMON_CANCELLED after undoing what it must. Header only.
#pragma once

// The status of an operation stopped by its cancel check.
inline constexpr int COMMON_CANCELLED = 4;

// Returns non-zero when a long operation must stop; context is the
// caller's.
using CancelCheck = int (*)(void *context);

// Whether check (may be null: never) asks to stop.
inline bool cancel_requested(CancelCheck check, void *context) { return check != nullptr && check(context) != 0; }
