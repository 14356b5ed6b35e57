#include "skim/soapy_source.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Modules.hpp>

#include <chrono>
#include <exception>
#include <thread>

namespace kestrix::skim {

namespace {

constexpr long kReadTimeoutUs = 100000;
constexpr double kReopenEveryS = 2.0;

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string Describe(const SoapySDR::Kwargs& kw) {
  std::string s;
  for (const auto& [k, v] : kw) {
    if (!s.empty()) s += ", ";
    s += k + "=" + v;
  }
  return s;
}

class SoapySource final : public SampleSource {
 public:
  SoapySource(const SoapyConfig& config, std::ostream& log) : config_(config), log_(log) {
    name_ = config.args.empty() ? "the SDR" : "the SDR (" + config.args + ")";
  }
  ~SoapySource() override { Close(); }

  bool Open(std::string& error) {
    try {
      device_ = SoapySDR::Device::make(config_.args);
    } catch (const std::exception& e) {
      error = "cannot open " + name_ + ": " + e.what();
      device_ = nullptr;
      return false;
    }
    if (device_ == nullptr) {
      error = "cannot open " + name_ + ": SoapySDR found no such device";
      return false;
    }
    try {
      device_->setSampleRate(SOAPY_SDR_RX, 0, config_.rate);
      device_->setFrequency(SOAPY_SDR_RX, 0, config_.centreHz);
      if (config_.gainDb) {
        if (device_->hasGainMode(SOAPY_SDR_RX, 0)) device_->setGainMode(SOAPY_SDR_RX, 0, false);
        device_->setGain(SOAPY_SDR_RX, 0, *config_.gainDb);
      } else if (device_->hasGainMode(SOAPY_SDR_RX, 0)) {
        device_->setGainMode(SOAPY_SDR_RX, 0, true);
      }
      rate_ = device_->getSampleRate(SOAPY_SDR_RX, 0);
      // The device string doubles as the stream's arguments: some drivers take their
      // stream settings there (the sound-card module's chan=stereo_iq, a buffer size);
      // a key a driver does not know is ignored.
      stream_ = device_->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {0},
                                     SoapySDR::KwargsFromString(config_.args));
      const int rc = device_->activateStream(stream_);
      if (rc != 0) {
        error = "cannot start " + name_ + ": " + SoapySDR::errToStr(rc);
        Close();
        return false;
      }
    } catch (const std::exception& e) {
      error = "cannot set up " + name_ + ": " + e.what();
      Close();
      return false;
    }
    if (rate_ <= 0.0) rate_ = config_.rate;
    return true;
  }

  double Rate() const override { return rate_; }
  bool IsComplex() const override { return true; }
  bool IsLive() const override { return true; }
  double CentreHz() const override { return config_.centreHz; }

  long Read(float* out, size_t count) override {
    if (device_ == nullptr) return Reopen();
    void* buffs[] = {out};
    int flags = 0;
    long long timeNs = 0;
    int n = 0;
    try {
      n = device_->readStream(stream_, buffs, count, flags, timeNs, kReadTimeoutUs);
    } catch (const std::exception& e) {
      return Lost(e.what());
    }
    if (n > 0) return n;
    if (n == SOAPY_SDR_TIMEOUT) {
      // A device that stays silent for seconds is as good as gone.
      if (++timeouts_ * kReadTimeoutUs > 3000000) return Lost("no samples for 3 s");
      return kSourceAgain;
    }
    timeouts_ = 0;
    if (n == SOAPY_SDR_OVERFLOW) {
      ++overflows_;
      return kSourceAgain;
    }
    return Lost(SoapySDR::errToStr(n));
  }

 private:
  long Lost(const std::string& why) {
    log_ << "kestrix-skim: " << name_ << " stopped (" << why << "); trying to reopen it\n";
    log_.flush();
    Close();
    lostAt_ = Now();
    nextTry_ = lostAt_ + kReopenEveryS;
    return kSourceAgain;
  }

  long Reopen() {
    const double now = Now();
    if (now < nextTry_) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return kSourceAgain;
    }
    std::string error;
    if (Open(error)) {
      log_ << "kestrix-skim: " << name_ << " is receiving again\n";
      log_.flush();
      timeouts_ = 0;
      return kSourceAgain;
    }
    if (now - lostAt_ > config_.giveUpS) {
      error_ =
          error + " (gave up after " + std::to_string(static_cast<int>(config_.giveUpS)) + " s)";
      return -1;
    }
    nextTry_ = now + kReopenEveryS;
    return kSourceAgain;
  }

  void Close() {
    if (device_ == nullptr) return;
    try {
      if (stream_ != nullptr) {
        device_->deactivateStream(stream_);
        device_->closeStream(stream_);
      }
      SoapySDR::Device::unmake(device_);
    } catch (const std::exception&) {
      // Going away anyway.
    }
    stream_ = nullptr;
    device_ = nullptr;
  }

  SoapyConfig config_;
  std::ostream& log_;
  SoapySDR::Device* device_ = nullptr;
  SoapySDR::Stream* stream_ = nullptr;
  double rate_ = 0.0;
  long timeouts_ = 0;
  long overflows_ = 0;
  double lostAt_ = 0.0;
  double nextTry_ = 0.0;
};

}  // namespace

void ListSdrs(std::ostream& out) {
  SoapySDR::setLogLevel(SOAPY_SDR_WARNING);
  SoapySDR::KwargsList found;
  try {
    found = SoapySDR::Device::enumerate(std::string());
  } catch (const std::exception& e) {
    out << "No SDR found (SoapySDR: " << e.what() << ")\n";
    return;
  }
  if (found.empty()) {
    const auto modules = SoapySDR::listModules();
    out << "No SDR found. SoapySDR has " << modules.size()
        << " device module(s) installed; a receiver needs its module, e.g. the Debian package "
           "soapysdr0.8-module-rtlsdr for an RTL-SDR (soapysdr0.8-module-audio turns a sound "
           "card into an I/Q source).\n";
    return;
  }
  for (size_t i = 0; i < found.size(); ++i) out << i << ": " << Describe(found[i]) << '\n';
}

std::unique_ptr<SampleSource> OpenSoapySource(const SoapyConfig& config, std::ostream& log,
                                              std::string& error) {
  SoapySDR::setLogLevel(SOAPY_SDR_WARNING);
  auto src = std::make_unique<SoapySource>(config, log);
  if (!src->Open(error)) return nullptr;
  return src;
}

}  // namespace kestrix::skim
