// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright (C) 2026 The Orvel developers
// What each lock guards, said so that clang's -Wthread-safety checks it: the attributes (empty
// under g++), and a mutex and a scoped lock that carry them, which libstdc++'s std::mutex does not.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define ORVEL_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define ORVEL_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(x) ORVEL_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY ORVEL_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) ORVEL_THREAD_ATTRIBUTE(guarded_by(x))
#define PT_GUARDED_BY(x) ORVEL_THREAD_ATTRIBUTE(pt_guarded_by(x))
#define REQUIRES(...) ORVEL_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) ORVEL_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) ORVEL_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) ORVEL_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))

class CAPABILITY("mutex") TMutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class TMutexLock;
  std::mutex mutex_;
};

// Holds a TMutex for its scope; a wait lets it go until the condition variable is notified.
class SCOPED_CAPABILITY TMutexLock {
 public:
  explicit TMutexLock(TMutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
  ~TMutexLock() RELEASE() {}
  TMutexLock(const TMutexLock&) = delete;
  TMutexLock& operator=(const TMutexLock&) = delete;

  void Unlock() RELEASE() { lock_.unlock(); }
  void Lock() ACQUIRE() { lock_.lock(); }
  void Wait(std::condition_variable& changed) { changed.wait(lock_); }
  // False once `deadline` has passed.
  bool WaitUntil(std::condition_variable& changed, std::chrono::steady_clock::time_point deadline) {
    return changed.wait_until(lock_, deadline) == std::cv_status::no_timeout ||
           std::chrono::steady_clock::now() < deadline;
  }

 private:
  std::unique_lock<std::mutex> lock_;
};
