#include "render/graphics.h"

#include "assets/disk.h"
#include "assets/pictures.h"
#include "codecs/picture.h"
#include "platform/blocks.h"
#include "render/font.h"
#include "render/framebuffer.h"
#include "render/menu_bars.h"

uint32_t* LogoPicture = nullptr;
uint32_t* SpritePicture = nullptr;

void prepare_graphics() {
  Framebuffer.pixels = static_cast<uint32_t*>(alloc_block(static_cast<size_t>(Framebuffer.byte_size)));
  LogoPicture = static_cast<uint32_t*>(alloc_block(LogoWidth * LogoHeight * 4));
  SpritePicture = static_cast<uint32_t*>(alloc_block(SpriteSize * SpriteSize * 4));
  build_font();  // also makes the scroller's strip
  // Rows 0 to 7 stay black for the whole show: nothing draws there, and the block comes
  // zero-filled.
  // Each stream from a fresh reader; a picture that does not decode stays black.
  const CustomDiskRecord* disk = CustomDisk;
  decode_picture_stream(disk ? disk->logo : LogoStream, disk ? disk->logoBytes : LogoStream_size, LogoPicture,
                        LogoWidth, LogoHeight, 22);
  decode_picture_stream(disk ? disk->sprite : SpriteStream, disk ? disk->spriteBytes : SpriteStream_size,
                        SpritePicture, SpriteSize, SpriteSize, 22);
  // One image per tune (and the silent choice), then one per link.
  render_menu_bar_images();
}
