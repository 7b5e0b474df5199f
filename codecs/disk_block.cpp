#include "codecs/disk_block.h"

#include <array>
#include <cstring>

namespace {

constexpr char HeaderMagic[9] = "MDISKHDR";
constexpr char TrailerMagic[9] = "MDISKEND";
constexpr size_t MagicBytes = 8;

constexpr std::array<uint32_t, 256> make_crc_table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
constexpr std::array<uint32_t, 256> CrcTable = make_crc_table();

void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void set_u32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get_u32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
bool is_magic(const uint8_t* p, const char* magic) { return std::memcmp(p, magic, MagicBytes) == 0; }

struct Piece {
  DiskPieceKind kind;
  std::span<const uint8_t> bytes;
};

std::span<const uint8_t> bytes_of(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

}  // namespace

uint32_t disk_crc32(std::span<const uint8_t> bytes, uint32_t crc) {
  crc = ~crc;
  for (uint8_t b : bytes) crc = CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

std::vector<uint8_t> encode_disk_block(const DiskPieces& pieces) {
  std::vector<uint8_t> font;
  if (pieces.font.width != 0) {
    font.push_back(static_cast<uint8_t>(pieces.font.width));
    font.push_back(static_cast<uint8_t>(pieces.font.width >> 8));
    font.push_back(static_cast<uint8_t>(pieces.font.height));
    font.push_back(static_cast<uint8_t>(pieces.font.height >> 8));
    font.insert(font.end(), pieces.font.levels.begin(), pieces.font.levels.end());
  }

  std::vector<Piece> list;
  for (const std::vector<uint8_t>& tune : pieces.tunes) list.push_back({DiskPieceKind::Tune, tune});
  for (const std::string& label : pieces.tuneLabels) list.push_back({DiskPieceKind::TuneLabel, bytes_of(label)});
  list.push_back({DiskPieceKind::SilenceLabel, bytes_of(pieces.silenceLabel)});
  for (const std::string& label : pieces.linkLabels) list.push_back({DiskPieceKind::LinkLabel, bytes_of(label)});
  for (const std::string& address : pieces.linkAddresses)
    list.push_back({DiskPieceKind::LinkAddress, bytes_of(address)});
  list.push_back({DiskPieceKind::Logo, pieces.logo});
  list.push_back({DiskPieceKind::Sprite, pieces.sprite});
  if (!font.empty()) list.push_back({DiskPieceKind::FontStrip, font});
  list.push_back({DiskPieceKind::ScrollText, pieces.scrollText});

  std::vector<uint8_t> out(DiskBlockHeaderBytes);
  std::memcpy(out.data(), HeaderMagic, MagicBytes);
  set_u32(out, 8, DiskBlockVersion);
  set_u32(out, 16, static_cast<uint32_t>(list.size()));

  size_t offset = DiskBlockHeaderBytes + list.size() * DiskBlockEntryBytes;
  for (const Piece& piece : list) {
    put_u32(out, static_cast<uint32_t>(piece.kind));
    put_u32(out, static_cast<uint32_t>(offset));
    put_u32(out, static_cast<uint32_t>(piece.bytes.size()));
    offset += piece.bytes.size();
  }
  for (const Piece& piece : list) out.insert(out.end(), piece.bytes.begin(), piece.bytes.end());

  const uint32_t total = static_cast<uint32_t>(out.size() + DiskBlockTrailerBytes);
  set_u32(out, 12, total);
  set_u32(out, 20, disk_crc32(std::span(out).first(20)));
  const uint32_t crc = disk_crc32(out);
  put_u32(out, DiskBlockVersion);
  put_u32(out, total);
  put_u32(out, crc);
  put_u32(out, 0);
  out.resize(out.size() + MagicBytes);
  std::memcpy(out.data() + out.size() - MagicBytes, TrailerMagic, MagicBytes);
  return out;
}

namespace {

std::string damaged_place(DiskBlockPlace& place, std::string why) {
  place.status = DiskBlockStatus::Damaged;
  place.error = std::move(why);
  return place.error;
}

bool header_is_whole(const uint8_t* p) {
  return is_magic(p, HeaderMagic) && get_u32(p + 20) == disk_crc32(std::span(p, 20));
}

// A block whose trailer is gone: the last header in the file that checks out, if any. The
// header's own checksum keeps this program's copy of the magic from counting.
void look_for_cut_block(std::span<const uint8_t> file, DiskBlockPlace& place) {
  if (file.size() < DiskBlockHeaderBytes) return;
  for (size_t at = file.size() - DiskBlockHeaderBytes + 1; at-- > 0;) {
    if (file[at] != static_cast<uint8_t>(HeaderMagic[0]) || !header_is_whole(file.data() + at)) continue;
    const uint64_t total = get_u32(file.data() + at + 12);
    const uint64_t there = file.size() - at;
    if (total > there)
      damaged_place(place, "the block is cut short: " + std::to_string(there) + " of its " + std::to_string(total) +
                               " bytes are there");
    else
      damaged_place(place, "the block's trailer is missing or damaged");
    return;
  }
}

}  // namespace

size_t disk_block_size_in_trailer(std::span<const uint8_t> last_bytes) {
  if (last_bytes.size() != DiskBlockTrailerBytes || !is_magic(last_bytes.data() + DiskBlockTrailerBytes - MagicBytes, TrailerMagic))
    return 0;
  return get_u32(last_bytes.data() + 4);
}

bool holds_disk_block_header(std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  const uint8_t* const end = p + bytes.size();
  while (static_cast<size_t>(end - p) >= DiskBlockHeaderBytes) {
    p = static_cast<const uint8_t*>(std::memchr(p, HeaderMagic[0], static_cast<size_t>(end - p) - DiskBlockHeaderBytes + 1));
    if (p == nullptr) return false;
    if (header_is_whole(p)) return true;
    ++p;
  }
  return false;
}

DiskBlockPlace locate_disk_block(std::span<const uint8_t> file) {
  DiskBlockPlace place;
  const size_t size = file.size();
  if (size < DiskBlockTrailerBytes || !is_magic(file.data() + size - MagicBytes, TrailerMagic)) {
    look_for_cut_block(file, place);
    return place;
  }
  const uint8_t* trailer = file.data() + size - DiskBlockTrailerBytes;
  const uint32_t version = get_u32(trailer);
  if (version != DiskBlockVersion) {
    damaged_place(place, "the block is of version " + std::to_string(version) + ", this program reads version " +
                             std::to_string(DiskBlockVersion));
    return place;
  }
  const uint64_t total = get_u32(trailer + 4);
  if (total < DiskBlockHeaderBytes + DiskBlockTrailerBytes || total > size) {
    damaged_place(place, "the block gives its size as " + std::to_string(total) + " bytes, but the file holds " +
                             std::to_string(size));
    return place;
  }
  const size_t offset = size - static_cast<size_t>(total);
  const uint8_t* header = file.data() + offset;
  if (!header_is_whole(header) || get_u32(header + 8) != version || get_u32(header + 12) != total) {
    damaged_place(place, "the block's header is missing or damaged");
    return place;
  }
  if (get_u32(trailer + 12) != 0) {
    damaged_place(place, "the block's trailer is damaged");
    return place;
  }
  const uint32_t crc = disk_crc32(file.subspan(offset, static_cast<size_t>(total) - DiskBlockTrailerBytes));
  if (crc != get_u32(trailer + 8)) {
    damaged_place(place, "the block's checksum does not match its contents");
    return place;
  }
  place.status = DiskBlockStatus::Found;
  place.offset = offset;
  place.size = static_cast<size_t>(total);
  return place;
}

namespace {

const char* kind_name(uint32_t kind) {
  switch (static_cast<DiskPieceKind>(kind)) {
    case DiskPieceKind::Tune: return "tune";
    case DiskPieceKind::TuneLabel: return "tune label";
    case DiskPieceKind::SilenceLabel: return "silence label";
    case DiskPieceKind::LinkLabel: return "link label";
    case DiskPieceKind::LinkAddress: return "link address";
    case DiskPieceKind::Logo: return "logo";
    case DiskPieceKind::Sprite: return "sprite";
    case DiskPieceKind::FontStrip: return "font strip";
    case DiskPieceKind::ScrollText: return "scroll text";
  }
  return nullptr;
}

std::string text_of(std::span<const uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// The piece table, once the frame is known to be whole.
std::string read_pieces(std::span<const uint8_t> block, DiskPieces& pieces) {
  constexpr uint32_t MostPieces = 2 * DiskMaxTunes + 1 + 2 * DiskMaxLinks + 4;
  const uint32_t count = get_u32(block.data() + 16);
  const uint64_t dataStart = DiskBlockHeaderBytes + uint64_t{count} * DiskBlockEntryBytes;
  const uint64_t dataEnd = block.size() - DiskBlockTrailerBytes;
  if (count > MostPieces || dataStart > dataEnd)
    return "the block's piece table (" + std::to_string(count) + " pieces) does not fit the block";

  int logos = 0, sprites = 0, fonts = 0, texts = 0, silences = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* entry = block.data() + DiskBlockHeaderBytes + i * DiskBlockEntryBytes;
    const uint32_t kind = get_u32(entry);
    const uint64_t offset = get_u32(entry + 4);
    const uint64_t length = get_u32(entry + 8);
    const char* name = kind_name(kind);
    if (!name) return "piece " + std::to_string(i + 1) + " is of an unknown kind (" + std::to_string(kind) + ")";
    if (offset < dataStart || offset + length > dataEnd)
      return std::string(name) + " (piece " + std::to_string(i + 1) + ") lies outside the block";
    const std::span<const uint8_t> bytes = block.subspan(static_cast<size_t>(offset), static_cast<size_t>(length));
    switch (static_cast<DiskPieceKind>(kind)) {
      case DiskPieceKind::Tune:
        if (pieces.tunes.size() == DiskMaxTunes) return "the block holds more than 13 tunes";
        if (length < 8 || uint64_t{get_u32(bytes.data())} + get_u32(bytes.data() + 4) != length - 8)
          return "tune " + std::to_string(pieces.tunes.size() + 1) + ": its sizes do not match its length";
        pieces.tunes.emplace_back(bytes.begin(), bytes.end());
        break;
      case DiskPieceKind::TuneLabel: pieces.tuneLabels.push_back(text_of(bytes)); break;
      case DiskPieceKind::SilenceLabel: pieces.silenceLabel = text_of(bytes), ++silences; break;
      case DiskPieceKind::LinkLabel:
        if (pieces.linkLabels.size() == DiskMaxLinks) return "the block holds more than 17 links";
        pieces.linkLabels.push_back(text_of(bytes));
        break;
      case DiskPieceKind::LinkAddress: pieces.linkAddresses.push_back(text_of(bytes)); break;
      case DiskPieceKind::Logo: pieces.logo.assign(bytes.begin(), bytes.end()), ++logos; break;
      case DiskPieceKind::Sprite: pieces.sprite.assign(bytes.begin(), bytes.end()), ++sprites; break;
      case DiskPieceKind::FontStrip: {
        ++fonts;
        if (length < 4) return "the font strip is cut short";
        DiskFontStrip& font = pieces.font;
        font.width = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
        font.height = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
        if (font.width == 0 || font.height == 0 || uint64_t{font.width} * font.height != length - 4)
          return "the font strip's size (" + std::to_string(font.width) + " x " + std::to_string(font.height) +
                 ") does not match its " + std::to_string(length - 4) + " bytes of levels";
        font.levels.assign(bytes.begin() + 4, bytes.end());
        break;
      }
      case DiskPieceKind::ScrollText: pieces.scrollText.assign(bytes.begin(), bytes.end()), ++texts; break;
    }
  }
  if (pieces.tunes.empty()) return "the block holds no tune";
  if (pieces.tuneLabels.size() != pieces.tunes.size())
    return "the block holds " + std::to_string(pieces.tunes.size()) + " tunes but " +
           std::to_string(pieces.tuneLabels.size()) + " tune labels";
  if (pieces.linkLabels.empty()) return "the block holds no link";
  if (pieces.linkAddresses.size() != pieces.linkLabels.size())
    return "the block holds " + std::to_string(pieces.linkLabels.size()) + " link labels but " +
           std::to_string(pieces.linkAddresses.size()) + " link addresses";
  if (silences != 1) return "the block holds " + std::to_string(silences) + " silence labels instead of one";
  if (logos != 1 || sprites != 1 || texts != 1 || fonts > 1)
    return "the block holds " + std::to_string(logos) + " logos, " + std::to_string(sprites) + " sprites, " +
           std::to_string(texts) + " scroll texts and " + std::to_string(fonts) +
           " font strips (one each, the font strip optional)";
  return {};
}

}  // namespace

DiskBlockRead read_disk_block(std::span<const uint8_t> file) {
  DiskBlockRead result;
  const DiskBlockPlace place = locate_disk_block(file);
  result.status = place.status;
  result.error = place.error;
  if (place.status != DiskBlockStatus::Found) return result;
  std::string error = read_pieces(file.subspan(place.offset, place.size), result.pieces);
  if (!error.empty()) {
    result.status = DiskBlockStatus::Damaged;
    result.error = std::move(error);
    result.pieces = {};
  }
  return result;
}
