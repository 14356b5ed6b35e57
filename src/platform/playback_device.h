// The sound output as the tone keyer sees it: a device that plays buffers the program
// queues, in queue order, marks each one done once it has played it, and reports how many
// bytes it has played since it was opened or reset.
//
// The keyer owns two buffers and their headers. It fills a buffer, marks its header done,
// prepares and writes it (the device clears the done mark until the buffer has played) and
// then polls the other header's Done flag and the byte position from its own thread (a
// send worker) while the device plays from its audio thread.
// Every call returns kPlaybackOk (0) or a nonzero PlaybackResult code; no call throws.
//
// Implementations: PortAudioPlayback (a sound card), WavPlayback (a WAV file written as
// fast as the keyer writes; kestrix-send --wav and the tests). Tests script their own.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kestrix {

// Result codes, numbered like the capture side's so a code in a log reads the same.
enum PlaybackResult : int {
  kPlaybackOk = 0,
  kPlaybackError = 1,          // unspecified failure in the sound system
  kPlaybackBadDevice = 2,      // no device with that index
  kPlaybackNotOpen = 5,        // the device is not open
  kPlaybackNoMemory = 7,       // the sound system ran out of memory
  kPlaybackBadParam = 11,      // a bad header (no data, zero length)
  kPlaybackBadFormat = 32,     // the device does not play this format
  kPlaybackStillPlaying = 33,  // the header is still queued in the device
  kPlaybackUnprepared = 34,    // the header was not prepared
  kPlaybackDeviceLost = 40,    // the device went away while open
};

// One line describing a code ("device not open").
const char* PlaybackResultText(int code);

// PCM format of the output: the tone keyer always asks for 16-bit mono at 44100 Hz.
struct PlaybackFormat {
  uint16_t FormatTag = 1;  // PCM
  uint16_t Channels = 1;
  uint32_t SamplesPerSecond = 44100;
  uint32_t AvgBytesPerSecond = 88200;
  uint16_t BlockAlign = 2;
  uint16_t BitsPerSample = 16;
};

// Whether `f` is the only format the devices play: 16-bit PCM, one channel, block
// alignment 2, a rate in 8000..192000 and the byte rate to match.
bool IsMonoPcm16(const PlaybackFormat& f);

// Header flag bits kept by the device (Done is the separate atomic below).
inline constexpr uint32_t kPlaybackPrepared = 0x02;
inline constexpr uint32_t kPlaybackInQueue = 0x10;

// The header of one output buffer. The program sets Data and BufferLength and marks it
// done; Write clears Done and the device sets it again (release) once the last byte has
// gone to the sound system, so a keyer that sees Done (acquire) may refill the buffer.
struct PlaybackHeader {
  const uint8_t* Data = nullptr;
  uint32_t BufferLength = 0;             // bytes to play
  std::atomic<uint32_t> BytesPlayed{0};  // device progress through this buffer
  std::atomic<bool> Done{true};
  std::atomic<uint32_t> Flags{0};  // kPlaybackPrepared | kPlaybackInQueue
  uint32_t Loops = 0;

  // Data and length set, marked done, loop count 0; the prepared bit is kept.
  void Set(const uint8_t* data, uint32_t length) {
    Data = data;
    BufferLength = length;
    BytesPlayed.store(0, std::memory_order_relaxed);
    Loops = 0;
    Done.store(true, std::memory_order_release);
  }
  bool IsDone() const { return Done.load(std::memory_order_acquire); }
};

// Full volume on the left (and only) channel, the value the keyer sets.
inline constexpr uint32_t kFullVolume = 0xFFFF;

// Called from one thread at a time (the keyer's; OpenToneOutput on the GUI thread before
// any keying). Implementations play on a thread of their own and touch a header only
// between Write and the moment they set Done.
class PlaybackDevice {
 public:
  virtual ~PlaybackDevice() = default;

  // --- Device list --------------------------------------------------------------
  virtual int DeviceCount() = 0;
  // Product name of device `index`, "" when there is no such device.
  virtual std::string ProductName(int index) = 0;

  // --- Opening ------------------------------------------------------------------
  // Whether `device` plays `format`; opens nothing.
  virtual int QueryFormat(int device, const PlaybackFormat& format) = 0;
  // Opens `device` for `format`: nothing queued, position 0. An open device is closed
  // first.
  virtual int Open(int device, const PlaybackFormat& format) = 0;
  // Low 16 bits: left channel volume (0xFFFF full); the high 16 bits, right, are ignored
  // by mono devices.
  virtual int SetVolume(uint32_t volume) = 0;
  // Stops playing and releases the device. kPlaybackOk when nothing is open.
  virtual int Close() = 0;

  // --- Buffers ------------------------------------------------------------------
  // Makes a header usable; it must not be queued.
  virtual int Prepare(PlaybackHeader& header) = 0;
  // Queues a prepared header behind those already queued and plays it.
  virtual int Write(PlaybackHeader& header) = 0;
  // Bytes played from buffers since the device was opened or last reset.
  virtual int Position(uint32_t& bytes) = 0;
  // Stops playing, marks every queued header done, empties the queue and sets the
  // position back to 0.
  virtual int Reset() = 0;
  // Gives a header back after it is done; kPlaybackStillPlaying before that. A header
  // that was never prepared is given back at once.
  virtual int Unprepare(PlaybackHeader& header) = 0;

  // The sound library's reason for the last failure ("" after success), for logs.
  virtual std::string LastError() const { return ""; }
};

}  // namespace kestrix
