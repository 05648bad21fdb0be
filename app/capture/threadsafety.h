#pragma once

#include <QMutex>

// Which lock guards which field, stated where the field is declared and
// checked by clang's -Wthread-safety. The macros are empty for compilers
// without the analysis.
#if defined(__clang__)
#define TS_ATTRIBUTE(x) __attribute__((x))
#else
#define TS_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) TS_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY TS_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) TS_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) TS_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) TS_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) TS_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) TS_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) TS_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define EXCLUDES(...) TS_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define RETURN_CAPABILITY(x) TS_ATTRIBUTE(lock_returned(x))
#define NO_THREAD_SAFETY_ANALYSIS TS_ATTRIBUTE(no_thread_safety_analysis)

// A QMutex the analysis knows about. It is still a QMutex, so a
// QWaitCondition can wait on it and older callers may lock it the Qt way
// (unchecked).
class CAPABILITY("mutex") Mutex : public QMutex
{
public:
    void lock() ACQUIRE() { QMutex::lock(); }
    void unlock() RELEASE() { QMutex::unlock(); }
    bool tryLock() TRY_ACQUIRE(true) { return QMutex::tryLock(); }
};

// Holds a Mutex for the scope, like QMutexLocker.
class SCOPED_CAPABILITY MutexLocker
{
public:
    explicit MutexLocker(Mutex *mutex) ACQUIRE(mutex) : mutex(mutex) { mutex->lock(); }
    ~MutexLocker() RELEASE() { mutex->unlock(); }
    MutexLocker(const MutexLocker &) = delete;
    MutexLocker &operator=(const MutexLocker &) = delete;

private:
    Mutex *mutex;
};
