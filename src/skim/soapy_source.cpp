#include "skim/soapy_source.h"

#include <SoapySDR/Device.hpp>
#include <SoapySDR/Errors.hpp>
#include <SoapySDR/Formats.hpp>
#include <SoapySDR/Logger.hpp>
#include <SoapySDR/Modules.hpp>

#include <exception>

#include "skim/live_source.h"

namespace kestrix::skim {

namespace {

constexpr long kReadTimeoutUs = 100000;

std::string Describe(const SoapySDR::Kwargs& kw) {
  std::string s;
  for (const auto& [k, v] : kw) {
    if (!s.empty()) s += ", ";
    s += k + "=" + v;
  }
  return s;
}

class SoapyStream final : public LiveStream {
 public:
  explicit SoapyStream(const SoapyConfig& config) : config_(config) {
    name_ = config.args.empty() ? "the SDR" : "the SDR (" + config.args + ")";
  }
  ~SoapyStream() override { Close(); }

  bool Open(std::string& error) override {
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
      // a key a driver does not know is ignored. --stream-args adds to them.
      SoapySDR::Kwargs streamArgs = SoapySDR::KwargsFromString(config_.args);
      for (const auto& [k, v] : SoapySDR::KwargsFromString(config_.streamArgs)) streamArgs[k] = v;
      stream_ = device_->setupStream(SOAPY_SDR_RX, SOAPY_SDR_CF32, {0}, streamArgs);
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

  void Close() override {
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

  long Read(float* out, size_t count, std::string& error) override {
    if (device_ == nullptr) {
      error = "not open";
      return kLost;
    }
    void* buffs[] = {out};
    int flags = 0;
    long long timeNs = 0;
    int n = 0;
    try {
      n = device_->readStream(stream_, buffs, count, flags, timeNs, kReadTimeoutUs);
    } catch (const std::exception& e) {
      error = e.what();
      return kLost;
    }
    if (n > 0) return n;
    if (n == SOAPY_SDR_TIMEOUT || n == 0) return 0;
    if (n == SOAPY_SDR_OVERFLOW) return kOverflow;
    error = SoapySDR::errToStr(n);
    return kLost;
  }

  double Rate() const override { return rate_; }
  const std::string& Name() const override { return name_; }

 private:
  SoapyConfig config_;
  std::string name_;
  SoapySDR::Device* device_ = nullptr;
  SoapySDR::Stream* stream_ = nullptr;
  double rate_ = 0.0;
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
  auto stream = std::make_unique<SoapyStream>(config);
  if (!stream->Open(error)) return nullptr;
  ReopenPolicy policy;
  policy.wantedRate = config.rate;
  policy.centreHz = config.centreHz;
  policy.giveUpS = config.giveUpS;
  return ThreadedSource(ReopeningSource(std::move(stream), policy, log), log);
}

}  // namespace kestrix::skim
