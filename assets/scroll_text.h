// The scroller's text: code page 437 bytes, NUL-terminated. Made at build time from the
// UTF-8 source assets/scroll_text.txt.
#pragma once

extern const unsigned char ScrollText[];
