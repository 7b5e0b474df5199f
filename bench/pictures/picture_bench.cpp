// Decoding the 640 x 128 logo stream: ours (as the show does it, and planes only) beside
// libavcodec's MPEG-1 decoder on the same bytes in the same process, single-threaded.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
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
  std::vector<uint32_t> pixels(640 * 128);
  for (auto _ : state) {
    std::fill(pixels.begin(), pixels.end(), 0u);
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

void BM_Libavcodec(benchmark::State& state) {
  const std::vector<uint8_t>& stream = logo_stream();
  std::vector<uint8_t> padded(stream.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  std::copy(stream.begin(), stream.end(), padded.begin());
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG1VIDEO);
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->thread_count = 1;
  context->flags |= AV_CODEC_FLAG_LOW_DELAY;  // hand out the intra picture at once
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  if (!codec || avcodec_open2(context, codec, nullptr) < 0) {
    state.SkipWithError("cannot open libavcodec's mpeg1video decoder");
  } else {
    for (auto _ : state) {
      packet->data = padded.data();
      packet->size = static_cast<int>(stream.size());
      int result = avcodec_send_packet(context, packet);
      if (result >= 0) result = avcodec_receive_frame(context, frame);
      if (result == AVERROR(EAGAIN)) {  // held back: drain it
        avcodec_send_packet(context, nullptr);
        result = avcodec_receive_frame(context, frame);
        avcodec_flush_buffers(context);
      }
      if (result < 0 || frame->width != 640 || frame->height != 128) {
        state.SkipWithError("libavcodec did not decode the logo stream");
        break;
      }
      benchmark::DoNotOptimize(frame->data[0]);
      av_frame_unref(frame);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
}
BENCHMARK(BM_Libavcodec);

// Prints the usual table, then each of our runs as a ratio of libavcodec's time.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred) times_[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const auto baseline = times_.find("BM_Libavcodec");
    if (baseline == times_.end()) return;
    for (const auto& [name, time] : times_) {
      if (name != baseline->first) {
        std::printf("%s / BM_Libavcodec: %.2f x the time\n", name.c_str(), time / baseline->second);
      }
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (logo_stream().empty()) {
    std::fprintf(stderr, "picture_bench: the embedded logo stream is empty\n");
    return 1;
  }
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
