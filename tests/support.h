// Shared helpers for the tests: files, the real executable, and a small PCX
// builder so that every header field and data byte can be set by a table row.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A fresh directory in /tmp for this test process, removed when it exits.
const std::string& scratch_dir();
std::string scratch_path(const std::string& name);

void write_bytes(const std::string& path, const Bytes& bytes);
Bytes read_bytes(const std::string& path);
bool file_exists(const std::string& path);
// The names in a directory, hidden ones included.
std::set<std::string> files_in(const std::string& dir);
Bytes bytes_of(const std::string& text);
Bytes repeat(size_t count, uint8_t value);
Bytes join(std::initializer_list<Bytes> parts);

// One run of the real pcx2kob executable.
struct ToolRun {
  int status = -1;         // exit status, or -1 when a signal ended it
  int signal = 0;          // the signal that ended it, if any
  bool timed_out = false;  // killed after running for 10 seconds
  std::string out;         // all of standard output
  std::string err;         // all of standard error
  double seconds = 0;      // wall-clock time from fork to exit
};
struct RunOptions {
  int stdin_fd = -1;          // standard input; /dev/null when -1
  bool unprivileged = false;  // when the tests run as root, run as nobody
  long file_size_limit = -1;  // bytes any file may grow to; none when -1
  std::string exe = PCX2KOB_EXE;
};
ToolRun run_tool(const std::vector<std::string>& args, const RunOptions& options = {});

// The PCX file a test wants: the fields default to a valid 256-colour image.
struct Pcx {
  uint8_t manufacturer = 10;
  uint8_t version = 5;
  uint8_t encoding = 1;
  uint8_t bits = 8;
  uint16_t xmin = 0, ymin = 0, xmax = 1, ymax = 1;
  uint8_t planes = 1;
  uint16_t stride = 2;
  Bytes data;                // the image data, written as given
  bool with_palette = true;  // marker and 768 palette bytes at the end
};
Bytes build_pcx(const Pcx& pcx);

// The palette build_pcx appends: entry i is (i, 255 - i, i ^ 0x55).
Bytes test_palette();

// Run-length encodes rows of `stride` pixels as one stream, the way common
// image tools do: runs of 2 to 63, and the two-byte form for values >= 192.
Bytes rle_encode(const Bytes& pixels);

// A Pcx of the given pixels, rows of `stride` bytes, width <= stride.
Pcx pcx_of(const Bytes& pixels, uint32_t width, uint32_t height, uint32_t stride);

// Writes the file and runs read_src_pcx on it, releasing any earlier image.
bool load_pcx(const Bytes& file);

// Frees what the stages hold, so each test starts clean.
void release_image();

// The KOB file pcx2kob's stages compile the pixels into, 0 transparent.
Bytes kob_of(const Bytes& pixels, uint32_t width, uint32_t height);

// Seeded random runs, a third transparent (0), none 255, as the drawing
// tests use.
Bytes random_runs(uint32_t width, uint32_t height, unsigned seed);

// Whether the tools were built with a PNG decoder (libspng's header found).
constexpr bool png_decoder_built = PNG_DECODER;

// The expected usage text, byte for byte.
extern const char* const usage_text;

// One frame of a bank a test writes by hand: its entry's fields and, for a
// frame that stores one, its sprite (a whole KOB file).
struct BankFrame {
  uint8_t kind = 0;  // empty, stored, same, mirrored: 0 to 3
  uint16_t source = 0;
  uint16_t left = 0, top = 0;
  int16_t hotspot_x = 0, hotspot_y = 0;
  Bytes sprite;
};

// The bank file of the frames, the sprites' offsets filled in as the layout
// puts them, after the table in the order of the frames that store them.
Bytes build_bank(uint16_t cell_width, uint16_t cell_height, uint16_t across, const std::vector<BankFrame>& frames);

// The VGA model with every plane byte its own function of plane and offset,
// in mode 13h as the BIOS leaves it, the retrace `phase` reads into a frame.
void patterned_vga(unsigned phase = 0);
