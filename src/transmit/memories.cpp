#include "transmit/memories.h"

#include <string>

namespace kestrix::transmit {

std::string_view FirstLine(std::string_view text) {
  text = text.substr(0, kSendBufferBytes - 1);
  const size_t cut = text.substr(0, kFirstLineScan).find_first_of("\r\n");
  return cut == std::string_view::npos ? text : text.substr(0, cut);
}

// --- Arming ---------------------------------------------------------------------------------

void Memories::StoreButtonClick() {
  if (tx_.SendingState != 0) return;
  if (tx_.MemoryOp == kMemoryStore) {
    // MemoryOpArmed stays 1: the next memory button only selects its memory.
    tx_.MemoryOp = kMemoryNone;
  } else {
    tx_.MemoryOp = kMemoryStore;
    tx_.MemoryOpArmed = 1;
  }
  host_.ShowArmedButton(tx_.MemoryOp);
  host_.PaneCaretToEnd();
  host_.FocusPane();
}

void Memories::RecallButtonClick() {
  if (tx_.SendingState != 0) return;
  RecallArmingStep();
}

void Memories::RecallArmingStep() {
  if (tx_.MemoryOp == kMemoryRecall) {
    tx_.MemoryOp = kMemoryNone;
    tx_.MemoryOpArmed = 0;
  } else {
    tx_.MemoryOp = kMemoryRecall;
    tx_.MemoryOpArmed = 1;
    tx_.RecallAppends = 0;
  }
  host_.ShowArmedButton(tx_.MemoryOp);
  host_.PaneCaretToEnd();
  host_.FocusPane();
}

void Memories::ClearMsgButtonClick() {
  if (tx_.SendingState != 0) return;
  if (tx_.MemoryOp == kMemoryClear) {
    // As with STORE, MemoryOpArmed stays 1.
    tx_.MemoryOp = kMemoryNone;
  } else {
    tx_.MemoryOp = kMemoryClear;
    tx_.MemoryOpArmed = 1;
  }
  host_.ShowArmedButton(tx_.MemoryOp);
  host_.PaneCaretToEnd();
  host_.FocusPane();
}

void Memories::DisarmMemoryOperation() {
  tx_.MemoryOp = kMemoryNone;
  tx_.MemoryOpArmed = 0;
  host_.ShowArmedButton(kMemoryNone);
}

// --- Memory buttons -------------------------------------------------------------------------

void Memories::MemoryButtonClick(int n) {
  if (n < 1 || n > kMemoryCount) return;
  if (tx_.MemoryOpArmed == 1) {
    host_.ResetSendButtonColours();
    host_.ShowMemoryButtonChosen(n);
    tx_.SelectedBuffer = n;
    ApplyMemoryOperation(tx_.MemoryOp);
    tx_.MemoryOpArmed = 0;
    tx_.RecallAppends = 0;
    tx_.EchoSuppressed = 1;
    host_.ShowArmedButton(kMemoryNone);
    tx_.MemoryOp = kMemoryNone;
  } else if (tx_.XmitEnable == 3 && tx_.ScreenMode == 0 && tx_.SendThreadIdle == 1) {
    host_.ResetSendButtonColours();
    host_.ShowMemoryButtonChosen(n);
    tx_.SelectedBuffer = n;
    LoopOffIfLooping();
    // Arms recall so that applying it appends the memory to the pane.
    RecallArmingStep();
    tx_.MemoryOpArmed = 0;
    tx_.RecallAppends = 1;
    ApplyMemoryOperation(tx_.MemoryOp);
    tx_.SelectedBuffer = n;
    StartSend();
  }
  host_.FocusPane();
}

void Memories::MemoryKeyClick(int n) {
  tx_.MemoryOpArmed = 0;
  MemoryButtonClick(n);
}

void Memories::ApplyMemoryOperation(int32_t op) {
  const int n = tx_.SelectedBuffer;
  if (n < 0 || n >= kSendBufferCount) return;
  host_.ShowPaneWritable();
  switch (op) {
    case kMemoryStore: {
      const std::string text = host_.PaneText();
      tx_.SetBuffer(n, text);
      if (n == kScratchPadBuffer) {
        // The pad shows what was stored; its change report leaves M10 at the pad's
        // first line.
        host_.SetScratchPadText(text);
      }
      host_.FocusPane();
      host_.PaneCaretToEnd();
      RefreshMemoryWindowIfVisible();
      break;
    }
    case kMemoryRecall:
      if (tx_.RecallAppends == 1) {
        host_.AppendPaneText(tx_.Buffer(n));
        // Echoes of what is sent next go after the recalled text.
        tx_.PaneTextLength = static_cast<int32_t>(host_.PaneText().size());
        host_.PaneCaretToEnd();
      } else {
        host_.SetPaneText(tx_.Buffer(n));
        host_.PaneCaretToStart();
      }
      break;
    case kMemoryClear:
      host_.SetPaneText("");
      tx_.SetBuffer(n, "");
      if (n == kScratchPadBuffer) {
        host_.SetScratchPadText("");
      }
      host_.FocusPane();
      host_.PaneCaretToEnd();
      RefreshMemoryWindowIfVisible();
      break;
    default:
      break;
  }
}

void Memories::StartSend() {
  tx_.FinishOnEnd = 1;
  tx_.EchoSuppressed = 0;
  send_->SendBtnClick();
  tx_.MemoryOp = kMemoryNone;
}

void Memories::LoopOffIfLooping() {
  if (tx_.SendingState == 3 && tx_.LoopMode == 3) send_->LoopButtonClick();
}

// --- Memory window --------------------------------------------------------------------------

std::string Memories::MemoryWindowText() const {
  std::string text;
  for (int n = 1; n <= kMemoryCount; ++n) {
    if (n > 1) text += '\n';
    text += "M" + std::to_string(n) + " = ";
    text += tx_.Buffer(n);
  }
  return text;
}

void Memories::TransmitData1Click() {
  host_.ShowMemoryWindow();
  host_.SetMemoryWindowText(MemoryWindowText());
}

void Memories::RefreshMemoryWindowIfVisible() {
  if (host_.MemoryWindowVisible()) host_.SetMemoryWindowText(MemoryWindowText());
}

// --- Contest strip --------------------------------------------------------------------------

void Memories::ContestButtonClick(ContestButton button) {
  if (tx_.XmitEnable == 3 && tx_.ScreenMode == 0 && tx_.SendThreadIdle == 1) {
    const int buffer = button == ContestButton::kReport    ? kReportBuffer
                       : button == ContestButton::kClosing ? kClosingBuffer
                                                           : kContestBuffer;
    host_.ShowContestButtonChosen(button);
    tx_.SelectedBuffer = buffer;
    LoopOffIfLooping();
    RecallArmingStep();
    tx_.MemoryOpArmed = 0;
    tx_.RecallAppends = 1;

    const std::string remote(tx_.Buffer(kRemoteCallBuffer));
    const std::string own(tx_.Buffer(kMyCallBuffer));
    switch (button) {
      case ContestButton::kRemoteCall:
        tx_.SetBuffer(kContestBuffer, remote + " ");
        break;
      case ContestButton::kMyCall:
        tx_.SetBuffer(kContestBuffer, own + " ");
        break;
      case ContestButton::kSendBoth:
        tx_.SetBuffer(kContestBuffer, remote + " de " + own + " ");
        break;
      case ContestButton::kSerial:
        tx_.SetBuffer(kContestBuffer, std::to_string(tx_.ContestSerial) + " ");
        break;
      case ContestButton::kReport:
      case ContestButton::kClosing:
        break;  // sent as stored
    }
    ApplyMemoryOperation(tx_.MemoryOp);
    StartSend();
  }
  host_.FocusPane();
}

void Memories::XmitUpDnClick(int position) {
  // The number is the operator's to step; sending never advances it.
  tx_.ContestSerial = position;
  host_.ShowContestSerial(position);
  host_.ShowPaneWritable();
  host_.FocusPane();
}

void Memories::RemoteCallMemoChange(std::string_view text) {
  tx_.SetBuffer(kRemoteCallBuffer, FirstLine(text));
}

void Memories::MyCallMemoChange(std::string_view text) {
  tx_.SetBuffer(kMyCallBuffer, FirstLine(text));
}

void Memories::ScatchPadMemoChange(std::string_view text) {
  tx_.SetBuffer(kScratchPadBuffer, FirstLine(text));
  RefreshMemoryWindowIfVisible();
}

void Memories::FillContestBuffers(std::string_view remoteCall, std::string_view myCall) {
  RemoteCallMemoChange(remoteCall);
  MyCallMemoChange(myCall);
  tx_.SetBuffer(kContestBuffer, std::string(tx_.Buffer(kRemoteCallBuffer)) + " de " +
                                    std::string(tx_.Buffer(kMyCallBuffer)));
}

}  // namespace kestrix::transmit
