// A 16-bit real-mode PC on the host, for running and counting the library's
// assembly and generated code: one 64 KiB segment where code, data and stack
// live together (CS = DS = ES = SS, as in a .COM), and the VGA's segment
// A000h behind the in-memory model of vgamodel.h.
//
// - Stores to A0000h..AFFFFh go through vga_model_store, one per byte, so they
//   land in the planes the map mask enables; reads there return 0.
// - OUT to 3C4h (index) and 3C5h (data) reaches the Sequencer: index 2, the
//   map mask, goes to vga_model_select. A word OUT to 3C4h writes both.
// - call() runs a near function with bcc's small-model convention: arguments
//   pushed last to first (the first at [sp+2] on entry), a near return, the
//   caller popping them. It returns what the run cost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modex/kob.h"

struct Cpu16Counts {
  uint64_t instructions = 0;  // each iteration of a rep string instruction is one
  uint64_t stores = 0;        // instructions that wrote to video memory
  uint64_t selects = 0;       // OUTs that wrote the map mask
  uint16_t ax = 0;            // the return value
  bool returned = false;      // false: the run faulted or ran past its limit
  std::string error;          // why not, when it did not return
};

// The segment everything lives in, and the stack's top within it.
constexpr uint16_t cpu16_segment = 0x1000;
constexpr uint16_t cpu16_stack_top = 0xFFFE;

struct uc_struct;

class Cpu16 {
 public:
  Cpu16();
  ~Cpu16();
  Cpu16(const Cpu16&) = delete;
  Cpu16& operator=(const Cpu16&) = delete;

  // Bytes into the segment at `offset`, wrapping at 64 KiB like the CPU.
  void poke(uint16_t offset, const std::vector<uint8_t>& bytes);
  void poke16(uint16_t offset, uint16_t value);
  std::vector<uint8_t> peek(uint16_t offset, size_t count);
  uint16_t peek16(uint16_t offset);

  // Runs the near function at `function` with 16-bit arguments, stopping
  // after `limit` instructions at the most.
  Cpu16Counts call(uint16_t function, const std::vector<uint16_t>& arguments, uint64_t limit = 50'000'000);

  // Counts of the run in progress; the hooks add to them.
  Cpu16Counts counts;
  uint64_t last_store = ~0ULL;    // the instruction that stored last
  uint64_t last_address = ~0ULL;  // where the last instruction was
  unsigned sequencer_index = 0;

 private:
  uc_struct* uc = nullptr;
  bool poked = false;
};

// The library's structures where bcc lays them out: 2-byte ints, unsigneds
// and pointers, 4-byte kob_size, low word first.
constexpr uint16_t cpu16_sprite_size = 8;   // data, width, height, strip
constexpr uint16_t cpu16_target_size = 14;  // page, pitch, left, top, right, bottom, mask

// Places the sprite file at `data` and its strip table right after it, then
// the descriptor at `descriptor`; returns the offset past the strip table.
uint16_t cpu16_place_sprite(Cpu16& cpu, const kob_sprite& sprite, kob_size file_size, uint16_t data,
                            uint16_t descriptor);
void cpu16_place_target(Cpu16& cpu, const kob_target& target, uint16_t at);
kob_target cpu16_read_target(Cpu16& cpu, uint16_t at);
