// The VGA as the emulated CPUs see it: their port I/O and their accesses to
// the video memory window, each byte handed to the one model of vgamodel.h.
// A word OUT writes its low byte to the port and its high byte to the next,
// as the VGA takes an index and its data in one instruction.
#pragma once

#include <cstdint>

// Every byte of an OUT of `size` bytes (1, 2 or 4); true when one of them
// wrote the map mask.
bool vga_bus_out(uint32_t port, int size, uint32_t value);
uint32_t vga_bus_in(uint32_t port, int size);

// Loads and stores at `offset` of the window, wrapping within a plane's
// 64 KiB: each byte read loads the latches and comes from the plane that
// Read Map Select picks; each byte stored goes to the planes the map mask
// enables (vga_model_store, so the model counts it).
uint64_t vga_bus_read(uint64_t offset, unsigned size);
void vga_bus_write(uint64_t offset, unsigned size, uint64_t value);

// INT 10h with AX = `ax`: the video BIOS's mode set (AH 0) loads the mode's
// registers into the model; false for any other service.
bool vga_bus_bios(uint32_t ax);
