// SPDX-FileCopyrightText: IMU Calibration Tool developers
// SPDX-License-Identifier: MIT

// Orderings between threads that Qt provides and ThreadSanitizer cannot see (Qt is not built
// with it). In other builds these are empty inline functions.
//
// A queued call through Qt's event queue orders everything the posting thread did before
// posting before everything the receiving thread does in the call. A ThreadSanitizer build
// links hooks that release queuedCallToken() at every signal emission and acquire it before
// every queued call runs; code that posts a queued call without a signal, or waits for one
// to finish, says so with release() and acquire().
#pragma once

#if defined(__SANITIZE_THREAD__)
#define IMU_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define IMU_THREAD_SANITIZER 1
#endif
#endif

#ifdef IMU_THREAD_SANITIZER
extern "C" void __tsan_acquire(void *addr);
extern "C" void __tsan_release(void *addr);
#endif

namespace ThreadOrder {

inline void *queuedCallToken()
{
    static char token;
    return &token;
}

// This thread's accesses so far happen before those of a thread that later acquires token.
inline void release([[maybe_unused]] void *token)
{
#ifdef IMU_THREAD_SANITIZER
    __tsan_release(token);
#endif
}

// Everything done before any release of token happens before this thread's next accesses.
inline void acquire([[maybe_unused]] void *token)
{
#ifdef IMU_THREAD_SANITIZER
    __tsan_acquire(token);
#endif
}

} // namespace ThreadOrder
