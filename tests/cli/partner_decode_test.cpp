// kestrix-decode --partner: the options, and a recording decoded through the live loop
// reaching a partner character for character.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "cli/decode_options.h"
#include "cli/live_decode.h"
#include "platform/file_capture.h"
#include "signalgen/morse_gen.h"
#include "transmit/partner_client.h"
#include "transmit/partner_server.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using transmit::PartnerClient;

TEST(PartnerDecodeOptions, PartnerServesFromTheLiveModesOnly) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    bool partner;
    std::string socket;
  };
  const Case cases[] = {
      {{"--input-file", "a.wav", "--partner"}, true, true, ""},
      {{"--device", "1", "--partner-socket", "/tmp/p"}, true, true, "/tmp/p"},
      {{"--partner-socket=/run/x", "--input-file", "a.wav"}, true, true, "/run/x"},
      {{"--input-file", "a.wav"}, true, false, ""},
      {{"--partner", "a.wav"}, false, false, ""},
      {{"--input-file", "a.wav", "--partner-socket="}, false, false, ""},
  };
  for (const Case& c : cases) {
    DecodeOptions o;
    std::string error;
    ASSERT_EQ(ParseDecodeOptions(c.args, o, error), c.ok) << c.args[0] << " " << error;
    if (!c.ok) continue;
    EXPECT_EQ(o.partner, c.partner);
    EXPECT_EQ(o.partnerSocket, c.socket);
  }
}

// Hands the loop a recording, but only once the partner has connected and announced, so
// that its announcement is waiting in the socket before the first block is heard. The
// socket takes a connection and its first bytes before the server looks at it.
class AfterPartner final : public CaptureDevice {
 public:
  AfterPartner(CaptureDevice& inner, const std::atomic<bool>& ready)
      : inner_(inner), ready_(ready) {}
  int DeviceCount() override { return inner_.DeviceCount(); }
  std::string ProductName(int i) override { return inner_.ProductName(i); }
  int QueryFormat(int d, const CaptureFormat& f) override { return inner_.QueryFormat(d, f); }
  int Open(int d, const CaptureFormat& f) override { return inner_.Open(d, f); }
  int TrialOpen(int d, const CaptureFormat& f) override { return inner_.TrialOpen(d, f); }
  int Close() override { return inner_.Close(); }
  int Prepare(CaptureHeader& h) override { return inner_.Prepare(h); }
  int Add(CaptureHeader& h) override { return inner_.Add(h); }
  int Start() override {
    for (int i = 0; i < 10000 && !ready_.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return inner_.Start();
  }
  int Position(uint32_t& bytes) override { return inner_.Position(bytes); }
  int Reset() override { return inner_.Reset(); }
  int Unprepare(CaptureHeader& h) override { return inner_.Unprepare(h); }

 private:
  CaptureDevice& inner_;
  const std::atomic<bool>& ready_;
};

class PartnerDecodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kestrix_partner_decode_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

// What a live run on a recording printed and what a partner connected to it received.
struct PartnerRun {
  int status = -1;
  std::string out, log, received, error;
};

PartnerRun RunWithPartner(const std::string& wav, double seconds, const std::string& socket,
                          std::vector<std::string> args) {
  PartnerRun run;
  std::atomic<bool> announced{false};
  std::thread partner([&] {
    PartnerClient c;
    std::string error;
    for (int i = 0; i < 10000; ++i) {
      if (c.Connect(socket, error) == transmit::PartnerConnectResult::kConnected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (c.Fd() < 0 || !c.Announce(4711, error)) {
      announced = true;
      return;
    }
    announced = true;
    std::vector<transmit::PartnerRecord> records;
    while (c.Receive(records, 30000, error) == PartnerClient::ReceiveResult::kData) {
    }
    for (const auto& r : records) {
      if (r.Message == transmit::kPartnerCharacter) {
        run.received += static_cast<char>(r.Second & 0xFF);
      }
    }
  });

  DecodeOptions o;
  args.insert(args.end(), {"--input-file", wav, "--unpaced", "--partner-socket", socket,
                           "--seconds", std::to_string(seconds + 1.0)});
  if (!ParseDecodeOptions(args, o, run.error)) {
    announced = true;  // the partner never connects; let its thread end
    partner.join();
    return run;
  }
  FileCapture file(wav, FileCaptureOptions{false, false});
  AfterPartner device(file, announced);
  std::ostringstream out, log;
  run.status = RunLiveDecodeOn(device, o, out, log, nullptr, run.error);
  partner.join();
  run.out = out.str();
  run.log = log.str();
  return run;
}

TEST_F(PartnerDecodeTest, EveryDecodedCharacterReachesThePartner) {
  signalgen::MorseSignalParams p{.wpm = 22, .amplitude = 0.3, .snrDb = 30, .seed = 11};
  const std::vector<int16_t> samples =
      signalgen::GenerateMorse("VVV VVV CQ DE K1ABC = <AR> 73 <SK>", p);
  const std::string wav = (dir_ / "cq.wav").string();
  ASSERT_TRUE(signalgen::WriteWav16(wav, samples, 44100));
  const std::string socket = (dir_ / "partner").string();
  const PartnerRun run = RunWithPartner(wav, samples.size() / 44100.0, socket, {"--tone", "700"});
  ASSERT_EQ(run.status, kExitOk) << run.error;

  // The pane text with the prosign shown as "=" posted as its letters B, T.
  std::string expected = run.out;
  expected.pop_back();  // the closing newline
  const size_t eq = expected.find('=');
  ASSERT_NE(eq, std::string::npos) << expected;
  expected.replace(eq, 1, "BT");
  EXPECT_EQ(run.received, expected);
  EXPECT_NE(run.received.find("cq de k1abc BT  AR  73 SK"), std::string::npos) << run.received;
  EXPECT_EQ(run.log, "kestrix-decode: serving partner programs at " + socket + "\n");
  EXPECT_FALSE(fs::exists(socket)) << "the socket goes with the run";
}

TEST_F(PartnerDecodeTest, TheSoftEnginesCharactersReachThePartner) {
  signalgen::MorseSignalParams p{.wpm = 22, .amplitude = 0.3, .snrDb = 30, .seed = 12};
  const std::vector<int16_t> samples = signalgen::GenerateMorse("CQ DE K1ABC K1ABC K", p);
  const std::string wav = (dir_ / "cq.wav").string();
  ASSERT_TRUE(signalgen::WriteWav16(wav, samples, 44100));
  const std::string socket = (dir_ / "partner").string();
  const PartnerRun run =
      RunWithPartner(wav, samples.size() / 44100.0, socket, {"--engine", "soft"});
  ASSERT_EQ(run.status, kExitOk) << run.error;
  ASSERT_FALSE(run.out.empty());
  EXPECT_EQ(run.received + "\n", run.out);
  EXPECT_NE(run.received.find("cq de k1abc k1abc k"), std::string::npos) << run.received;
}

TEST_F(PartnerDecodeTest, ASecondServerOnTheSocketEndsTheRunWithOneLine) {
  struct Quiet : transmit::PartnerHost {
    void ShowMessage(const std::string&, const std::string&) override {}
  } host;
  uint8_t on = 1;
  std::atomic<uint8_t> connected{0};
  transmit::PartnerServer first(host, on, connected);
  const std::string socket = (dir_ / "partner").string();
  std::string error;
  ASSERT_EQ(first.Open(socket, error), transmit::PartnerOpenResult::kServing) << error;

  DecodeOptions o;
  ASSERT_TRUE(
      ParseDecodeOptions({"--input-file", "none.wav", "--partner-socket", socket}, o, error));
  FileCapture file("none.wav", FileCaptureOptions{false, false});
  std::ostringstream out, log;
  EXPECT_EQ(RunLiveDecodeOn(file, o, out, log, nullptr, error), kExitInputError);
  EXPECT_EQ(error, "Another Kestrix is already serving partner programs at " + socket);
  EXPECT_EQ(out.str(), "");
}

}  // namespace
}  // namespace kestrix
