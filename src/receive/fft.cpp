#include "receive/fft.h"

#include <cmath>
#include <utility>

namespace kestrix {
namespace {

constexpr double kPi = 3.141592653589793;

// In-place complex FFT of `count` complex values stored as (re, im) pairs.
// sign = -1 gives the forward transform (negative exponent), +1 the unscaled inverse.
void ComplexFft(float* data, int count, int sign) {
  const int n = count * 2;

  // Bit-reversal permutation of the complex values.
  int j = 0;
  for (int i = 0; i < n; i += 2) {
    if (j > i) {
      std::swap(data[j], data[i]);
      std::swap(data[j + 1], data[i + 1]);
    }
    int m = count;
    while (m >= 2 && j >= m) {
      j -= m;
      m >>= 1;
    }
    j += m;
  }

  // Danielson-Lanczos butterflies; each stage doubles the transform length.
  int mmax = 2;
  while (n > mmax) {
    const int istep = mmax << 1;
    const float theta = static_cast<float>(sign * (2.0 * kPi / mmax));
    const float half = std::sin(0.5f * theta);
    const float wpr = -2.0f * half * half;
    const float wpi = std::sin(theta);
    float wr = 1.0f;
    float wi = 0.0f;
    for (int m = 0; m < mmax; m += 2) {
      for (int i = m; i < n; i += istep) {
        const int k = i + mmax;
        const float tempr = wr * data[k] - wi * data[k + 1];
        const float tempi = wr * data[k + 1] + wi * data[k];
        data[k] = data[i] - tempr;
        data[k + 1] = data[i + 1] - tempi;
        data[i] += tempr;
        data[i + 1] += tempi;
      }
      const float wtemp = wr;
      wr = wtemp * wpr - wi * wpi + wr;
      wi = wi * wpr + wtemp * wpi + wi;
    }
    mmax = istep;
  }
}

// The split step shared by both directions. For the forward direction c2 = -0.5 and the
// angle is negative; for the inverse c2 = +0.5 and the angle is positive.
void Split(float* data, int n, float c2, float theta) {
  const float c1 = 0.5f;
  const float half = std::sin(0.5f * theta);
  const float wpr = -2.0f * half * half;
  const float wpi = std::sin(theta);
  float wr = 1.0f + wpr;
  float wi = wpi;
  for (int i = 1; i < n / 4; ++i) {
    const int i1 = 2 * i;
    const int i2 = i1 + 1;
    const int i3 = n - i1;
    const int i4 = i3 + 1;
    const float h1r = c1 * (data[i1] + data[i3]);
    const float h1i = c1 * (data[i2] - data[i4]);
    const float h2r = -c2 * (data[i2] + data[i4]);
    const float h2i = c2 * (data[i1] - data[i3]);
    data[i1] = h1r + wr * h2r - wi * h2i;
    data[i2] = h1i + wr * h2i + wi * h2r;
    data[i3] = h1r - wr * h2r + wi * h2i;
    data[i4] = -h1i + wr * h2i + wi * h2r;
    const float wtemp = wr;
    wr = wtemp * wpr - wi * wpi + wr;
    wi = wi * wpr + wtemp * wpi + wi;
  }
}

}  // namespace

void RealFft(float* data, int n) {
  ComplexFft(data, n / 2, -1);
  Split(data, n, -0.5f, static_cast<float>(-kPi / (n / 2)));
  // The complex value at N/4 needs only a conjugation; the loop above stops short of it.
  data[n / 2 + 1] = -data[n / 2 + 1];
  const float h1r = data[0];
  data[0] = 0.5f * (h1r + data[1]);
  data[1] = 0.5f * (h1r - data[1]);
}

void InverseRealFft(float* data, int n) {
  Split(data, n, 0.5f, static_cast<float>(kPi / (n / 2)));
  data[n / 2 + 1] = -data[n / 2 + 1];
  const float h1r = data[0];
  data[0] = h1r + data[1];
  data[1] = h1r - data[1];
  ComplexFft(data, n / 2, 1);
  const float scale = 2.0f / static_cast<float>(n);
  for (int i = 0; i < n; ++i) data[i] *= scale;
}

}  // namespace kestrix
