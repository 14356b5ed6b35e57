// A WAV file as the playback device: every written buffer goes to the file at once and is
// marked done, so a keyer "plays" as fast as it can synthesise. kestrix-send --wav renders
// with it, and the tests read back exactly the samples a sound card would have been given.
//
// The position is that of a card that has just begun the newest buffer: the bytes of all
// buffers before it. The keyer's rule that waits for the play position to come near a
// buffer boundary is then always met at once.
//
// Threads: one (the keyer's).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/playback_device.h"

struct sf_private_tag;

namespace kestrix {

class WavPlayback final : public PlaybackDevice {
 public:
  // Device 0 writes to `path`; an empty path keeps the samples in memory only, and
  // `keepSamples` false keeps nothing (a silent stand-in for a speaker).
  explicit WavPlayback(std::string path, bool keepSamples = true);
  ~WavPlayback() override;
  WavPlayback(const WavPlayback&) = delete;
  WavPlayback& operator=(const WavPlayback&) = delete;

  // Every sample written since Open, in order (kept for the tests and for counting).
  const std::vector<int16_t>& Samples() const { return samples_; }
  // The byte length of every Write, in order.
  const std::vector<uint32_t>& Writes() const { return writes_; }
  uint32_t Volume() const { return volume_; }

  int DeviceCount() override { return 1; }
  std::string ProductName(int index) override;
  int QueryFormat(int device, const PlaybackFormat& format) override;
  int Open(int device, const PlaybackFormat& format) override;
  int SetVolume(uint32_t volume) override;
  int Close() override;
  int Prepare(PlaybackHeader& header) override;
  int Write(PlaybackHeader& header) override;
  int Position(uint32_t& bytes) override;
  int Reset() override;
  int Unprepare(PlaybackHeader& header) override;
  std::string LastError() const override { return lastError_; }

 private:
  const std::string path_;
  const bool keep_;
  sf_private_tag* file_ = nullptr;
  bool open_ = false;
  uint32_t volume_ = kFullVolume;
  uint32_t played_ = 0;  // bytes of the buffers before the newest
  uint32_t newest_ = 0;  // bytes of the newest buffer
  std::vector<int16_t> samples_;
  std::vector<uint32_t> writes_;
  std::string lastError_;
};

}  // namespace kestrix
