// The speaker tone the operations end with.
#pragma once

namespace kelta {

class Tone {
 public:
  virtual ~Tone() = default;
  // Sounds `hz` for `ms` milliseconds and returns when it has ended, as Windows' Beep does.
  virtual void Beep(unsigned hz, unsigned ms) = 0;
};

// The platform's tone: Beep on Windows, ALSA's default device on Linux, and a silent
// wait of the same length where no sound device can be opened.
Tone& SystemTone();

}  // namespace kelta
