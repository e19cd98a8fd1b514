// Thread-level kernel pieces: last error, interlocked counts, critical
// sections, thread ids and time.
#include <orafon/win/winbase.h>

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <new>

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque));
static_assert(alignof(pthread_mutex_t) <= 8);

pthread_mutex_t *MutexOf(LPCRITICAL_SECTION cs)
{
    return reinterpret_cast<pthread_mutex_t *>(cs->opaque);
}

} // namespace

STDAPI_(DWORD) GetLastError(void)
{
    return t_lastError;
}

STDAPI_(void) SetLastError(DWORD dwErrCode)
{
    t_lastError = dwErrCode;
}

STDAPI_(LONG) InterlockedIncrement(LONG volatile *Addend)
{
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

STDAPI_(LONG) InterlockedDecrement(LONG volatile *Addend)
{
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

STDAPI_(LONG) InterlockedExchange(LONG volatile *Target, LONG Value)
{
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

// A critical section may be entered again by the thread that holds it, so it
// is a recursive mutex living in the caller's storage.
STDAPI_(void) InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (!lpCriticalSection)
        return;
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(MutexOf(lpCriticalSection), &attr);
    pthread_mutexattr_destroy(&attr);
}

STDAPI_(BOOL) InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD)
{
    if (!lpCriticalSection) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

STDAPI_(void) EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection)
        pthread_mutex_lock(MutexOf(lpCriticalSection));
}

STDAPI_(BOOL) TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (!lpCriticalSection)
        return FALSE;
    return pthread_mutex_trylock(MutexOf(lpCriticalSection)) == 0 ? TRUE : FALSE;
}

STDAPI_(void) LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection)
        pthread_mutex_unlock(MutexOf(lpCriticalSection));
}

STDAPI_(void) DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
{
    if (lpCriticalSection)
        pthread_mutex_destroy(MutexOf(lpCriticalSection));
}

STDAPI_(DWORD) GetCurrentThreadId(void)
{
    // The kernel's thread id: unique among live threads of the system, as
    // Windows thread ids are, and never 0.
    thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

STDAPI_(void) Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    timespec ts{static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

STDAPI_(DWORD) GetTickCount(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const unsigned long long ms =
        static_cast<unsigned long long>(ts.tv_sec) * 1000ULL + static_cast<unsigned long long>(ts.tv_nsec) / 1000000ULL;
    return static_cast<DWORD>(ms); // wraps after 49.7 days, as on Windows
}
