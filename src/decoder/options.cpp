#include "decoder/options.h"

#include <algorithm>
#include <array>

namespace kestrix {

float FilterBaseWidth(int s) {
  // Indexed by wpm - 5, for 5..110.
  static constexpr std::array<float, 106> kBase = {
      0.00069f, 0.00069f, 0.00069f, 0.00069f, 0.00069f, 0.00069f, 0.00069f, 0.00069f, 0.0007f,
      0.0007f,  // 5..14
      0.0007f,  0.00072f, 0.00078f, 0.00082f, 0.00085f, 0.00088f, 0.001f,   0.0012f,  0.0014f,
      0.0016f,  // 15..24
      0.0018f,  0.002f,   0.0022f,  0.0024f,  0.0026f,  0.0027f,  0.0028f,  0.0029f,  0.0029f,
      0.003f,  // 25..34
      0.003f,   0.0031f,  0.0031f,  0.0032f,  0.0032f,  0.0034f,  0.0034f,  0.0035f,  0.0035f,
      0.0036f,  // 35..44
      0.0036f,  0.0037f,  0.0037f,  0.0038f,  0.0038f,  0.0039f,  0.0041f,  0.0043f,  0.0046f,
      0.0049f,  // 45..54
      0.0052f,  0.0054f,  0.0058f,  0.0064f,  0.0064f,  0.0067f,  0.007f,   0.0073f,  0.0076f,
      0.0078f,  // 55..64
      0.008f,   0.0082f,  0.0084f,  0.0086f,  0.0088f,  0.009f,   0.0092f,  0.0094f,  0.0096f,
      0.0098f,  // 65..74
      0.01f,    0.012f,   0.014f,   0.016f,   0.018f,   0.02f,    0.021f,   0.022f,   0.023f,
      0.024f,  // 75..84
      0.025f,   0.026f,   0.027f,   0.028f,   0.029f,   0.0295f,  0.023f,   0.02315f, 0.024f,
      0.0245f,  // 85..94
      0.025f,   0.0255f,  0.026f,   0.0265f,  0.027f,   0.0275f,  0.028f,   0.0285f,  0.029f,
      0.0295f,                                                   // 95..104
      0.03f,    0.0315f,  0.032f,   0.0325f,  0.033f,   0.033f,  // 105..110
  };
  if (s < 5) return 0.003f;
  // The speed limiter keeps the decoder at 110 wpm or below; hold the last entry anyway.
  return kBase[static_cast<size_t>(std::min(s, 110) - 5)];
}

float FilterHalfWidth(ReceiveSpeed speed, int s, bool idle, int avgDot, int avgDash) {
  switch (speed) {
    case ReceiveSpeed::kAuto: {
      float w = FilterBaseWidth(s);
      if (s <= 14) {
        w *= 0.6f;
      } else if (s <= 49) {
        w *= 0.85f;
      } else {
        w *= 2.5f;
      }
      if (idle) w *= 0.65f;
      if (avgDot >= 1) {
        const int ratio = avgDash / avgDot;
        if (ratio >= 6) {
          w *= 3.0f;
        } else if (ratio == 5) {
          w *= 2.0f;
        } else if (ratio == 4) {
          w *= 1.5f;
        }
      }
      return w;
    }
    case ReceiveSpeed::k10:
      return s < 11 ? 0.0012f : std::min(0.0012f + 0.00015f * static_cast<float>(s - 9), 0.002f);
    case ReceiveSpeed::k20:
      return s < 21 ? 0.002f : std::min(0.002f + 0.00015f * static_cast<float>(s - 19), 0.003f);
    case ReceiveSpeed::k30:
      return s < 31 ? 0.0025f : std::min(0.0025f + 0.00015f * static_cast<float>(s - 29), 0.004f);
    case ReceiveSpeed::k50Plus:
      return s < 56 ? 0.006f : std::min(0.006f + 0.0002f * static_cast<float>(s - 54), 0.009f);
  }
  return 0.0012f;
}

}  // namespace kestrix
