// One headless decoding run: frames in, text out, through the window's receive chain.
//
// The receiver starts the way the window does when it comes up: defaults, the chosen
// options applied through the same setters a settings load uses, the Text-mode setup
// (CLEAR) and the learning restart of the first Timer1 tick, START's detector values, and
// then the click on the spectrum that tunes the tone.
#pragma once

#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/decode_options.h"
#include "receive/receiver.h"
#include "receive/tone_finder.h"

namespace kestrix {

// How both the file mode and the live mode bring the receiver up, as the window does:
// ApplyStartOptions sets the chosen options in the order the settings file holds them and
// runs the Text-mode setup and the learning restart of the first Timer1 tick; then START
// sets its start values (Receiver::StartValues); then ApplyToneClick clicks on the
// spectrum for --tone HZ. Returns the click position, 0 when there was none.
void ApplyStartOptions(Receiver& rx, const DecodeOptions& options);
int ApplyToneClick(Receiver& rx, const DecodeOptions& options);

class DecodeSession : private TextSink, private ReceiverSink {
 public:
  // `output` receives decoded text (Windows-1252) as it is produced, once per block.
  DecodeSession(const DecodeOptions& options, std::function<void(std::string_view)> output);
  ~DecodeSession() override;

  // Opens the per-block trace file. Returns false with a message on failure.
  bool OpenTrace(const std::string& path, std::string& error);

  // Interleaved 16-bit frames with `channels` (1 or 2) channels at 44100 Hz.
  void Feed(const int16_t* frames, int count, int channels);
  // End of input: processes what is held back and the flush silence.
  void Finish();

  Receiver& Rx() { return *rx_; }
  int64_t BlocksProcessed() const { return blocks_; }
  // The click position used (0 when no tone was found and the bar was left alone).
  int TunedPosition() const { return tunedPosition_; }

 private:
  // TextSink
  void InsertText(const char* bytes, size_t length) override;
  // ReceiverSink
  void PeakFrequencyShown(int hz) override;
  void BlockFinished(const Receiver& rx) override;

  void QueueBlock(const CaptureBlock& block);
  void Tune();
  void Process(const uint8_t* block);

  DecodeOptions options_;
  std::function<void(std::string_view)> output_;
  std::unique_ptr<Receiver> rx_;
  CaptureBlockPacker packer_;       // the capture buffer being filled
  std::vector<CaptureBlock> held_;  // blocks held back until the tone is known
  bool tuned_ = false;
  int tunedPosition_ = 0;
  int64_t blocks_ = 0;
  std::string blockText_;
  std::string peakShown_ = "?";
  std::ofstream trace_;
};

// Runs kestrix-decode: reads options.input and writes UTF-8 text to `out`.
// Returns the exit status; on failure `error` holds one line.
int RunDecode(const DecodeOptions& options, std::ostream& out, std::string& error);

}  // namespace kestrix
