#include "transmit/partner_server.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "transmit/partner_client.h"

namespace kestrix::transmit {
namespace {

namespace fs = std::filesystem;

struct Message {
  std::string title;
  std::string text;
};

class RecordingHost : public PartnerHost {
 public:
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back({title, text});
  }
  std::vector<Message> messages;
};

// A private temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "kestrix-partner-test-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

mode_t ModeOf(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

class PartnerServerTest : public ::testing::Test {
 protected:
  PartnerServerTest() : server_(host_, messagingOn_, connected_, 8) {}

  void SetUp() override {
    socket_ = dir_.Path() + "/partner";
    std::string error;
    ASSERT_EQ(server_.Open(socket_, error), PartnerOpenResult::kServing) << error;
  }

  // Services the server a few times: enough for an accept and the reads after it, since
  // local socket writes are complete when send() returns.
  void Pump(int times = 4) {
    for (int i = 0; i < times; ++i) server_.Service();
  }

  void Connect(PartnerClient& c) {
    std::string error;
    ASSERT_EQ(c.Connect(socket_, error), PartnerConnectResult::kConnected) << error;
    Pump();
  }

  void Announce(PartnerClient& c, int64_t handle) {
    std::string error;
    ASSERT_TRUE(c.Announce(handle, error)) << error;
    Pump();
  }

  // Every record that is there now, without waiting for more.
  std::vector<PartnerRecord> Drain(PartnerClient& c) {
    std::vector<PartnerRecord> out;
    std::string error;
    while (c.Receive(out, 0, error) == PartnerClient::ReceiveResult::kData) {
    }
    return out;
  }

  // The characters in `records` (the low byte of each 1026's second parameter).
  static std::string Chars(const std::vector<PartnerRecord>& records) {
    std::string s;
    for (const PartnerRecord& r : records) {
      if (r.Message == kPartnerCharacter) s += static_cast<char>(r.Second & 0xFF);
    }
    return s;
  }

  TempDir dir_;
  std::string socket_;
  RecordingHost host_;
  uint8_t messagingOn_ = 1;
  std::atomic<uint8_t> connected_{0};
  PartnerServer server_;
};

TEST_F(PartnerServerTest, EmptyHandleIsRefusedWithAMessageAndChangesNothing) {
  PartnerClient c;
  Connect(c);
  Announce(c, 0);
  ASSERT_EQ(host_.messages.size(), 1u);
  EXPECT_EQ(host_.messages[0].title, "Kestrix Message");
  EXPECT_EQ(host_.messages[0].text, "Bad Message Handle!");
  EXPECT_EQ(connected_.load(), 0);
  EXPECT_EQ(server_.PartnerWindow(), 0);
  server_.PostDecodedChar("e");
  EXPECT_TRUE(Drain(c).empty()) << "no acknowledgement and no characters";
}

TEST_F(PartnerServerTest, AcknowledgesThenPostsEachCharacterInOrder) {
  PartnerClient c;
  Connect(c);
  Announce(c, 4242);
  EXPECT_EQ(connected_.load(), 1);
  EXPECT_EQ(server_.PartnerWindow(), 4242);
  server_.PostDecodedChar("cq ");
  server_.PostDecodedChar("\xE9");
  const auto got = Drain(c);
  ASSERT_EQ(got.size(), 5u);
  EXPECT_EQ(got[0].Message, kPartnerAcknowledge);
  EXPECT_EQ(got[0].First, 0);
  EXPECT_EQ(got[0].Second, 0);
  const int64_t expected[] = {'c', 'q', ' ', -23};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(got[i + 1].Message, kPartnerCharacter);
    EXPECT_EQ(got[i + 1].First, 0);
    EXPECT_EQ(got[i + 1].Second, expected[i]);
  }
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(PartnerServerTest, PostsOnlyWhileMessagingIsOnAndThePartnerIsConnected) {
  PartnerClient c;
  Connect(c);
  server_.PostDecodedChar("a");  // nobody announced yet
  Announce(c, 1);
  messagingOn_ = 0;  // Msgs OFF
  server_.PostDecodedChar("b");
  messagingOn_ = 1;
  server_.PostDecodedChar("AR");  // a prosign's letters, one message each
  std::string error;
  ASSERT_TRUE(c.Goodbye(error)) << error;
  Pump();
  EXPECT_EQ(connected_.load(), 0);
  server_.PostDecodedChar("c");
  const auto got = Drain(c);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].Message, kPartnerAcknowledge);
  EXPECT_EQ(got[1].Second, 65);
  EXPECT_EQ(got[2].Second, 82);

  Announce(c, 2);  // a partner may come back after its goodbye
  server_.PostDecodedChar("d");
  EXPECT_EQ(Chars(Drain(c)), "d");
}

TEST_F(PartnerServerTest, TheLatestAnnouncementNamesThePartner) {
  PartnerClient first, second;
  Connect(first);
  Connect(second);
  Announce(first, 11);
  Announce(second, 22);
  server_.PostDecodedChar("k");
  EXPECT_EQ(Chars(Drain(first)), "");
  EXPECT_EQ(Chars(Drain(second)), "k");
  EXPECT_EQ(server_.PartnerWindow(), 22);
}

TEST_F(PartnerServerTest, AVanishedPartnerFailsSilentlyAndStaysConnected) {
  {
    PartnerClient c;
    Connect(c);
    Announce(c, 5);
  }                                 // closed without a goodbye
  server_.PostDecodedChar("lost");  // may meet the closed socket before the server noticed
  Pump();
  EXPECT_EQ(server_.Connections(), 0u);
  server_.PostDecodedChar("more");
  EXPECT_EQ(connected_.load(), 1);
  EXPECT_TRUE(host_.messages.empty());
}

TEST_F(PartnerServerTest, GarbageUnknownMessagesSplitRecordsAndAFloodDisturbNothing) {
  PartnerClient noisy, partner;
  Connect(noisy);
  Connect(partner);
  std::string error;
  // A flood: 1 MiB of garbage mixed with ignored records, in pieces the server takes
  // between pieces (it reads a bounded amount per Service, so the owner is never stuck).
  std::vector<uint8_t> junk;
  for (int i = 0; i < 1024; ++i) {
    for (int j = 0; j < 992; ++j) junk.push_back(static_cast<uint8_t>(i * 31 + j * 7));
    // Characters from a partner and message numbers nobody knows: all ignored.
    const uint32_t kinds[] = {kPartnerCharacter, kPartnerAcknowledge, 1028u, 0u, 0xFFFFFFFFu};
    const PartnerRecordBytes r = EncodePartnerRecord(kinds[i % 5], 0, i);
    junk.insert(junk.end(), r.begin(), r.end());
  }
  for (size_t at = 0; at < junk.size(); at += 8192) {
    ASSERT_TRUE(noisy.SendBytes(junk.data() + at, std::min<size_t>(8192, junk.size() - at), error));
    Pump(1);
  }
  Pump();
  EXPECT_EQ(connected_.load(), 0);
  // The partner's announcement one byte at a time, with the server looking in between.
  const PartnerRecordBytes hello = EncodePartnerRecord(kPartnerAnnounce, 0, 99);
  for (uint8_t b : hello) {
    ASSERT_TRUE(partner.SendBytes(&b, 1, error));
    Pump(1);
  }
  EXPECT_EQ(connected_.load(), 1);
  EXPECT_EQ(server_.PartnerWindow(), 99);
  EXPECT_EQ(server_.IgnoredRecords(), 1024u);
  server_.PostDecodedChar("ok");
  EXPECT_EQ(Chars(Drain(partner)), "ok");
  EXPECT_EQ(server_.Connections(), 2u);
}

TEST_F(PartnerServerTest, APartnerThatNeverReadsGetsABoundedQueueAndNeverStallsPosting) {
  PartnerClient c;
  Connect(c);
  Announce(c, 3);
  // Far more than the socket buffers and the queue of 8 records hold together.
  const int posts = 100000;
  std::string expected;
  for (int i = 0; i < posts; ++i) {
    const char ch = static_cast<char>('a' + i % 26);
    expected += ch;
    server_.PostDecodedChar(std::string_view(&ch, 1));
    ASSERT_LE(server_.PartnerQueuedBytes(), 8 * kPartnerRecordBytes);
  }
  ASSERT_GT(server_.DroppedRecords(), 0u);
  // Reading at last: the characters that were kept, in order, the newest ones dropped.
  std::string got;
  std::vector<PartnerRecord> records;
  std::string error;
  const size_t kept = posts - server_.DroppedRecords();
  for (int idle = 0; got.size() < kept && idle < 5;) {
    records.clear();
    const auto result = c.Receive(records, 1000, error);
    ASSERT_NE(result, PartnerClient::ReceiveResult::kClosed);
    idle = result == PartnerClient::ReceiveResult::kTimeout ? idle + 1 : 0;
    got += Chars(records);
    server_.Service();  // sends what is queued as the socket takes it
  }
  EXPECT_EQ(got, expected.substr(0, kept));
  EXPECT_EQ(server_.PartnerQueuedBytes(), 0u);
}

TEST(PartnerServerSetup, DefaultSocketIsPrivateInTheRuntimeFolder) {
  TempDir dir;
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string savedValue = saved ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", dir.Path().c_str(), 1);
  const std::string folder = dir.Path() + "/kestrix";
  EXPECT_EQ(DefaultPartnerSocketPath(), folder + "/partner");

  RecordingHost host;
  uint8_t on = 1;
  std::atomic<uint8_t> connected{0};
  for (mode_t before : {mode_t{0}, mode_t{0755}}) {
    if (before != 0) {
      ASSERT_EQ(::mkdir(folder.c_str(), before), 0);
    }
    PartnerServer server(host, on, connected);
    std::string error;
    ASSERT_EQ(server.Open("", error), PartnerOpenResult::kServing) << error;
    EXPECT_EQ(server.Path(), folder + "/partner");
    EXPECT_EQ(ModeOf(folder), 0700u);
    EXPECT_EQ(ModeOf(server.Path()), 0600u);
    EXPECT_EQ(fs::symlink_status(server.Path()).type(), fs::file_type::socket);
    server.Close();
    EXPECT_FALSE(fs::exists(folder + "/partner")) << "the socket goes with the server";
    fs::remove_all(folder);
  }

  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(DefaultPartnerSocketPath().rfind("/tmp/kestrix-", 0), 0u);
  ::setenv("XDG_RUNTIME_DIR", "relative/dir", 1);
  EXPECT_EQ(DefaultPartnerSocketPath().rfind("/tmp/kestrix-", 0), 0u);
  if (saved) {
    ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

TEST(PartnerServerSetup, ReplacesAStaleSocketAndRefusesASecondServer) {
  TempDir dir;
  const std::string path = dir.Path() + "/partner";
  // What a crashed run leaves: a socket file nobody listens on.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  ::close(fd);

  RecordingHost host;
  uint8_t on = 1;
  std::atomic<uint8_t> connected{0};
  PartnerServer first(host, on, connected);
  std::string error;
  ASSERT_EQ(first.Open(path, error), PartnerOpenResult::kServing) << error;
  PartnerClient c;
  ASSERT_EQ(c.Connect(path, error), PartnerConnectResult::kConnected) << error;

  PartnerServer second(host, on, connected);
  EXPECT_EQ(second.Open(path, error), PartnerOpenResult::kAlreadyServing);
  EXPECT_NE(error.find("already serving"), std::string::npos) << error;
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_FALSE(second.Serving());
  first.Service();
  EXPECT_EQ(first.Connections(), 1u) << "the first server keeps its socket";

  first.Close();
  EXPECT_EQ(second.Open(path, error), PartnerOpenResult::kServing) << error;
}

TEST(PartnerServerSetup, RefusesPathsItMustNotTouch) {
  TempDir dir;
  RecordingHost host;
  uint8_t on = 1;
  std::atomic<uint8_t> connected{0};
  PartnerServer server(host, on, connected);
  std::string error;
  const std::string file = dir.Path() + "/notes.txt";
  { std::ofstream(file) << "keep me"; }
  EXPECT_EQ(server.Open(file, error), PartnerOpenResult::kFailed);
  EXPECT_NE(error.find("not a socket"), std::string::npos) << error;
  EXPECT_TRUE(fs::exists(file));
  EXPECT_EQ(server.Open(dir.Path() + "/" + std::string(120, 'x'), error),
            PartnerOpenResult::kFailed);
  EXPECT_NE(error.find("too long"), std::string::npos) << error;
  // A private folder that is a link (to somewhere else) is not taken for ours.
  const std::string link = dir.Path() + "/link";
  fs::create_directory_symlink(dir.Path(), link);
  EXPECT_FALSE(PreparePrivateFolder(link, error));
  EXPECT_NE(error.find("not a folder"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrix::transmit
