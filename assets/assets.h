// Read-only data embedded in the executable at build time.
#pragma once
#include <cstdint>

extern "C" {
extern const uint8_t MusicModule[];     // XM module
extern const uint32_t MusicModuleSize;  // 12,470 bytes
extern const uint8_t ObjectImage0[], ObjectImage1[], ObjectImage2[], ObjectImage3[],
    ObjectImage4[], ObjectImage5[], ObjectImage6[];  // JPEG, 256 x 256
extern const uint32_t ObjectImage0Size, ObjectImage1Size, ObjectImage2Size, ObjectImage3Size,
    ObjectImage4Size, ObjectImage5Size, ObjectImage6Size;
extern const uint8_t FloorImage[];      // JPEG, 256 x 256
extern const uint32_t FloorImageSize;
extern const uint8_t CaptionImageA[], CaptionImageB[];  // raw grey 512 x 64, top row first
extern const uint32_t CaptionImageASize, CaptionImageBSize;
}
