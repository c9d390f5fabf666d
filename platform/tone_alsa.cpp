// The tone on Linux: a sine through ALSA's default device. Without a device (a server,
// CI) the same time passes in silence, so callers see the duration they asked for.
#include <alsa/asoundlib.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <thread>
#include <vector>

#include "platform/tone.h"

namespace kelta {

namespace {

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

bool Play(const std::vector<std::int16_t>& samples) {
  snd_pcm_t* pcm = nullptr;
  // Non-blocking open: a device held by another program must not hang the beep.
  if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  bool ok = snd_pcm_nonblock(pcm, 0) == 0 &&
            snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1,
                               kSampleRate, 1, kLatencyUs) == 0;
  std::size_t done = 0;
  while (ok && done < samples.size()) {
    const snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + done, samples.size() - done);
    if (n < 0) {
      ok = snd_pcm_recover(pcm, static_cast<int>(n), 1) == 0;
    } else {
      done += static_cast<std::size_t>(n);
    }
  }
  if (ok) snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
  return ok;
}

class AlsaTone final : public Tone {
 public:
  AlsaTone() { snd_lib_error_set_handler(&QuietAlsa); }

  void Beep(unsigned hz, unsigned ms) override {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    if (hz > 0 && ms > 0) Play(SineSamples(hz, ms));
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
