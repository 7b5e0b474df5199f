// The menu bar images: one picture per menu entry, rendered once at start-up (label and
// brackets drawn with the font, then shrunk to 70 percent width and 42 rows with bilinear
// filtering), and added into the frame each frame, the focused bar at double brightness.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// A bar image: Framebuffer.width x 60 prepared pixels (row length width). The label and
// brackets fill rows 0 to 41; everything else is 0.
constexpr int32_t BarImageRows = 60;
constexpr int32_t BarShrunkRows = 42;
constexpr int32_t BarOverlayRows = 50;

// Entries 1 to 14 (tunes, 14 the silent choice) and 1 to 17 (links); entry 0 is unused. A
// disk of fewer tunes or links fills fewer: its silence entry follows its last tune.
extern uint32_t* TuneBarImages[15];
extern uint32_t* LinkBarImages[18];

// The bracket frames drawn around every label: '<', 33 or 27 spaces, '>'.
inline constexpr const char* TuneBarFrame = "<                                 >";
inline constexpr const char* LinkBarFrame = "<                           >";

// Frame rows of the two overlays.
constexpr int32_t TuneBarRow = 140;
constexpr int32_t LinkBarRow = 170;

// A new image (from alloc_block) with `label` and `frame` drawn, shrunk and prepared.
uint32_t* render_bar_image(const char* label, const char* frame);

// Resamples an image (row length a, b rows) in place into w columns (centred, the margins
// 0) and h rows at the top, bilinear, integer 16.16 steps; rows h to b - 1 are left alone.
void shrink_image(uint32_t* image, int32_t a, int32_t b, int32_t w, int32_t h);

// Adds rows 0 to 49 of `image` into frame rows row to row + 49, each non-zero pixel shifted
// left by `shift` (0 or 1: plain or doubled); zero pixels leave the frame alone.
void overlay_bar_image(const uint32_t* image, int32_t row, int32_t shift);

// The widest label that fits between the brackets of each bar, in pixels as measure_text
// measures (the font must be built).
constexpr int32_t TuneLabelLimit = 330;
constexpr int32_t LinkLabelLimit = 270;
// What is wrong with a label, or an empty text when it is fine: it must not be empty, must
// hold only codes 32..127 ('#' draws e with acute accent) and must measure at most `limit`.
// `width` gets its measure when the codes are fine.
std::string menu_label_problem(const char* label, int32_t limit, int32_t* width = nullptr);
// What is wrong with a link's web address, or an empty text: it must begin with http:// or
// https:// and hold no space and no code outside ASCII.
std::string link_address_problem(const char* address);
// A label or address as a message can show it: codes outside 32..126 as \xNN.
std::string printable(std::string_view text);

// Renders the disk's tune images (its tunes and the silence entry after them: 14 for the
// built-in disk) and link images (17) from the labels (the last two steps of the
// start-up graphics), and gives them back (for runs of the show in one process).
void render_menu_bar_images();
void free_menu_bar_images();
