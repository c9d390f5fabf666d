// What every reader operation works with.
#pragma once

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
  // Told of each step; none by default (the window needs none).
  ReaderEvents* events = nullptr;
  // Set: discovery walks its ports all at once, each on a link of its own made here; none
  // by default (the window walks one port after another).
  LinkMaker* links = nullptr;

  // Catalogue message `no` in the current language, as UTF-8.
  std::string Msg(int no) const;
};

}  // namespace kelta
