// The transmitter's state: what the settings file stores (port, polarity, output device,
// speed and ratios, side tone, the twenty send buffers, the contest values) and what the
// running transmitter shares between the GUI thread and the keyer threads (the run flags,
// KeyState, TuneActive and the element timing record). No Qt.
//
// Threads: TransmitSettings is read and written on the GUI thread; the send threads read
// the send buffers only while the controls that change them are locked out by
// SendingState. TransmitRunState's members are atomics, written whole.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "transmit/element_timing.h"

namespace kestrix::transmit {

inline constexpr int kSendBufferCount = 21;    // index 0 unused; 1..20 are stored
inline constexpr int kSendBufferBytes = 4096;  // 4095 characters and the terminator
inline constexpr int kPortNameBytes = 16;

using SendBuffer = std::array<char, kSendBufferBytes>;

// Persisted by the settings file.
struct TransmitSettings {
  // Keying output.
  int32_t ParallelPortSetting = 888;  // the printer-port dialog's address (0x378)
  int32_t PortKind = 2;               // 0 parallel, 1 serial, 2 none
  std::array<char, kPortNameBytes> PortName{'N', 'O', 'N', 'E'};
  int32_t ComPortNumber = 0;
  uint16_t ParallelAddress = 0;
  int32_t KeyPolarity = 1;   // 1 normal, 2 inverted
  int32_t OutputDevice = 1;  // 1 serial port (keying line), 0 sound card

  // Speed and element ratios (percent).
  int32_t SpeedWpm = kStartTransmitWpm;  // what ComputeElementTiming last used
  float DotRatio = 100.0f;
  float DashRatio = 100.0f;
  float CharRatio = 100.0f;
  float WordRatio = 100.0f;

  // Side tone.
  uint8_t SideToneOn = 0;
  float ToneFrequency = 750.0f;  // Hz, sound-card tone
  int32_t ToneWaveform = 0;      // 0 sine, 1 square
  int32_t SerialToneNote = 71;   // serial-port side-tone note (50..100)

  // Memories and contest strip.
  int32_t TransmitWindow = 0;  // 0 scratch pad, 1 contest window
  int32_t ContestSerial = 1;
  std::array<SendBuffer, kSendBufferCount> SendBuffers{};

  // Partner messaging.
  uint8_t MessagingOn = 0;

  TransmitSettings() {
    SetBuffer(16, "Call");
    SetBuffer(17, "My Call");
    SetBuffer(18, "Call de My Call");
    SetBuffer(19, "599");
    SetBuffer(20, "tu");
  }

  TimingRatios Ratios() const { return {DotRatio, DashRatio, CharRatio, WordRatio}; }

  // Copies `text` into buffer `n`, cut to 4095 characters, terminated.
  void SetBuffer(int n, std::string_view text) {
    SendBuffer& b = SendBuffers[static_cast<size_t>(n)];
    const size_t len = text.size() < b.size() - 1 ? text.size() : b.size() - 1;
    std::memcpy(b.data(), text.data(), len);
    b[len] = '\0';
  }
  std::string_view Buffer(int n) const {
    const SendBuffer& b = SendBuffers[static_cast<size_t>(n)];
    return std::string_view(b.data(), ::strnlen(b.data(), b.size()));
  }
  std::string_view PortNameText() const {
    return std::string_view(PortName.data(), ::strnlen(PortName.data(), PortName.size()));
  }
  void SetPortName(std::string_view name) {
    PortName.fill('\0');
    const size_t len = name.size() < PortName.size() - 1 ? name.size() : PortName.size() - 1;
    std::memcpy(PortName.data(), name.data(), len);
  }
};

// Owned by the running transmitter; shared with the keyer threads.
struct TransmitRunState {
  std::atomic<int32_t> XmitEnable{0};    // 3 on, 0 off
  std::atomic<int32_t> SendingState{0};  // 3 while anything is being sent
  std::atomic<int32_t> ScreenMode{0};    // 0 immediate ("&IMM"), 1 screen ("SC&N")
  std::atomic<int32_t> SelectedBuffer{0};
  std::atomic<int32_t> LoopMode{0};  // 3 on
  std::atomic<uint8_t> SendActive{0};
  std::atomic<uint8_t> XmitFileLoaded{0};
  std::atomic<int32_t> TuneActive{0};
  std::atomic<uint8_t> KeyState{0};  // 0 up, 3 down: what the keying line was last told
  std::atomic<uint8_t> PartnerConnected{0};
  ElementTiming Timing;  // 25 wpm until the settings file is read

  // Send threads and the transmit pane (startup values as the program starts).
  std::atomic<uint8_t> SendThreadIdle{1};  // 1 when no buffer send is running
  std::atomic<uint8_t> EchoSuppressed{1};  // 1: characters from the text queue not echoed
  std::atomic<uint8_t> FinishOnEnd{1};     // 1: a finished buffer send cleans up itself
  std::atomic<int32_t> SendInProgress{0};  // 1 while the buffer-sending routine runs
  std::atomic<uint8_t> StopRequested{0};   // 1: stop at the next character
  std::atomic<int32_t> TextQueued{0};      // 1 once the text queue received a code
  std::atomic<uint8_t> TypedWhileIdle{0};  // 1: a key arrived while no buffer was sent
  std::atomic<int32_t> PaneTextLength{0};  // insertion point for echoes and recalls
  std::atomic<uint8_t> ShiftHeld{0};
  std::atomic<uint8_t> CtrlHeld{0};
  std::atomic<uint8_t> AltHeld{0};

  // Memory operations: 0 store, 1 recall, 2 clear, 3 none.
  std::atomic<int32_t> MemoryOp{3};
  std::atomic<uint8_t> MemoryOpArmed{0};  // 1 while an operation waits for a memory button
  std::atomic<uint8_t> RecallAppends{0};  // 1: a recall appends to the pane (sending)
};

struct TransmitState : TransmitSettings, TransmitRunState {
  TransmitState() = default;
  TransmitState(const TransmitState&) = delete;
  TransmitState& operator=(const TransmitState&) = delete;
};

}  // namespace kestrix::transmit
