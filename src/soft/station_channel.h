// One station picked out of a receiver's audio for the soft decoder: the audio is mixed
// down by the tone the operator picked, decimated to an intermediate rate, and the
// station's own carrier is looked for within `pullHz` of that tone. A narrow low-pass
// centred on the carrier then keeps neighbours out (flat to `passHz`, `stopDb` down from
// `stopHz` either side) before the samples reach the decoder at its rate.
//
// The carrier search: every half second a Hann-windowed DFT of the intermediate samples at
// 1 Hz steps across +-pullHz, averaged over a few seconds. The strongest step becomes the
// centre once it stands `lockDb` over the median step of the search; until then the
// channel is centred on the picked tone. A neighbour outside the search never pulls it.
// The same look, at 2 Hz steps out to `neighbourHz`, finds neighbours: beside a loud one the
// narrower low-pass (closePassHz, closeStopHz) is used.
//
// A second decoder reads the same audio through the wide channel of AudioSoftDecoder (a
// few hundred hertz, so that its noise is white: behind a narrow filter the noise's power
// swings at the pace of fast dits, and a decoder starting up on a weak signal can take them
// for keying). Its text is the channel's while no neighbour within `neighbourHz` comes
// within `otherDb` of the station; beside one, the narrow channel's text is.
//
// All memory is taken at construction; Process() does not allocate. One thread at a time.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <string>

#include "soft/soft_decoder.h"

namespace kestrix::soft {

struct StationChannelConfig {
  double pullHz = 15.0;  // the carrier is looked for this far either side of the tone
  double passHz = 20.0;  // the narrow low-pass: flat to here either side of the carrier,
  double stopHz = 40.0;  // and stopDb down from here
  // Beside a loud neighbour (neighbourDb over the carrier followed, within neighbourHz) the
  // keying sidebands it throws into the channel are less with a narrower low-pass still.
  double closePassHz = 10.0;
  double closeStopHz = 22.0;
  double neighbourHz = 120.0;
  double neighbourDb = 6.0;
  double otherDb = -3.0;  // a neighbour this close to the station's level: the narrow text
  double lockDb = 8.0;    // the carrier's margin over the median step of the search
  // The decoder's rate, about (the decoder's own sampleRate is not used): low enough that
  // the noise behind the narrow low-pass reaches the decoder nearly white. At twice this
  // its power swings at the pace of 60 WPM dits, and the decoder's start-up takes them for
  // keying.
  double decoderRate = 125.0;
};

class StationChannel {
 public:
  StationChannel(double audioRate, double toneHz, const SoftDecoderConfig& decoder,
                 const StationChannelConfig& config = {});
  ~StationChannel();
  StationChannel(const StationChannel&) = delete;
  StationChannel& operator=(const StationChannel&) = delete;

  // Mono audio, full scale 1.0.
  void Process(const float* audio, size_t count);
  // End of input: the decoder decides what it holds.
  void Flush();
  // A new pick. Within pullHz of the carrier being followed only the search moves; further
  // away the decoder starts afresh (another station).
  void Retune(double toneHz);
  // Back to the state after construction at the same tone.
  void Reset();
  size_t TakeText(std::string& out);

  double ToneHz() const;     // the tone picked
  double CarrierHz() const;  // the centre of the narrow low-pass now
  bool Locked() const;       // a carrier was found within the search
  bool Close() const;        // a loud neighbour is near: the narrower low-pass is in use
  bool Narrow() const;       // a neighbour is near: the text is the narrow channel's
  // The decoder whose text is taken now.
  SoftDecoder& Decoder();
  const SoftDecoder& Decoder() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrix::soft
