#include "vgabus.h"

#include "modex/vgamodel.h"

bool vga_bus_out(uint32_t port, int size, uint32_t value) {
  unsigned long selects = vga.selects;
  for (int i = 0; i < size; ++i) vga_model_out(port + i, (value >> (8 * i)) & 0xFF);
  return vga.selects != selects;
}

uint32_t vga_bus_in(uint32_t port, int size) {
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) value |= uint32_t{vga_model_in(port + i) & 0xFF} << (8 * i);
  return value;
}

uint64_t vga_bus_read(uint64_t offset, unsigned size) {
  uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i)
    value |= uint64_t{vga_model_load(static_cast<unsigned>((offset + i) & 0xFFFF))} << (8 * i);
  return value;
}

void vga_bus_write(uint64_t offset, unsigned size, uint64_t value) {
  for (unsigned i = 0; i < size; ++i)
    vga_model_store(static_cast<unsigned>((offset + i) & 0xFFFF), (value >> (8 * i)) & 0xFF);
}

bool vga_bus_bios(uint32_t ax) {
  constexpr uint32_t set_mode = 0x00;
  constexpr uint32_t keep_memory = 0x80;  // AL's high bit: the planes stay as they are
  if ((ax >> 8 & 0xFF) != set_mode) return false;
  vga_model_set_mode(ax & 0xFF & ~keep_memory);
  return true;
}
