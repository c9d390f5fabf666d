// A reader operation's whole world on the virtual clock: the simulated line behind the
// real channel and exchange, with the recording window, tone, loop and store.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "catalogue/catalogue.h"
#include "link/command_set.h"
#include "link/reader_link.h"
#include "link/serial_port.h"
#include "reader/context.h"
#include "settings/settings.h"
#include "sim/sim_line.h"
#include "tests/reader/reader_fakes.h"

namespace kelta::test {

// Names a parameterised case after its `name` field.
struct CaseName {
  template <class Param>
  std::string operator()(const testing::TestParamInfo<Param>& p) const {
    return p.param.name;
  }
};

struct ReaderRig {
  EventLog log;
  VirtualClock clock{5000};
  SimLine line{clock};
  LineTap tap{line, clock};
  SerialPort port{tap, clock};
  FakePump pump;
  ReaderLink link{port, clock, pump};
  FakeView view{log};
  FakeTone tone{clock, log};
  Settings settings;
  MemoryStore store{log};
  ReaderContext ctx{link, clock, pump, tone, view, settings, store};

  ReaderModel& AttachReader(int number, int mode, ReaderSettings reader = {}) {
    reader.mode_index = mode;
    return line.AttachReader(number, ReaderModel(reader));
  }
  // As a scan that found the reader at `number`, `mode` leaves things.
  void MakeReady(int number, int mode) {
    settings.ScanCommNo = number;
    settings.ScanBaudRate = kBaudRateTable[mode];
    settings.ScanBaudRateNo = mode;
    ctx.ReaderReady = true;
  }
  std::string Msg(int no) const { return Catalogue().Text(no, settings.LanguageIndex); }
  std::string LastMsg() const { return view.Text(Ctl::pnMsg); }
  int FramesOf(const std::string& text) const {
    int n = 0;
    for (const auto& f : tap.frames) n += f.text == text ? 1 : 0;
    return n;
  }
};

}  // namespace kelta::test
