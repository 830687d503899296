// The hooks both emulated CPUs count with: instructions, store instructions
// to video memory and map-mask OUTs, on a `Cpu` with public `counts`,
// `last_address` and `last_store`, the VGA behind vgabus.h.
#pragma once

#include <unicorn/unicorn.h>

#include <cstdio>
#include <cstdlib>

#include "vgabus.h"

inline void cpu_check(uc_err err) {
  if (err == UC_ERR_OK) return;
  fprintf(stderr, "cpu16: %s\n", uc_strerror(err));
  abort();
}

// A rep or repne prefix among the instruction's first `prefixes` bytes (the
// others may be segment, operand-size or address-size overrides).
inline bool cpu_is_repeated(uc_engine* uc, uint64_t address, unsigned prefixes) {
  uint8_t bytes[3];
  cpu_check(uc_mem_read(uc, address, bytes, prefixes));
  for (unsigned i = 0; i < prefixes; ++i)
    if (bytes[i] == 0xF2 || bytes[i] == 0xF3) return true;
  return false;
}

// A rep string instruction comes back to its own address once per
// iteration and once more to find its count at 0: that last visit does no
// work. `Count` is the count register (CX or ECX) and its width's mask.
template <class Cpu, int Count, uint32_t Mask, unsigned Prefixes>
void cpu_count_instruction(uc_engine* uc, uint64_t address, uint32_t, void* user) {
  auto& cpu = *static_cast<Cpu*>(user);
  if (address == cpu.last_address && cpu_is_repeated(uc, address, Prefixes)) {
    uint32_t count = 0;
    cpu_check(uc_reg_read(uc, Count, &count));
    if ((count & Mask) == 0) return;
  }
  cpu.last_address = address;
  ++cpu.counts.instructions;
}

template <class Cpu>
uint64_t cpu_read_vga(uc_engine*, uint64_t offset, unsigned size, void*) {
  return vga_bus_read(offset, size);
}

// One store instruction may write a word or a dword: it counts once.
template <class Cpu>
void cpu_write_vga(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
  auto& cpu = *static_cast<Cpu*>(user);
  if (cpu.last_store != cpu.counts.instructions) ++cpu.counts.stores;
  cpu.last_store = cpu.counts.instructions;
  vga_bus_write(offset, size, value);
}

template <class Cpu>
void cpu_out(uc_engine*, uint32_t port, int size, uint32_t value, void* user) {
  if (vga_bus_out(port, size, value)) ++static_cast<Cpu*>(user)->counts.selects;
}

template <class Cpu>
uint32_t cpu_in(uc_engine*, uint32_t port, int size, void*) {
  return vga_bus_in(port, size);
}
