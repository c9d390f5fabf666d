// The Linux tone, played into a file through ALSA's file plugin set up as the default
// device in a configuration of the test's own.
#include <gtest/gtest.h>
#include <stdlib.h>  // setenv

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/tone.h"

namespace kelta {
namespace {

namespace fs = std::filesystem;

constexpr int kRate = 48000;

fs::path TempDir() {
  fs::path dir =
      fs::temp_directory_path() /
      ("kelta-tone-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
       std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  return dir;
}

void UseAlsaConfig(const fs::path& dir, const std::string& default_pcm) {
  const fs::path conf = dir / "asound.conf";
  std::ofstream(conf) << "pcm.!default {\n" << default_pcm << "}\n";
  setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
}

std::vector<std::int16_t> ReadSamples(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
  std::vector<std::int16_t> samples(bytes.size() / 2);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<std::int16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                           (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return samples;
}

TEST(AlsaTone, PlaysASineOfTheAskedFrequencyAndLength) {
  const fs::path dir = TempDir();
  const fs::path raw = dir / "tone.raw";
  UseAlsaConfig(dir, "  type file\n  slave { pcm { type null } }\n  file \"" + raw.string() +
                         "\"\n  format \"raw\"\n");

  SystemTone().Beep(1000, 300);

  const std::vector<std::int16_t> samples = ReadSamples(raw);
  ASSERT_FALSE(samples.empty()) << "nothing captured in " << raw;
  // 300 ms at 48 kHz, give or take one period of the device.
  EXPECT_NEAR(static_cast<double>(samples.size()), 0.3 * kRate, 0.01 * kRate);
  int crossings = 0;
  for (std::size_t i = 1; i < samples.size(); ++i) {
    if ((samples[i - 1] < 0) != (samples[i] < 0)) ++crossings;
  }
  // Two crossings per cycle: 1000 Hz for 300 ms makes 600.
  const double hz = crossings / 2.0 / (static_cast<double>(samples.size()) / kRate);
  EXPECT_NEAR(hz, 1000.0, 10.0);
  std::int16_t peak = 0;
  for (const std::int16_t s : samples) peak = std::max<std::int16_t>(peak, s);
  EXPECT_GT(peak, 8000);  // audible, not a silent buffer
  fs::remove_all(dir);
}

TEST(AlsaTone, WithoutADeviceWaitsAsLongAsTheTone) {
  const fs::path dir = TempDir();
  UseAlsaConfig(dir, "  type hw\n  card 97\n");
  const auto start = std::chrono::steady_clock::now();
  SystemTone().Beep(300, 120);
  // A lower bound only: it always holds, however loaded the machine.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(120));
  fs::remove_all(dir);
}

}  // namespace
}  // namespace kelta
