// Real-input FFT pair used by the whole receive chain.
//
// Single precision, radix-2 decimation in time. The N real samples are treated as N/2
// complex samples (even samples real, odd imaginary), transformed, and separated into the
// spectrum of the real signal by the split step. The result is packed into the same N
// floats: x[0] = X(0)/2, x[1] = X(N/2)/2 (both real, both halved), and for k = 1..N/2-1
// x[2k] = Re X(k), x[2k+1] = Im X(k), with X(k) = sum_n x(n) exp(-2 pi i k n / N).
//
// Twiddle factors come from the half-angle recurrence rather than a table, so no state is
// kept and any power of two up to 65536 works without allocation.
#pragma once

namespace kestrix {

inline constexpr int kMaxFftSize = 65536;

// Forward transform of data[0..n-1] in place. n must be a power of two, 4..65536.
void RealFft(float* data, int n);

// Exact inverse of RealFft (the halved pair is undone), scaled by 2/n, in place.
void InverseRealFft(float* data, int n);

}  // namespace kestrix
