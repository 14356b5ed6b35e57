// The output side's building blocks: the buffer queue the audio callback plays from, the
// WAV device, kestrix-send's tone part on them, and the MIDI short messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "cli/send_tone.h"
#include "platform/audio_file.h"
#include "platform/midi_out.h"
#include "platform/playback_queue.h"
#include "platform/wav_playback.h"
#include "transmit/element_timing.h"
#include "transmit/fake_playback.h"
#include "transmit/key_mask.h"
#include "transmit/morse_send_table.h"

namespace kestrix {
namespace {

std::vector<uint8_t> Ramp(size_t n, uint8_t from) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(from + i);
  return v;
}

TEST(PlaybackQueue, PlaysBuffersInOrderMarksThemDoneAndPadsWithSilence) {
  PlaybackQueue q;
  const auto a = Ramp(6, 1), b = Ramp(4, 101);
  PlaybackHeader ha, hb;
  ha.Set(a.data(), 6);
  hb.Set(b.data(), 4);
  ASSERT_EQ(q.Prepare(ha), kPlaybackOk);
  ASSERT_EQ(q.Prepare(hb), kPlaybackOk);
  ASSERT_EQ(q.Write(ha), kPlaybackOk);
  ASSERT_EQ(q.Write(hb), kPlaybackOk);
  EXPECT_FALSE(ha.IsDone());
  EXPECT_EQ(q.Unprepare(ha), kPlaybackStillPlaying);

  std::vector<uint8_t> out(8, 0xEE);
  PlaybackQueue::Taken t = q.Take(out.data(), 4);  // part of A
  EXPECT_EQ(t.bytes, 4u);
  EXPECT_FALSE(ha.IsDone());
  EXPECT_EQ(q.Position(), 4u);
  t = q.Take(out.data(), 8);  // the rest of A, all of B, then silence
  EXPECT_EQ(t.bytes, 6u);
  EXPECT_EQ(t.completed, 2u);
  EXPECT_EQ(out, (std::vector<uint8_t>{5, 6, 101, 102, 103, 104, 0, 0}));
  EXPECT_TRUE(ha.IsDone());
  EXPECT_TRUE(hb.IsDone());
  EXPECT_FALSE(q.HasQueued());
  EXPECT_EQ(q.Position(), 10u);
  EXPECT_EQ(q.Unprepare(ha), kPlaybackOk);
  EXPECT_EQ(q.Write(ha), kPlaybackUnprepared);
}

TEST(PlaybackQueue, RefusesBadHeadersAndFlushGivesEverythingBack) {
  PlaybackQueue q;
  PlaybackHeader empty;
  EXPECT_EQ(q.Prepare(empty), kPlaybackBadParam);
  const auto a = Ramp(4, 0);
  PlaybackHeader h;
  h.Set(a.data(), 4);
  ASSERT_EQ(q.Prepare(h), kPlaybackOk);
  ASSERT_EQ(q.Write(h), kPlaybackOk);
  EXPECT_EQ(q.Write(h), kPlaybackStillPlaying);
  EXPECT_EQ(q.Prepare(h), kPlaybackStillPlaying);
  uint8_t two[2];
  q.Take(two, 2);
  q.Flush();
  EXPECT_TRUE(h.IsDone());
  EXPECT_FALSE(q.HasQueued());
  EXPECT_EQ(q.Position(), 0u);
}

TEST(PlaybackQueue, GainScalesSamples) {
  PlaybackQueue q;
  const int16_t in[2] = {10000, -20000};
  PlaybackHeader h;
  h.Set(reinterpret_cast<const uint8_t*>(in), 4);
  ASSERT_EQ(q.Prepare(h), kPlaybackOk);
  ASSERT_EQ(q.Write(h), kPlaybackOk);
  int16_t out[2];
  q.Take(reinterpret_cast<uint8_t*>(out), 4, 0.5f);
  EXPECT_EQ(out[0], 5000);
  EXPECT_EQ(out[1], -10000);
}

TEST(WavPlayback, WritesAFileThatReadsBackAndPositionsAtTheNewestBuffer) {
  const std::string path = ::testing::TempDir() + "kestrix_wav_playback.wav";
  {
    WavPlayback wav(path);
    PlaybackHeader h;
    const auto data = Ramp(8, 0);
    h.Set(data.data(), 8);
    EXPECT_EQ(wav.Prepare(h), kPlaybackNotOpen);
    PlaybackFormat stereo;
    stereo.Channels = 2;
    EXPECT_EQ(wav.QueryFormat(0, stereo), kPlaybackBadFormat);
    EXPECT_EQ(wav.QueryFormat(1, PlaybackFormat{}), kPlaybackBadDevice);
    ASSERT_EQ(wav.Open(0, PlaybackFormat{}), kPlaybackOk);
    ASSERT_EQ(wav.Prepare(h), kPlaybackOk);
    for (uint32_t want : {0u, 8u, 16u}) {
      ASSERT_EQ(wav.Write(h), kPlaybackOk);
      EXPECT_TRUE(h.IsDone());
      uint32_t position = 99;
      ASSERT_EQ(wav.Position(position), kPlaybackOk);
      EXPECT_EQ(position, want);
    }
    ASSERT_EQ(wav.Reset(), kPlaybackOk);
    uint32_t position = 99;
    wav.Position(position);
    EXPECT_EQ(position, 0u);
    EXPECT_EQ(wav.Samples().size(), 12u);
    EXPECT_EQ(wav.Samples()[1], 0x0302);
    ASSERT_EQ(wav.Close(), kPlaybackOk);
  }
  RecordingReader reader;
  std::string error;
  ASSERT_TRUE(reader.Open(path, 44100, error)) << error;
  EXPECT_EQ(reader.Channels(), 1);
  EXPECT_EQ(reader.SourceRate(), 44100);
  std::vector<int16_t> back(64);
  ASSERT_EQ(reader.Read(back.data(), 64), 12);
  EXPECT_EQ(back[0], 0x0100);
  EXPECT_EQ(back[11], 0x0706);
  std::remove(path.c_str());

  WavPlayback nowhere("/nonexistent-dir/x.wav");
  EXPECT_EQ(nowhere.Open(0, PlaybackFormat{}), kPlaybackBadDevice);
  EXPECT_NE(nowhere.LastError().find("/nonexistent-dir/x.wav"), std::string::npos);
}

// --- kestrix-send's tone part --------------------------------------------------------------

TEST(ToneSend, RendersTheKeyersSamplesAndChecksItsOptions) {
  WavPlayback wav("");
  cli::ToneSendOptions o;
  std::ostringstream err;
  ASSERT_EQ(cli::RunToneSendOn(wav, 0, o, "E E", err), cli::kToneSendOk) << err.str();
  transmit::ElementTiming timing;
  transmit::ComputeElementTiming(timing, 20, {});
  int64_t want = 0;
  for (char c : std::string("E E")) {
    want += transmit::KeyMaskSamples(static_cast<uint8_t>(c), transmit::SendTable(), timing.Load());
  }
  EXPECT_EQ(static_cast<int64_t>(wav.Samples().size()), want);
  EXPECT_NE(wav.Samples()[1], 0) << "side tone on unless --silent";

  o.silent = true;
  ASSERT_EQ(cli::RunToneSendOn(wav, 0, o, "E", err), cli::kToneSendOk);
  for (int16_t s : wav.Samples()) ASSERT_EQ(s, 0);

  struct Bad {
    const char* name;
    cli::ToneSendOptions options;
  };
  cli::ToneSendOptions slow, fast, ratio, tone;
  slow.wpm = 4;
  fast.wpm = 101;
  ratio.ratios.DashRatio = 20;
  tone.toneHz = 30000;
  for (const Bad& b :
       {Bad{"slow", slow}, Bad{"fast", fast}, Bad{"ratio", ratio}, Bad{"tone", tone}}) {
    std::ostringstream e;
    EXPECT_EQ(cli::RunToneSendOn(wav, 0, b.options, "E", e), cli::kToneSendUsage) << b.name;
    EXPECT_FALSE(e.str().empty()) << b.name;
  }
  std::ostringstream e;
  WavPlayback broken("/nonexistent-dir/x.wav");
  EXPECT_EQ(cli::RunToneSendOn(broken, 0, o, "E", e), cli::kToneSendDeviceError);
  EXPECT_NE(e.str().find("Error Opening Output wave device"), std::string::npos) << e.str();
}

TEST(ToneSend, ACardThatStopsPlayingMidTextIsAFailure) {
  // The whole text fits one mask, so every character is "sent" before the card plays a
  // sample; only the watchdog knows the card stopped (a sound server that went away).
  cli::ToneSendOptions o;
  test::FakePlayback stalls;
  stalls.mode = test::FakePlayback::Mode::kNeverDone;
  std::ostringstream e;
  EXPECT_EQ(cli::RunToneSendOn(stalls, 0, o, "PARIS PARIS", e), cli::kToneSendDeviceError);
  EXPECT_NE(e.str().find("stopped taking samples; the text was cut short"), std::string::npos)
      << e.str();
}

TEST(ToneSend, ParsesToneFrequenciesAndResolvesDevices) {
  struct Case {
    const char* text;
    bool ok;
    float hz;
  };
  for (const Case c : {Case{"600", true, 600}, Case{"750", true, 750}, Case{"1000", true, 1000},
                       Case{"823.5", true, 823.5f}, Case{"0", false, 0}, Case{"-5", false, 0},
                       Case{"22050", false, 0}, Case{"abc", false, 0}, Case{"", false, 0},
                       Case{"700x", false, 0}, Case{"nan", false, 0}}) {
    float hz = -1;
    std::string error;
    EXPECT_EQ(cli::ParseToneHz(c.text, hz, error), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(hz, c.hz) << c.text;
    } else {
      EXPECT_FALSE(error.empty()) << c.text;
    }
  }
  WavPlayback wav("card.wav");
  std::string error;
  EXPECT_EQ(cli::ResolveOutputDevice(wav, "0", error), 0);
  EXPECT_EQ(cli::ResolveOutputDevice(wav, "card", error), 0);
  EXPECT_EQ(cli::ResolveOutputDevice(wav, "1", error), -1);
  EXPECT_EQ(cli::ResolveOutputDevice(wav, "99999999999999", error), -1);
  EXPECT_EQ(cli::ResolveOutputDevice(wav, "speaker", error), -1);
  EXPECT_NE(error.find("speaker"), std::string::npos);
}

// --- MIDI ---------------------------------------------------------------------------------------

class RecordingMidi final : public platform::MidiSink {
 public:
  void ShortMessage(uint32_t packed) override { sent.push_back(packed); }
  void AllNotesOff() override { sent.push_back(0); }
  std::vector<uint32_t> sent;
};

TEST(Midi, NotesArePackedAsStatusNoteAndVelocity) {
  RecordingMidi midi;
  platform::MidiNoteOn(midi, 71, platform::kSideToneVelocity);
  platform::MidiNoteOff(midi, 71);
  platform::MidiNoteOn(midi, 100, 1);
  EXPECT_EQ(midi.sent, (std::vector<uint32_t>{0x7F4790, 0x004780, 0x016490}));
}

TEST(Midi, WithoutASequencerTheCallsDoNothingAndSaySoOnce) {
  std::ostringstream log;
  platform::MidiOut midi(log);
  platform::MidiNoteOn(midi, 71, 127);
  platform::MidiNoteOff(midi, 71);
  midi.AllNotesOff();
  if (midi.Available()) {
    EXPECT_GE(midi.Port(), 0);  // a machine with a sequencer: the port is there
    return;
  }
  const std::string said = log.str();
  EXPECT_NE(said.find("no MIDI side tone"), std::string::npos);
  EXPECT_EQ(said.find('\n'), said.size() - 1) << "one line: " << said;
}

}  // namespace
}  // namespace kestrix
