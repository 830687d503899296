// The PNG reader's own half: the signature, the file's size, the chunks it
// keeps, and the palette file. Decoding is the decoder's (decode_spng.cpp,
// or no_decoder.cpp in a build without libspng's header).
#include "png/png.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "io.h"

// What was read ahead of the decoder; apart from the record below, which
// every opening clears, so that the clearing costs no more than the fields.
static uint8_t input_buffer[png_read_buffer_size];

// The input being read: its descriptor, what of the buffer is not yet
// taken, and where the decoder stands in the chunks it is handed.
static struct {
  int fd = -1;
  const char* path;  // the name the input was opened under
  bool seekable;     // a file: chunks passed over are sought past
  off_t length;      // a file's length
  size_t at, end;    // the buffered bytes not yet taken
  uint64_t taken;    // bytes of the input taken so far
  uint8_t pending[png_chunk_length_size + png_chunk_type_size];
  uint32_t pending_at, pending_end;  // the signature or a chunk's head, being handed on
  uint64_t chunk_left;               // of the chunk being handed on: its data and CRC
  uint8_t chunk_type[png_chunk_type_size];
  bool image_done;   // IDAT from here on is passed over
  uint64_t checked;  // bytes of dropped chunks read for their CRCs
  bool bad_crc;      // a dropped chunk's CRC did not match
} input;

static void close_input() {
  if (input.fd >= 0) close(input.fd);
  input.fd = -1;
}

// Refills the empty buffer; false at the end of the input or on an error.
static bool fill() {
  input.at = input.end = 0;
  for (;;) {
    ssize_t got = read(input.fd, input_buffer, sizeof input_buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    input.end = static_cast<size_t>(got);
    return true;
  }
}

// Passes over `size` bytes of a file beyond the buffer by a seek, to its
// end at most; returns the count passed over.
static uint64_t seek_past(uint64_t size) {
  const uint64_t from = input.taken;
  const uint64_t length = static_cast<uint64_t>(input.length);
  const uint64_t to = size < length - from ? from + size : length;
  if (lseek(input.fd, static_cast<off_t>(to), SEEK_SET) < 0) return 0;
  input.taken = to;
  return to - from;
}

// Takes up to `size` bytes of the input into `into`, or passes over them
// when `into` is null; returns the count, short only at the end of the
// input or on an error.
static uint64_t take(uint8_t* into, uint64_t size) {
  uint64_t done = 0;
  while (done < size) {
    if (input.at == input.end && !into && input.seekable) return done + seek_past(size - done);
    if (input.at == input.end && !fill()) break;
    size_t n = input.end - input.at;
    if (n > size - done) n = static_cast<size_t>(size - done);
    if (into) memcpy(into + done, input_buffer + input.at, n);
    input.at += n;
    input.taken += n;
    done += n;
  }
  return done;
}

// Opens the input and reads its first bytes: true, with the input kept for
// read_src_png, when they are the PNG signature. A file is sought; a pipe
// or FIFO is read as it comes (blocking, since a FIFO without a writer
// reads as empty); a terminal or any other device is not read.
static bool open_png(const char* path) {
  close_input();
  input = {};
  input.fd = open_input(path);
  if (input.fd < 0) return false;
  input.path = path;
  input.length = input_length(input.fd);
  input.seekable = input.length >= 0;
  struct stat status;
  const bool stream = !input.seekable && fstat(input.fd, &status) == 0 && S_ISFIFO(status.st_mode);
  if (stream) fcntl(input.fd, F_SETFL, fcntl(input.fd, F_GETFL) & ~O_NONBLOCK);
  if (input.seekable) lseek(input.fd, 0, SEEK_SET);
  uint8_t head[png_signature_size];
  const bool png = (input.seekable || stream) && take(head, sizeof head) == sizeof head &&
                   memcmp(head, png_signature, sizeof head) == 0;
  if (!png) close_input();
  return png;
}

bool input_is_png(const char* path) { return open_png(path); }

static uint32_t read_be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// The CRC-32 of PNG (and zlib) over `size` bytes, a table lookup a byte,
// going on from `crc`, the CRC of the bytes before (0 for none).
static uint32_t crc32_of(const uint8_t* bytes, size_t size, uint32_t crc) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int bit = 0; bit < 8; ++bit) c = c & 1 ? png_crc_polynomial ^ c >> 1 : c >> 1;
      table[n] = c;
    }
  }
  crc ^= 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ crc >> 8;
  return crc ^ 0xFFFFFFFFu;
}

static bool is_type(const uint8_t* type, const uint8_t* other) { return memcmp(type, other, png_chunk_type_size) == 0; }

// Critical chunks go to the decoder (it refuses those it does not know), but
// IDAT only until the image is complete; of the ancillary ones only tRNS,
// which sets the transparent index. A length no chunk may have goes to the
// decoder too, which reports it.
static bool chunk_needed(const uint8_t* type, uint32_t length) {
  if (length > png_max_chunk_length) return true;
  if (is_type(type, png_idat_type)) return !input.image_done;
  return (type[0] & png_ancillary_bit) == 0 || is_type(type, png_trns_type);
}

// Reads a dropped chunk's data and CRC and checks it; false at the end of
// the input, or after a bad CRC, with bad_crc set.
static bool check_dropped_chunk(const uint8_t* type, uint32_t length) {
  uint32_t crc = crc32_of(type, png_chunk_type_size, 0);
  for (uint32_t left = length; left > 0;) {
    uint8_t part[png_read_buffer_size];
    const uint32_t n = left < sizeof part ? left : static_cast<uint32_t>(sizeof part);
    if (take(part, n) != n) return false;
    crc = crc32_of(part, n, crc);
    left -= n;
  }
  uint8_t stored[png_chunk_crc_size];
  if (take(stored, sizeof stored) != sizeof stored) return false;
  input.bad_crc = crc != read_be32(stored);
  return !input.bad_crc;
}

// Passes over a chunk the decoder does not use: the first
// png_max_checked_bytes of such chunks are read for their CRCs, the rest
// are passed over unread, so that no chunk can cost time or memory.
static bool drop_chunk(const uint8_t* type, uint32_t length) {
  const uint64_t size = uint64_t{length} + png_chunk_crc_size;
  if (png_checks_crc && input.checked + size <= png_max_checked_bytes) {
    input.checked += size;
    return check_dropped_chunk(type, length);
  }
  return take(nullptr, size) == size;
}

// Reads chunk heads until one the decoder needs, which becomes pending;
// false at the end of the input, on an error, after a bad CRC, or past
// png_max_file_size of a pipe.
static bool next_needed_chunk() {
  for (;;) {
    if (!input.seekable && input.taken > png_max_file_size) return false;
    const uint32_t head = png_chunk_length_size + png_chunk_type_size;
    if (take(input.pending, head) != head) return false;
    const uint32_t length = read_be32(input.pending);
    memcpy(input.chunk_type, input.pending + png_chunk_length_size, png_chunk_type_size);
    if (chunk_needed(input.chunk_type, length)) {
      input.pending_at = 0;
      input.pending_end = head;
      input.chunk_left = uint64_t{length} + png_chunk_crc_size;
      return true;
    }
    if (!drop_chunk(input.chunk_type, length)) return false;
  }
}

bool read_png_stream(uint8_t* into, size_t size) {
  while (size > 0) {
    if (input.pending_at < input.pending_end) {
      size_t n = input.pending_end - input.pending_at;
      if (n > size) n = size;
      memcpy(into, input.pending + input.pending_at, n);
      input.pending_at += static_cast<uint32_t>(n);
      into += n;
      size -= n;
      continue;
    }
    if (input.chunk_left == 0) {
      if (!next_needed_chunk()) return false;
      continue;  // its head first
    }
    const uint64_t n = size < input.chunk_left ? size : input.chunk_left;
    if (take(into, n) != n) return false;
    input.chunk_left -= n;
    into += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void png_image_done() { input.image_done = true; }

bool png_in_iend() { return is_type(input.chunk_type, png_iend + png_chunk_length_size); }

// The decoder may leave IEND's CRC unread: what it left must be IEND's own,
// and nothing may follow.
bool png_ends_at_iend() {
  if (!png_in_iend() || input.pending_at < input.pending_end || read_be32(input.pending) != 0) return false;
  uint8_t rest[png_chunk_crc_size];
  const uint32_t left = static_cast<uint32_t>(input.chunk_left);
  if (take(rest, left) != left) return false;
  if (memcmp(rest, png_iend + png_iend_size - left, left) != 0) return false;
  uint8_t more;
  return take(&more, 1) == 0;
}

bool png_reader_failed(const char* path) {
  if (input.bad_crc) return !fail("Damaged PNG '%s': an ancillary chunk's CRC does not match\n", path);
  if (!input.seekable && input.taken > png_max_file_size) {
    return !fail("PNG '%s' is larger than the %u MiB this reader takes\n", path, png_max_file_size >> 20);
  }
  return false;
}

// The signature has been read; the decoder is handed it again, then the
// chunks it needs.
static void start_stream() {
  memcpy(input.pending, png_signature, png_signature_size);
  input.pending_at = 0;
  input.pending_end = png_signature_size;
}

bool read_src_png(const char* path) {
  if ((input.fd < 0 || strcmp(input.path, path) != 0) && !open_png(path)) {
    int fd = open_input(path);
    if (fd < 0) return fail("Cannot open source file '%s', %s\n", path, strerror(errno));
    close(fd);
    return fail("Cannot read source file '%s'\n", path);
  }
  bool decoded = false;
  if (input.seekable && input.length > static_cast<off_t>(png_max_file_size)) {
    fail("PNG '%s' is larger than the %u MiB this reader takes\n", path, png_max_file_size >> 20);
  } else {
    start_stream();
    decoded = decode_png(path);
  }
  close_input();
  return decoded;
}
