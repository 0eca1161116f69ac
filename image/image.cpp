// Image registry, bitmap and icon recognition, and the decoder chain.
//
// Everything taken from the data (header fields, offsets, the icon directory
// entry, palettes, pixel rows) is checked against the true length before it
// is used, and the data is declined before any record is touched, so data
// that is not used leaves the registry and CurrentImage as they were.
#include <cstdlib>
#include <cstring>

#include "image/image.h"
#include "platform/heap.h"

ImageRegistryRecord ImageRegistry{};
ImageRecord* CurrentImage = nullptr;
GdiDC ImageDC = nullptr;
DecoderTableRecord DecoderTable{};
const ImageDecoder* ActiveDecoder = nullptr;
FILE* DecoderFile = nullptr;
int32_t ImageSideLimit = DefaultImageSideLimit;

namespace {

constexpr int32_t InitialCapacity = 10;

// Zero-filled blocks from a private heap when the program has made one,
// otherwise from the C heap (unit tests that make no heaps).
void* BlockAlloc(HeapHandle heap, size_t size) {
  return heap ? PlatformHeapAlloc(heap, size) : std::calloc(1, size);
}
void BlockFree(HeapHandle heap, void* block) {
  if (!block) return;
  if (heap)
    PlatformHeapFree(heap, block);
  else
    std::free(block);
}

uint32_t ReadU32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
int32_t ReadI32(const uint8_t* p) { return int32_t(ReadU32(p)); }
uint16_t ReadU16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

AnonymousImage* FindAnonymous(intptr_t number, AnonymousImage*** link = nullptr) {
  AnonymousImage** at = &ImageRegistry.anonymous;
  for (AnonymousImage* a = *at; a; at = &a->next, a = a->next) {
    if (reinterpret_cast<intptr_t>(&a->record) == number) {
      if (link) *link = at;
      return a;
    }
  }
  return nullptr;
}

// Grows the numbered table to newCapacity empty records; false when the
// memory cannot be had (the table stays as it was).
bool GrowRegistry(int32_t newCapacity) {
  const size_t bytes = size_t(newCapacity) * sizeof(ImageRecord);
  auto* grown = static_cast<ImageRecord*>(BlockAlloc(ImageRegistry.heap, bytes));
  if (!grown) return false;
  if (ImageRegistry.records)
    std::memcpy(grown, ImageRegistry.records, size_t(ImageRegistry.capacity) * sizeof(ImageRecord));
  BlockFree(ImageRegistry.heap, ImageRegistry.records);
  ImageRegistry.records = grown;
  ImageRegistry.capacity = newCapacity;
  return true;
}

// The record an image is made in: -1 allocates an anonymous record, a number
// at or above the capacity grows the table to number + 10. It becomes
// CurrentImage. nullptr (nothing changed) when the number is unusable or
// memory runs out.
ImageRecord* TakeImageRecord(intptr_t number) {
  ImageRecord* record = nullptr;
  if (number == -1) {
    HeapHandle heap = ObjectListHeap;
    auto* node = static_cast<AnonymousImage*>(BlockAlloc(heap, sizeof(AnonymousImage)));
    if (!node) return nullptr;
    node->heap = heap;
    node->next = ImageRegistry.anonymous;
    ImageRegistry.anonymous = node;
    record = &node->record;
  } else if (AnonymousImage* a = FindAnonymous(number)) {
    record = &a->record;
  } else if (number >= 0 && number < ImageRegistry.capacity) {
    record = &ImageRegistry.records[number];
  } else if (number >= 0 && number <= MaxImageNumber) {
    if (!GrowRegistry(int32_t(number) + 10)) return nullptr;
    record = &ImageRegistry.records[number];
  } else {
    return nullptr;
  }
  CurrentImage = record;
  return record;
}

// Frees what a record holds and empties it.
void ReleaseRecord(ImageRecord* record) {
  if (!record || !record->handle) return;
  if (GetObjectType(record->handle) == OBJ_BITMAP)
    DeleteObject(record->handle);
  else
    DestroyIcon(record->handle);
  *record = ImageRecord{};
}

// Unlinks and frees an anonymous record that holds nothing any more.
void DropAnonymous(ImageRecord* record) {
  AnonymousImage** link = nullptr;
  AnonymousImage* node = FindAnonymous(reinterpret_cast<intptr_t>(record), &link);
  if (!node) return;
  *link = node->next;
  if (CurrentImage == record) CurrentImage = nullptr;
  BlockFree(node->heap, node);
}

bool IsAnonymous(const ImageRecord* record) {
  return FindAnonymous(reinterpret_cast<intptr_t>(record)) != nullptr;
}

uintptr_t ResultFor(intptr_t number, ImageRecord* record) {
  return number == -1 ? reinterpret_cast<uintptr_t>(record) : reinterpret_cast<uintptr_t>(record->handle);
}

bool SideAcceptable(int64_t side) { return side >= 1 && side <= ImageSideLimit; }

// A bitmap file image: file header, info header (40 bytes or more, or the
// 12-byte core header of old files) with its colour table, and rows at the
// offset the file header names, all inside the data. Run-length rows have
// no fixed size: the pixel store reads the stream only up to the data's end.
uintptr_t DecodeBitmapFile(intptr_t number, const uint8_t* bytes, size_t length) {
  if (length < 14 + 12) return 0;
  const uint32_t bitsOffset = ReadU32(bytes + 10);
  // The layout's height is the magnitude: top-down files carry a negative one.
  DibLayout dib;
  if (!DibDescribe(bytes + 14, length - 14, &dib)) return 0;
  if (!SideAcceptable(dib.width) || !SideAcceptable(dib.height)) return 0;
  if (bitsOffset < 14 || bitsOffset > length) return 0;
  if (!dib.runLength && dib.imageBytes > length - bitsOffset) return 0;

  const uintptr_t result = MakeBlankImage(number, dib.width, dib.height);
  if (!result) return 0;
  GdiDC dc = CreateCompatibleDC(nullptr);
  SetDIBits(dc, CurrentImage->handle, 0, uint32_t(dib.height), bytes + bitsOffset, length - bitsOffset,
            bytes + 14, length - 14, DIB_RGB_COLORS);
  DeleteDC(dc);
  return result;
}

uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

// An icon file image: only the first directory entry's image is used.
// nullptr when the data is not an icon or its entry cannot be used.
// The directory's entry count is not consulted: the first entry is read
// whenever it lies inside the data, as when the count is 0.
GdiHandle IconFromFile(const uint8_t* bytes, size_t length) {
  if (length < 6 + 16) return nullptr;
  if (ReadU16(bytes) != 0 || ReadU16(bytes + 2) != 1) return nullptr;
  const uint8_t* entry = bytes + 6;
  const uint32_t size = ReadU32(entry + 8);
  const uint32_t offset = ReadU32(entry + 12);
  if (size < 40 || offset > length || size > length - offset) return nullptr;
  const uint8_t* image = bytes + offset;
  // A PNG image has no info header: its width and height are the 32-bit
  // big-endian values of its IHDR chunk, at bytes 16 and 20.
  static const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  const bool png = std::memcmp(image, pngSignature, 8) == 0;
  const int32_t width = png ? int32_t(ReadBE32(image + 16)) : ReadI32(image + 4);
  const int32_t height = png ? int32_t(ReadBE32(image + 20)) : ReadI32(image + 8) / 2;
  const uint16_t bitCount = png ? 32 : ReadU16(image + 14);
  if (!SideAcceptable(width) || !SideAcceptable(height)) return nullptr;

  auto* copy = static_cast<uint8_t*>(std::malloc(size));
  if (!copy) return nullptr;
  std::memcpy(copy, image, size);
  GdiHandle icon = CreateIconFromResourceEx(copy, size, 1, 0x30000, width, height, 0);
  if (!icon && bitCount != 16) icon = CreateIconFromResource(copy, size, 1, 0x30000);
  std::free(copy);
  return icon;
}

uintptr_t AdoptIcon(intptr_t number, GdiHandle icon) {
  ImageRecord* record = TakeImageRecord(number);
  if (!record) {
    DestroyIcon(icon);
    return 0;
  }
  ReleaseRecord(record);
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) {
    DestroyIcon(icon);
    if (IsAnonymous(record)) DropAnonymous(record);
    return 0;
  }
  BITMAP bm{};
  GetObjectA(info.hbmColor, sizeof bm, &bm);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  record->handle = icon;
  record->width = int16_t(bm.bmWidth);
  record->height = int16_t(bm.bmHeight);
  record->depth = int16_t(bm.bmBitsPixel);
  return ResultFor(number, record);
}

uintptr_t DecodeWithDecoders(intptr_t number, const uint8_t* bytes, size_t length) {
  if (!FindImageDecoder(bytes, length)) return 0;
  const int32_t width = ActiveDecoder->Width();
  const int32_t height = ActiveDecoder->Height();
  if (!SideAcceptable(width) || !SideAcceptable(height)) return 0;
  const size_t pitch = ImagePitch(width);
  auto* buffer = static_cast<uint8_t*>(std::malloc(pitch * (size_t(height) + 1)));
  if (!buffer) return 0;
  RunActiveDecoder(buffer, pitch, 0);
  const uintptr_t result = MakeBlankImage(number, width, height);
  if (result) {
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = -height;  // rows top-down
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    GdiDC dc = CreateCompatibleDC(nullptr);
    SetDIBits(dc, CurrentImage->handle, 0, uint32_t(height), buffer, pitch * size_t(height), &header,
              sizeof header, DIB_RGB_COLORS);
    DeleteDC(dc);
  }
  std::free(buffer);
  return result;
}

}  // namespace

void InitImageRegistry(HeapHandle heap) {
  CloseImageDC();
  // A table from the C heap is ours to free; one from a private heap goes
  // with its heap.
  if (!ImageRegistry.heap) std::free(ImageRegistry.records);
  ImageRegistry = ImageRegistryRecord{};
  ImageRegistry.heap = heap;
  GrowRegistry(InitialCapacity);
  CurrentImage = nullptr;
}

void ResetImageDecoders() {
  DecoderTable.count = 0;
  ActiveDecoder = nullptr;
  if (DecoderFile) std::fclose(DecoderFile);
  DecoderFile = nullptr;
}

int32_t RegisterImageDecoder(const ImageDecoder* decoder) {
  if (!decoder || DecoderTable.count >= DecoderTableSize) return 0;
  DecoderTable.decoders[DecoderTable.count++] = *decoder;
  return 1;
}

ImageRecord* LookupImage(intptr_t number) {
  if (number >= 0 && number < ImageRegistry.capacity) return &ImageRegistry.records[number];
  if (AnonymousImage* a = FindAnonymous(number)) return &a->record;
  return nullptr;
}

uintptr_t DecodeImageFromMemory(intptr_t number, const uint8_t* bytes, size_t length) {
  if (!bytes || length < 2) return 0;
  if (bytes[0] == 'B' && bytes[1] == 'M') return DecodeBitmapFile(number, bytes, length);
  if (GdiHandle icon = IconFromFile(bytes, length)) return AdoptIcon(number, icon);
  return DecodeWithDecoders(number, bytes, length);
}

uintptr_t MakeBlankImage(intptr_t number, int32_t width, int32_t height) {
  ImageRecord* record = TakeImageRecord(number);
  if (!record) return 0;
  ReleaseRecord(record);
  GdiDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  GdiHandle bitmap = display ? CreateCompatibleBitmap(display, width, height) : nullptr;
  if (!bitmap) {
    if (display) DeleteDC(display);
    // A new anonymous record that holds nothing is not kept: nobody knows it.
    if (number == -1) DropAnonymous(record);
    return 0;
  }
  BITMAP bm{};
  GetObjectA(bitmap, sizeof bm, &bm);
  record->handle = bitmap;
  record->width = int16_t(bm.bmWidth);
  record->height = int16_t(bm.bmHeight);
  record->depth = int16_t(bm.bmBitsPixel);
  if (GdiDC dc = OpenImageDC()) {
    const RECT all{0, 0, bm.bmWidth, bm.bmHeight};
    FillRect(dc, &all, GetStockObject(BLACK_BRUSH));
    CloseImageDC();
  }
  DeleteDC(display);
  return ResultFor(number, record);
}

void ReleaseImage(intptr_t number) {
  if (number == -1) return;
  ImageRecord* record = LookupImage(number);
  if (!record || !record->handle) return;
  ReleaseRecord(record);
  if (IsAnonymous(record)) DropAnonymous(record);
}

void ReleaseAllImages() {
  while (ImageRegistry.anonymous) {
    ImageRecord* record = &ImageRegistry.anonymous->record;
    ReleaseRecord(record);
    DropAnonymous(record);
  }
  for (int32_t i = 0; i < ImageRegistry.capacity; ++i) ReleaseRecord(&ImageRegistry.records[i]);
}

GdiDC OpenImageDC() {
  CloseImageDC();
  if (!CurrentImage || !CurrentImage->handle) return nullptr;
  GdiDC dc = CreateCompatibleDC(nullptr);
  if (!dc) return nullptr;
  if (!SelectObject(dc, CurrentImage->handle)) {
    DeleteDC(dc);
    return nullptr;
  }
  ImageDC = dc;
  return dc;
}

void CloseImageDC() {
  if (ImageDC) DeleteDC(ImageDC);
  ImageDC = nullptr;
}

int32_t FindImageDecoder(const uint8_t* bytes, size_t length) {
  for (int32_t i = 0; i < DecoderTable.count; ++i) {
    if (DecoderTable.decoders[i].Check(nullptr, bytes, length, nullptr)) {
      ActiveDecoder = &DecoderTable.decoders[i];
      return 1;
    }
  }
  return 0;
}

int32_t FindImageDecoder(const char* path) {
  if (!path) return 0;
  FILE* file = std::fopen(path, "rb");
  if (!file) return 0;
  for (int32_t i = 0; i < DecoderTable.count; ++i) {
    std::rewind(file);
    if (DecoderTable.decoders[i].Check(file, nullptr, 0, path)) {
      ActiveDecoder = &DecoderTable.decoders[i];
      if (DecoderFile) std::fclose(DecoderFile);
      DecoderFile = file;
      return 1;
    }
  }
  std::fclose(file);
  return 0;
}

void RunActiveDecoder(uint8_t* pixels, size_t pitch, int32_t reserved) {
  if (ActiveDecoder) ActiveDecoder->Decode(pixels, pitch, reserved);
  if (DecoderFile) std::fclose(DecoderFile);
  DecoderFile = nullptr;
}
