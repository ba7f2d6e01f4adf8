#pragma once

// Marks for clang's thread-safety analysis (-Wthread-safety): which lock guards which data, and
// which functions take, release or need a lock. Other compilers see nothing.

#if defined(__clang__)
#define PELORVANE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define PELORVANE_THREAD_ANNOTATION(x)
#endif

// A type whose objects are locks.
#define CAPABILITY(name) PELORVANE_THREAD_ANNOTATION(capability(name))
// A type whose objects hold a lock from construction to destruction.
#define SCOPED_CAPABILITY PELORVANE_THREAD_ANNOTATION(scoped_lockable)
// Data read or written only with the lock held.
#define GUARDED_BY(lock) PELORVANE_THREAD_ANNOTATION(guarded_by(lock))
// A pointer whose target is read or written only with the lock held.
#define PT_GUARDED_BY(lock) PELORVANE_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function that must be called with the lock held.
#define REQUIRES(...) PELORVANE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function that must be called without the lock (it takes it itself).
#define EXCLUDES(...) PELORVANE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the lock and returns with it held.
#define ACQUIRE(...) PELORVANE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that releases a lock held on entry.
#define RELEASE(...) PELORVANE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that takes the lock when it returns the given value.
#define TRY_ACQUIRE(...) PELORVANE_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
// A function that returns (a reference to) the named lock.
#define RETURN_CAPABILITY(lock) PELORVANE_THREAD_ANNOTATION(lock_returned(lock))
// A function that checks that the calling thread holds the lock; after it, the analysis takes it
// as held.
#define ASSERT_CAPABILITY(lock) PELORVANE_THREAD_ANNOTATION(assert_capability(lock))
