#include "image.h"

#include "io.h"

Image src_image;

bool write_pcx_palette(const char* path) { return write_file(path, src_image.palette, image_palette_size); }
