// A timer signal delivered every `interval` while the object lives, by a
// handler installed without SA_RESTART, so that every blocking call it
// lands in returns EINTR. Bounded: after kMostSignals the handler stops the
// timer, so a call that restarts its wait on every signal ends anyway, and
// the count tells it apart from one that ended within its time-out.
#pragma once

#include <pthread.h>
#include <signal.h>
#include <sys/time.h>

#include <atomic>
#include <chrono>

namespace remote_session_client::testing {

class InterruptingTimer {
 public:
  static constexpr int kMostSignals = 200;

  explicit InterruptingTimer(std::chrono::microseconds interval) {
    signals_ = 0;
    struct sigaction action {};
    action.sa_handler = &InterruptingTimer::on_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART
    ::sigaction(SIGALRM, &action, &previous_);
    const timeval every{0, static_cast<suseconds_t>(interval.count())};
    const itimerval timer{every, every};
    ::setitimer(ITIMER_REAL, &timer, nullptr);
  }
  InterruptingTimer(const InterruptingTimer&) = delete;
  InterruptingTimer& operator=(const InterruptingTimer&) = delete;
  ~InterruptingTimer() {
    stop();
    ::sigaction(SIGALRM, &previous_, nullptr);
  }

  int signals() const { return signals_; }

  // Threads started inside this scope (servers) take no SIGALRM, so that it
  // lands in the thread under test.
  struct Blocked {
    Blocked() {
      sigset_t alarm;
      sigemptyset(&alarm);
      sigaddset(&alarm, SIGALRM);
      ::pthread_sigmask(SIG_BLOCK, &alarm, &previous);
    }
    ~Blocked() { ::pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    sigset_t previous;
  };

 private:
  static void stop() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
  }
  static void on_signal(int) {
    if (++signals_ >= kMostSignals) stop();
  }

  static inline std::atomic<int> signals_{0};
  struct sigaction previous_ {};
};

}  // namespace remote_session_client::testing
