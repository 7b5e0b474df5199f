#include "driver/disk.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

#include "assets/disk.h"
#include "codecs/picture.h"
#include "codecs/samples.h"
#include "codecs/tunes.h"
#include "platform/blocks.h"
#include "platform/memory.h"
#include "platform/program_file.h"
#include "platform/report.h"
#include "player/module.h"
#include "render/font.h"
#include "render/graphics.h"
#include "render/menu_bars.h"
#include "render/strip_rules.h"

namespace {

// The glyphs a strip must hold: the scroll text may use any code the code page conversion
// gives, up to 238.
constexpr int32_t LastGlyphCode = 238;
// No program with its disk comes near this; a larger file is not read at all.
constexpr long MostDiskFileBytes = 512L << 20;

uint32_t u32_at(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// A packed tune (u32 L, u32 S, stored part, stream) assembled as the show assembles it,
// into `image`: TuneImageBytes, zero-filled. `used` is set to the bytes the tune fills.
std::string tune_problem(const std::vector<uint8_t>& packed, uint8_t* image, size_t& used) {
  const uint32_t length = u32_at(packed.data());
  const uint8_t* stream = packed.data() + 8 + length;
  const size_t streamBytes = packed.size() - 8 - length;
  const SampleStreamInfo info = measure_sample_stream(stream, streamBytes);
  if (info.error != SampleStreamError::None) return "its sample stream is cut short";
  if (info.streamBytes != streamBytes) return "its sample stream ends before its stated size";
  const uint64_t total = uint64_t{length} + info.decodedCount;
  if (total > TuneImageBytes)
    return "it takes " + std::to_string(total) + " bytes once unpacked, " + std::to_string(total - TuneImageBytes) +
           " over its budget of " + std::to_string(TuneImageBytes);
  used = static_cast<size_t>(total);
  std::memcpy(image, packed.data() + 8, length);
  // The walk above has found every group within the stream and the samples within the image.
  decode_samples(TheSampleDecoder, stream, reinterpret_cast<int8_t*>(image + length));
  const ImageCheck check = validate_module_image(image, TuneImageBytes);
  if (check != ImageCheck::Ok) return std::string("invalid module image: ") + image_check_text(check);
  return {};
}

// A picture stream of exactly width x height that decodes into every macroblock.
std::string picture_problem(const std::vector<uint8_t>& stream, int32_t width, int32_t height) {
  PictureDecoder decoder;
  if (parse_picture_headers(decoder, stream.data(), stream.size()) != 1)
    return "not a picture stream (no sequence header and intra picture found)";
  const std::string wanted = std::to_string(width) + " x " + std::to_string(height);
  if (decoder.picture.width != width || decoder.picture.height != height)
    return "the picture is " + std::to_string(decoder.picture.width) + " x " + std::to_string(decoder.picture.height) +
           "; it must be " + wanted;
  // Decoded pixels never set the top byte: a macroblock whose first pixel still holds it
  // was never reached.
  constexpr uint32_t Unreached = 0xFF000000u;
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height, Unreached);
  decode_picture(decoder, pixels.data(), width, height);
  int32_t missing = 0;
  for (int32_t y = 0; y < height; y += 16)
    for (int32_t x = 0; x < width; x += 16) missing += pixels[static_cast<size_t>(y) * width + x] == Unreached;
  if (missing > 0)
    return "the stream ends early: " + std::to_string(missing) + " of " + std::to_string(width / 16 * (height / 16)) +
           " macroblocks are missing";
  return {};
}

// Labels are measured with the disk's own font, built for the purpose and given back.
std::string labels_problem(const DiskPieces& pieces) {
  const FontRecord before = Font;
  if (pieces.font.width != 0)
    build_font_from(FontStripRecord{pieces.font.width, pieces.font.height, pieces.font.levels.data()});
  else
    build_font_from(FontStrip);
  auto check = [](const char* kind, size_t index, const std::string& label, int32_t limit) -> std::string {
    // A zero byte would end the label early: it is one of the codes refused below.
    const std::string problem =
        label.find('\0') != std::string::npos ? "holds code 0" : menu_label_problem(label.c_str(), limit);
    if (problem.empty()) return {};
    return std::string(kind) + (index ? " " + std::to_string(index) : "") + " \"" + printable(label) + "\" " + problem;
  };
  std::string problem;
  for (size_t n = 0; n < pieces.tuneLabels.size() && problem.empty(); ++n)
    problem = check("tune label", n + 1, pieces.tuneLabels[n], TuneLabelLimit);
  if (problem.empty()) problem = check("silence label", 0, pieces.silenceLabel, TuneLabelLimit);
  for (size_t m = 0; m < pieces.linkLabels.size() && problem.empty(); ++m)
    problem = check("link label", m + 1, pieces.linkLabels[m], LinkLabelLimit);
  free_block(Font.pixels);
  Font = before;
  return problem;
}

// Everything but the tunes.
std::string other_pieces_problem(const DiskPieces& pieces) {
  if (std::string problem = picture_problem(pieces.logo, LogoWidth, LogoHeight); !problem.empty())
    return "logo: " + problem;
  if (std::string problem = picture_problem(pieces.sprite, SpriteSize, SpriteSize); !problem.empty())
    return "sprite: " + problem;
  if (pieces.font.width != 0) {
    const StripLevels strip{pieces.font.width, pieces.font.height, pieces.font.levels};
    std::string problem;
    if (!check_strip(strip, LastGlyphCode, problem)) return "font strip: " + problem;
  }
  if (std::string problem = labels_problem(pieces); !problem.empty()) return problem;
  for (size_t m = 0; m < pieces.linkAddresses.size(); ++m) {
    const std::string& address = pieces.linkAddresses[m];
    const std::string problem =
        address.find('\0') != std::string::npos ? "holds code 0" : link_address_problem(address.c_str());
    if (!problem.empty())
      return "link address " + std::to_string(m + 1) + " \"" + printable(address) + "\" " + problem;
  }
  // Line breaks stay in the text (the scroller passes over them); any other code must have
  // a glyph, and one at least must be drawn, or the scroller would look for it forever.
  bool drawn = false;
  for (size_t i = 0; i < pieces.scrollText.size(); ++i) {
    const uint8_t code = pieces.scrollText[i];
    if (code == '\n' || code == '\r') continue;
    if (code < 32 || code > LastGlyphCode)
      return "the scroll text's character " + std::to_string(i + 1) + " (code " + std::to_string(code) +
             ") has no glyph in the font";
    drawn = true;
  }
  if (!drawn) return "the scroll text holds nothing to draw";
  return {};
}

}  // namespace

std::string validate_disk_pieces(const DiskPieces& pieces) {
  std::vector<uint8_t> image(TuneImageBytes);
  for (size_t n = 0; n < pieces.tunes.size(); ++n) {
    std::fill(image.begin(), image.end(), 0);
    size_t used = 0;
    const std::string problem = tune_problem(pieces.tunes[n], image.data(), used);
    if (!problem.empty()) return "tune " + std::to_string(n + 1) + ": " + problem;
  }
  return other_pieces_problem(pieces);
}

namespace {

// The installed disk and everything CustomDisk points into.
struct DiskStore {
  DiskPieces pieces;
  std::vector<uint8_t> scrollText;  // with its terminating zero
  StoredTune tunes[DiskMaxTunes] = {};
  const char* tuneLabels[DiskMaxTunes + 2] = {};
  const char* linkLabels[DiskMaxLinks + 1] = {};
  const char* linkAddresses[DiskMaxLinks + 1] = {};
  FontStripRecord font = {};
  CustomDiskRecord record = {};
  uint8_t* tuneImages[DiskMaxTunes] = {};  // assembled by the check, until the show takes them
};
DiskStore* Installed = nullptr;

std::string TheDiskFile;

}  // namespace

void install_disk(DiskPieces pieces) {
  forget_disk();
  auto* store = new DiskStore;
  store->pieces = std::move(pieces);
  const DiskPieces& p = store->pieces;
  const int32_t tunes = static_cast<int32_t>(p.tunes.size());
  const int32_t links = static_cast<int32_t>(p.linkLabels.size());
  for (int32_t n = 0; n < tunes; ++n) {
    const uint8_t* packed = p.tunes[n].data();
    const uint32_t length = u32_at(packed);
    store->tunes[n] = {packed + 8, length, packed + 8 + length};
  }
  store->tuneLabels[0] = "";
  for (int32_t n = 0; n < tunes; ++n) store->tuneLabels[n + 1] = p.tuneLabels[n].c_str();
  store->tuneLabels[tunes + 1] = p.silenceLabel.c_str();
  store->linkLabels[0] = store->linkAddresses[0] = "";
  for (int32_t m = 0; m < links; ++m) {
    store->linkLabels[m + 1] = p.linkLabels[m].c_str();
    store->linkAddresses[m + 1] = p.linkAddresses[m].c_str();
  }
  store->scrollText = p.scrollText;
  store->scrollText.push_back(0);
  store->font = {p.font.width, p.font.height, p.font.levels.data()};
  store->record = {tunes,
                   store->tunes,
                   store->tuneLabels,
                   links,
                   store->linkLabels,
                   store->linkAddresses,
                   p.logo.data(),
                   p.logo.size(),
                   p.sprite.data(),
                   p.sprite.size(),
                   p.font.width != 0 ? &store->font : nullptr,
                   store->scrollText.data()};
  Installed = store;
  CustomDisk = &store->record;
}

void forget_disk() {
  CustomDisk = nullptr;
  if (Installed != nullptr) {
    for (uint8_t* image : Installed->tuneImages) free_block(image);
  }
  delete Installed;
  Installed = nullptr;
}

std::string load_disk_from(std::span<const uint8_t> file) {
  DiskBlockRead read = read_disk_block(file);
  if (read.status == DiskBlockStatus::None) return {};
  if (read.status == DiskBlockStatus::Damaged) return "damaged disk: " + read.error;
  // Each tune is assembled once: the image its check builds is the one the show plays.
  const DiskPieces& pieces = read.pieces;
  uint8_t* images[DiskMaxTunes] = {};
  auto free_images = [&images] {
    for (uint8_t* image : images) free_block(image);
  };
  std::string problem;
  for (size_t n = 0; n < pieces.tunes.size() && problem.empty(); ++n) {
    images[n] = static_cast<uint8_t*>(alloc_block(TuneImageBytes));
    if (images[n] == nullptr) {
      free_images();
      return "not enough memory for the disk's tunes";
    }
    size_t used = TuneImageBytes;
    problem = tune_problem(pieces.tunes[n], images[n], used);
    if (!problem.empty()) problem = "tune " + std::to_string(n + 1) + ": " + problem;
    // Past the samples the image stays zero and is never written: its pages go back.
    page_trim(images[n], TuneImageBytes, used);
  }
  if (problem.empty()) problem = other_pieces_problem(pieces);
  if (!problem.empty()) {
    free_images();
    return "damaged disk: " + problem;
  }
  install_disk(std::move(read.pieces));
  std::copy(std::begin(images), std::end(images), Installed->tuneImages);
  return {};
}

uint8_t* take_checked_tune(int n) {
  if (Installed == nullptr || n < 1 || n > DiskMaxTunes) return nullptr;
  return std::exchange(Installed->tuneImages[n - 1], nullptr);
}

void set_disk_file(const std::string& path) { TheDiskFile = path; }

namespace {

bool read_range(std::FILE* f, long from, size_t count, std::vector<uint8_t>& bytes) {
  bytes.resize(count);
  return std::fseek(f, from, SEEK_SET) == 0 && std::fread(bytes.data(), 1, count, f) == count;
}

// What the block check needs of a file: the block at its end, found through the trailer.
// The program's own file is megabytes long and is read at every start, so it is not taken
// whole: without a trailer it is only scanned, a piece at a time, for a block's header (a
// block cut short). Only a file that holds something damaged is read whole, for the
// reader to name the fault. False when the file cannot be read.
bool read_block_part(std::FILE* f, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  const long size = std::ftell(f);
  if (size < 0 || size > MostDiskFileBytes) return false;
  const size_t file_size = static_cast<size_t>(size);
  bool whole = false;
  if (file_size >= DiskBlockTrailerBytes) {
    if (!read_range(f, size - static_cast<long>(DiskBlockTrailerBytes), DiskBlockTrailerBytes, bytes)) return false;
    const size_t block = disk_block_size_in_trailer(bytes);
    if (block >= DiskBlockHeaderBytes + DiskBlockTrailerBytes && block <= file_size)
      return read_range(f, size - static_cast<long>(block), block, bytes);
    whole = block != 0;  // a trailer that points outside the file
  }
  if (!whole) {
    // The overlap keeps a header that straddles two pieces whole in one of them.
    constexpr size_t Piece = size_t{1} << 16;
    std::vector<uint8_t> piece(Piece);
    size_t kept = 0;
    if (std::fseek(f, 0, SEEK_SET) != 0) return false;
    for (;;) {
      const size_t got = std::fread(piece.data() + kept, 1, Piece - kept, f);
      if (holds_disk_block_header(std::span(piece.data(), kept + got))) {
        whole = true;
        break;
      }
      if (got < Piece - kept) break;
      kept = DiskBlockHeaderBytes - 1;
      std::memmove(piece.data(), piece.data() + Piece - kept, kept);
    }
    if (std::ferror(f)) return false;
  }
  bytes.clear();
  return !whole || read_range(f, 0, file_size, bytes);
}

}  // namespace

bool load_disk() {
  forget_disk();
  // A tool's disk file must be there; the program's own file may not be readable (the
  // built-in disk then).
  const bool named = !TheDiskFile.empty();
  std::FILE* f = named ? std::fopen(TheDiskFile.c_str(), "rb") : open_own_program_file();
  std::vector<uint8_t> file;
  std::string error;
  if (f == nullptr) {
    if (named) error = "cannot open the disk file " + TheDiskFile;
  } else {
    const bool read = read_block_part(f, file);
    std::fclose(f);
    error = !read ? (named ? "cannot read the disk file " + TheDiskFile : "cannot read the program's own file")
                  : load_disk_from(file);
  }
  if (error.empty()) return true;
  report_error(error.c_str());
  return false;
}
