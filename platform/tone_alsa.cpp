// The tone on Linux: a sine through ALSA's default device, ALSA loaded at the first beep.
// Without a device (a server, CI) the same time passes in silence, so callers see the
// duration they asked for.
#include <alsa/asoundlib.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/shared_library.h"
#include "platform/tone.h"

namespace kelta {

namespace {

// The functions used here, from ALSA loaded at the first beep.
struct Alsa {
  decltype(&snd_pcm_open) open = nullptr;
  decltype(&snd_pcm_nonblock) nonblock = nullptr;
  decltype(&snd_pcm_set_params) set_params = nullptr;
  decltype(&snd_pcm_writei) writei = nullptr;
  decltype(&snd_pcm_recover) recover = nullptr;
  decltype(&snd_pcm_drain) drain = nullptr;
  decltype(&snd_pcm_close) close = nullptr;
  decltype(&snd_lib_error_set_handler) set_error_handler = nullptr;
};

constexpr unsigned kSampleRate = 48000;
// Latency asked of the device; short enough that the drain ends close to the tone's end.
constexpr unsigned kLatencyUs = 50000;
constexpr double kAmplitude = 0.5 * 32767.0;

// ALSA prints its errors to stderr by default; a missing device is not an error here.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::vector<std::int16_t> SineSamples(unsigned hz, unsigned ms) {
  const std::size_t frames = static_cast<std::size_t>(kSampleRate) * ms / 1000;
  std::vector<std::int16_t> samples(frames);
  const double step = 2.0 * std::numbers::pi * hz / kSampleRate;
  for (std::size_t i = 0; i < frames; ++i) {
    samples[i] = static_cast<std::int16_t>(
        std::lround(kAmplitude * std::sin(step * static_cast<double>(i))));
  }
  return samples;
}

// Null when ALSA cannot be loaded: the beeps are then silent waits.
const Alsa* LoadedAlsa() {
  static const SharedLibrary library("libasound.so.2");
  static const Alsa* const alsa = []() -> const Alsa* {
    static Alsa f;
    const bool found =
        library.Find("snd_pcm_open", f.open) && library.Find("snd_pcm_nonblock", f.nonblock) &&
        library.Find("snd_pcm_set_params", f.set_params) &&
        library.Find("snd_pcm_writei", f.writei) && library.Find("snd_pcm_recover", f.recover) &&
        library.Find("snd_pcm_drain", f.drain) && library.Find("snd_pcm_close", f.close) &&
        library.Find("snd_lib_error_set_handler", f.set_error_handler);
    if (!found) return nullptr;
    f.set_error_handler(&QuietAlsa);
    return &f;
  }();
  return alsa;
}

bool Play(const Alsa& alsa, const std::vector<std::int16_t>& samples) {
  snd_pcm_t* pcm = nullptr;
  // Non-blocking open: a device held by another program must not hang the beep.
  if (alsa.open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  bool ok = alsa.nonblock(pcm, 0) == 0 &&
            alsa.set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kSampleRate,
                            1, kLatencyUs) == 0;
  std::size_t done = 0;
  while (ok && done < samples.size()) {
    const snd_pcm_sframes_t n = alsa.writei(pcm, samples.data() + done, samples.size() - done);
    if (n < 0) {
      ok = alsa.recover(pcm, static_cast<int>(n), 1) == 0;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (ok) alsa.drain(pcm);
  alsa.close(pcm);
  return ok;
}

class AlsaTone final : public Tone {
 public:
  void Beep(unsigned hz, unsigned ms) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    const Alsa* alsa = hz > 0 && ms > 0 ? LoadedAlsa() : nullptr;
    if (alsa != nullptr) Play(*alsa, SineSamples(hz, ms));
    // A device that plays faster than real time (a file, a null sink), or none at all.
    std::this_thread::sleep_until(end);
  }
};

}  // namespace

Tone& SystemTone() {
  static AlsaTone tone;
  return tone;
}

}  // namespace kelta
