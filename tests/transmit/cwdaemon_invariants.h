// What every parse of any datagram must satisfy, shared by the seeded random-datagram
// test and the libFuzzer entry: values inside their accepted ranges, only printable
// characters keyed, the caret echo exactly when asked for, oversized requests refused.
#pragma once

#include <string>
#include <string_view>

#include "transmit/cwdaemon_request.h"
#include "transmit/element_timing.h"

namespace kestrix::test {

// Empty when `r` is a sound parse of `datagram`, else what is wrong.
inline std::string CheckRequest(std::string_view datagram, const transmit::CwdaemonRequest& r) {
  using transmit::CwdaemonOp;
  using transmit::TextItem;
  std::string_view body = datagram.substr(0, datagram.find('\0'));
  for (const std::string& w : r.warnings) {
    if (w.empty()) return "empty warning";
    for (unsigned char c : w)
      if (c < 0x20 || c >= 0x7F) return "warning with an unprintable byte";
  }
  if (r.actions.size() > 1) return "more than one action from one datagram";
  if (body.size() > transmit::kMaxRequestBytes) {
    if (!r.actions.empty()) return "oversized request acted on";
    if (r.warnings.empty()) return "oversized request refused silently";
    return {};
  }
  if (r.actions.empty()) return {};
  const transmit::CwdaemonAction& a = r.actions.front();
  const bool escape = !body.empty() && static_cast<uint8_t>(body.front()) == transmit::kEscape;
  if (escape != (a.op != CwdaemonOp::Key)) return "ESC request keyed as text, or text as ESC";
  auto within = [&](int lo, int hi) { return a.value >= lo && a.value <= hi; };
  switch (a.op) {
    case CwdaemonOp::Key: {
      if (a.items.size() > body.size()) return "more items than bytes";
      // Line ends after the caret are not text.
      std::string_view text = body;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
      const bool caret = !text.empty() && text.back() == '^';
      if (a.echo != caret) return "caret echo not exactly for text ending in '^'";
      if (a.echo && a.text != text.substr(0, text.size() - 1)) return "echo text differs";
      for (const TextItem& i : a.items) {
        if (i.kind != TextItem::Kind::Char) continue;
        if (i.code < 0x20 || i.code >= 0x7F) return "unprintable code keyed";
        if (i.code == '*' || i.code == '~' || i.code == '-') return "control character keyed";
      }
      return {};
    }
    case CwdaemonOp::Speed:
      return within(transmit::kMinTransmitWpm, transmit::kMaxTransmitWpm) ? "" : "speed range";
    case CwdaemonOp::Tone:
      return within(0, transmit::kMaxToneHz) ? "" : "tone range";
    case CwdaemonOp::Weighting:
      return within(transmit::kMinWeighting, transmit::kMaxWeighting) ? "" : "weighting range";
    case CwdaemonOp::Tune:
      return within(0, transmit::kMaxTuneSeconds) ? "" : "tune range";
    case CwdaemonOp::Ptt:
      return within(0, 1) ? "" : "PTT range";
    case CwdaemonOp::PttDelay:
      return within(0, transmit::kMaxPttDelayMs) ? "" : "PTT delay range";
    case CwdaemonOp::Device:
      if (a.text.empty() || a.text.size() > transmit::kMaxDeviceNameBytes) return "device name";
      for (unsigned char c : a.text)
        if (c <= 0x20 || c >= 0x7F) return "device name byte";
      return {};
    default:
      return {};
  }
}

}  // namespace kestrix::test
