// A K1EL WinKeyer (WK2/WK3 host protocol) as a keying output: the keyer chip keys the
// transmitter itself from the text it is given, at its own speed, weighting, PTT lead and
// tail and side tone.
//
// The port is opened with open() and termios in raw mode, 1200 baud, 8 data bits, no
// parity, 2 stop bits, so a pseudo-terminal does as well as a USB serial adapter. At open:
// host open (00 02; the keyer answers its firmware revision), the mode register (0E:
// serial echo and paddle echo on), the pin configuration (09: key output 1, PTT, side tone
// on or off), the side tone pitch (01), PTT lead and tail (04), weighting (03), speed (02).
// At the end, host close (00 03).
//
// Text goes byte by byte with the keyer's flow control: a status byte with XOFF set (its
// buffer more than two thirds full) holds the next byte until one with XOFF clear comes, so
// nothing is lost and nothing is sent twice; and no more than 16 characters go ahead of
// what it has echoed. Two-letter prosigns go as the merge command
// (1B c1 c2). The keyer echoes each character as it keys it: the keying is done when every
// character sent has come back and the keyer has said it is no longer busy (a merged
// pair's echo is not waited for, only taken when it comes). Echoes beyond what was sent,
// or while the paddles break in, are the operator's paddle sending, handed to `onPaddle`.
//
// Stop clears the keyer's buffer (0A) at once. A keyer that goes away (unplugged: the port
// fails, or answers nothing for kWinKeyerSilenceMs while it should be keying) is reported
// once and every later call returns false without waiting.
//
// Threads: a reader thread of its own; Send/Drain on one keying thread; Stop, SetWeighting
// and the observers from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "transmit/text_keyer.h"

namespace kestrix::transmit {

inline constexpr int kWinKeyerAnswerMs = 1000;   // host open's revision byte
inline constexpr int kWinKeyerSilenceMs = 3000;  // nothing from a keyer that should be keying

struct WinKeyerOptions {
  int wpm = 25;          // 5..99
  int weighting = 50;    // the keyer's 10..90, 50 normal
  int pttLeadMs = 0;     // 0..2550, in the keyer's 10 ms steps
  int pttTailMs = 0;     // 0..2550
  bool sidetone = true;  // the keyer's side tone on
  int sidetoneHz = 800;  // the nearest of 4000 / n Hz, n = 1..10
  // The operator's paddle sending, character by character (from the reader thread).
  std::function<void(char)> onPaddle;
  // One line each: the keyer gone, a refusal (from any thread).
  std::function<void(const std::string&)> report;
};

// The bytes that key `text` on a WinKeyer (upper case; two-letter prosigns as the merge
// command; characters it cannot key are left out), and how many plain characters it will
// echo (merged pairs not counted).
std::string WinKeyerBytes(std::string_view text, size_t* echoes = nullptr);

// The side tone selector for `hz`: n with 4000 / n nearest, 1..10.
int WinKeyerSidetoneCode(int hz);

class WinKeyer final : public TextKeyer {
 public:
  explicit WinKeyer(WinKeyerOptions options);
  ~WinKeyer() override;  // host close, the port closed
  WinKeyer(const WinKeyer&) = delete;
  WinKeyer& operator=(const WinKeyer&) = delete;

  // Opens `path` and the host session; false with `error` ("no WinKeyer answering on ...").
  bool Open(const std::string& path, std::string& error);
  // Host close and the port closed (also by the destructor). Safe to call twice.
  void Close();

  bool Send(std::string_view text, int wpm, const StopWhen& stop) override;
  bool Drain(const StopWhen& stop) override;
  void Stop() override;
  // ESC 7's -50..50 as the keyer's 50 + 0.6 w.
  void SetWeighting(int cwdaemonWeighting) override;

  int Revision() const { return revision_; }
  bool Gone() const { return gone_.load(); }

 private:
  bool Write(const std::string& bytes);
  bool WaitSent();  // until the port's output queue is empty
  void Reader();
  void Fail(const std::string& why);
  bool WaitFor(const StopWhen& stop, const std::function<bool()>& done);

  // Characters sent and not yet echoed, at most: a stop in word mode lets this much go.
  static constexpr uint64_t kAhead = 16;

  WinKeyerOptions options_;
  std::string path_;
  int fd_ = -1;
  int revision_ = 0;
  int wakeFd_ = -1;
  std::thread reader_;
  std::mutex writeMu_;  // one writer at a time

  std::mutex mu_;  // the state below, with cv_
  std::condition_variable cv_;
  bool xoff_ = false;
  bool busy_ = false;
  bool breakin_ = false;
  uint64_t expected_ = 0;  // echoes due for what was sent
  uint64_t echoed_ = 0;
  uint64_t mergeSlack_ = 0;  // letters of merged pairs the keyer may echo
  int64_t lastHeardMs_ = 0;
  int64_t stopAtMs_ = 0;  // a Stop the reader has not seen yet
  int speed_ = 5;
  std::atomic<bool> gone_{false};
};

}  // namespace kestrix::transmit
