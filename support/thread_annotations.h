// Annotations that let clang's -Wthread-safety check, at compile time, that a
// member marked as guarded by a mutex is only touched with that mutex held,
// and that a function said to need a mutex is only called with it held.
// Under clang they become its capability attributes; under any other
// compiler they expand to nothing.
#pragma once

#if defined(__clang__)
#define TW_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define TW_THREAD_ANNOTATION(x)
#endif

// A class whose objects are locks (a mutex).
#define TW_CAPABILITY(name) TW_THREAD_ANNOTATION(capability(name))
// A class whose objects hold a lock from construction to destruction.
#define TW_SCOPED_CAPABILITY TW_THREAD_ANNOTATION(scoped_lockable)
// A data member read or written only with `lock` held.
#define TW_GUARDED_BY(lock) TW_THREAD_ANNOTATION(guarded_by(lock))
// A pointer member whose pointee is read or written only with `lock` held.
#define TW_PT_GUARDED_BY(lock) TW_THREAD_ANNOTATION(pt_guarded_by(lock))
// A function called only with the given locks held; it leaves them held.
#define TW_REQUIRES(...) TW_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
// A function called only without the given locks held (it takes them).
#define TW_EXCLUDES(...) TW_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// A function that takes the given locks (or, on a lock class, itself).
#define TW_ACQUIRE(...) TW_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
// A function that gives up the given locks (or, on a lock class, itself).
#define TW_RELEASE(...) TW_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
// A function that returns a reference to the given lock.
#define TW_RETURN_CAPABILITY(lock) TW_THREAD_ANNOTATION(lock_returned(lock))
// A function the analysis does not look into; for code whose locking it
// cannot follow, with a comment that says why.
#define TW_NO_THREAD_SAFETY_ANALYSIS TW_THREAD_ANNOTATION(no_thread_safety_analysis)
