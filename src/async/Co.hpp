#pragma once

// Coroutines bound to the main loop. A `Co<T>` is a lazy coroutine: it runs when awaited by
// another coroutine (as part of that activity) or when `spawn` starts it as an independent
// activity. An `Activity<T>` is the handle of a spawned activity: any number of waiters may await
// its completion or value, and it can be cancelled. Cancellation is cooperative: it sets a flag
// and wakes the activity's pending wait, whatever it is:
//   - `sleep` gives false;
//   - a stream's `next()` gives nothing;
//   - `co_await activity.completion()` (or a Completion's) just returns;
//   - `co_await activity` or `co_await completion` (a value wait) throws `Cancelled`;
//   - the race functions return their timeout outcome at once.
// A wait on something already finished is never cut short: its value is delivered. A wait begun
// after the cancellation ends at once. So cancelled code tests `co_await cancelled()` after a
// completion wait, or lets `Cancelled` end it.

#include "async/Activity.hpp"
#include "async/Awaiters.hpp"
#include "async/Background.hpp"
#include "async/Completion.hpp"
#include "async/Task.hpp"
