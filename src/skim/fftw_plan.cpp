#include "skim/fftw_plan.h"

#include <fftw3.h>

#include <cstring>
#include <mutex>
#include <new>

namespace kestrix::skim {

namespace {
std::mutex& PlannerLock() {
  static std::mutex lock;
  return lock;
}
}  // namespace

ComplexFft::ComplexFft(int size, bool forward, bool measure) : size_(size) {
  std::lock_guard<std::mutex> guard(PlannerLock());
  const size_t bytes = sizeof(fftwf_complex) * static_cast<size_t>(size);
  in_ = reinterpret_cast<std::complex<float>*>(fftwf_malloc(bytes));
  out_ = reinterpret_cast<std::complex<float>*>(fftwf_malloc(bytes));
  if (in_ == nullptr || out_ == nullptr) throw std::bad_alloc();
  // FFTW_MEASURE overwrites the arrays while it plans.
  plan_ = fftwf_plan_dft_1d(
      size, reinterpret_cast<fftwf_complex*>(in_), reinterpret_cast<fftwf_complex*>(out_),
      forward ? FFTW_FORWARD : FFTW_BACKWARD, measure ? FFTW_MEASURE : FFTW_ESTIMATE);
  if (plan_ == nullptr) throw std::bad_alloc();
  std::memset(static_cast<void*>(in_), 0, bytes);
  std::memset(static_cast<void*>(out_), 0, bytes);
}

ComplexFft::~ComplexFft() {
  std::lock_guard<std::mutex> guard(PlannerLock());
  fftwf_destroy_plan(static_cast<fftwf_plan>(plan_));
  fftwf_free(in_);
  fftwf_free(out_);
}

void ComplexFft::Execute() {
  fftwf_execute(static_cast<fftwf_plan>(plan_));
}

}  // namespace kestrix::skim
