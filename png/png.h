// PNG input: the reader recognises a PNG by its signature, decodes an
// indexed-colour PNG to palette indices into the pixel buffer and keeps its
// palette for the palette file. Decoding is libspng's, loaded only when a PNG
// arrives, so a PCX run pays nothing for it.
//
// The PNG file, as this reader takes it (integers big-endian):
//
//   offset  size  field
//        0     8  signature 89 50 4E 47 0D 0A 1A 0A
//        8     -  chunks, each: length (4), type (4), data (length), CRC (4)
//                 of type and data; bit 5 of the type's first letter set
//                 marks an ancillary chunk, one a decoder may ignore
//
//   IHDR  width (4), height (4), bit depth (1), colour type (1), compression,
//         filter and interlace method (1 each); colour type 3 (palette
//         indices) at bit depth 1, 2, 4 or 8 is accepted, interlaced or not
//   PLTE  1 to 256 entries of red, green, blue; indices beyond the last entry
//         are allowed in the image and kept as they are
//   tRNS  an alpha value for each of the first entries (others are opaque);
//         one entry of alpha 0 marks the image's transparent index
//   IDAT  the zlib-compressed, filtered scanlines; sub-byte pixels are packed
//         from the high bits of each byte down. An interlaced (Adam7) image
//         is stored as seven reduced images, the passes, each pass a grid of
//         every dx-th pixel of every dy-th row from (x0, y0)
//   IEND  the end
//
// Only those chunks reach the decoder, read from the file as it asks for
// them, and IDAT only until the image is complete. Every other chunk (text,
// colour profiles, compressed or not, and IDAT after the image) is dropped:
// within the first png_max_checked_bytes of such chunks it is read for its
// CRC, beyond them passed over unread, by a seek, so that no chunk can cost
// time or memory and nothing but the image data is ever inflated. The CRC of
// every chunk the decoder reads is checked and the file must end with the
// IEND chunk: a damaged or cut file is refused before anything is written.
// A file's length is checked before any of it is read; a pipe is read as it
// comes, up to the same length.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t png_signature_size = 8;
constexpr uint8_t png_signature[png_signature_size] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint32_t png_chunk_length_size = 4;
constexpr uint32_t png_chunk_type_size = 4;
constexpr uint32_t png_chunk_crc_size = 4;
constexpr uint32_t png_chunk_overhead = png_chunk_length_size + png_chunk_type_size + png_chunk_crc_size;
constexpr uint32_t png_max_chunk_length = 0x7FFFFFFF;  // 2^31 - 1
constexpr uint8_t png_ancillary_bit = 0x20;            // in the type's first byte
constexpr uint8_t png_trns_type[png_chunk_type_size] = {'t', 'R', 'N', 'S'};
constexpr uint8_t png_idat_type[png_chunk_type_size] = {'I', 'D', 'A', 'T'};
constexpr uint32_t png_crc_polynomial = 0xEDB88320;  // CRC-32, bits reversed
// IEND is always the same 12 bytes: length 0, type, CRC.
constexpr uint32_t png_iend_size = png_chunk_overhead;
constexpr uint8_t png_iend[png_iend_size] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};
// A fuzzing build lets mutated files past their CRCs, into inflate and the
// index decoding; every other build refuses a bad CRC.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr bool png_checks_crc = false;
#else
constexpr bool png_checks_crc = true;
#endif
constexpr uint8_t png_colour_type_indexed = 3;
constexpr uint8_t png_max_bit_depth = 8;  // depths 1, 2, 4 and 8 pack into a byte
constexpr uint8_t png_fully_transparent = 0;
constexpr uint8_t png_interlace_adam7 = 1;
struct PngPass {
  uint32_t x0, y0, dx, dy;
};
constexpr PngPass png_adam7_passes[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                         {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
constexpr PngPass png_whole_image = {0, 0, 1, 1};  // the one pass of an image not interlaced

// The largest PNG file read; an 8192 x 8192 sheet stored uncompressed is 64 MiB.
constexpr uint32_t png_max_file_size = 256u << 20;
// The input is read through a buffer of this size.
constexpr size_t png_read_buffer_size = 64u << 10;
// Bytes of dropped chunks read for their CRCs, at most, in one file.
constexpr uint64_t png_max_checked_bytes = 16u << 20;
// Memory libspng may keep for the ancillary chunks it is given (only tRNS).
constexpr size_t png_chunk_cache_limit = 64u << 20;

// The shared library that decodes PNG images, opened on the first PNG.
constexpr char png_library[] = "libspng.so.0";

// True when the file at `path` starts with the PNG signature, which a file
// is sought for and a pipe or FIFO read for; the input stays open for
// read_src_png. False for anything else, a terminal and a file that cannot
// be opened included.
bool input_is_png(const char* path);

// Loads and decodes an indexed PNG whole into src_image (see image.h): the
// pixels (stride equal to the width), the geometry, PLTE's entries as the
// palette, and the transparent index from tRNS unless -tc gave one.
bool read_src_png(const char* path);

// The decoder's half of read_src_png: decodes the PNG that read_png_stream
// hands it and sets what read_src_png promises.
bool decode_png(const char* path);

// The next `size` bytes of the PNG as the decoder reads it: the signature
// and the chunks it needs. False when the file ends first or cannot be read.
bool read_png_stream(uint8_t* into, size_t size);

// The decoder has the whole image: IDAT from here on is passed over.
void png_image_done();

// Whether the chunk the decoder reads (or last read) is IEND.
bool png_in_iend();

// After the decoder's last chunk: whether that was IEND, whole, at the very
// end of the file.
bool png_ends_at_iend();

// When the reader itself refused the file (a dropped chunk's bad CRC, a
// pipe too long), writes its message and returns true.
bool png_reader_failed(const char* path);
