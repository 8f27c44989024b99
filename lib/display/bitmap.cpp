// Image files: how they are written and read.
//
// Writing walks the surface row by row through SurfaceRowRgb, which undoes
// Cairo's premultiplication and yields red, green, blue bytes; the BMP writer
// lays those rows bottom-up in BGR order padded to 4 bytes, the PNG and JPEG
// writers hand them to their libraries. Both libraries report errors by
// calling a routine that must not return: ours jump back with longjmp to the
// setjmp taken at the start of the call, so a library failure is a result
// code and never the end of the program, and neither library prints.
//
// Reading takes the whole file into memory and decodes from there. Every
// size read from a file is checked against the bytes present before it is
// used, and the image dimensions are checked against kMaxImageSide and
// kMaxImagePixels before any pixel memory is taken. The decoded pixels are
// written straight into the rows of a new ARGB32 surface.
#include "lib/display/bitmap.h"

#include "platform/safe_output.h"

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
#include <sys/stat.h>
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

namespace display {

namespace {

std::string LowerExtension(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot);
  for (char& c : ext) c = (char)((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c);
  return ext;
}

uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}
void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(v >> (8 * i));
}

bool DimensionsAllowed(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kMaxImageSide && h <= kMaxImageSide && w * h <= kMaxImagePixels;
}

// A new opaque-capable surface, or null when Cairo cannot make one.
cairo_surface_t* NewSurface(int w, int h) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  return s;
}

uint32_t* SurfaceRow(cairo_surface_t* s, int y) {
  return reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s) +
                                     (size_t)y * (size_t)cairo_image_surface_get_stride(s));
}

uint32_t Premultiplied(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  if (a != 255) {
    r = (r * a + 127) / 255;
    g = (g * a + 127) / 255;
    b = (b * a + 127) / 255;
  }
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// ---------------------------------------------------------------- BMP

SaveResult WriteBmp(cairo_surface_t* s, FILE* f, int* detail) {
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  const uint32_t stride = ((uint32_t)w * 3 + 3) & ~3u;
  const uint32_t image = stride * (uint32_t)h;
  uint8_t head[54] = {};
  head[0] = 'B';
  head[1] = 'M';
  Put32(head + 2, 54 + image);
  Put32(head + 10, 54);
  Put32(head + 14, 40);
  Put32(head + 18, (uint32_t)w);
  Put32(head + 22, (uint32_t)h);  // positive height: rows bottom-up
  Put16(head + 26, 1);
  Put16(head + 28, 24);
  Put32(head + 30, 0);  // uncompressed
  Put32(head + 34, image);
  Put32(head + 38, 3780);  // 96 dpi in pixels per metre
  Put32(head + 42, 3780);
  if (fwrite(head, 1, sizeof head, f) != sizeof head) {
    *detail = errno;
    return SaveResult::kOutputError;
  }
  std::vector<uint8_t> rgb((size_t)w * 3), row(stride, 0);
  for (int y = h - 1; y >= 0; --y) {
    SurfaceRowRgb(s, y, rgb.data());
    for (int x = 0; x < w; ++x) {
      row[3 * x] = rgb[3 * x + 2];
      row[3 * x + 1] = rgb[3 * x + 1];
      row[3 * x + 2] = rgb[3 * x];
    }
    if (fwrite(row.data(), 1, stride, f) != stride) {
      *detail = errno;
      return SaveResult::kOutputError;
    }
  }
  return SaveResult::kOk;
}

// Header fields of a Windows bitmap, as far as the reader uses them.
struct BmpHeader {
  uint32_t pixel_offset = 0;
  uint32_t header_size = 0;
  int64_t width = 0, height = 0;
  bool top_down = false;
  int bpp = 0;
  uint32_t compression = 0;
  uint32_t colours_used = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha for bit fields
};

int MaskShift(uint32_t m) {
  int s = 0;
  while (m && !(m & 1)) {
    m >>= 1;
    ++s;
  }
  return s;
}
int MaskBits(uint32_t m) {
  m >>= MaskShift(m);
  int n = 0;
  while (m & 1) {
    m >>= 1;
    ++n;
  }
  return n;
}
// Scales the masked field of v to 0..255.
uint32_t MaskedComponent(uint32_t v, uint32_t mask) {
  if (!mask) return 0;
  const int bits = MaskBits(mask);
  uint32_t c = (v & mask) >> MaskShift(mask);
  if (bits >= 8) return c >> (bits - 8);
  const uint32_t max = (1u << bits) - 1;
  return (c * 255 + max / 2) / max;
}

DecodeResult DecodeBmp(const uint8_t* d, size_t n, cairo_surface_t** out) {
  if (n < 2 || d[0] != 'B' || d[1] != 'M') return DecodeResult::kBadSignature;
  if (n < 18) return DecodeResult::kSubType;
  BmpHeader h;
  h.pixel_offset = Get32(d + 10);
  h.header_size = Get32(d + 14);
  if (h.header_size != 12 && h.header_size != 40 && h.header_size != 52 && h.header_size != 56 &&
      h.header_size != 108 && h.header_size != 124)
    return DecodeResult::kSubType;
  if (14 + (size_t)h.header_size > n) return DecodeResult::kSubType;
  const uint8_t* ih = d + 14;
  if (h.header_size == 12) {
    h.width = Get16(ih + 4);
    h.height = Get16(ih + 6);
    h.bpp = Get16(ih + 10);
  } else {
    h.width = (int32_t)Get32(ih + 4);
    h.height = (int32_t)Get32(ih + 8);
    h.bpp = Get16(ih + 14);
    h.compression = Get32(ih + 16);
    h.colours_used = Get32(ih + 32);
  }
  if (h.height < 0) {
    h.top_down = true;
    h.height = -h.height;
  }
  const bool palette = h.bpp == 1 || h.bpp == 4 || h.bpp == 8;
  if (!palette && h.bpp != 16 && h.bpp != 24 && h.bpp != 32) return DecodeResult::kSubType;
  // Bit fields: in the header from 52 bytes on, else in the 12 (or 16) bytes after it.
  if (h.compression == 3 || h.compression == 6) {
    if (h.bpp != 16 && h.bpp != 32) return DecodeResult::kSubType;
    const size_t count = h.compression == 6 ? 4 : 3;
    const uint8_t* m = ih + 40;
    if (h.header_size < 40 + 4 * count) {
      if (14 + 40 + 4 * count > n || h.header_size != 40) return DecodeResult::kSubType;
    }
    for (size_t i = 0; i < count; ++i) h.masks[i] = Get32(m + 4 * i);
    if (h.header_size >= 56 && count == 3) h.masks[3] = Get32(ih + 52);
  } else if (h.compression == 0) {
    if (h.bpp == 16) {
      h.masks[0] = 0x7c00;
      h.masks[1] = 0x03e0;
      h.masks[2] = 0x001f;
    } else if (h.bpp == 32) {
      h.masks[0] = 0x00ff0000;
      h.masks[1] = 0x0000ff00;
      h.masks[2] = 0x000000ff;
    }
  } else {
    return DecodeResult::kSubType;  // run-length and embedded JPEG/PNG bitmaps
  }
  if (h.width == 0 || h.height == 0 || h.width < 0) return DecodeResult::kSubType;
  if (!DimensionsAllowed(h.width, h.height)) return DecodeResult::kNoMemory;

  uint32_t colours[256] = {};
  if (palette) {
    const size_t entry = h.header_size == 12 ? 3 : 4;
    size_t count = h.colours_used ? h.colours_used : (1u << h.bpp);
    if (count > (1u << h.bpp)) count = 1u << h.bpp;
    const size_t at = 14 + h.header_size + (h.compression == 3 ? 12 : h.compression == 6 ? 16 : 0);
    if (at + count * entry > n) return DecodeResult::kSubType;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = d + at + i * entry;
      colours[i] = 0xff000000u | ((uint32_t)e[2] << 16) | ((uint32_t)e[1] << 8) | e[0];
    }
  }
  const uint64_t stride = (((uint64_t)h.width * (uint64_t)h.bpp + 31) / 32) * 4;
  if ((uint64_t)h.pixel_offset > n || stride * (uint64_t)h.height > n - h.pixel_offset)
    return DecodeResult::kSubType;
  const bool use_alpha = h.masks[3] != 0;

  cairo_surface_t* s = NewSurface((int)h.width, (int)h.height);
  if (!s) return DecodeResult::kNoMemory;
  for (int64_t y = 0; y < h.height; ++y) {
    const uint8_t* row = d + h.pixel_offset + stride * (uint64_t)(h.top_down ? y : h.height - 1 - y);
    uint32_t* px = SurfaceRow(s, (int)y);
    for (int64_t x = 0; x < h.width; ++x) {
      uint32_t value;
      if (palette) {
        const int64_t bit = x * h.bpp;
        const uint32_t byte = row[bit / 8];
        const uint32_t index = (byte >> (8 - h.bpp - (int)(bit % 8))) & ((1u << h.bpp) - 1);
        value = colours[index];
      } else if (h.bpp == 24) {
        const uint8_t* p = row + 3 * x;
        value = 0xff000000u | ((uint32_t)p[2] << 16) | ((uint32_t)p[1] << 8) | p[0];
      } else {
        const uint32_t v = h.bpp == 16 ? Get16(row + 2 * x) : Get32(row + 4 * x);
        const uint32_t a = use_alpha ? MaskedComponent(v, h.masks[3]) : 255;
        value = Premultiplied(MaskedComponent(v, h.masks[0]), MaskedComponent(v, h.masks[1]),
                              MaskedComponent(v, h.masks[2]), a);
      }
      px[x] = value;
    }
  }
  cairo_surface_mark_dirty(s);
  *out = s;
  return DecodeResult::kOk;
}

// ---------------------------------------------------------------- PNG

struct PngJump {
  jmp_buf jump;
  bool out_of_memory = false;
};

void PngError(png_structp png, png_const_charp message) {
  auto* j = static_cast<PngJump*>(png_get_error_ptr(png));
  if (message && strstr(message, "memory")) j->out_of_memory = true;
  longjmp(j->jump, 1);
}
void PngWarning(png_structp, png_const_charp) {}

struct PngSource {
  const uint8_t* data;
  size_t size;
  size_t at;
};

void PngRead(png_structp png, png_bytep out, png_size_t count) {
  auto* src = static_cast<PngSource*>(png_get_io_ptr(png));
  if (count > src->size - src->at) png_error(png, "read past the end of the image");
  memcpy(out, src->data + src->at, count);
  src->at += count;
}

DecodeResult DecodePng(const uint8_t* d, size_t n, cairo_surface_t** out) {
  if (n < 8 || png_sig_cmp(d, 0, 8) != 0) return DecodeResult::kBadSignature;
  PngJump j;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &j, PngError, PngWarning);
  if (!png) return DecodeResult::kNoMemory;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return DecodeResult::kNoMemory;
  }
  PngSource src{d, n, 0};
  // Both must survive the longjmp: volatile keeps them out of registers.
  cairo_surface_t* volatile surface = nullptr;
  std::vector<png_bytep>* volatile rows = new std::vector<png_bytep>();
  if (setjmp(j.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (surface) cairo_surface_destroy(surface);
    delete rows;
    return j.out_of_memory ? DecodeResult::kNoMemory : DecodeResult::kSubType;
  }
  png_set_read_fn(png, &src, PngRead);
  png_set_user_limits(png, kMaxImageSide, kMaxImageSide);
  png_set_chunk_malloc_max(png, 8u << 20);
  png_set_chunk_cache_max(png, 128);
  // Only the pixels matter here: the ancillary chunks (text, colour space,
  // time, physical size, ...) are skipped unread, which also keeps damaged
  // ones from costing time.
  static const png_byte kSkipped[] = "bKGD\0cHRM\0eXIf\0gAMA\0hIST\0iCCP\0iTXt\0oFFs\0pCAL\0pHYs\0"
                                     "sBIT\0sCAL\0sPLT\0sRGB\0tEXt\0tIME\0zTXt";
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, kSkipped, (int)(sizeof kSkipped / 5));
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!DimensionsAllowed(w, h)) {
    png_destroy_read_struct(&png, &info, nullptr);
    delete rows;
    return DecodeResult::kNoMemory;
  }
  const int colour_type = png_get_color_type(png, info);
  if (colour_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colour_type == PNG_COLOR_TYPE_GRAY || colour_type == PNG_COLOR_TYPE_GRAY_ALPHA) {
    png_set_expand_gray_1_2_4_to_8(png);
    png_set_gray_to_rgb(png);
  }
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  png_set_strip_16(png);
  png_set_packing(png);
  png_set_filler(png, 0xff, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != (size_t)w * 4) png_error(png, "unexpected row layout");
  surface = NewSurface((int)w, (int)h);
  if (!surface) {
    j.out_of_memory = true;
    png_error(png, "memory");
  }
  rows->resize(h);
  for (png_uint_32 y = 0; y < h; ++y) (*rows)[y] = reinterpret_cast<png_bytep>(SurfaceRow(surface, (int)y));
  png_read_image(png, rows->data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  delete rows;
  // The rows hold R, G, B, A bytes; turn them into premultiplied native words.
  for (png_uint_32 y = 0; y < h; ++y) {
    uint32_t* px = SurfaceRow(surface, (int)y);
    for (png_uint_32 x = 0; x < w; ++x) {
      const uint8_t* b = reinterpret_cast<const uint8_t*>(px + x);
      px[x] = Premultiplied(b[0], b[1], b[2], b[3]);
    }
  }
  cairo_surface_mark_dirty(surface);
  *out = surface;
  return DecodeResult::kOk;
}

SaveResult WritePng(cairo_surface_t* s, FILE* f, unsigned options, uint32_t background, int* detail) {
  PngJump j;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &j, PngError, PngWarning);
  if (!png) {
    *detail = 1;
    return SaveResult::kPngError;
  }
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    *detail = 2;
    return SaveResult::kPngError;
  }
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  std::vector<uint8_t>* volatile pixels = new std::vector<uint8_t>();
  std::vector<png_bytep>* volatile rows = new std::vector<png_bytep>();
  volatile int stage = 3;
  if (setjmp(j.jump)) {
    png_destroy_write_struct(&png, &info);
    delete pixels;
    delete rows;
    *detail = stage;
    return SaveResult::kPngError;
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, PNG_COLOR_TYPE_RGB,
               (options & kPngInterlace) ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (options & kPngTransparent) {
    png_color_16 key = {};
    key.red = (png_uint_16)(background & 0xff);
    key.green = (png_uint_16)((background >> 8) & 0xff);
    key.blue = (png_uint_16)((background >> 16) & 0xff);
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  stage = 4;
  png_write_info(png, info);
  stage = 5;
  pixels->resize((size_t)w * 3 * (size_t)h);
  rows->resize((size_t)h);
  for (int y = 0; y < h; ++y) {
    (*rows)[y] = pixels->data() + (size_t)y * (size_t)w * 3;
    SurfaceRowRgb(s, y, (*rows)[y]);
  }
  png_write_image(png, rows->data());
  stage = 6;
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  delete pixels;
  delete rows;
  return SaveResult::kOk;
}

// ---------------------------------------------------------------- JPEG

struct JpegJump {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* j = reinterpret_cast<JpegJump*>(cinfo->err);
  longjmp(j->jump, 1);
}
void JpegMessage(j_common_ptr) {}

DecodeResult DecodeJpeg(const uint8_t* d, size_t n, cairo_surface_t** out) {
  if (n < 3 || d[0] != 0xff || d[1] != 0xd8 || d[2] != 0xff) return DecodeResult::kBadSignature;
  jpeg_decompress_struct cinfo;
  JpegJump j;
  cinfo.err = jpeg_std_error(&j.mgr);
  j.mgr.error_exit = JpegErrorExit;
  j.mgr.output_message = JpegMessage;
  cairo_surface_t* volatile surface = nullptr;
  std::vector<uint8_t>* volatile line = new std::vector<uint8_t>();
  if (setjmp(j.jump)) {
    const int code = j.mgr.msg_code;
    jpeg_destroy_decompress(&cinfo);
    if (surface) cairo_surface_destroy(surface);
    delete line;
    return code == JERR_OUT_OF_MEMORY ? DecodeResult::kNoMemory : DecodeResult::kSubType;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = 512L << 20;
  jpeg_mem_src(&cinfo, const_cast<unsigned char*>(d), (unsigned long)n);
  jpeg_read_header(&cinfo, TRUE);
  if (!DimensionsAllowed(cinfo.image_width, cinfo.image_height)) {
    jpeg_destroy_decompress(&cinfo);
    delete line;
    return DecodeResult::kNoMemory;
  }
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  if (cinfo.output_components != 3) {
    jpeg_destroy_decompress(&cinfo);
    delete line;
    return DecodeResult::kSubType;
  }
  const int w = (int)cinfo.output_width, h = (int)cinfo.output_height;
  surface = NewSurface(w, h);
  if (!surface) {
    jpeg_destroy_decompress(&cinfo);
    delete line;
    return DecodeResult::kNoMemory;
  }
  line->resize((size_t)w * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = (int)cinfo.output_scanline;
    JSAMPROW row = line->data();
    if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    uint32_t* px = SurfaceRow(surface, y);
    for (int x = 0; x < w; ++x)
      px[x] = 0xff000000u | ((uint32_t)(*line)[3 * x] << 16) | ((uint32_t)(*line)[3 * x + 1] << 8) |
              (*line)[3 * x + 2];
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  delete line;
  cairo_surface_mark_dirty(surface);
  *out = surface;
  return DecodeResult::kOk;
}

SaveResult WriteJpeg(cairo_surface_t* s, FILE* f, int* detail) {
  jpeg_compress_struct cinfo;
  JpegJump j;
  cinfo.err = jpeg_std_error(&j.mgr);
  j.mgr.error_exit = JpegErrorExit;
  j.mgr.output_message = JpegMessage;
  std::vector<uint8_t>* volatile line = new std::vector<uint8_t>();
  if (setjmp(j.jump)) {
    *detail = j.mgr.msg_code;
    jpeg_destroy_compress(&cinfo);
    delete line;
    return SaveResult::kOutputError;
  }
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, f);
  const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
  cinfo.image_width = (JDIMENSION)w;
  cinfo.image_height = (JDIMENSION)h;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  line->resize((size_t)w * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    SurfaceRowRgb(s, (int)cinfo.next_scanline, line->data());
    JSAMPROW row = line->data();
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  delete line;
  return SaveResult::kOk;
}

}  // namespace

ImageKind ImageKindForWriting(const std::string& name) {
  const std::string ext = LowerExtension(name);
  if (ext == ".bmp") return ImageKind::kBmp;
  if (ext == ".png") return ImageKind::kPng;
  if (ext == ".jpg") return ImageKind::kJpeg;
  return ImageKind::kNone;
}

ImageKind ImageKindForReading(const std::string& name) {
  if (LowerExtension(name) == ".jpeg") return ImageKind::kJpeg;
  return ImageKindForWriting(name);
}

unsigned PngOptionBits(const std::string& word) {
  unsigned bits = 0;
  for (char c : word) {
    if (c == 'w' || c == 'W') bits |= kPngInterlace;
    if (c == 't' || c == 'T') bits |= kPngTransparent;
  }
  return bits;
}

void SurfaceRowRgb(cairo_surface_t* surface, int row, uint8_t* rgb) {
  const int w = cairo_image_surface_get_width(surface);
  const uint32_t* px = SurfaceRow(surface, row);
  for (int x = 0; x < w; ++x) {
    const uint32_t v = px[x];
    uint32_t a = v >> 24, r = (v >> 16) & 0xff, g = (v >> 8) & 0xff, b = v & 0xff;
    if (a != 255 && a != 0) {
      r = (r * 255 + a / 2) / a;
      g = (g * 255 + a / 2) / a;
      b = (b * 255 + a / 2) / a;
      if (r > 255) r = 255;
      if (g > 255) g = 255;
      if (b > 255) b = 255;
    }
    rgb[3 * x] = (uint8_t)r;
    rgb[3 * x + 1] = (uint8_t)g;
    rgb[3 * x + 2] = (uint8_t)b;
  }
}

SaveResult SaveImageFile(cairo_surface_t* surface, const std::string& path, ImageKind kind,
                         unsigned png_options, uint32_t background, int* detail) {
  int scratch = 0;
  if (!detail) detail = &scratch;
  *detail = 0;
  if (!surface || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE ||
      cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS)
    return SaveResult::kNoPicture;
  const cairo_format_t format = cairo_image_surface_get_format(surface);
  if (format != CAIRO_FORMAT_ARGB32 && format != CAIRO_FORMAT_RGB24) {
    *detail = (int)format;
    return SaveResult::kBadFormat;
  }
  if (kind == ImageKind::kNone) return SaveResult::kNoWriter;
  cairo_surface_flush(surface);
  // The picture is written beside the target and renamed over it only when
  // it is complete, so a failure keeps the previous image.
  platform::SafeOutput out;
  if (platform::SafeOpen(out, path.c_str()) != platform::kSafeOk) return SaveResult::kOpenFailed;
  FILE* f = platform::SafeStream(out);
  if (!f) return SaveResult::kOpenFailed;
  SaveResult r;
  switch (kind) {
    case ImageKind::kBmp: r = WriteBmp(surface, f, detail); break;
    case ImageKind::kPng: r = WritePng(surface, f, png_options, background, detail); break;
    default: r = WriteJpeg(surface, f, detail); break;
  }
  if (r != SaveResult::kOk) return r;  // abandoned by out's destructor
  if (platform::SafeCommit(out) != platform::kSafeOk) {
    *detail = out.error;
    r = SaveResult::kOutputError;
  }
  return r;
}

DecodeResult DecodeImage(const uint8_t* data, size_t size, ImageKind kind, cairo_surface_t** out) {
  *out = nullptr;
  switch (kind) {
    case ImageKind::kBmp: return DecodeBmp(data, size, out);
    case ImageKind::kPng: return DecodePng(data, size, out);
    case ImageKind::kJpeg: return DecodeJpeg(data, size, out);
    default: return DecodeResult::kSubType;
  }
}

DecodeResult LoadImageFile(const std::string& path, ImageKind kind, cairo_surface_t** out) {
  *out = nullptr;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return DecodeResult::kCannotOpen;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (bytes.size() + got > (size_t)kMaxImagePixels * 4 + (1u << 20)) {
      fclose(f);
      return DecodeResult::kNoMemory;
    }
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) return DecodeResult::kCannotOpen;
  return DecodeImage(bytes.data(), bytes.size(), kind, out);
}

}  // namespace display
