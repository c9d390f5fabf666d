// How long the window takes from its creation to its first paint (offscreen), and how
// long a change of language takes. Prints figures; passes or fails on nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "catalogue/catalogue.h"
#include "tests/widgets/window_fakes.h"
#include "ui/main_window.h"

using kelta::bench::Median;

int main(int argc, char* argv[]) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QElapsedTimer clock;
  clock.start();
  kelta::Catalogue();
  const double catalogue_ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  QApplication app(argc, argv);
  kelta::InitApplication();

  kelta::testing::NoPorts device;
  kelta::testing::StillClock still;
  kelta::testing::RecordingTone tone;
  constexpr int kRuns = 20;
  std::vector<double> start_ms;
  std::vector<double> switch_ms;
  for (int run = 0; run < kRuns; ++run) {
    kelta::testing::MemoryStore store;
    clock.restart();
    kelta::TfrmModule window(kelta::WindowServices{device, still, tone, store});
    window.show();
    window.grab();  // the first paint
    start_ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);

    auto* big5 = window.findChild<QPushButton*>("btnBIG5");
    clock.restart();
    big5->click();
    window.grab();
    switch_ms.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
  }
  std::printf("catalogue built:                 %8.3f ms (once)\n", catalogue_ms);
  std::printf("window created, shown, painted:  %8.3f ms (median of %d)\n", Median(start_ms),
              kRuns);
  std::printf("language switch and repaint:     %8.3f ms (median of %d)\n", Median(switch_ms),
              kRuns);
  return 0;
}
