// Keying a transceiver through Hamlib's network daemon rigctld (TCP, one text command a
// line). Every command goes with the extended-response prefix '+', so every reply ends
// with "RPRT n" (0 done, a negative Hamlib error otherwise) and is read to that line.
//
//   RigctldConnection  one connection, commands serialised. A connection that fails
//                      (refused, closed, no reply within the timeout) is reported once,
//                      in one line naming rigctld's address; later commands try to
//                      connect again (at most once a second) and report its return.
//   RigctldPtt         PTT as `T 1` / `T 0` (a dummy rig answers only with `-P RIG`).
//   RigctldKeyer       text to the rig's own keyer with `b` (send_morse), its speed with
//                      `L KEYSPD`. The text goes a few characters at a time: a chunk is
//                      sent when what the rig still holds (estimated at PARIS timing,
//                      1200 / W ms a unit) is under kRigLeadUs, and holds at most
//                      kRigChunkUs of keying (one character at least), so about 0.3 s at
//                      most is in the rig when a stop comes. A stop sends `\stop_morse`
//                      where the rig has it (not implemented: never asked again).
//
// Threads: RigctldConnection and RigctldPtt from any thread; RigctldKeyer as TextKeyer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

#include "transmit/key_line.h"
#include "transmit/ptt_line.h"
#include "transmit/text_keyer.h"

namespace kestrix::transmit {

inline constexpr const char* kRigctldDefaultPort = "4532";
inline constexpr int kRigctldTimeoutMs = 1500;
inline constexpr int64_t kRigLeadUs = 120000;   // send the next chunk this long before
inline constexpr int64_t kRigChunkUs = 180000;  // at most this much keying in one chunk
inline constexpr int kRigctldLost = 1;          // Command's result when the connection failed

// "HOST:PORT", "HOST" (port 4532), "[::1]:4532". False with a message naming `option`.
bool ParseRigctldAddress(std::string_view text, std::string& host, std::string& port,
                         std::string& error, std::string_view option = "--rigctld");

class RigctldConnection {
 public:
  // `report` gets the lost / back lines (from whichever thread met them).
  RigctldConnection(std::string host, std::string port,
                    std::function<void(const std::string&)> report);
  ~RigctldConnection();
  RigctldConnection(const RigctldConnection&) = delete;
  RigctldConnection& operator=(const RigctldConnection&) = delete;

  // Connects now (kRigctldTimeoutMs); false with `error`. Not reported: the caller says it.
  bool Connect(std::string& error);
  // Sends `command` (without '+' and newline) and reads the reply: 0 or the negative
  // Hamlib error of its RPRT line, kRigctldLost when the connection failed. `lines` gets
  // the reply's lines before RPRT.
  int Command(const std::string& command, std::string* lines = nullptr);
  // "rigctld at HOST:PORT".
  std::string Name() const;
  // Commands sent so far (tests).
  uint64_t Sent() const { return sent_.load(); }

 private:
  bool ConnectLocked(std::string& error);
  void CloseLocked();
  int Exchange(const std::string& command, std::string* lines, std::string& error);

  const std::string host_;
  const std::string port_;
  std::function<void(const std::string&)> report_;
  std::mutex mu_;
  int fd_ = -1;
  bool lost_ = false;          // reported lost, not yet back
  int64_t nextAttemptMs_ = 0;  // steady clock: no reconnect before this
  std::string pending_;        // bytes read past the last reply
  std::atomic<uint64_t> sent_{0};
};

class RigctldPtt final : public PttLine {
 public:
  explicit RigctldPtt(RigctldConnection& rig) : rig_(rig) {}
  bool SetPtt(bool on) override;

 private:
  RigctldConnection& rig_;
};

// PARIS units `text` takes as network keying keys it: a dot and its space 2, a dash 4, the
// end of a character 2 more, a space 4 more (a word is 50 with its space).
int64_t MorseUnits(std::string_view text);

// The text as the rig's keyer takes it: upper case; characters it may not know are
// dropped (keeps letters, digits, space and " ' ( ) , - . / : ; = ? @ +).
std::string RigKeyerText(std::string_view text);

class RigctldKeyer final : public TextKeyer {
 public:
  // `report` gets one line for a rig that refuses send_morse or the speed.
  RigctldKeyer(RigctldConnection& rig, Waiter& waiter,
               std::function<void(const std::string&)> report);

  bool Send(std::string_view text, int wpm, const StopWhen& stop) override;
  bool Drain(const StopWhen& stop) override;
  void Stop() override;

  // When the rig is estimated to finish what it holds (the waiter's clock).
  int64_t BusyUntilUs() const { return busyUntilUs_.load(); }

 private:
  bool WaitUntil(int64_t us, const StopWhen& stop);
  bool SetSpeed(int wpm);

  RigctldConnection& rig_;
  Waiter& waiter_;
  std::function<void(const std::string&)> report_;
  std::atomic<int64_t> busyUntilUs_{0};
  int speed_ = 0;  // what the rig was last set to
  std::atomic<bool> stopMorse_{true};
  bool reportedMorse_ = false;
  bool reportedSpeed_ = false;
};

}  // namespace kestrix::transmit
