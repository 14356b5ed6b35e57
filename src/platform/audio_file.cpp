#include "platform/audio_file.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace kestrix {

namespace {

// Frames pulled from libsndfile per call. Large enough to keep call overhead low, small
// enough that a live pipe is handed on promptly (about 85 ms at 48 kHz).
constexpr int kChunkFrames = 4096;

// Rates outside this range are taken as a broken header rather than a real recording.
constexpr int kMinRate = 1000;
constexpr int kMaxRate = 768000;

// Standard input that cannot be streamed is held in memory; beyond this it is refused.
constexpr size_t kMaxBufferedInput = size_t{1} << 31;

std::string Describe(const std::string& path) {
  return path == "-" ? std::string("standard input") : "'" + path + "'";
}

// libsndfile's messages sometimes carry trailing dots or newlines; the caller wants one line.
std::string OneLine(const char* text) {
  std::string s = text ? text : "unknown error";
  for (char& c : s) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

std::string SndfileError(const std::string& path) {
  const int code = sf_error(nullptr);
  if (code == SF_ERR_UNRECOGNISED_FORMAT) return Describe(path) + ": not an audio file";
  return Describe(path) + ": " + OneLine(sf_strerror(nullptr));
}

// Reads until `size` bytes or end of input; returns the count, or -1 on a read error.
ssize_t ReadFully(int fd, uint8_t* data, size_t size) {
  size_t got = 0;
  while (got < size) {
    const ssize_t n = ::read(fd, data + got, size - got);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

// Containers whose header comes first and which libsndfile reads front to back from a pipe.
// Others (FLAC, CAF, ...) either fail or silently yield nothing there, so they are buffered.
bool StreamableFromPipe(const uint8_t* head, size_t size) {
  if (size < 12) return false;
  auto is = [&](size_t at, const char* tag) { return std::memcmp(head + at, tag, 4) == 0; };
  if ((is(0, "RIFF") || is(0, "RIFX") || is(0, "RF64")) && is(8, "WAVE")) return true;
  if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) return true;
  if (is(0, ".snd") || is(0, "dns.")) return true;
  if (is(0, "riff")) return true;  // Wave64: GUID-tagged chunks
  if (is(0, "OggS")) return true;
  return false;
}

// An in-memory file for libsndfile's virtual I/O.
struct MemoryFile {
  std::vector<uint8_t> data;
  sf_count_t pos = 0;

  static sf_count_t Length(void* user) {
    return static_cast<sf_count_t>(static_cast<MemoryFile*>(user)->data.size());
  }
  static sf_count_t Seek(sf_count_t offset, int whence, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(m->data.size());
    sf_count_t target = offset;
    if (whence == SEEK_CUR) target = m->pos + offset;
    if (whence == SEEK_END) target = size + offset;
    if (target < 0 || target > size) return -1;
    m->pos = target;
    return m->pos;
  }
  static sf_count_t ReadBytes(void* ptr, sf_count_t count, void* user) {
    auto* m = static_cast<MemoryFile*>(user);
    const sf_count_t size = static_cast<sf_count_t>(m->data.size());
    const sf_count_t n = std::max<sf_count_t>(0, std::min(count, size - m->pos));
    if (n > 0) std::memcpy(ptr, m->data.data() + m->pos, static_cast<size_t>(n));
    m->pos += n;
    return n;
  }
  static sf_count_t WriteBytes(const void*, sf_count_t, void*) { return 0; }
  static sf_count_t Tell(void* user) { return static_cast<MemoryFile*>(user)->pos; }
};

// Hands libsndfile "the bytes already sniffed from stdin, then the rest of stdin" through a
// private pipe, so a live stream is decoded as it arrives instead of after end of input.
class StdinFeeder {
 public:
  ~StdinFeeder() { Stop(); }

  // Returns the read end for libsndfile, or -1 (errno set) if the pipe could not be made.
  int Start(std::vector<uint8_t> head) {
    int fds[2];
    if (::pipe(fds) != 0) return -1;
    readFd_ = fds[0];
    writeFd_ = fds[1];
    stop_ = false;
    thread_ = std::thread([this, head = std::move(head)] { Run(head); });
    return readFd_;
  }

  void Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    // Closing our end makes a blocked write() fail with EPIPE.
    ::close(readFd_);
    readFd_ = -1;
    thread_.join();
  }

 private:
  void Run(const std::vector<uint8_t>& head) {
    // A write to the pipe after Stop() must fail with EPIPE, not kill the process.
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &block, nullptr);

    if (WriteAll(head.data(), head.size())) {
      std::vector<uint8_t> buffer(64 * 1024);
      while (!stop_) {
        // Wake up now and then so Stop() is honoured on an idle stream.
        pollfd p{0, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        const ssize_t n = ::read(0, buffer.data(), buffer.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        if (!WriteAll(buffer.data(), static_cast<size_t>(n))) break;
      }
    }
    ::close(writeFd_);
    writeFd_ = -1;
  }

  bool WriteAll(const uint8_t* data, size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(writeFd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  std::thread thread_;
  std::atomic<bool> stop_{false};
  int readFd_ = -1;
  int writeFd_ = -1;
};

}  // namespace

struct RecordingReader::Impl {
  std::string path;
  SNDFILE* snd = nullptr;
  SF_INFO info{};
  int targetRate = 0;
  int sourceChannels = 0;
  int channels = 0;
  bool seekable = false;
  bool fromPipe = false;

  std::unique_ptr<MemoryFile> memory;
  SF_VIRTUAL_IO vio{};
  std::unique_ptr<StdinFeeder> feeder;
  int pipeFd = -1;

  soxr_t soxr = nullptr;
  // Raw frames from libsndfile, all source channels.
  std::vector<float> readBuffer;
  // The kept channels (first one or two) of the current input chunk.
  std::vector<float> input;
  int inputPos = 0;
  int inputLen = 0;
  bool sourceEnded = false;
  // Resampled frames not yet handed out.
  std::vector<float> output;
  int outputCapacity = 0;
  int outputPos = 0;
  int outputLen = 0;
  bool drained = false;

  ~Impl() { Close(); }

  void Close() {
    if (snd) sf_close(snd);
    snd = nullptr;
    if (feeder) feeder->Stop();  // also closes pipeFd
    feeder.reset();
    pipeFd = -1;
    memory.reset();
    if (soxr) soxr_delete(soxr);
    soxr = nullptr;
    info = SF_INFO{};
    sourceChannels = channels = 0;
    seekable = fromPipe = false;
    readBuffer.clear();
    input.clear();
    output.clear();
    ResetStream();
  }

  void ResetStream() {
    inputPos = inputLen = 0;
    outputPos = outputLen = 0;
    sourceEnded = drained = false;
  }

  bool OpenPath(std::string& error) {
    // Open it ourselves first: libsndfile's own message for a missing file is vaguer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      error = "cannot open " + Describe(path) + ": " + std::strerror(errno);
      return false;
    }
    struct stat st {};
    const bool statOk = ::fstat(fd, &st) == 0;
    const int statErrno = errno;
    ::close(fd);
    if (!statOk) {
      error = "cannot open " + Describe(path) + ": " + std::strerror(statErrno);
      return false;
    }
    if (S_ISDIR(st.st_mode)) {
      error = "cannot open " + Describe(path) + ": " + std::strerror(EISDIR);
      return false;
    }
    if (S_ISREG(st.st_mode) && st.st_size == 0) {
      error = Describe(path) + ": file is empty";
      return false;
    }
    // By name rather than by descriptor so libsndfile can use the extension for
    // header-less formats.
    snd = sf_open(path.c_str(), SFM_READ, &info);
    if (!snd) {
      error = SndfileError(path);
      return false;
    }
    seekable = info.seekable != 0;
    return true;
  }

  bool OpenStdin(std::string& error) {
    if (::isatty(0)) {
      error = "standard input is a terminal, not a recording";
      return false;
    }
    struct stat st {};
    if (::fstat(0, &st) == 0 && S_ISREG(st.st_mode)) {
      // Redirected from a file: seekable, so Rewind() works as for a named file.
      if (st.st_size == 0) {
        error = "standard input is empty";
        return false;
      }
      snd = sf_open_fd(0, SFM_READ, &info, SF_FALSE);
      if (!snd) {
        error = SndfileError(path);
        return false;
      }
      seekable = info.seekable != 0;
      return true;
    }

    // A pipe: nothing can be put back, so sniff the container from the first bytes.
    std::vector<uint8_t> head(12);
    const ssize_t got = ReadFully(0, head.data(), head.size());
    if (got < 0) {
      error = std::string("cannot read standard input: ") + std::strerror(errno);
      return false;
    }
    head.resize(static_cast<size_t>(got));
    if (head.empty()) {
      error = "standard input is empty";
      return false;
    }

    if (StreamableFromPipe(head.data(), head.size())) {
      feeder = std::make_unique<StdinFeeder>();
      pipeFd = feeder->Start(std::move(head));
      if (pipeFd < 0) {
        error = std::string("cannot read standard input: ") + std::strerror(errno);
        feeder.reset();
        return false;
      }
      snd = sf_open_fd(pipeFd, SFM_READ, &info, SF_FALSE);
      if (!snd) {
        error = SndfileError(path);
        return false;
      }
      fromPipe = true;
      seekable = false;
      return true;
    }

    // Everything else is read whole and decoded from memory.
    memory = std::make_unique<MemoryFile>();
    memory->data = std::move(head);
    std::vector<uint8_t> block(64 * 1024);
    while (true) {
      const ssize_t n = ReadFully(0, block.data(), block.size());
      if (n < 0) {
        error = std::string("cannot read standard input: ") + std::strerror(errno);
        return false;
      }
      if (n == 0) break;
      if (memory->data.size() + static_cast<size_t>(n) > kMaxBufferedInput) {
        error = "standard input is too large to hold in memory; send WAV instead";
        return false;
      }
      memory->data.insert(memory->data.end(), block.begin(), block.begin() + n);
    }
    vio = SF_VIRTUAL_IO{&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::ReadBytes,
                        &MemoryFile::WriteBytes, &MemoryFile::Tell};
    snd = sf_open_virtual(&vio, SFM_READ, &info, memory.get());
    if (!snd) {
      error = SndfileError(path);
      return false;
    }
    seekable = true;
    return true;
  }

  // Pulls the next chunk from libsndfile into `input`. False at the end of the recording.
  bool FillInput() {
    if (sourceEnded) return false;
    const sf_count_t n = sf_readf_float(snd, readBuffer.data(), kChunkFrames);
    if (n <= 0) {
      sourceEnded = true;
      return false;
    }
    const int frames = static_cast<int>(n);
    if (sourceChannels == channels) {
      std::copy_n(readBuffer.data(), static_cast<size_t>(frames) * channels, input.data());
    } else {
      for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c) {
          input[static_cast<size_t>(f) * channels + c] =
              readBuffer[static_cast<size_t>(f) * sourceChannels + c];
        }
      }
    }
    inputPos = 0;
    inputLen = frames;
    return true;
  }

  // Refills `output` from the resampler. False once the resampler has been fully drained.
  bool Resample() {
    while (true) {
      if (inputPos == inputLen) FillInput();
      size_t used = 0;
      size_t made = 0;
      soxr_error_t err;
      if (inputPos < inputLen) {
        err = soxr_process(soxr, input.data() + static_cast<size_t>(inputPos) * channels,
                           static_cast<size_t>(inputLen - inputPos), &used, output.data(),
                           static_cast<size_t>(outputCapacity), &made);
        inputPos += static_cast<int>(used);
        if (!err && used == 0 && made == 0) err = "resampler made no progress";
      } else {
        // End of input: a null input tells soxr to flush the filter's delay line.
        if (drained) return false;
        err = soxr_process(soxr, nullptr, 0, nullptr, output.data(),
                           static_cast<size_t>(outputCapacity), &made);
        if (made == 0) drained = true;
      }
      if (err) {
        drained = sourceEnded = true;
        inputPos = inputLen;
        return false;
      }
      if (made > 0) {
        outputPos = 0;
        outputLen = static_cast<int>(made);
        return true;
      }
      if (drained) return false;
    }
  }
};

namespace {

// Full scale matches libsndfile's float normalisation of 16-bit PCM (1 / 32768), so 16-bit
// input at the target rate comes out bit for bit.
void ToInt16(const float* in, int16_t* out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const float v = std::nearbyint(in[i] * 32768.0f);
    if (std::isnan(v)) {
      out[i] = 0;
    } else {
      out[i] = static_cast<int16_t>(std::clamp(v, -32768.0f, 32767.0f));
    }
  }
}

}  // namespace

RecordingReader::RecordingReader() : impl_(std::make_unique<Impl>()) {}
RecordingReader::~RecordingReader() = default;

bool RecordingReader::Open(const std::string& path, int targetRate, std::string& error) {
  Impl& d = *impl_;
  d.Close();
  d.path = path;
  d.targetRate = 0;
  error.clear();

  auto fail = [&](std::string message) {
    error = std::move(message);
    d.Close();
    return false;
  };

  if (targetRate < kMinRate || targetRate > kMaxRate) {
    return fail("invalid output sample rate " + std::to_string(targetRate) + " Hz");
  }
  if (path.empty()) return fail("no recording given");

  const bool opened = path == "-" ? d.OpenStdin(error) : d.OpenPath(error);
  if (!opened) return fail(error);

  if (d.info.samplerate < kMinRate || d.info.samplerate > kMaxRate) {
    return fail(Describe(path) + ": unusable sample rate " + std::to_string(d.info.samplerate) +
                " Hz");
  }
  if (d.info.channels < 1) return fail(Describe(path) + ": no audio channels");
  if (!d.fromPipe && d.info.frames == 0)
    return fail(Describe(path) + ": no audio in the recording");

  d.targetRate = targetRate;
  d.sourceChannels = d.info.channels;
  d.channels = std::min(d.sourceChannels, 2);
  d.readBuffer.assign(static_cast<size_t>(kChunkFrames) * d.sourceChannels, 0.0f);
  d.input.assign(static_cast<size_t>(kChunkFrames) * d.channels, 0.0f);

  if (d.info.samplerate != targetRate) {
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t err = nullptr;
    d.soxr = soxr_create(d.info.samplerate, targetRate, static_cast<unsigned>(d.channels), &err,
                         &io, &quality, &runtime);
    if (!d.soxr || err) {
      return fail(Describe(path) + ": cannot set up resampling from " +
                  std::to_string(d.info.samplerate) + " Hz: " + OneLine(err));
    }
    // Room for one input chunk's worth of output at the largest ratio, so most calls
    // hand out a whole chunk.
    const double ratio = static_cast<double>(targetRate) / d.info.samplerate;
    d.outputCapacity = static_cast<int>(std::ceil(kChunkFrames * std::max(1.0, ratio))) + 64;
    d.output.assign(static_cast<size_t>(d.outputCapacity) * d.channels, 0.0f);
  }

  // Prime the first chunk now, so an empty stream is reported here and not as a silent
  // end of input later.
  if (!d.FillInput()) return fail(Describe(path) + ": no audio in the recording");
  return true;
}

int RecordingReader::Channels() const {
  return impl_->channels;
}

int RecordingReader::SourceRate() const {
  return impl_->snd ? impl_->info.samplerate : 0;
}

int64_t RecordingReader::SourceFrames() const {
  const Impl& d = *impl_;
  if (!d.snd || d.fromPipe || d.info.frames < 0 || d.info.frames == SF_COUNT_MAX) return 0;
  return d.info.frames;
}

int RecordingReader::Read(int16_t* out, int frames) {
  Impl& d = *impl_;
  if (!d.snd || !out || frames <= 0) return 0;
  const int ch = d.channels;
  int done = 0;
  while (done < frames) {
    const float* from = nullptr;
    int n = 0;
    if (!d.soxr) {
      if (d.inputPos == d.inputLen && !d.FillInput()) break;
      n = std::min(frames - done, d.inputLen - d.inputPos);
      from = d.input.data() + static_cast<size_t>(d.inputPos) * ch;
      d.inputPos += n;
    } else {
      if (d.outputPos == d.outputLen && !d.Resample()) break;
      n = std::min(frames - done, d.outputLen - d.outputPos);
      from = d.output.data() + static_cast<size_t>(d.outputPos) * ch;
      d.outputPos += n;
    }
    ToInt16(from, out + static_cast<size_t>(done) * ch, static_cast<size_t>(n) * ch);
    done += n;
  }
  return done;
}

bool RecordingReader::Rewind() {
  Impl& d = *impl_;
  if (!d.snd || !d.seekable) return false;
  if (sf_seek(d.snd, 0, SEEK_SET) != 0) return false;
  if (d.soxr && soxr_clear(d.soxr) != nullptr) return false;
  d.ResetStream();
  return true;
}

const std::string& RecordingReader::Path() const {
  return impl_->path;
}

}  // namespace kestrix
