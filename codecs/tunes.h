// Tune assembly: builds the module images of the thirteen built-in tunes at start-up from
// their stored parts and compressed sample streams.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int TuneCount = 13;
constexpr size_t TuneImageBytes = 409600;  // one image buffer per tune

// One built-in tune as the program's data holds it.
struct StoredTune {
  const uint8_t* stored;   // the image without its decoded samples; begins with "QKB" and a zero byte
  uint32_t storedLength;   // L; the decoded samples go at offset L
  const uint8_t* stream;   // the compressed sample stream
};

// The thirteen tunes, tune n in entry n - 1. Content, not code: the program's data defines
// this table (tests define their own).
extern const StoredTune StoredTunes[TuneCount];

// Module image addresses by tune number: slots 1..13 once assembled, slot 0 never used.
// Each image is a TuneImageBytes buffer that lives for the rest of the run.
extern uint8_t* tune_images[TuneCount + 1];

// For n = 1..13 (1..the tune count of a disk from a block, assets/disk.h): allocates a zero-filled buffer, copies the stored part to its start,
// decodes the samples directly after it and records the buffer in slot n. Any other n does
// nothing. When the buffer cannot be had the block-failure handler runs (the show's ends the
// process); should it return, the slot stays empty. A tune whose stored part and decoded
// samples would not fit the buffer is not assembled either.
void assemble_tune(int n);

// Gives back every assembled image and empties the slots, for callers that run the show
// more than once in one process.
void free_tune_images();
