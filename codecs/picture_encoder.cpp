#include "codecs/picture_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace {

class BitWriter {
 public:
  void put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) put_bit((value >> i) & 1u);
  }
  void put_code(const char* code) {
    for (; *code; ++code) put_bit(*code == '1');
  }
  void align() {
    while (fill_ != 0) put_bit(0);
  }
  void start_code(uint32_t code) {
    align();
    put(code, 32);
  }
  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t bit_count() const { return bytes_.size() * 8 - (fill_ ? 8 - fill_ : 0); }

 private:
  void put_bit(uint32_t bit) {
    if (fill_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<uint8_t>(bytes_.back() | (bit << (7 - fill_)));
    fill_ = (fill_ + 1) & 7;
  }
  std::vector<uint8_t> bytes_;
  int fill_ = 0;
};

// basis[u][x] = C(u) / 2 x cos((2x + 1) u pi / 16), C(0) = 1 / sqrt(2), C(u) = 1 otherwise.
struct DctBasis {
  double b[8][8];
  DctBasis() {
    for (int u = 0; u < 8; ++u) {
      for (int x = 0; x < 8; ++x) {
        const double c = u == 0 ? std::numbers::sqrt2 / 2 : 1.0;
        b[u][x] = c / 2 * std::cos((2 * x + 1) * u * std::numbers::pi / 16);
      }
    }
  }
};
const DctBasis Basis;

// (run, level) to its table code; levels above 40 or runs past 31 always escape.
struct RunLevelCodes {
  const char* code[32][41] = {};
  RunLevelCodes() {
    for (const CoeffCode& c : DctCoeffNext) {
      if (c.kind == CoeffCodeKind::RunLevel) code[c.run][c.level] = c.code;
    }
  }
};
const RunLevelCodes Codes;

void put_dc(BitWriter& out, int block, int32_t differential) {
  const int32_t magnitude = differential < 0 ? -differential : differential;
  int size = 0;
  while ((magnitude >> size) != 0) ++size;
  out.put_code((block < 4 ? DcSizeLuminance : DcSizeChrominance)[size].code);
  if (size > 0) {
    const int32_t v = differential >= 0 ? differential : differential + (1 << size) - 1;
    out.put(static_cast<uint32_t>(v), size);
  }
}

void put_coefficient(BitWriter& out, int run, int32_t level) {
  const int32_t magnitude = level < 0 ? -level : level;
  if (run < 32 && magnitude <= 40 && Codes.code[run][magnitude]) {
    out.put_code(Codes.code[run][magnitude]);
    out.put(level < 0 ? 1 : 0, 1);
    return;
  }
  out.put(0b000001, 6);
  out.put(static_cast<uint32_t>(run), 6);
  if (level >= 128) {
    out.put(0x00, 8);
    out.put(static_cast<uint32_t>(level), 8);
  } else if (level <= -128) {
    out.put(0x80, 8);
    out.put(static_cast<uint32_t>(level + 256), 8);
  } else {
    out.put(static_cast<uint32_t>(level) & 0xFF, 8);
  }
}

// What the decoder makes of level magnitude `magnitude` at weight w and scale q.
int32_t dequantised(int32_t magnitude, int32_t w, int32_t q) {
  if (magnitude == 0) return 0;
  return (((w * magnitude * q) >> 3) - 1) | 1;
}

// The level whose reconstruction lies nearest to the coefficient.
int32_t quantise(double coefficient, int32_t w, int32_t q) {
  const double magnitude = std::fabs(coefficient);
  const auto low = std::min<int32_t>(static_cast<int32_t>(magnitude * 8 / (w * q)), 255);
  const int32_t high = std::min(low + 1, 255);
  const int32_t best =
      std::fabs(dequantised(high, w, q) - magnitude) < std::fabs(dequantised(low, w, q) - magnitude) ? high : low;
  return coefficient < 0 ? -best : best;
}

// The transform of one 8 x 8 block of samples (0..255 scale), centred on mid-grey.
void transform_block(const double* samples, double* coefficients) {
  double centred[64];
  for (int i = 0; i < 64; ++i) centred[i] = samples[i] - 128.0;
  forward_dct_reference(centred, coefficients);
}

// The finest scale at which every level of the block stays within the 255 the syntax allows.
int32_t least_scale(const double* f, const IntraMatrix& matrix) {
  int32_t least = 1;
  for (int position = 1; position < 64; ++position) {
    const double needed = std::fabs(f[ZigZag[position]]) * 8 / (matrix[position] * 255.0);
    least = std::max(least, static_cast<int32_t>(std::ceil(needed)));
  }
  return std::min(least, 31);
}

void encode_block(BitWriter& out, const double* f, int block, DcPredictor& predictor, const IntraMatrix& matrix,
                  int32_t q) {
  const auto mean = static_cast<int32_t>(std::lround(std::clamp(f[0] / 8, -128.0, 127.0)));
  int32_t& p = predictor[block < 4 ? 0 : block - 3];
  put_dc(out, block, mean - p);
  p = mean;
  int run = 0;
  for (int position = 1; position < 64; ++position) {
    const int32_t level = quantise(f[ZigZag[position]], matrix[position], q);
    if (level == 0) {
      ++run;
      continue;
    }
    put_coefficient(out, run, level);
    run = 0;
  }
  out.put_code("10");
}

// Spatial activity of a macroblock: one plus the least variance of its four luminance blocks.
double activity(const std::vector<double>& luma, int32_t width, int32_t mx, int32_t my) {
  double least = 1e30;
  for (int k = 0; k < 4; ++k) {
    double sum = 0, squares = 0;
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        const double v = luma[static_cast<size_t>(16 * my + 8 * (k >> 1) + y) * width + 16 * mx + 8 * (k & 1) + x];
        sum += v;
        squares += v * v;
      }
    }
    least = std::min(least, squares / 64 - (sum / 64) * (sum / 64));
  }
  return 1 + least;
}

}  // namespace

void forward_dct_reference(const double* samples, double* coefficients) {
  double rows[64];
  for (int y = 0; y < 8; ++y) {
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int x = 0; x < 8; ++x) s += Basis.b[u][x] * samples[y * 8 + x];
      rows[y * 8 + u] = s;
    }
  }
  for (int v = 0; v < 8; ++v) {
    for (int u = 0; u < 8; ++u) {
      double s = 0;
      for (int y = 0; y < 8; ++y) s += Basis.b[v][y] * rows[y * 8 + u];
      coefficients[v * 8 + u] = s;
    }
  }
}

void inverse_dct_reference(const double* coefficients, double* samples) {
  double rows[64];
  for (int v = 0; v < 8; ++v) {
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int u = 0; u < 8; ++u) s += Basis.b[u][x] * coefficients[v * 8 + u];
      rows[v * 8 + x] = s;
    }
  }
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      double s = 0;
      for (int v = 0; v < 8; ++v) s += Basis.b[v][y] * rows[v * 8 + x];
      samples[y * 8 + x] = s;
    }
  }
}

IntraMatrix flat_intra_matrix() {
  IntraMatrix m;
  m.fill(16);
  m[0] = 8;
  return m;
}

std::vector<uint8_t> encode_picture(const uint32_t* rgb, int32_t width, int32_t height,
                                    const PictureEncoderOptions& options) {
  const int32_t q = options.quantiserScale;
  if (!rgb || width < 16 || height < 16 || width > 4080 || height > 4080 || width % 16 || height % 16 ||
      q < 1 || q > 31 || options.blackLevel > 254 || options.intraMatrix[0] != 8 ||
      std::find(options.intraMatrix.begin(), options.intraMatrix.end(), 0) != options.intraMatrix.end()) {
    return {};
  }
  const IntraMatrix& matrix = options.writeMatrix ? options.intraMatrix : DefaultIntraMatrix;

  // Undo the level stretch: the show turns v into (v - k) x f, so ask for t / f + k.
  const int32_t k = std::max(options.blackLevel, 0);
  const double f = options.blackLevel < 0 ? 1.0 : static_cast<double>(255.0f / static_cast<float>(255 - k));
  // Invert the decoder's colour conversion: R = Y + a cr, G = Y + b cb + c cr, B = Y + d cb.
  const double a = 11485.0 / 8192, b = -11.0 / 32, c = -2925.0 / 4096, d = 3629.0 / 2048;
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  std::vector<double> red(count), green(count), blue(count), luma(count), cb(count), cr(count);
  for (size_t i = 0; i < count; ++i) {
    const double r = red[i] = static_cast<double>((rgb[i] >> 16) & 0xFF) / f + k;
    const double g = green[i] = static_cast<double>((rgb[i] >> 8) & 0xFF) / f + k;
    const double bl = blue[i] = static_cast<double>(rgb[i] & 0xFF) / f + k;
    const double y = (g - (b / d) * bl - (c / a) * r) / (1 - b / d - c / a);
    luma[i] = y;
    cb[i] = (bl - y) / d;
    cr[i] = (r - y) / a;
  }

  const int32_t columns = width / 16, rows = height / 16;
  std::vector<int32_t> scales(static_cast<size_t>(columns * rows), q);
  if (options.adaptiveQuantiser) {
    std::vector<double> act(scales.size());
    double total = 0;
    for (int32_t my = 0; my < rows; ++my) {
      for (int32_t mx = 0; mx < columns; ++mx) total += act[my * columns + mx] = activity(luma, width, mx, my);
    }
    const double average = total / static_cast<double>(act.size());
    for (size_t i = 0; i < act.size(); ++i) {
      const double n = (2 * act[i] + average) / (act[i] + 2 * average);
      scales[i] = std::clamp(static_cast<int32_t>(std::lround(q * n)), 1, 31);
    }
  }

  BitWriter out;
  out.start_code(0x1B3);
  out.put(static_cast<uint32_t>(width), 12);
  out.put(static_cast<uint32_t>(height), 12);
  out.put(1, 4);        // square pixels
  out.put(3, 4);        // 25 pictures per second
  out.put(0x3FFFF, 18); // variable bit rate
  out.put(1, 1);        // marker
  const size_t vbv_position = out.bit_count();  // the 10-bit buffer size, filled in at the end
  out.put(0, 10);
  out.put(0, 1);  // not constrained parameters
  out.put(options.writeMatrix ? 1 : 0, 1);
  if (options.writeMatrix) {
    for (uint8_t w : matrix) out.put(w, 8);
  }
  out.put(0, 1);  // no non-intra matrix

  out.start_code(0x1B8);
  out.put(0, 1 + 5 + 6);  // drop frame flag, hours, minutes
  out.put(1, 1);          // marker
  out.put(0, 6 + 6);      // seconds, pictures
  out.put(1, 1);          // closed group
  out.put(0, 1);          // no broken link

  out.start_code(0x100);
  out.put(0, 10);      // temporal reference
  out.put(1, 3);       // intra picture
  out.put(0xFFFF, 16); // buffer delay not given
  out.put(0, 1);       // no extra information

  out.start_code(0x101);  // one slice from macroblock row 0
  int32_t current = scales[0];
  out.put(static_cast<uint32_t>(current), 5);
  out.put(0, 1);
  DcPredictor predictor{0, 0, 0};
  double samples[6][64];
  for (int32_t my = 0; my < rows; ++my) {
    for (int32_t mx = 0; mx < columns; ++mx) {
      // Chroma is shared by each 2 x 2 group; each pixel's luminance is then chosen to come
      // closest to its own red, green and blue with that shared chroma.
      for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
          size_t at[4];
          double sb = 0, sr = 0;
          for (int j = 0; j < 4; ++j) {
            at[j] = static_cast<size_t>(16 * my + 2 * y + (j >> 1)) * width + 16 * mx + 2 * x + (j & 1);
            sb += cb[at[j]];
            sr += cr[at[j]];
          }
          const double u = sb / 4, v = sr / 4;
          samples[4][y * 8 + x] = u + 128;
          samples[5][y * 8 + x] = v + 128;
          for (int j = 0; j < 4; ++j) {
            const int ly = 2 * y + (j >> 1), lx = 2 * x + (j & 1);
            const double fitted = ((red[at[j]] - a * v) + (green[at[j]] - b * u - c * v) + (blue[at[j]] - d * u)) / 3;
            samples[(ly >> 3) * 2 + (lx >> 3)][(ly & 7) * 8 + (lx & 7)] = fitted;
          }
        }
      }
      double f[6][64];
      int32_t scale = scales[static_cast<size_t>(my * columns + mx)];
      for (int blk = 0; blk < 6; ++blk) {
        transform_block(samples[blk], f[blk]);
        scale = std::max(scale, least_scale(f[blk], matrix));
      }
      out.put(1, 1);  // address increment 1
      if (scale == current) {
        out.put(1, 1);  // intra
      } else {
        out.put(0b01, 2);  // intra with quantiser
        out.put(static_cast<uint32_t>(scale), 5);
        current = scale;
      }
      for (int blk = 0; blk < 6; ++blk) encode_block(out, f[blk], blk, predictor, matrix, current);
    }
  }
  out.start_code(0x1B7);  // end of sequence

  // The buffer size in units of 16384 bits, rounded up.
  std::vector<uint8_t>& bytes = out.bytes();
  const uint32_t vbv = std::clamp<uint32_t>(static_cast<uint32_t>((bytes.size() * 8 + 16383) / 16384), 1, 1023);
  for (int i = 0; i < 10; ++i) {
    const size_t bit = vbv_position + static_cast<size_t>(i);
    const uint8_t mask = static_cast<uint8_t>(0x80u >> (bit & 7));
    if ((vbv >> (9 - i)) & 1u) bytes[bit / 8] |= mask;
  }
  return std::move(bytes);
}
