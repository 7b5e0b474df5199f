// Decoding the 640 x 128 logo stream beside libavcodec's MPEG-1 decoder on the same bytes in
// the same process, single-threaded, in two comparisons:
// - planes: our decoder to Y, Cb, Cr planes against libavcodec's decoder alone;
// - whole path: our decode with the colour conversion and the level stretch into 32-bit pixels,
//   as the show does it, against libavcodec's decode followed by libswscale's conversion of its
//   planes to 32-bit BGRA of the same size.
// libswscale is set up to do what our conversion does: each chroma sample colours its 2 x 2
// group of pixels without interpolation (SWS_POINT; equal sizes take its unscaled YUV to RGB
// converter), full-range BT.601 in and out as our coefficients are, and the level stretch
// folded into its tables as a contrast and brightness correction.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "assets/pictures.h"
#include "codecs/picture.h"

namespace {

const std::vector<uint8_t>& logo_stream() {
  static const std::vector<uint8_t> stream = [] {
    // The logo stream the show embeds, made by the build from assets/pictures/logo.png.
    return std::vector<uint8_t>(LogoStream, LogoStream + LogoStream_size);
  }();
  return stream;
}

void BM_OursAsTheShowDoes(benchmark::State& state) {
  const std::vector<uint8_t>& stream = logo_stream();
  // The show decodes into fresh blocks from the page allocator, which come zeroed as
  // decode_picture_stream asks, and zeroes nothing itself. The logo covers every pixel, so
  // the buffer is zeroed once here and each pass writes all of it, as libswscale's does.
  std::vector<uint32_t> pixels(640 * 128, 0u);
  for (auto _ : state) {
    if (!decode_picture_stream(stream.data(), stream.size(), pixels.data(), 640, 128, 22)) {
      state.SkipWithError("the logo stream does not decode");
      break;
    }
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_OursAsTheShowDoes);

// Like for like with libavcodec: planes out, no colour conversion.
void BM_OursPlanes(benchmark::State& state) {
  const std::vector<uint8_t>& stream = logo_stream();
  std::vector<int32_t> y(640 * 128), cb(320 * 64), cr(320 * 64);
  PictureDecoder decoder;
  for (auto _ : state) {
    if (parse_picture_headers(decoder, stream.data(), stream.size()) != 1) {
      state.SkipWithError("the logo stream does not decode");
      break;
    }
    decode_picture_planes(decoder, {y.data(), cb.data(), cr.data()});
    benchmark::DoNotOptimize(y.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_OursPlanes);

constexpr int Width = 640, Height = 128, BlackLevel = 22;

// libavcodec's decoder on the logo stream, opened once and fed the same packet again and again.
class AvDecoder {
 public:
  AvDecoder() {
    const std::vector<uint8_t>& stream = logo_stream();
    padded_.assign(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    std::copy(stream.begin(), stream.end(), padded_.begin());
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG1VIDEO);
    context_ = avcodec_alloc_context3(codec);
    context_->thread_count = 1;
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;  // hand out the intra picture at once
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    open_ = codec && context_ && avcodec_open2(context_, codec, nullptr) >= 0;
  }
  ~AvDecoder() {
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
  }
  AvDecoder(const AvDecoder&) = delete;
  AvDecoder& operator=(const AvDecoder&) = delete;

  bool open() const { return open_; }

  // The decoded frame, valid until the next call; null when the stream did not decode.
  const AVFrame* decode() {
    av_frame_unref(frame_);
    packet_->data = padded_.data();
    packet_->size = static_cast<int>(logo_stream().size());
    int result = avcodec_send_packet(context_, packet_);
    if (result >= 0) result = avcodec_receive_frame(context_, frame_);
    if (result == AVERROR(EAGAIN)) {  // held back: drain it
      avcodec_send_packet(context_, nullptr);
      result = avcodec_receive_frame(context_, frame_);
      avcodec_flush_buffers(context_);
    }
    if (result < 0 || frame_->width != Width || frame_->height != Height) return nullptr;
    return frame_;
  }

 private:
  std::vector<uint8_t> padded_;
  AVCodecContext* context_ = nullptr;
  AVPacket* packet_ = nullptr;
  AVFrame* frame_ = nullptr;
  bool open_ = false;
};

// libswscale's conversion of libavcodec's planes to 32-bit pixels laid out as ours (blue in the
// lowest byte), with the level stretch v' = (v - black) x 255 / (255 - black) as its contrast
// and brightness correction.
class SwsConverter {
 public:
  explicit SwsConverter(AVPixelFormat source) {
    context_ = sws_getContext(Width, Height, source, Width, Height, AV_PIX_FMT_BGRA, SWS_POINT, nullptr, nullptr,
                              nullptr);
    if (!context_) return;
    const double contrast = 255.0 / (255.0 - BlackLevel);
    // Brightness is given in 1/256 of full scale before the contrast is applied to it.
    const double brightness = -BlackLevel * contrast;
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU601);
    ok_ = sws_setColorspaceDetails(context_, coefficients, 1, coefficients, 1,
                                   static_cast<int>(std::lround(brightness / 256.0 * 65536.0)),
                                   static_cast<int>(std::lround(contrast * 65536.0)), 1 << 16) >= 0;
  }
  ~SwsConverter() { sws_freeContext(context_); }
  SwsConverter(const SwsConverter&) = delete;
  SwsConverter& operator=(const SwsConverter&) = delete;

  bool ok() const { return ok_; }

  void convert(const AVFrame* frame, uint32_t* pixels) {
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(pixels), nullptr, nullptr, nullptr};
    const int strides[4] = {Width * 4, 0, 0, 0};
    sws_scale(context_, frame->data, frame->linesize, 0, Height, planes, strides);
  }

 private:
  SwsContext* context_ = nullptr;
  bool ok_ = false;
};

void BM_Libavcodec(benchmark::State& state) {
  AvDecoder decoder;
  if (!decoder.open()) {
    state.SkipWithError("cannot open libavcodec's mpeg1video decoder");
    return;
  }
  for (auto _ : state) {
    const AVFrame* frame = decoder.decode();
    if (!frame) {
      state.SkipWithError("libavcodec did not decode the logo stream");
      break;
    }
    benchmark::DoNotOptimize(frame->data[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * logo_stream().size()));
}
BENCHMARK(BM_Libavcodec);

// The anchor for the whole path: libavcodec's decode, then libswscale's conversion.
void BM_LibavcodecAndSwscale(benchmark::State& state) {
  AvDecoder decoder;
  const AVFrame* first = decoder.open() ? decoder.decode() : nullptr;
  if (!first) {
    state.SkipWithError("libavcodec did not decode the logo stream");
    return;
  }
  SwsConverter converter(static_cast<AVPixelFormat>(first->format));
  if (!converter.ok()) {
    state.SkipWithError("cannot set up libswscale's conversion");
    return;
  }
  std::vector<uint32_t> pixels(Width * Height);
  for (auto _ : state) {
    const AVFrame* frame = decoder.decode();
    if (!frame) {
      state.SkipWithError("libavcodec did not decode the logo stream");
      break;
    }
    converter.convert(frame, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * logo_stream().size()));
}
BENCHMARK(BM_LibavcodecAndSwscale);

// Prints the usual table, then each comparison as the ratio of the medians of CPU time over
// the repetitions (ours / anchor), with each side's spread: (slowest - fastest) / median.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colours only on a terminal, so that the lines can be picked out of a log.
  RatioReporter() : ConsoleReporter(isatty(fileno(stdout)) ? OO_Defaults : OO_None) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred && run.run_type == Run::RT_Iteration) {
        times_[run.run_name.function_name].push_back(run.GetAdjustedCPUTime());
      }
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    compare("planes", "BM_OursPlanes", "BM_Libavcodec");
    compare("whole path", "BM_OursAsTheShowDoes", "BM_LibavcodecAndSwscale");
  }

 private:
  struct Summary {
    double median, spread;
  };
  static Summary summarise(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    const size_t n = times.size();
    const double median = n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
    return {median, (times.back() - times.front()) / median};
  }
  void compare(const char* what, const std::string& ours, const std::string& anchor) {
    const auto o = times_.find(ours), a = times_.find(anchor);
    if (o == times_.end() || a == times_.end()) return;
    const Summary so = summarise(o->second), sa = summarise(a->second);
    std::printf("%-10s %s %.1f us (spread %.1f%%) / %s %.1f us (spread %.1f%%): %.2f x the time, %zu runs\n", what,
                ours.c_str(), so.median / 1000, so.spread * 100, anchor.c_str(), sa.median / 1000, sa.spread * 100,
                so.median / sa.median, o->second.size());
  }

  std::map<std::string, std::vector<double>> times_;
};

// How closely the whole-path anchor's pixels follow ours (they are not expected to be equal:
// libswscale rounds its own way), so that the comparison is seen to be of the same work.
void print_anchor_agreement() {
  std::vector<uint32_t> ours(Width * Height, 0u), theirs(Width * Height, 0u);
  if (!decode_picture_stream(logo_stream().data(), logo_stream().size(), ours.data(), Width, Height, BlackLevel)) return;
  AvDecoder decoder;
  const AVFrame* frame = decoder.open() ? decoder.decode() : nullptr;
  if (!frame) return;
  SwsConverter converter(static_cast<AVPixelFormat>(frame->format));
  if (!converter.ok()) return;
  converter.convert(frame, theirs.data());
  long total = 0;
  int largest = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    for (int shift = 0; shift < 24; shift += 8) {
      const int d = std::abs(static_cast<int>((ours[i] >> shift) & 0xFF) - static_cast<int>((theirs[i] >> shift) & 0xFF));
      total += d;
      largest = std::max(largest, d);
    }
  }
  std::printf("whole-path anchor against ours: mean |difference| %.2f levels per channel, largest %d\n",
              static_cast<double>(total) / (3.0 * static_cast<double>(ours.size())), largest);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (logo_stream().empty()) {
    std::fprintf(stderr, "picture_bench: the embedded logo stream is empty\n");
    return 1;
  }
  print_anchor_agreement();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
