// What every reader operation works with.
#pragma once

#include <functional>
#include <string>

#include "link/reader_link.h"
#include "platform/clock.h"
#include "platform/settings_store.h"
#include "platform/tone.h"
#include "reader/results.h"
#include "reader/view.h"
#include "settings/settings.h"

namespace kelta {

class LinkMaker;

struct ReaderContext {
  ReaderLink& link;
  Clock& clock;
  EventPump& pump;
  Tone& tone;
  ReaderView& view;
  Settings& settings;
  // The settings' store; each save opens and closes it.
  SettingsStore& store;

  bool ReaderReady = false;
  bool TagReadActive = false;
  // True from the press that starts tag reading until its loop has ended and the port is
  // closed; the cancelling press clears TagReadActive before that.
  bool TagReadLoop = false;
  // Told of each step; none by default (the window needs none).
  ReaderEvents* events = nullptr;
  // The device a front end names port `number` by in messages; unset, or empty for a
  // number, the number stands (the window's way).
  std::function<std::string(int)> port_device = nullptr;
  // Set: discovery walks its ports all at once, each on a link of its own made here; none
  // by default (the window walks one port after another).
  LinkMaker* links = nullptr;

  // Catalogue message `no` in the current language, as UTF-8.
  std::string Msg(int no) const;
  // Port `number` as messages show it after " : ": `number_prefix` and the number, or the
  // device that stands for it.
  std::string PortLabel(int number, const std::string& number_prefix = {}) const;
};

}  // namespace kelta
