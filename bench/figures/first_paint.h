// What both start-up probes share: wait for a window's first paint, then report the
// wall-clock moment of it (for the caller, who knows when it started the process), the
// process's peak resident memory and processor time, and end at once: tearing down is not
// start-up, and an end without it keeps it out of the instruction counts as well.
#pragma once

#include <sys/resource.h>

#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

namespace kelta::bench {

class FirstPaint : public QObject {
 public:
  explicit FirstPaint(QWidget* window) : window_(window) { window->installEventFilter(this); }

  // Runs the event loop until the window has been painted once: the paint of the window
  // and of its children happens in one pass, so that pass has ended when this returns.
  void Wait() {
    while (!painted_) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Paint) painted_ = true;
    return false;
  }

 private:
  QWidget* window_;
  bool painted_ = false;
};

inline long PeakResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// The processor time of the whole process so far (all its threads, user and system): on
// a busy machine it grows far less than the wall time while the process waits its turn.
inline long long CpuMicroseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto us = [](const timeval& t) { return static_cast<long long>(t.tv_sec) * 1000000 + t.tv_usec; };
  return us(usage.ru_utime) + us(usage.ru_stime);
}

[[noreturn]] inline void ReportAndEnd() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  std::printf("painted_ns %lld\npeak_kb %ld\ncpu_us %lld\n",
              static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec, PeakResidentKb(),
              CpuMicroseconds());
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace kelta::bench
