// The sprites and places the drawer tables draw, on every emulated CPU: every
// kind of record, every x mod 4, past every edge, other pages and pitches;
// and what the host's C drawer makes of each on the VGA model.
#pragma once

#include <vector>

#include "modex/kob.h"
#include "support.h"

// runs: runs of 1 to a dozen rows, a third transparent; noise: every pixel
// opaque and new, literals of up to 126; sparse: single pixels far apart,
// skips of up to 254; bands: runs of about 25 rows, on both sides of the
// longest record with a sequence of its own.
enum Kind { runs, noise, sparse, bands };

Bytes paint(Kind kind, uint32_t width, uint32_t height, unsigned seed);

struct DrawCase {
  Kind kind;
  uint32_t width, height;
  int x, y;
  kob_target clip;  // its `mask`: the plane selected before the draw
};
// The hand-picked cases, then 16 drawn at random. Offsets past the end of a
// plane wrap to its start, as in a 16-bit segment.
std::vector<DrawCase> draw_cases();

enum Mode { plain, mirrored, strip_by_strip };
const char* mode_name(Mode mode);

// The columns of a streamed draw at x, in plane order.
std::vector<unsigned> plane_order(int x, unsigned width);

// What a draw left: every plane byte, the model's counts and the map mask the
// library recorded.
struct Drawn {
  Bytes planes;
  unsigned long stores, overwrites, selects;
  unsigned mask;
  bool operator==(const Drawn&) const = default;
};
Drawn drawn(unsigned mask);

// The case drawn by the host's C drawer on a model of 255s.
Drawn draw_here(const kob_sprite& sprite, const DrawCase& c, Mode mode);
