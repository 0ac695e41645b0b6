// Clang's thread-safety attributes, so the compiler checks what each lock
// guards (-Wthread-safety). Other compilers see nothing.
//
//   Mutex mutex_;
//   int count_ GUARDED_BY(mutex_);
//   void Bump() REQUIRES(mutex_);
#pragma once

#if defined(__clang__)
#define VS_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define VS_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) VS_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY VS_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) VS_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) VS_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) VS_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) VS_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) VS_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) VS_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) VS_THREAD_ANNOTATION(assert_capability(x))
#define RETURN_CAPABILITY(x) VS_THREAD_ANNOTATION(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS \
  VS_THREAD_ANNOTATION(no_thread_safety_analysis)
