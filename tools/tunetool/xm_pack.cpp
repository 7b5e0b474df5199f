#include "tools/tunetool/xm_pack.h"

#include "player/module.h"
#include "tools/xm_import/xm_import.h"

bool check_stored_rules(const PackedTune& tune, std::string& error) {
  const std::vector<uint8_t>& image = tune.image;
  const uint64_t length = tune.stored.size();
  const char* broken = nullptr;
  if (load_u32(image.data() + HeaderSampleDataOffset) + uint64_t{2} != length)
    broken = "the sample data offset is not the stored length less 2";
  else if (image[length - 1] != 0 || image[length - 2] != 0)
    broken = "the stored part does not end with two zero bytes";
  else if (load_u16(image.data() + HeaderFlags) & FlagDeltaCoded)
    broken = "flags bit 2 (delta-coded samples) is set";
  else if (load_u32(image.data() + HeaderSampleData16Count) != 0)
    broken = "the 16-bit data size is not 0";
  else if (load_u32(image.data() + HeaderSampleData8Size) > tune.samples.decodedCount)
    broken = "the 8-bit data size exceeds the decoded count";
  if (broken == nullptr) return true;
  error = std::string("packing broke a stored-tune rule: ") + broken;
  return false;
}

XmPack pack_xm(std::span<const uint8_t> file, int quality) {
  XmPack r;
  if (!looks_like_xm(file)) {
    r.error = "not an extended module";
    return r;
  }
  XmImport imported = import_xm(file, {.eightBitOnly = true});
  if (!imported.ok) {
    r.error = imported.error;
    return r;
  }
  r.warnings = std::move(imported.warnings);
  if (imported.samples16 > 0) r.warnings.push_back(std::to_string(imported.samples16) + " 16-bit samples stored as 8-bit");
  // The title, from the file's own header (the import has read it whole already).
  XmModule module;
  std::string unused;
  if (read_xm(file, module, unused)) r.title = module.name;
  TunePackResult packed = pack_tune(imported.image, settings_for_quality(quality));
  if (packed.error != TunePackError::None) {
    r.error = "cannot pack: " + packed.message;
    return r;
  }
  // The image the show will build, checked as the player needs it.
  const ImageCheck check = validate_module_image(packed.tune.image.data(), packed.tune.image.size());
  if (check != ImageCheck::Ok) {
    r.error = std::string("the assembled image is not valid: ") + image_check_text(check);
    return r;
  }
  if (!check_stored_rules(packed.tune, r.error)) return r;
  r.image = std::move(imported.image);
  r.tune = std::move(packed.tune);
  r.ok = true;
  return r;
}
