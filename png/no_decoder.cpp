// The PNG decoder of a build made without libspng's header: a PNG is
// refused with one line; PCX input does not need it.
#include "io.h"
#include "png/png.h"

bool decode_png(const char* path) {
  return fail("Cannot read PNG '%s': this pcx2kob was built without libspng (Debian package libspng-dev)\n", path);
}
