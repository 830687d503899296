// A 386 in 32-bit flat protected mode on the host, for running and counting
// the library as a DOS extender runs it: one flat address space, no
// descriptor tables, code and data where a static i386 ELF program puts them.
//
// - The program: a static i386 executable (ld -m elf_i386, or gcc -m32
//   -nostdlib -no-pie), e.g. flat32/libmodex32.a linked with a test driver
//   that brings memcpy, memset and sprintf. Its symbols come from its symbol
//   table.
// - Video memory at A0000h..AFFFFh, every IN and OUT and INT 10h's mode set
//   reach the one VGA model through vgabus.h, as on the 16-bit PC.
// - The BIOS's timer ticks at 46Ch are the VGA model's (vga_model_ticks).
// - Data the tests place goes between cpu386_data and cpu386_data_end; the
//   stack lies above it. Nothing else is mapped: a stray pointer faults.
// - call() runs a cdecl function: 32-bit arguments pushed last to first, a
//   near return, the result in EAX. It fails the run, saying so, when the
//   function comes back with EBX, ESI, EDI, EBP or ESP not as they were, or
//   with the direction flag set.
//
// For the drawers' tests (the API draw21 and the tables use):
//
//   Cpu386 cpu;
//   ASSERT_TRUE(cpu.load_elf(FLAT32_DRIVER));
//   cpu386_place_target(cpu, target, target_at);
//   uint32_t end = cpu386_place_sprite(cpu, sprite, file_size, data_at, sprite_at);
//   Cpu16Counts run = cpu.call(cpu.symbol("kob_draw"), {target_at, sprite_at, uint32_t(x), uint32_t(y)});
//   // run.returned, run.instructions, run.stores, run.selects, run.eax
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cpu16.h"

// Where the tests' data goes, and the stack's top above it.
constexpr uint32_t cpu386_data = 0x00100000;
constexpr uint32_t cpu386_data_end = 0x00480000;
constexpr uint32_t cpu386_stack_top = 0x00500000;

class Cpu386 {
 public:
  Cpu386();
  ~Cpu386();
  Cpu386(const Cpu386&) = delete;
  Cpu386& operator=(const Cpu386&) = delete;

  // Maps the program's loadable segments (anywhere from 1 MiB up, clear of
  // the data and the stack) and reads its symbols. False, with `error` set,
  // when the file cannot be read or is not a static i386 executable.
  bool load_elf(const std::string& path);
  uint32_t symbol(const std::string& name) const;
  bool has_symbol(const std::string& name) const { return symbols.count(name) != 0; }
  std::string error;

  void poke(uint32_t address, const std::vector<uint8_t>& bytes);
  void poke32(uint32_t address, uint32_t value);
  std::vector<uint8_t> peek(uint32_t address, size_t count);
  uint32_t peek32(uint32_t address);

  // Runs the cdecl function at `function`, stopping after `limit`
  // instructions at the most.
  Cpu16Counts call(uint32_t function, const std::vector<uint32_t>& arguments, uint64_t limit = 50'000'000);

  // Counts of the run in progress; the hooks add to them.
  Cpu16Counts counts;
  uint64_t last_store = ~0ULL;    // the instruction that stored last
  uint64_t last_address = ~0ULL;  // where the last instruction was
  void interrupt(unsigned number);

 private:
  uint32_t reg(int id);
  void set_reg(int id, uint32_t value);

  uc_struct* uc = nullptr;
  std::vector<std::pair<uint64_t, uint64_t>> program;  // mapped: start, size
  std::map<std::string, uint32_t> symbols;
};

// The library's structures where a 32-bit compiler lays them out: 4-byte
// ints, unsigneds, pointers and kob_size.
constexpr uint32_t cpu386_sprite_size = 16;  // data, width, height, strip
constexpr uint32_t cpu386_target_size = 28;  // page, pitch, left, top, right, bottom, mask

// Places the sprite file at `data` and its strip table right after it, then
// the descriptor at `descriptor`; returns the address past the strip table.
uint32_t cpu386_place_sprite(Cpu386& cpu, const kob_sprite& sprite, kob_size file_size, uint32_t data,
                             uint32_t descriptor);
// The target at `at`; its `mask` stands for the library's kob_map_mask, as
// on the 16-bit PC.
void cpu386_place_target(Cpu386& cpu, const kob_target& target, uint32_t at);
kob_target cpu386_read_target(Cpu386& cpu, uint32_t at);
