// The MIDI side tone of the serial-port keyer: short messages to an ALSA sequencer client
// "Kestrix" with one output port, "Side tone", that a synthesiser subscribes to
// (aconnect Kestrix:0 FLUID, or a patchbay).
//
// A short message is packed as status + data1 * 256 + data2 * 65536. Without a sequencer
// (no /dev/snd/seq, as in CI) every call does nothing; the first one says so once on the
// log.
//
// Threads: the GUI thread (the Tune and tone handlers, STOP, quit).
#pragma once

#include <cstdint>
#include <ostream>

struct _snd_seq;

namespace kestrix::platform {

inline constexpr uint8_t kMidiChannel = 0;
inline constexpr uint8_t kSideToneVelocity = 127;

inline constexpr uint32_t PackShortMessage(uint8_t status, uint8_t data1, uint8_t data2) {
  return static_cast<uint32_t>(status) + static_cast<uint32_t>(data1) * 256u +
         static_cast<uint32_t>(data2) * 65536u;
}

// Where the note messages go: the sequencer port, or a test's recorder.
class MidiSink {
 public:
  virtual ~MidiSink() = default;
  // midiOutShortMsg: one packed short message.
  virtual void ShortMessage(uint32_t packed) = 0;
  // Silences every note on the side tone's channel (STOP, quit).
  virtual void AllNotesOff() = 0;
};

// Note on (status 0x90 + channel) with `velocity`.
void MidiNoteOn(MidiSink& midi, uint8_t note, uint8_t velocity);
// Note off (status 0x80 + channel), velocity 0.
void MidiNoteOff(MidiSink& midi, uint8_t note);

class MidiOut final : public MidiSink {
 public:
  explicit MidiOut(std::ostream& log);
  ~MidiOut() override;  // midiOutClose
  MidiOut(const MidiOut&) = delete;
  MidiOut& operator=(const MidiOut&) = delete;

  // Opens the client and its port at the first message; true when they are there.
  bool Open();
  bool Available() const { return seq_ != nullptr; }
  int Client() const { return client_; }
  int Port() const { return port_; }

  void ShortMessage(uint32_t packed) override;
  void AllNotesOff() override;
  void Close();

 private:
  void Send(uint8_t status, uint8_t data1, uint8_t data2);

  std::ostream& log_;
  _snd_seq* seq_ = nullptr;
  int client_ = -1;
  int port_ = -1;
  bool tried_ = false;
  bool sendFailed_ = false;
};

}  // namespace kestrix::platform
