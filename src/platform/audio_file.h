// Reading recordings for the headless tools, the recorded-input device and the tests.
//
// A RecordingReader opens any file libsndfile understands (WAV, FLAC, Ogg/Vorbis, ...),
// or standard input when the path is "-", resamples it to the requested rate with libsoxr
// and hands out interleaved 16-bit frames. Files with more than two channels keep their
// first two. Used from one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kestrix {

class RecordingReader {
 public:
  RecordingReader();
  ~RecordingReader();
  RecordingReader(const RecordingReader&) = delete;
  RecordingReader& operator=(const RecordingReader&) = delete;

  // Opens `path` ("-" = stdin) for reading at `targetRate` frames per second.
  // On failure returns false and puts one human-readable line (no newline) into `error`,
  // e.g. "cannot open 'x.wav': No such file or directory" or "'x.txt': not an audio file".
  // An empty recording (no frames) is an error too.
  bool Open(const std::string& path, int targetRate, std::string& error);

  // Channels handed out by Read(): 1 or 2.
  int Channels() const;
  // Sample rate of the file itself, before resampling.
  int SourceRate() const;
  // Frames the file holds at its own rate (0 when unknown, e.g. a pipe).
  int64_t SourceFrames() const;

  // Reads up to `frames` frames into `out` (frames * Channels() values, interleaved),
  // converted to 16-bit with clipping. Returns the number of frames read; 0 at the end.
  int Read(int16_t* out, int frames);

  // Starts again from the first frame (seekable files only). Returns false when not possible.
  bool Rewind();

  const std::string& Path() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix
