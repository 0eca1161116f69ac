// Image registry: numbers, growth, reuse, anonymous images, the pitch rule.
#include "image_test_util.h"

#include "platform/heap.h"

using namespace imagetest;

namespace {

class RegistryTest : public ImageFixture {};

TEST_F(RegistryTest, PitchIsTheRowRoundedUpToFourBytes) {
  EXPECT_EQ(ImagePitch(1), 4u);
  EXPECT_EQ(ImagePitch(2), 8u);
  EXPECT_EQ(ImagePitch(3), 12u);
  EXPECT_EQ(ImagePitch(256), 768u);
  for (int w = 1; w < 64; ++w) {
    EXPECT_EQ(ImagePitch(w) % 4, 0u) << w;
    EXPECT_GE(ImagePitch(w), size_t(w) * 3) << w;
    EXPECT_LT(ImagePitch(w), size_t(w) * 3 + 4) << w;
  }
}

TEST_F(RegistryTest, NumbersBelowTenNeedNoGrowthTenGrowsToTwenty) {
  EXPECT_EQ(ImageRegistry.capacity, 10);
  for (int n = 0; n < 10; ++n) ASSERT_NE(MakeBlankImage(n, 2, 2), 0u) << n;
  EXPECT_EQ(ImageRegistry.capacity, 10);
  ASSERT_NE(MakeBlankImage(10, 2, 2), 0u);
  EXPECT_EQ(ImageRegistry.capacity, 20);
  // The images made before the growth are still there.
  for (int n = 0; n <= 10; ++n) EXPECT_NE(LookupImage(n)->handle, nullptr) << n;
  EXPECT_EQ(CurrentImage, LookupImage(10));
}

TEST_F(RegistryTest, TwelveGrowsToTwentyTwo) {
  ASSERT_NE(MakeBlankImage(12, 3, 3), 0u);
  EXPECT_EQ(ImageRegistry.capacity, 22);
  EXPECT_EQ(LookupImage(11)->handle, nullptr);
  EXPECT_EQ(LookupImage(12)->width, 3);
  EXPECT_EQ(LookupImage(22), nullptr);
}

TEST_F(RegistryTest, BlankImageIsBlackAndRecordsItsSize) {
  const uintptr_t h = MakeBlankImage(1, 5, 4);
  ASSERT_NE(h, 0u);
  const ImageRecord* r = LookupImage(1);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(r->handle), h);
  EXPECT_EQ(r->width, 5);
  EXPECT_EQ(r->height, 4);
  EXPECT_EQ(r->depth, 32);
  const Picture p = ReadBack(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const Rgb expected = (x < 5 && y < 4) ? Rgb{0, 0, 0} : Rgb{255, 255, 255};  // -1 outside
      EXPECT_EQ(p.At(x, y), expected) << x << "," << y;
    }
}

TEST_F(RegistryTest, ReusingANumberReleasesTheOldImage) {
  const size_t before = PixelStoreLiveObjects();
  const uintptr_t first = MakeBlankImage(1, 4, 4);
  ASSERT_NE(first, 0u);
  EXPECT_EQ(PixelStoreLiveObjects(), before + 1);
  const Bytes bmp = MakeBmpFile(ColourDib(3, 2, 24, false));
  const uintptr_t second = DecodeImageFromMemory(1, bmp.data(), bmp.size());
  ASSERT_NE(second, 0u);
  EXPECT_EQ(PixelStoreLiveObjects(), before + 1);  // one bitmap, not two
  EXPECT_EQ(LookupImage(1)->width, 3);
}

TEST_F(RegistryTest, ReleaseImageEmptiesTheSlotAndMinusOneDoesNothing) {
  ASSERT_NE(MakeBlankImage(3, 2, 2), 0u);
  const size_t live = PixelStoreLiveObjects();
  ReleaseImage(-1);
  ReleaseImage(7);        // an empty slot
  ReleaseImage(123456);   // a value that names no record
  ReleaseImage(reinterpret_cast<intptr_t>(&live));  // an address that is no record
  EXPECT_EQ(PixelStoreLiveObjects(), live);
  ReleaseImage(3);
  EXPECT_EQ(LookupImage(3)->handle, nullptr);
  EXPECT_EQ(PixelStoreLiveObjects(), live - 1);
  ASSERT_NE(MakeBlankImage(3, 1, 1), 0u);  // the number can be used again
  EXPECT_EQ(LookupImage(3)->width, 1);
}

TEST_F(RegistryTest, AnonymousImagesAreKnownByTheirRecordAddress) {
  const uintptr_t a = MakeBlankImage(-1, 2, 3);
  const Bytes bmp = MakeBmpFile(ColourDib(4, 4, 24, true));
  const uintptr_t b = DecodeImageFromMemory(-1, bmp.data(), bmp.size());
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_NE(a, b);
  EXPECT_EQ(ImageRegistry.capacity, 10);
  ImageRecord* ra = LookupImage(intptr_t(a));
  ImageRecord* rb = LookupImage(intptr_t(b));
  ASSERT_EQ(reinterpret_cast<uintptr_t>(ra), a);
  ASSERT_EQ(reinterpret_cast<uintptr_t>(rb), b);
  EXPECT_EQ(ra->height, 3);
  EXPECT_EQ(rb->width, 4);
  EXPECT_EQ(CurrentImage, rb);
  // Remaking into an anonymous record reuses it.
  const uintptr_t remade = MakeBlankImage(intptr_t(a), 7, 7);
  ASSERT_NE(remade, 0u);
  EXPECT_EQ(remade, reinterpret_cast<uintptr_t>(ra->handle));  // a number's result: the handle
  EXPECT_EQ(ra->width, 7);
  EXPECT_EQ(CurrentImage, ra);
  ReleaseImage(intptr_t(a));
  EXPECT_EQ(LookupImage(intptr_t(a)), nullptr);  // unlinked and freed
  EXPECT_EQ(CurrentImage, nullptr);               // it was the current image
  EXPECT_EQ(LookupImage(intptr_t(b)), rb);
}

TEST_F(RegistryTest, ReleaseAllImagesFreesNumberedAndAnonymous) {
  const size_t live = PixelStoreLiveObjects();
  MakeBlankImage(0, 1, 1);
  MakeBlankImage(15, 1, 1);
  MakeBlankImage(-1, 1, 1);
  MakeBlankImage(-1, 1, 1);
  EXPECT_EQ(PixelStoreLiveObjects(), live + 4);
  ReleaseAllImages();
  EXPECT_EQ(PixelStoreLiveObjects(), live);
  EXPECT_EQ(ImageRegistry.anonymous, nullptr);
  for (int n = 0; n < ImageRegistry.capacity; ++n) EXPECT_EQ(LookupImage(n)->handle, nullptr);
}

TEST_F(RegistryTest, UnusableNumbersAndSizesGiveZero) {
  EXPECT_EQ(MakeBlankImage(-2, 4, 4), 0u);
  EXPECT_EQ(MakeBlankImage(MaxImageNumber + 1, 4, 4), 0u);
  EXPECT_EQ(ImageRegistry.capacity, 10);
  // A failed bitmap leaves the number empty (its old image was released).
  ASSERT_NE(MakeBlankImage(2, 4, 4), 0u);
  EXPECT_EQ(MakeBlankImage(2, 0, 4), 0u);
  EXPECT_EQ(LookupImage(2)->handle, nullptr);
  // A failed anonymous image leaves no record behind.
  EXPECT_EQ(MakeBlankImage(-1, -5, 4), 0u);
  EXPECT_EQ(ImageRegistry.anonymous, nullptr);
  EXPECT_EQ(CurrentImage, nullptr);
}

TEST_F(RegistryTest, UnrecognisedDataLeavesRegistryAndCurrentImageAlone) {
  ASSERT_NE(MakeBlankImage(4, 2, 2), 0u);
  ImageRecord* current = CurrentImage;
  const GdiHandle held = LookupImage(1)->handle;
  const uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23};
  EXPECT_EQ(DecodeImageFromMemory(1, junk, sizeof junk), 0u);
  EXPECT_EQ(DecodeImageFromMemory(30, junk, sizeof junk), 0u);
  EXPECT_EQ(DecodeImageFromMemory(-1, junk, sizeof junk), 0u);
  EXPECT_EQ(DecodeImageFromMemory(1, nullptr, 100), 0u);
  EXPECT_EQ(DecodeImageFromMemory(1, junk, 1), 0u);
  EXPECT_EQ(CurrentImage, current);
  EXPECT_EQ(LookupImage(1)->handle, held);
  EXPECT_EQ(ImageRegistry.capacity, 10);
  EXPECT_EQ(ImageRegistry.anonymous, nullptr);
}

TEST_F(RegistryTest, TablesComeFromThePrivateHeapsWhenTheProgramHasThem) {
  ReleaseAllImages();
  HeapHandle mainHeap = PlatformHeapCreate(4096);
  ObjectListHeap = PlatformHeapCreate(4096);
  InitImageRegistry(mainHeap);
  EXPECT_EQ(PlatformHeapSize(mainHeap, ImageRegistry.records), 10 * sizeof(ImageRecord));
  ASSERT_NE(MakeBlankImage(25, 1, 1), 0u);
  EXPECT_EQ(PlatformHeapSize(mainHeap, ImageRegistry.records), 35 * sizeof(ImageRecord));
  const uintptr_t anon = MakeBlankImage(-1, 1, 1);
  EXPECT_EQ(PlatformHeapSize(ObjectListHeap, reinterpret_cast<void*>(anon)), sizeof(AnonymousImage));
  ReleaseAllImages();
  PlatformHeapDestroy(ObjectListHeap);
  PlatformHeapDestroy(mainHeap);
  ObjectListHeap = nullptr;
  InitImageRegistry(nullptr);  // back on the C heap for the rest of the suite
}

}  // namespace
