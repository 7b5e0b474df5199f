#include "tools/samplecodec/tune_pack.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "codecs/samples.h"
#include "player/module.h"
#include "tools/playback/tune_render.h"

namespace {

constexpr size_t HeaderBlockBytes = 0x2750;  // fixed header, order table, three offset tables
constexpr uint16_t DeltaCodedFlag = 1u << 2;

uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

bool has_magic(std::span<const uint8_t> bytes) {
  return bytes.size() >= 4 && bytes[0] == 'Q' && bytes[1] == 'K' && bytes[2] == 'B' && bytes[3] == 0;
}

TunePackResult refuse(TunePackError error, std::string message) {
  TunePackResult r;
  r.error = error;
  r.message = std::move(message);
  return r;
}

void pad_to_4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}

}  // namespace

TunePackResult pack_tune(std::span<const uint8_t> image, const SampleEncoderSettings& settings) {
  if (image.size() < HeaderBlockBytes || !has_magic(image)) {
    return refuse(TunePackError::NotAnImage, "not a module image (no \"QKB\" header block)");
  }
  const uint16_t flags = static_cast<uint16_t>(image[0x1A] | image[0x1B] << 8);
  if ((flags & DeltaCodedFlag) != 0) {
    return refuse(TunePackError::DeltaCoded, "sample data is delta-coded (flags bit 2); built-in tunes carry plain samples");
  }
  const uint32_t area = get_u32(&image[0x1C]);
  const uint32_t size8 = get_u32(&image[0x20]);
  const uint32_t size16 = get_u32(&image[0x24]);
  if (size16 != 0) {
    return refuse(TunePackError::SixteenBitData,
                  std::to_string(size16) + " values of 16-bit sample data; built-in tunes carry 8-bit data only");
  }
  if (area < HeaderBlockBytes || area > image.size() || size8 > image.size() - area || size8 < 2) {
    return refuse(TunePackError::BadSampleArea, "sample area (offset " + std::to_string(area) + ", " +
                                                    std::to_string(size8) + " bytes) does not lie in the " +
                                                    std::to_string(image.size()) + "-byte image");
  }
  for (size_t i = area + size8; i < image.size(); ++i) {
    if (image[i] != 0) {
      return refuse(TunePackError::BadSampleArea,
                    "data after the sample area (offset " + std::to_string(i) + ") would be lost");
    }
  }
  if (image[area] != 0 || image[area + 1] != 0) {
    return refuse(TunePackError::AreaStartNotZero, "the sample area must begin with two zero samples");
  }

  TunePackResult r;
  PackedTune& tune = r.tune;
  const size_t length = area + 2;
  tune.stored.assign(image.begin(), image.begin() + static_cast<ptrdiff_t>(length));
  std::vector<int8_t> signal(size8);  // the area's samples after the two zeros, then two zeros
  std::memcpy(signal.data(), image.data() + length, size8 - 2);
  signal[size8 - 2] = signal[size8 - 1] = 0;
  tune.samples = encode_samples(signal, settings);
  tune.used = length + tune.samples.decodedCount;
  if (tune.used > TuneImageBytes) {
    return refuse(TunePackError::TooLarge, "the image needs " + std::to_string(tune.used) + " bytes, " +
                                               std::to_string(tune.used - TuneImageBytes) + " more than the " +
                                               std::to_string(TuneImageBytes) + " of a tune's buffer");
  }
  // Assembled as the show does it, with the real decoder.
  tune.image.assign(TuneImageBytes, 0);
  std::memcpy(tune.image.data(), tune.stored.data(), length);
  decode_samples_checked(TheSampleDecoder, tune.samples.stream.data(), tune.samples.stream.size(),
                         reinterpret_cast<int8_t*>(tune.image.data() + length), TuneImageBytes - length);
  return r;
}

std::string describe_packed_tune(const PackedTune& tune) {
  return "stored " + std::to_string(tune.stored.size()) + "  blocks " + std::to_string(tune.samples.blocks) +
         "  groups " + std::to_string(tune.samples.groups) + "  stream " +
         std::to_string(tune.samples.stream.size()) + "  decoded " + std::to_string(tune.samples.decodedCount) +
         "  used " + std::to_string(tune.used);
}

std::vector<uint8_t> packed_tune_file(const PackedTune& tune) {
  std::vector<uint8_t> out;
  put_u32(out, static_cast<uint32_t>(tune.stored.size()));
  put_u32(out, static_cast<uint32_t>(tune.samples.stream.size()));
  out.insert(out.end(), tune.stored.begin(), tune.stored.end());
  out.insert(out.end(), tune.samples.stream.begin(), tune.samples.stream.end());
  return out;
}

std::optional<PackedTuneView> read_packed_tune_file(std::span<const uint8_t> file) {
  if (file.size() < 8) return std::nullopt;
  const uint64_t length = get_u32(file.data());
  const uint64_t stream = get_u32(file.data() + 4);
  if (length + stream != file.size() - 8) return std::nullopt;
  PackedTuneView view{file.subspan(8, length), file.subspan(8 + length, stream)};
  if (!has_magic(view.stored)) return std::nullopt;
  const SampleStreamInfo info = measure_sample_stream(view.stream.data(), view.stream.size());
  if (info.error != SampleStreamError::None || info.streamBytes != view.stream.size()) return std::nullopt;
  if (length + info.decodedCount > TuneImageBytes) return std::nullopt;
  return view;
}

TuneDataLayout lay_out_tune_data(std::span<const PackedTuneView, TuneCount> tunes) {
  TuneDataLayout layout;
  std::vector<uint8_t>& out = layout.bytes;
  for (int i = 0; i < TuneCount; ++i) {
    layout.storedOffset[i] = static_cast<uint32_t>(out.size());
    layout.storedLength[i] = static_cast<uint32_t>(tunes[i].stored.size());
    out.insert(out.end(), tunes[i].stored.begin(), tunes[i].stored.end());
    pad_to_4(out);
    put_u32(out, layout.storedLength[i]);
  }
  for (int i = 0; i < TuneCount; ++i) {
    layout.streamOffset[i] = static_cast<uint32_t>(out.size());
    out.insert(out.end(), tunes[i].stream.begin(), tunes[i].stream.end());
    pad_to_4(out);
  }
  return layout;
}

std::string tune_data_source(const TuneDataLayout& layout) {
  std::string s;
  s.reserve(layout.bytes.size() * 5 + 4096);
  s += "// Made by md-embed from the packed tunes; not edited by hand.\n";
  s += "#include \"codecs/tunes.h\"\n\nnamespace {\n";
  s += "alignas(4) const uint8_t TuneData[" + std::to_string(layout.bytes.size()) + "] = {";
  for (size_t i = 0; i < layout.bytes.size(); ++i) {
    if (i % 24 == 0) s += "\n";
    s += std::to_string(layout.bytes[i]);
    s += ',';
  }
  s += "\n};\n}  // namespace\n\nconst StoredTune StoredTunes[TuneCount] = {\n";
  for (int i = 0; i < TuneCount; ++i) {
    s += "    {TuneData + " + std::to_string(layout.storedOffset[i]) + ", " + std::to_string(layout.storedLength[i]) +
         ", TuneData + " + std::to_string(layout.streamOffset[i]) + "},\n";
  }
  s += "};\n";
  return s;
}

SampleEncoderSettings settings_for_quality(int quality) {
  SampleEncoderSettings settings;
  settings.bitCost = 4.0 * std::pow(2.0, 5 - quality);
  return settings;
}

namespace {

double snr_of(const uint8_t* reference, const uint8_t* test, size_t n) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < n; ++i) {
    const double r = static_cast<int8_t>(reference[i]), d = r - static_cast<int8_t>(test[i]);
    signal += r * r;
    noise += d * d;
  }
  if (noise == 0) return std::numeric_limits<double>::infinity();
  return 10 * std::log10(std::max(signal, 1e-9) / noise);
}

}  // namespace

PackFidelity measure_pack_fidelity(std::span<const uint8_t> image, const PackedTune& tune) {
  PackFidelity f;
  const uint8_t* base = image.data();
  const uint32_t area = get_u32(base + HeaderSampleDataOffset);
  const uint32_t size8 = get_u32(base + HeaderSampleData8Size);
  const uint32_t instruments = get_u32(base + HeaderInstrumentCount);
  for (uint32_t k = 0; k < instruments && k < MaxInstruments; ++k) {
    const uint32_t at = get_u32(base + InstrumentTableOffset + 4 * k);
    if (at == 0 || at + InstrumentRecordSize > image.size()) continue;
    const uint32_t count = get_u32(base + at + InstrumentSampleCount);
    for (uint32_t s = 0; s < count && at + InstrumentRecordSize + (s + 1) * SampleRecordSize <= image.size(); ++s) {
      const SampleRecord r = read_sample_record(base + at, s);
      const uint32_t offset = get_u32(base + SampleTableOffset + 4 * r.dataIndex);
      if (offset < area || offset + uint64_t{r.end} > uint64_t{area} + size8) continue;
      f.samples.push_back({k + 1, s, r.end, snr_of(base + offset, tune.image.data() + offset, r.end)});
    }
  }
  f.allSamplesSnrDb = snr_of(base + area, tune.image.data() + area, size8);
  std::vector<uint8_t> unpacked(image.begin(), image.end()), packed = tune.image;
  const RenderResult a = render_image(unpacked, {}), b = render_image(packed, {});
  f.tuneSnrDb = snr_db(a.frames, b.frames);
  f.passSeconds = static_cast<double>(a.frames.size() / 2) / 44100.0;
  f.passEnded = a.passEnded;
  return f;
}

std::string describe_pack_fidelity(const PackFidelity& f) {
  std::string s;
  char line[160];
  for (const SampleFidelity& x : f.samples) {
    std::snprintf(line, sizeof line, "  instrument %2u sample %u  %6u frames  SNR %5.1f dB\n", x.instrument, x.sample,
                  x.frames, x.snrDb);
    s += line;
  }
  std::snprintf(line, sizeof line, "  all samples SNR %.1f dB; one pass (%.1f s%s) packed against unpacked SNR %.1f dB\n",
                f.allSamplesSnrDb, f.passSeconds, f.passEnded ? "" : ", cut at the limit", f.tuneSnrDb);
  s += line;
  return s;
}
