#include "platform/wav_playback.h"

#include <sndfile.h>

#include <cstring>

namespace kestrix {

WavPlayback::WavPlayback(std::string path, bool keepSamples)
    : path_(std::move(path)), keep_(keepSamples) {}

WavPlayback::~WavPlayback() {
  Close();
}

std::string WavPlayback::ProductName(int index) {
  if (index != 0) return "";
  return path_.empty() ? "WAV (memory)" : "WAV file: " + path_;
}

int WavPlayback::QueryFormat(int device, const PlaybackFormat& format) {
  if (device != 0) return kPlaybackBadDevice;
  if (!IsMonoPcm16(format)) {
    lastError_ = "only 16-bit mono PCM is written";
    return kPlaybackBadFormat;
  }
  return kPlaybackOk;
}

int WavPlayback::Open(int device, const PlaybackFormat& format) {
  const int closed = Close();
  if (closed != kPlaybackOk) return closed;
  const int ok = QueryFormat(device, format);
  if (ok != kPlaybackOk) return ok;
  if (!path_.empty()) {
    SF_INFO info{};
    info.samplerate = static_cast<int>(format.SamplesPerSecond);
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    file_ = sf_open(path_.c_str(), SFM_WRITE, &info);
    if (file_ == nullptr) {
      lastError_ = "cannot write '" + path_ + "': " + sf_strerror(nullptr);
      return kPlaybackBadDevice;
    }
  }
  open_ = true;
  played_ = newest_ = 0;
  samples_.clear();
  writes_.clear();
  lastError_.clear();
  return kPlaybackOk;
}

int WavPlayback::SetVolume(uint32_t volume) {
  if (!open_) return kPlaybackNotOpen;
  volume_ = volume;
  return kPlaybackOk;
}

int WavPlayback::Close() {
  if (!open_) return kPlaybackOk;
  open_ = false;
  if (file_ == nullptr) return kPlaybackOk;
  const int err = sf_close(file_);
  file_ = nullptr;
  if (err != 0) {
    lastError_ = "cannot finish '" + path_ + "': " + sf_error_number(err);
    return kPlaybackError;
  }
  return kPlaybackOk;
}

int WavPlayback::Prepare(PlaybackHeader& header) {
  if (!open_) return kPlaybackNotOpen;
  if (header.Data == nullptr || header.BufferLength == 0) return kPlaybackBadParam;
  header.Flags.fetch_or(kPlaybackPrepared);
  return kPlaybackOk;
}

int WavPlayback::Write(PlaybackHeader& header) {
  if (!open_) return kPlaybackNotOpen;
  if ((header.Flags.load() & kPlaybackPrepared) == 0) return kPlaybackUnprepared;
  const size_t n = header.BufferLength / 2;
  const size_t at = samples_.size();
  samples_.resize(at + n);
  // The buffer holds little-endian samples, as a sound card takes them.
  for (size_t i = 0; i < n; ++i) {
    samples_[at + i] = static_cast<int16_t>(static_cast<uint16_t>(header.Data[2 * i]) |
                                            (static_cast<uint16_t>(header.Data[2 * i + 1]) << 8));
  }
  if (file_ != nullptr) {
    const sf_count_t written =
        sf_write_short(file_, samples_.data() + at, static_cast<sf_count_t>(n));
    if (written != static_cast<sf_count_t>(n)) {
      lastError_ = "cannot write '" + path_ + "': " + sf_strerror(file_);
      return kPlaybackError;
    }
  }
  if (!keep_) samples_.clear();
  writes_.push_back(header.BufferLength);
  if (!keep_) writes_.clear();
  played_ += newest_;
  newest_ = header.BufferLength;
  header.BytesPlayed.store(header.BufferLength);
  header.Done.store(true, std::memory_order_release);
  return kPlaybackOk;
}

int WavPlayback::Position(uint32_t& bytes) {
  if (!open_) return kPlaybackNotOpen;
  bytes = played_;
  return kPlaybackOk;
}

int WavPlayback::Reset() {
  if (!open_) return kPlaybackNotOpen;
  played_ = newest_ = 0;
  return kPlaybackOk;
}

int WavPlayback::Unprepare(PlaybackHeader& header) {
  if (!open_) return kPlaybackNotOpen;
  header.Flags.fetch_and(~(kPlaybackPrepared | kPlaybackInQueue));
  return kPlaybackOk;
}

}  // namespace kestrix
