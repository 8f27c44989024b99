// Image files: each writer read back by each reader, option bits, bad input.
#include "lib/display/bitmap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace display {
namespace {

// A picture with distinct colours in every corner and a gradient between,
// so that a row or channel mix-up shows.
cairo_surface_t* TestPicture(int w, int h) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_surface_flush(s);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s));
    for (int x = 0; x < w; ++x) row[x] = 0xff000000u | ((uint32_t)(x * 255 / (w - 1)) << 16) | ((uint32_t)(y * 255 / (h - 1)) << 8) | 0x40;
  }
  auto* first = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
  first[0] = 0xffff0000u;  // red at the top left
  cairo_surface_mark_dirty(s);
  return s;
}

uint32_t Pixel(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s))[x];
}

std::string TempName(const char* leaf) { return std::string("bitmap_test_") + leaf; }

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::vector<uint8_t> b;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return b;
  int c;
  while ((c = fgetc(f)) != EOF) b.push_back((uint8_t)c);
  fclose(f);
  return b;
}

int MaxChannelDifference(uint32_t a, uint32_t b) {
  int m = 0;
  for (int s = 0; s < 32; s += 8) m = std::max(m, std::abs((int)((a >> s) & 0xff) - (int)((b >> s) & 0xff)));
  return m;
}

TEST(ImageKinds, ExtensionsWithoutRegardToCase) {
  EXPECT_EQ(ImageKindForWriting("map.PNG"), ImageKind::kPng);
  EXPECT_EQ(ImageKindForWriting("dir.x/map.Bmp"), ImageKind::kBmp);
  EXPECT_EQ(ImageKindForWriting("map.jpg"), ImageKind::kJpeg);
  EXPECT_EQ(ImageKindForWriting("map.jpeg"), ImageKind::kNone);  // not for saving
  EXPECT_EQ(ImageKindForReading("map.JPEG"), ImageKind::kJpeg);
  EXPECT_EQ(ImageKindForWriting("map.gif"), ImageKind::kNone);
  EXPECT_EQ(ImageKindForWriting("dir.png/map"), ImageKind::kNone);
  EXPECT_EQ(PngOptionBits("wt"), kPngInterlace | kPngTransparent);
  EXPECT_EQ(PngOptionBits("T"), kPngTransparent);
  EXPECT_EQ(PngOptionBits("x"), 0u);
}

// Lossless kinds come back pixel for pixel; odd widths test BMP row padding.
TEST(ImageRoundTrip, BmpAndPngArePixelExact) {
  for (int w : {1, 2, 3, 5, 37}) {
    cairo_surface_t* pic = TestPicture(std::max(w, 2), 7);
    for (ImageKind kind : {ImageKind::kBmp, ImageKind::kPng}) {
      for (unsigned opts : {0u, kPngInterlace}) {
        const std::string name = TempName(kind == ImageKind::kBmp ? "rt.bmp" : "rt.png");
        int detail = -1;
        ASSERT_EQ(SaveImageFile(pic, name, kind, opts, 0, &detail), SaveResult::kOk);
        cairo_surface_t* back = nullptr;
        ASSERT_EQ(LoadImageFile(name, kind, &back), DecodeResult::kOk);
        ASSERT_EQ(cairo_image_surface_get_width(back), cairo_image_surface_get_width(pic));
        ASSERT_EQ(cairo_image_surface_get_height(back), 7);
        for (int y = 0; y < 7; ++y)
          for (int x = 0; x < cairo_image_surface_get_width(pic); ++x)
            ASSERT_EQ(Pixel(back, x, y), Pixel(pic, x, y)) << x << "," << y;
        cairo_surface_destroy(back);
        remove(name.c_str());
      }
    }
    cairo_surface_destroy(pic);
  }
}

TEST(ImageRoundTrip, JpegIsCloseAndKeepsOrientation) {
  cairo_surface_t* pic = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 64, 48);
  cairo_t* cr = cairo_create(pic);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_rectangle(cr, 0, 0, 32, 24);  // red top-left quarter
  cairo_fill(cr);
  cairo_set_source_rgb(cr, 0, 0, 1);
  cairo_rectangle(cr, 32, 24, 32, 24);  // blue bottom-right quarter
  cairo_fill(cr);
  cairo_destroy(cr);
  const std::string name = TempName("rt.jpg");
  ASSERT_EQ(SaveImageFile(pic, name, ImageKind::kJpeg, 0, 0, nullptr), SaveResult::kOk);
  cairo_surface_t* back = nullptr;
  ASSERT_EQ(LoadImageFile(name, ImageKind::kJpeg, &back), DecodeResult::kOk);
  EXPECT_LE(MaxChannelDifference(Pixel(back, 8, 8), 0xffff0000u), 12);
  EXPECT_LE(MaxChannelDifference(Pixel(back, 56, 40), 0xff0000ffu), 12);
  EXPECT_LE(MaxChannelDifference(Pixel(back, 56, 8), 0xffffffffu), 12);
  cairo_surface_destroy(back);
  cairo_surface_destroy(pic);
  remove(name.c_str());
}

TEST(ImageRoundTrip, TransparentOptionMarksTheBackground) {
  cairo_surface_t* pic = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 4, 4);
  cairo_t* cr = cairo_create(pic);
  cairo_set_source_rgb(cr, 0, 0.5, 1);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 1, 0, 0);
  cairo_rectangle(cr, 0, 0, 2, 2);
  cairo_fill(cr);
  cairo_destroy(cr);
  const uint32_t bg = Pixel(pic, 3, 3);
  const std::string name = TempName("t.png");
  ASSERT_EQ(SaveImageFile(pic, name, ImageKind::kPng, kPngTransparent,
                          ((bg >> 16) & 0xff) | (bg & 0xff00) | ((bg & 0xff) << 16), nullptr),
            SaveResult::kOk);
  cairo_surface_t* back = nullptr;
  ASSERT_EQ(LoadImageFile(name, ImageKind::kPng, &back), DecodeResult::kOk);
  EXPECT_EQ(Pixel(back, 3, 3) >> 24, 0u);  // background became transparent
  EXPECT_EQ(Pixel(back, 0, 0), 0xffff0000u);
  cairo_surface_destroy(back);
  cairo_surface_destroy(pic);
  remove(name.c_str());
}

TEST(ImageSave, FailuresReportAndLeaveNoFile) {
  cairo_surface_t* pic = TestPicture(4, 4);
  EXPECT_EQ(SaveImageFile(pic, "/nonexistent-dir/x.png", ImageKind::kPng, 0, 0, nullptr), SaveResult::kOpenFailed);
  EXPECT_EQ(SaveImageFile(nullptr, TempName("n.png"), ImageKind::kPng, 0, 0, nullptr), SaveResult::kNoPicture);
  cairo_surface_t* a8 = cairo_image_surface_create(CAIRO_FORMAT_A8, 4, 4);
  int detail = -1;
  EXPECT_EQ(SaveImageFile(a8, TempName("a8.png"), ImageKind::kPng, 0, 0, &detail), SaveResult::kBadFormat);
  EXPECT_EQ(detail, (int)CAIRO_FORMAT_A8);
  EXPECT_EQ(SaveImageFile(pic, TempName("x.gif"), ImageKind::kNone, 0, 0, nullptr), SaveResult::kNoWriter);
  // A full device makes the writers fail.
  FILE* full = fopen("/dev/full", "rb");
  if (full) {
    fclose(full);
    cairo_surface_t* big = TestPicture(300, 300);
    EXPECT_EQ(SaveImageFile(big, "/dev/full", ImageKind::kBmp, 0, 0, &detail), SaveResult::kOutputError);
    const SaveResult png = SaveImageFile(big, "/dev/full", ImageKind::kPng, 0, 0, &detail);
    EXPECT_TRUE(png == SaveResult::kPngError || png == SaveResult::kOutputError);
    // The device itself is not a half-written file and must still be there.
    FILE* again = fopen("/dev/full", "wb");
    EXPECT_NE(again, nullptr);
    if (again) fclose(again);
    cairo_surface_destroy(big);
  }
  cairo_surface_destroy(a8);
  cairo_surface_destroy(pic);
}

TEST(ImageDecode, SignaturesAndDamage) {
  cairo_surface_t* out = nullptr;
  EXPECT_EQ(LoadImageFile(TempName("missing.png"), ImageKind::kPng, &out), DecodeResult::kCannotOpen);
  const uint8_t junk[] = "this is not an image at all, not even close";
  for (ImageKind k : {ImageKind::kBmp, ImageKind::kPng, ImageKind::kJpeg}) {
    EXPECT_EQ(DecodeImage(junk, sizeof junk, k, &out), DecodeResult::kBadSignature);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DecodeImage(junk, 0, k, &out), DecodeResult::kBadSignature);
  }
  // Every truncation of a valid file of each kind fails cleanly (or decodes).
  cairo_surface_t* pic = TestPicture(9, 5);
  for (ImageKind k : {ImageKind::kBmp, ImageKind::kPng, ImageKind::kJpeg}) {
    const std::string name = TempName(k == ImageKind::kBmp ? "tr.bmp" : k == ImageKind::kPng ? "tr.png" : "tr.jpg");
    ASSERT_EQ(SaveImageFile(pic, name, k, 0, 0, nullptr), SaveResult::kOk);
    std::vector<uint8_t> bytes = ReadAll(name);
    for (size_t n = 0; n < bytes.size(); ++n) {
      DecodeResult r = DecodeImage(bytes.data(), n, k, &out);
      if (r == DecodeResult::kOk) {
        cairo_surface_destroy(out);
      } else {
        EXPECT_EQ(out, nullptr);
        EXPECT_NE(r, DecodeResult::kCannotOpen);
      }
    }
    remove(name.c_str());
  }
  cairo_surface_destroy(pic);
}

// Hand-made bitmaps: palette, top-down, 16-bit fields, and lying headers.
TEST(ImageDecode, BmpVariantsAndLyingHeaders) {
  // 2 x 2, 8-bit palette of two colours, bottom-up, rows padded to 4.
  std::vector<uint8_t> b(14 + 40 + 8 + 8, 0);
  b[0] = 'B';
  b[1] = 'M';
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = (uint8_t)(v >> (8 * i)); };
  put32(10, 14 + 40 + 8);
  put32(14, 40);
  put32(18, 2);
  put32(22, 2);
  b[26] = 1;
  b[28] = 8;
  put32(46, 2);                      // two palette entries
  b[54] = 255;                       // entry 0: blue (B, G, R, 0)
  b[58 + 2] = 255;                   // entry 1: red
  b[62] = 1; b[63] = 0;              // bottom row: red, blue
  b[66] = 0; b[67] = 1;              // top row: blue, red
  cairo_surface_t* out = nullptr;
  ASSERT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kOk);
  EXPECT_EQ(Pixel(out, 0, 0), 0xff0000ffu);
  EXPECT_EQ(Pixel(out, 1, 0), 0xffff0000u);
  EXPECT_EQ(Pixel(out, 0, 1), 0xffff0000u);
  cairo_surface_destroy(out);
  // Negative height: the same rows read top-down.
  put32(22, (uint32_t)-2);
  ASSERT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kOk);
  EXPECT_EQ(Pixel(out, 0, 0), 0xffff0000u);
  cairo_surface_destroy(out);
  // A palette count beyond the file and pixels beyond the file are refused.
  std::vector<uint8_t> saved = b;
  put32(46, 200);
  EXPECT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kSubType);
  b = saved;
  put32(10, 0xfffffff0u);
  EXPECT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kSubType);
  b = saved;
  put32(18, 100000);  // wider than any image we hold
  EXPECT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kNoMemory);
  b = saved;
  put32(30, 1);  // run-length encoded: not supported
  EXPECT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kSubType);
  b = saved;
  b[28] = 7;  // no such depth
  EXPECT_EQ(DecodeImage(b.data(), b.size(), ImageKind::kBmp, &out), DecodeResult::kSubType);
  EXPECT_EQ(out, nullptr);

  // 1 x 1, 16-bit 5-6-5 bit fields: pure green.
  std::vector<uint8_t> f(14 + 40 + 12 + 4, 0);
  f[0] = 'B';
  f[1] = 'M';
  auto fput32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) f[at + i] = (uint8_t)(v >> (8 * i)); };
  fput32(10, 66);
  fput32(14, 40);
  fput32(18, 1);
  fput32(22, 1);
  f[26] = 1;
  f[28] = 16;
  fput32(30, 3);
  fput32(54, 0xf800);
  fput32(58, 0x07e0);
  fput32(62, 0x001f);
  f[66] = 0xe0;
  f[67] = 0x07;
  ASSERT_EQ(DecodeImage(f.data(), f.size(), ImageKind::kBmp, &out), DecodeResult::kOk);
  EXPECT_EQ(Pixel(out, 0, 0), 0xff00ff00u);
  cairo_surface_destroy(out);
}

}  // namespace
}  // namespace display

namespace display {
namespace {

// The fuzz seeds are small images of every sub-type the readers take
// (palettes, grey, interlaced, alpha, progressive, bit fields): all decode.
TEST(ImageDecode, EverySeedImageDecodes) {
  const char* src = getenv("OMBREL_SOURCE");
  const std::string root = std::string(src ? src : "..") + "/fuzz/corpus/";
  struct Seed {
    const char* file;
    ImageKind kind;
    int w, h;
  } seeds[] = {{"png/rgb.png", ImageKind::kPng, 5, 3},        {"png/palette.png", ImageKind::kPng, 4, 4},
               {"png/gray_interlaced.png", ImageKind::kPng, 6, 6}, {"png/alpha.png", ImageKind::kPng, 4, 4},
               {"jpeg/rgb.jpg", ImageKind::kJpeg, 8, 8},       {"jpeg/gray.jpg", ImageKind::kJpeg, 8, 8},
               {"jpeg/progressive.jpg", ImageKind::kJpeg, 8, 8}, {"bmp/rgb24.bmp", ImageKind::kBmp, 3, 2},
               {"bmp/palette.bmp", ImageKind::kBmp, 4, 4},     {"bmp/bitfields32.bmp", ImageKind::kBmp, 2, 2}};
  for (const Seed& s : seeds) {
    cairo_surface_t* out = nullptr;
    ASSERT_EQ(LoadImageFile(root + s.file, s.kind, &out), DecodeResult::kOk) << s.file;
    EXPECT_EQ(cairo_image_surface_get_width(out), s.w) << s.file;
    EXPECT_EQ(cairo_image_surface_get_height(out), s.h) << s.file;
    if (std::string(s.file) == "png/palette.png" || std::string(s.file) == "bmp/palette.bmp") {
      EXPECT_EQ(Pixel(out, 1, 1), 0xff000000u) << s.file;
      EXPECT_EQ(Pixel(out, 0, 0), 0xffffffffu) << s.file;
    }
    if (std::string(s.file) == "png/alpha.png" || std::string(s.file) == "bmp/bitfields32.bmp") {
      EXPECT_NEAR((int)(Pixel(out, 0, 0) >> 24), 128, 1) << s.file;
    }
    cairo_surface_destroy(out);
  }
}

}  // namespace
}  // namespace display
