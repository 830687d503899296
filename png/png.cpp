// The PNG reader's own half: the signature, the file's size, the chunks it
// keeps, and the palette file. Decoding is the decoder's (decode_spng.cpp,
// or no_decoder.cpp in a build without libspng's header).
#include "png/png.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io.h"

bool input_is_png(const char* path) {
  int fd = open_input(path);
  if (fd < 0) return false;
  uint8_t head[png_signature_size];
  bool png = pread(fd, head, sizeof head, 0) == static_cast<ssize_t>(sizeof head) &&
             memcmp(head, png_signature, sizeof head) == 0;
  close(fd);
  return png;
}

static uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// The CRC-32 of PNG (and zlib) over `size` bytes, a table lookup a byte.
static uint32_t crc32_of(const uint8_t* bytes, size_t size) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = c & 1 ? png_crc_polynomial ^ c >> 1 : c >> 1;
      table[n] = c;
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ crc >> 8;
  return crc ^ 0xFFFFFFFFu;
}

// Critical chunks go to the decoder (it refuses those it does not know), and
// of the ancillary ones only tRNS, which sets the transparent index.
static bool chunk_needed(const uint8_t* type) {
  return (type[0] & png_ancillary_bit) == 0 || memcmp(type, png_trns_type, png_chunk_type_size) == 0;
}

// Checks the CRC of every ancillary chunk the reader does not need and
// moves the rest of the file down over it, so that the decoder never sees,
// let alone inflates, a text or colour-profile chunk. Walks whole chunks up
// to IEND; whatever follows, or a chunk cut short or too long, stays as it
// is for the decoder to report. False after a bad CRC.
static bool drop_unneeded_chunks(const char* path, uint8_t* file, uint32_t* size) {
  uint32_t in = png_signature_size, out = png_signature_size;
  while (*size - in >= png_chunk_overhead) {
    const uint32_t length = read_be32(file + in);
    if (length > png_max_chunk_length || length > *size - in - png_chunk_overhead) break;
    const uint8_t* type = file + in + png_chunk_length_size;
    const uint32_t chunk_size = length + png_chunk_overhead;
    const bool end = memcmp(type, png_iend + png_chunk_length_size, png_chunk_type_size) == 0;
    if (chunk_needed(type)) {
      memmove(file + out, file + in, chunk_size);
      out += chunk_size;
    } else if (png_checks_crc &&
               crc32_of(type, png_chunk_type_size + length) != read_be32(type + png_chunk_type_size + length)) {
      return fail("Damaged PNG '%s': an ancillary chunk's CRC does not match\n", path);
    }
    in += chunk_size;
    if (end) break;
  }
  memmove(file + out, file + in, *size - in);
  *size = out + (*size - in);
  return true;
}

// Loads the whole file, once its length shows it is not too large to read.
static uint8_t* load_png(const char* path, uint32_t* size) {
  int fd = open_input(path);
  if (fd < 0) {
    fail("Cannot open source file '%s', %s\n", path, strerror(errno));
    return nullptr;
  }
  off_t length = input_length(fd);
  uint8_t* file = nullptr;
  if (length > static_cast<off_t>(png_max_file_size)) {
    fail("PNG '%s' is larger than the %u MiB this reader takes\n", path, png_max_file_size >> 20);
  } else {
    file = load_open_file(fd, path, "source", png_max_file_size, size, &length);
  }
  close(fd);
  return file;
}

bool read_src_png(const char* path) {
  uint32_t size;
  uint8_t* file = load_png(path, &size);
  if (!file) return false;
  bool decoded = drop_unneeded_chunks(path, file, &size) && decode_png(path, file, size);
  free(file);
  return decoded;
}
