#include "platform/midi_out.h"

#include <alsa/asoundlib.h>

namespace kestrix::platform {

namespace {
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kControlChange = 0xB0;
constexpr uint8_t kAllNotesOffController = 123;
}  // namespace

void MidiNoteOn(MidiSink& midi, uint8_t note, uint8_t velocity) {
  midi.ShortMessage(PackShortMessage(kNoteOn + kMidiChannel, note, velocity));
}

void MidiNoteOff(MidiSink& midi, uint8_t note) {
  midi.ShortMessage(PackShortMessage(kNoteOff + kMidiChannel, note, 0));
}

MidiOut::MidiOut(std::ostream& log) : log_(log) {}

MidiOut::~MidiOut() {
  Close();
}

bool MidiOut::Open() {
  if (seq_ != nullptr) return true;
  if (tried_) return false;
  tried_ = true;
  snd_seq_t* seq = nullptr;
  int err = snd_seq_open(&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK);
  if (err < 0) {
    log_ << "kestrix: no MIDI side tone: cannot open the ALSA sequencer: " << snd_strerror(err)
         << '\n';
    return false;
  }
  err = snd_seq_set_client_name(seq, "Kestrix");
  if (err >= 0) {
    err = snd_seq_create_simple_port(
        seq, "Side tone", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
  }
  if (err < 0) {
    log_ << "kestrix: no MIDI side tone: cannot create the sequencer port: " << snd_strerror(err)
         << '\n';
    snd_seq_close(seq);
    return false;
  }
  seq_ = seq;
  port_ = err;
  client_ = snd_seq_client_id(seq);
  return true;
}

void MidiOut::Close() {
  if (seq_ == nullptr) return;
  AllNotesOff();
  snd_seq_close(seq_);
  seq_ = nullptr;
}

void MidiOut::Send(uint8_t status, uint8_t data1, uint8_t data2) {
  if (!Open()) return;
  snd_seq_event_t ev;
  snd_seq_ev_clear(&ev);
  snd_seq_ev_set_source(&ev, static_cast<unsigned char>(port_));
  snd_seq_ev_set_subs(&ev);
  snd_seq_ev_set_direct(&ev);
  const uint8_t channel = status & 0x0F;
  switch (status & 0xF0) {
    case kNoteOn:
      snd_seq_ev_set_noteon(&ev, channel, data1, data2);
      break;
    case kNoteOff:
      snd_seq_ev_set_noteoff(&ev, channel, data1, data2);
      break;
    case kControlChange:
      snd_seq_ev_set_controller(&ev, channel, data1, data2);
      break;
    default:
      return;  // the side tone sends nothing else
  }
  // Nobody subscribed is not an error worth a line: the port is there when they come.
  const int err = snd_seq_event_output_direct(seq_, &ev);
  if (err < 0 && err != -ENOENT && !sendFailed_) {
    sendFailed_ = true;  // once: a full queue would say it for every note
    log_ << "kestrix: MIDI side tone: " << snd_strerror(err) << '\n';
  }
}

void MidiOut::ShortMessage(uint32_t packed) {
  Send(static_cast<uint8_t>(packed & 0xFF), static_cast<uint8_t>((packed >> 8) & 0x7F),
       static_cast<uint8_t>((packed >> 16) & 0x7F));
}

void MidiOut::AllNotesOff() {
  if (seq_ == nullptr) return;  // nothing can sound when nothing was ever sent
  Send(kControlChange + kMidiChannel, kAllNotesOffController, 0);
}

}  // namespace kestrix::platform
