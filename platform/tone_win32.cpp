// The speaker tone on Windows.
#include "platform/tone.h"

#include <windows.h>
#include <mmsystem.h>

namespace kelta {
namespace {

class WinTone final : public Tone {
 public:
  void Beep(unsigned hz, unsigned ms) override {
    const DWORD start = timeGetTime();
    // Beep fails without a speaker (and under Wine returns at once): the operation's
    // timing must not depend on the hardware, so the rest of the time is waited out.
    ::Beep(hz, ms);
    const DWORD elapsed = timeGetTime() - start;
    if (elapsed < ms) ::Sleep(ms - elapsed);
  }
};

}  // namespace

Tone& SystemTone() {
  static WinTone tone;
  return tone;
}

}  // namespace kelta
