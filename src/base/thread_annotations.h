// Clang's thread-safety attributes under short names, so that lock rules are written where the
// compiler checks them (-Wthread-safety). Other compilers see empty macros. No threads here.
#pragma once

#if defined(__clang__)
#define KELVO_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define KELVO_THREAD_ATTRIBUTE(x)
#endif

// A type that is a lock (the mutex wrapper).
#define CAPABILITY(x) KELVO_THREAD_ATTRIBUTE(capability(x))
// A type whose object holds a lock for its lifetime (the scoped locks).
#define SCOPED_CAPABILITY KELVO_THREAD_ATTRIBUTE(scoped_lockable)
// A field read or written only while the named lock is held.
#define GUARDED_BY(x) KELVO_THREAD_ATTRIBUTE(guarded_by(x))
// A pointer whose target is read or written only while the named lock is held.
#define PT_GUARDED_BY(x) KELVO_THREAD_ATTRIBUTE(pt_guarded_by(x))
// A function that the caller enters holding the named locks.
#define REQUIRES(...) KELVO_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KELVO_THREAD_ATTRIBUTE(requires_shared_capability(__VA_ARGS__))
// A function that the caller must not enter holding the named locks (it takes them itself).
#define EXCLUDES(...) KELVO_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
// A function that takes, or lets go of, the named locks (none named: the object itself).
#define ACQUIRE(...) KELVO_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) KELVO_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KELVO_THREAD_ATTRIBUTE(acquire_shared_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KELVO_THREAD_ATTRIBUTE(release_shared_capability(__VA_ARGS__))
// Lets go of a lock however it is held (a scoped lock's destructor).
#define RELEASE_GENERIC(...) KELVO_THREAD_ATTRIBUTE(release_generic_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) KELVO_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
// A function that returns the named lock (an accessor).
#define RETURN_CAPABILITY(x) KELVO_THREAD_ATTRIBUTE(lock_returned(x))
// A function that the analysis does not check; say why beside it.
#define NO_THREAD_SAFETY_ANALYSIS KELVO_THREAD_ATTRIBUTE(no_thread_safety_analysis)
