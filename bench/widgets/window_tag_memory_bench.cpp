// window_tag_memory_bench: the heap of the window reading tags over 100,000 polls (about
// three hours of reading), with a tag in every reply, on the in-memory line and a virtual
// clock. The window is shown (offscreen) and runs its message loop in every poll pause as
// it does on a desk; the press that ends reading comes through that loop.
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>

#include "bench/tag_memory.h"
#include "sim/sim_line.h"
#include "sim/virtual_clock.h"
#include "sim/write_hook.h"
#include "tests/widgets/window_fakes.h"
#include "ui/main_window.h"

namespace {

// The beeps take no time and leave nothing behind.
class NoTone final : public kelta::Tone {
 public:
  void Beep(unsigned, unsigned) override {}
};

}  // namespace

int main(int argc, char* argv[]) {
  using namespace kelta;
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  InitApplication();

  VirtualClock clock;
  SimLine line(clock);
  line.AttachReader(3, ReaderModel(ReaderSettings{}, {SimTag{0x4D2, 1}}));
  WriteHook device(line);
  NoTone tone;
  testing::MemoryStore store;
  TfrmModule window(WindowServices{device, clock, tone, store});
  window.show();
  window.findChild<QPushButton*>("btnScan")->click();
  QPushButton* read = window.findChild<QPushButton*>("btnReadCard");

  bench::HeapGrowth growth;
  growth.Watch(device, line, [&window, read](long number) {
    if (number == bench::kPolls) QTimer::singleShot(0, &window, [read] { read->click(); });
  });
  const auto start = std::chrono::steady_clock::now();
  read->click();
  const std::chrono::duration<double> real = std::chrono::steady_clock::now() - start;
  growth.Report("window", real.count(), clock.Ticks());
  return 0;
}
