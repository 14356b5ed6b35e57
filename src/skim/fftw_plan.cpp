#include "skim/fftw_plan.h"

#include <fftw3.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>

namespace kestrix::skim {

namespace {
std::mutex& PlannerLock() {
  static std::mutex lock;
  return lock;
}

// Measured plans are kept between runs in the user's cache, so only the first run on a
// machine pays for the measuring (a few hundred ms per size).
std::string WisdomPath() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  const char* home = std::getenv("HOME");
  std::string dir;
  if (cache != nullptr && cache[0] == '/') {
    dir = cache;
  } else if (home != nullptr && home[0] == '/') {
    dir = std::string(home) + "/.cache";
  } else {
    return {};
  }
  return dir + "/kestrix/fftwf-wisdom";
}

void ImportWisdomOnce(const std::string& path) {
  static bool done = false;
  if (done || path.empty()) return;
  done = true;
  fftwf_import_wisdom_from_filename(path.c_str());  // absent or stale: plans are measured
}

void ExportWisdom(const std::string& path) {
  if (path.empty()) return;
  const std::string dir = path.substr(0, path.rfind('/'));
  mkdir(dir.substr(0, dir.rfind('/')).c_str(), 0755);
  mkdir(dir.c_str(), 0755);
  // Written beside and renamed, so a reader never sees half a file.
  const std::string tmp = path + "." + std::to_string(getpid());
  if (fftwf_export_wisdom_to_filename(tmp.c_str()) != 0) {
    std::rename(tmp.c_str(), path.c_str());
  } else {
    std::remove(tmp.c_str());
  }
}
}  // namespace

ComplexFft::ComplexFft(int size, bool forward, bool measure) : size_(size) {
  std::lock_guard<std::mutex> guard(PlannerLock());
  const size_t bytes = sizeof(fftwf_complex) * static_cast<size_t>(size);
  in_ = reinterpret_cast<std::complex<float>*>(fftwf_malloc(bytes));
  out_ = reinterpret_cast<std::complex<float>*>(fftwf_malloc(bytes));
  if (in_ == nullptr || out_ == nullptr) throw std::bad_alloc();
  const int sign = forward ? FFTW_FORWARD : FFTW_BACKWARD;
  auto* in = reinterpret_cast<fftwf_complex*>(in_);
  auto* out = reinterpret_cast<fftwf_complex*>(out_);
  if (measure) {
    const std::string wisdom = WisdomPath();
    ImportWisdomOnce(wisdom);
    // Known already: the plan comes from the wisdom at once.
    plan_ = fftwf_plan_dft_1d(size, in, out, sign, FFTW_MEASURE | FFTW_WISDOM_ONLY);
    if (plan_ == nullptr) {
      // FFTW_MEASURE overwrites the arrays while it plans.
      plan_ = fftwf_plan_dft_1d(size, in, out, sign, FFTW_MEASURE);
      if (plan_ != nullptr) ExportWisdom(wisdom);
    }
  } else {
    plan_ = fftwf_plan_dft_1d(size, in, out, sign, FFTW_ESTIMATE);
  }
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
