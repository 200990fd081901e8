// The few threading primitives the reader needs: the module is built with
// mingw-w64's win32 thread model, which has no std::thread or std::mutex, so
// Windows uses SRW locks, condition variables and CreateThread, POSIX pthreads.
// Header only; nothing here throws.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace quillon::sevenzip::detail {

class Mutex
{
public:
    Mutex() = default;
    Mutex(const Mutex &) = delete;
    Mutex &operator=(const Mutex &) = delete;
#ifdef _WIN32
    void lock()
    {
        AcquireSRWLockExclusive(&m_lock);
    }
    void unlock()
    {
        ReleaseSRWLockExclusive(&m_lock);
    }

private:
    friend class Condition;
    SRWLOCK m_lock = SRWLOCK_INIT;
#else
    ~Mutex()
    {
        pthread_mutex_destroy(&m_lock);
    }
    void lock()
    {
        pthread_mutex_lock(&m_lock);
    }
    void unlock()
    {
        pthread_mutex_unlock(&m_lock);
    }

private:
    friend class Condition;
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
#endif
};

class Lock
{
public:
    explicit Lock(Mutex &mutex) : m_mutex(mutex) { m_mutex.lock(); }
    ~Lock() { m_mutex.unlock(); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
    Mutex &mutex() { return m_mutex; }

private:
    Mutex &m_mutex;
};

class Condition
{
public:
    Condition() = default;
    Condition(const Condition &) = delete;
    Condition &operator=(const Condition &) = delete;
#ifdef _WIN32
    void wait(Lock &lock)
    {
        SleepConditionVariableSRW(&m_cond, &lock.mutex().m_lock, INFINITE, 0);
    }
    void notifyAll()
    {
        WakeAllConditionVariable(&m_cond);
    }

private:
    CONDITION_VARIABLE m_cond = CONDITION_VARIABLE_INIT;
#else
    ~Condition()
    {
        pthread_cond_destroy(&m_cond);
    }
    void wait(Lock &lock)
    {
        pthread_cond_wait(&m_cond, &lock.mutex().m_lock);
    }
    void notifyAll()
    {
        pthread_cond_broadcast(&m_cond);
    }

private:
    pthread_cond_t m_cond = PTHREAD_COND_INITIALIZER;
#endif
};

// Runs `run(argument)` on a thread of its own until join().
class Thread
{
public:
    using Function = void (*)(void *);
    Thread() = default;
    ~Thread() { join(); }
    Thread(const Thread &) = delete;
    Thread &operator=(const Thread &) = delete;

    // False when no thread could be started.
    bool start(Function run, void *argument)
    {
        m_run = run;
        m_argument = argument;
#ifdef _WIN32
        m_handle = CreateThread(nullptr, 0, &Thread::entry, this, 0, nullptr);
        m_started = m_handle != nullptr;
#else
        m_started = pthread_create(&m_handle, nullptr, &Thread::entry, this) == 0;
#endif
        return m_started;
    }
    void join()
    {
        if (!m_started)
            return;
        m_started = false;
#ifdef _WIN32
        WaitForSingleObject(m_handle, INFINITE);
        CloseHandle(m_handle);
#else
        pthread_join(m_handle, nullptr);
#endif
    }

private:
#ifdef _WIN32
    static DWORD WINAPI entry(LPVOID self)
    {
        static_cast<Thread *>(self)->m_run(static_cast<Thread *>(self)->m_argument);
        return 0;
    }
    HANDLE m_handle = nullptr;
#else
    static void *entry(void *self)
    {
        static_cast<Thread *>(self)->m_run(static_cast<Thread *>(self)->m_argument);
        return nullptr;
    }
    pthread_t m_handle{};
#endif
    Function m_run = nullptr;
    void *m_argument = nullptr;
    bool m_started = false;
};

inline unsigned processorCount()
{
#ifdef _WIN32
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const unsigned count = info.dwNumberOfProcessors;
#else
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    const unsigned count = online > 0 ? static_cast<unsigned>(online) : 1u;
#endif
    return count > 0 ? count : 1u;
}

} // namespace quillon::sevenzip::detail
