// Samples per CPU second of the sample decoder on the thirteen built-in streams, beside
// libavcodec's floating-point MPEG audio layer II decoder on as many samples of the same
// audio (our decoded samples, encoded to layer II in the same process at 44100 Hz mono,
// 192 kbit/s). The step-by-step decode is shown too. Ratios are printed after the table.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "codecs/samples.h"
#include "codecs/tunes.h"
#ifdef MD_HAVE_LIBAVCODEC
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
}
#endif

namespace {

uint32_t stream_blocks(const uint8_t* stream) {
  uint32_t blocks;
  std::memcpy(&blocks, stream, 4);
  return blocks;
}

size_t total_samples() {
  size_t total = 0;
  for (const StoredTune& t : StoredTunes) total += decoded_sample_count(stream_blocks(t.stream));
  return total;
}

template <void (*Decode)(SampleDecoder&, const uint8_t*, int8_t*)>
void decode_all(benchmark::State& state) {
  std::vector<int8_t> out(total_samples());
  for (auto _ : state) {
    int8_t* at = out.data();
    for (const StoredTune& t : StoredTunes) {
      Decode(TheSampleDecoder, t.stream, at);
      at += decoded_sample_count(stream_blocks(t.stream));
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["samples_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * out.size()), benchmark::Counter::kIsRate);
}

void BM_Decode(benchmark::State& state) {
  decode_all<decode_samples>(state);
}
void BM_DecodeStepByStep(benchmark::State& state) {
  decode_all<decode_samples_plain>(state);
}
BENCHMARK(BM_Decode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeStepByStep)->Unit(benchmark::kMillisecond);

#ifdef MD_HAVE_LIBAVCODEC
// Our decoded samples as layer II packets.
std::vector<std::vector<uint8_t>> layer2_packets(size_t& encodedSamples) {
  std::vector<int8_t> ours(total_samples());
  int8_t* at = ours.data();
  for (const StoredTune& t : StoredTunes) {
    decode_samples(TheSampleDecoder, t.stream, at);
    at += decoded_sample_count(stream_blocks(t.stream));
  }
  std::vector<std::vector<uint8_t>> packets;
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MP2);
  AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!context) return packets;
  context->sample_rate = 44100;
  context->sample_fmt = AV_SAMPLE_FMT_S16;
  context->bit_rate = 192000;
  av_channel_layout_default(&context->ch_layout, 1);
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  if (avcodec_open2(context, codec, nullptr) == 0) {
    const size_t frameSize = static_cast<size_t>(context->frame_size);
    encodedSamples = 0;
    for (size_t first = 0; first + frameSize <= ours.size(); first += frameSize) {
      frame->nb_samples = static_cast<int>(frameSize);
      frame->format = AV_SAMPLE_FMT_S16;
      av_channel_layout_copy(&frame->ch_layout, &context->ch_layout);
      frame->sample_rate = 44100;
      av_frame_get_buffer(frame, 0);
      auto* pcm = reinterpret_cast<int16_t*>(frame->data[0]);
      for (size_t i = 0; i < frameSize; ++i) pcm[i] = static_cast<int16_t>(ours[first + i] * 256);
      avcodec_send_frame(context, frame);
      av_frame_unref(frame);
      encodedSamples += frameSize;
      while (avcodec_receive_packet(context, packet) == 0) {
        packets.emplace_back(packet->data, packet->data + packet->size);
        av_packet_unref(packet);
      }
    }
    avcodec_send_frame(context, nullptr);
    while (avcodec_receive_packet(context, packet) == 0) {
      packets.emplace_back(packet->data, packet->data + packet->size);
      av_packet_unref(packet);
    }
  }
  av_packet_free(&packet);
  av_frame_free(&frame);
  avcodec_free_context(&context);
  return packets;
}

void BM_LibavcodecLayer2Float(benchmark::State& state) {
  size_t encoded = 0;
  const std::vector<std::vector<uint8_t>> packets = layer2_packets(encoded);
  const AVCodec* codec = avcodec_find_decoder_by_name("mp2float");
  if (packets.empty() || !codec) {
    state.SkipWithError("no layer II encoder or float decoder in libavcodec");
    return;
  }
  AVCodecContext* context = avcodec_alloc_context3(codec);
  context->thread_count = 1;
  avcodec_open2(context, codec, nullptr);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  size_t decoded = 0;
  for (auto _ : state) {
    decoded = 0;
    for (const std::vector<uint8_t>& bytes : packets) {
      av_new_packet(packet, static_cast<int>(bytes.size()));
      std::memcpy(packet->data, bytes.data(), bytes.size());
      avcodec_send_packet(context, packet);
      av_packet_unref(packet);
      while (avcodec_receive_frame(context, frame) == 0) {
        decoded += static_cast<size_t>(frame->nb_samples);
        benchmark::DoNotOptimize(frame->data[0]);
        av_frame_unref(frame);
      }
    }
  }
  state.counters["samples_s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * decoded), benchmark::Counter::kIsRate);
  state.counters["samples"] = static_cast<double>(decoded);
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&context);
}
BENCHMARK(BM_LibavcodecLayer2Float)->Unit(benchmark::kMillisecond);
#endif

class RateReporter : public benchmark::ConsoleReporter {
 public:
  std::map<std::string, std::vector<double>> rate;
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs)
      if (run.run_type == Run::RT_Iteration && !run.error_occurred && run.counters.count("samples_s"))
        rate[run.run_name.str()].push_back(run.counters.at("samples_s"));
    ConsoleReporter::ReportRuns(runs);
  }
  double median(const std::string& name) {
    std::vector<double> v = rate[name];
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.median("BM_Decode"), plain = reporter.median("BM_DecodeStepByStep"),
               peer = reporter.median("BM_LibavcodecLayer2Float");
  std::printf("\nsamples per CPU second (medians): ours %.1f M, step by step %.1f M, libavcodec layer II float %.1f M\n",
              ours / 1e6, plain / 1e6, peer / 1e6);
  if (ours > 0 && peer > 0) std::printf("  speed relative to libavcodec's float layer II decoder: %.3f\n", ours / peer);
  if (ours > 0 && plain > 0) std::printf("  speed relative to the step-by-step decode: %.3f\n", ours / plain);
  benchmark::Shutdown();
  return 0;
}
