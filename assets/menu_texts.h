// The menu entries: tune labels, link labels and the links' web addresses. Entry 0 of each
// table is an empty text; labels use codes 32 to 127, '#' standing for e with acute accent.
#pragma once

extern const char* const TuneLabels[15];     // 1..13 the tunes, 14 silence
extern const char* const LinkLabels[18];     // 1..17
extern const char* const LinkAddresses[18];  // 1..17
