// Any bytes as a picture stream, decoded the way the show does into a small picture and
// as planes sized from the stream's own header.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "codecs/picture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static uint32_t pixels[64 * 48];
  decode_picture_stream(data, size, pixels, 64, 48, 22);

  PictureDecoder decoder;
  if (parse_picture_headers(decoder, data, size) == 1 && decoder.picture.macroblocks <= 64) {
    const size_t luma = static_cast<size_t>(decoder.picture.macroblocks) * 256;
    std::vector<int32_t> y(luma), cb(luma / 4), cr(luma / 4);
    decode_picture_planes(decoder, {y.data(), cb.data(), cr.data()});
  }
  return 0;
}
