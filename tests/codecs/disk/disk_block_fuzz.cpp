// Untrusted disk blocks through the reader and the checks of every piece. Most changes to a
// block only break its checksums, so each input is read twice: as it is, and with its
// checksums made right again, which lets the table and the pieces be reached. A block that
// passes both is installed and taken back; nothing may crash or read outside the input.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "codecs/disk_block.h"
#include "driver/disk.h"

namespace {

void set_u32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void read_and_check(const std::vector<uint8_t>& file) {
  DiskBlockRead read = read_disk_block(file);
  if (read.status == DiskBlockStatus::Damaged && read.error.empty()) std::abort();
  if (read.status != DiskBlockStatus::Found) return;
  if (!validate_disk_pieces(read.pieces).empty()) return;
  install_disk(std::move(read.pieces));
  forget_disk();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> file(data, data + size);
  read_and_check(file);
  // The checksums made right, for a block whose trailer names a size inside the input.
  if (size < DiskBlockHeaderBytes + DiskBlockTrailerBytes) return 0;
  const size_t trailer = size - DiskBlockTrailerBytes;
  const uint64_t total = disk_block_size_in_trailer(std::span(file).subspan(trailer));
  if (total < DiskBlockHeaderBytes + DiskBlockTrailerBytes || total > size) return 0;
  const size_t start = size - static_cast<size_t>(total);
  set_u32(file, start + 20, disk_crc32(std::span(file).subspan(start, 20)));
  set_u32(file, trailer + 8, disk_crc32(std::span(file).subspan(start, trailer - start)));
  read_and_check(file);
  return 0;
}
