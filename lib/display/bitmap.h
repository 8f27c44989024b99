// Image files of the map picture: Windows bitmaps, PNG and JPEG.
//
// The map picture is a Cairo ARGB32 image surface (premultiplied 0xAARRGGBB
// words). Saved images are 24-bit colour: BMP is written directly (bottom-up
// rows padded to 4 bytes), PNG through libpng, JPEG through libjpeg with its
// default settings. Reading turns any of the three into a new opaque ARGB32
// surface.
//
// Decoder results (DecodeResult) are the numbers the commands turn into
// messages: 0 decoded, 1 cannot open, 2 bad signature, 3 out of memory (or an
// image too large to hold), 4 unsupported sub-type or a damaged image.
// Images wider or taller than kMaxImageSide pixels, or with more than
// kMaxImagePixels pixels, are refused with 3 before any pixel memory is taken.
#pragma once

#include <cairo.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace display {

enum class ImageKind { kNone = 0, kBmp, kPng, kJpeg };

// Kind by extension, without regard to case: ".bmp", ".png", ".jpg" and,
// only when reading, ".jpeg". Anything else is kNone.
ImageKind ImageKindForWriting(const std::string& name);
ImageKind ImageKindForReading(const std::string& name);

inline constexpr int kMaxImageSide = 32768;
inline constexpr int64_t kMaxImagePixels = 25000000;

// PNG option bits of SaveBitmap's "w" and "t" letters.
//   kPngInterlace ("w", for the web): Adam7 interlaced rows, so a browser can
//     show a coarse picture while the file still loads.
//   kPngTransparent ("t"): pixels of exactly the background colour are marked
//     transparent (a tRNS chunk), so the map can be laid over other pictures.
inline constexpr unsigned kPngInterlace = 1;
inline constexpr unsigned kPngTransparent = 2;

// Parses the option word of SaveBitmap: "w", "t", "wt", "tw" (either case);
// other letters are ignored.
unsigned PngOptionBits(const std::string& word);

enum class SaveResult {
  kOk = 0,
  kOpenFailed,     // "Unable to open (%s) for writing"
  kNoPicture,      // "Unable to access screen bitmap"
  kBadFormat,      // "Unsuported/unexpected bitmap format (%d)", detail = cairo format
  kPngError,       // "png library error %d\n", detail = stage
  kOutputError,    // "Image file (%s) output error %d\n", detail = errno or jpeg code
  kNoWriter,       // "Invalid/unimplemented file type (extension?) (%s)"
};

// Writes the surface to path as kind. background (0x00BBGGRR) is the colour
// made transparent by kPngTransparent. On failure the partly written file is
// removed; *detail receives the number for the message.
SaveResult SaveImageFile(cairo_surface_t* surface, const std::string& path, ImageKind kind,
                         unsigned png_options, uint32_t background, int* detail);

enum class DecodeResult { kOk = 0, kCannotOpen = 1, kBadSignature = 2, kNoMemory = 3, kSubType = 4 };

// Decodes an image held in memory into a new ARGB32 surface (*out, owned by
// the caller) or leaves *out null on failure.
DecodeResult DecodeImage(const uint8_t* data, size_t size, ImageKind kind, cairo_surface_t** out);

// Reads the file and decodes it.
DecodeResult LoadImageFile(const std::string& path, ImageKind kind, cairo_surface_t** out);

// Packs a surface into 24-bit RGB rows (top-down, 3*width bytes each), with
// premultiplication undone. Exposed for the writers and their tests.
void SurfaceRowRgb(cairo_surface_t* surface, int row, uint8_t* rgb);

}  // namespace display
