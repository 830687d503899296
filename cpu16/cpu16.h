// A 16-bit real-mode PC on the host, for running and counting the library's
// assembly and generated code: a code segment, a data segment that is also
// the stack and extra segment (DS = ES = SS), and the VGA's segment A000h
// behind the in-memory model of vgamodel.h. bcc's .COM startup sets DS to
// the paragraph after the code (__segoff paragraphs past CS), so code that
// mistakes one for the other fails here as it would under DOS.
//
// - Loads and stores at A0000h..AFFFFh and every IN and OUT reach the VGA
//   model through vgabus.h, a byte at a time: stores land in the planes the
//   map mask enables, loads fill the latches and read the plane Read Map
//   Select picks, a word OUT writes an index and its register.
// - call() runs a near function in the code segment with bcc's small-model convention: arguments
//   pushed last to first (the first at [sp+2] on entry), a near return, the
//   caller popping them. It returns what the run cost.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "modex/kob.h"

struct Cpu16Counts {
  uint64_t instructions = 0;  // each iteration of a rep string instruction is one
  uint64_t stores = 0;        // instructions that wrote to video memory
  uint64_t selects = 0;       // OUTs that wrote the map mask
  uint16_t ax = 0;            // the return value
  uint32_t eax = 0;           // the 386's, whole
  bool returned = false;      // false: the run faulted or ran past its limit
  std::string error;          // why not, when it did not return
};

// Where code and data live unless a .COM image says otherwise, and the
// stack's top in the data segment.
constexpr uint16_t cpu16_code_segment = 0x1000;
constexpr uint16_t cpu16_data_segment = 0x2000;
constexpr uint16_t cpu16_stack_top = 0xFFFE;

struct uc_struct;

class Cpu16 {
 public:
  Cpu16();
  ~Cpu16();
  Cpu16(const Cpu16&) = delete;
  Cpu16& operator=(const Cpu16&) = delete;

  // Code into the code segment at `offset`.
  void load_code(uint16_t offset, const std::vector<uint8_t>& bytes);
  // A .COM that bcc linked, at 100h of the code segment, with the data
  // segment where its startup puts it and the symbols of its `ld86 -M` map
  // (code symbols are offsets in the code segment). False when either file
  // cannot be read or the map lacks __segoff.
  bool load_com(const std::string& com_path, const std::string& map_path);
  uint16_t symbol(const std::string& name) const;
  bool has_symbol(const std::string& name) const { return symbols.count(name) != 0; }

  // Bytes into the data segment at `offset`, wrapping at 64 KiB like the CPU.
  void poke(uint16_t offset, const std::vector<uint8_t>& bytes);
  void poke16(uint16_t offset, uint16_t value);
  std::vector<uint8_t> peek(uint16_t offset, size_t count);
  uint16_t peek16(uint16_t offset);

  // Runs the near function at `function` with 16-bit arguments, stopping
  // after `limit` instructions at the most.
  Cpu16Counts call(uint16_t function, const std::vector<uint16_t>& arguments, uint64_t limit = 50'000'000);

  // A whole .COM run as DOS runs it: loaded at 100h of its PSP's segment
  // (CS = DS = ES = SS, the command tail at 80h), INT 21h's file services on
  // the files of a host directory (names matched without regard to case),
  // the BIOS's video and keyboard calls done at once (every key is Enter),
  // the VGA as the model has it. Stops at the program's
  // exit, or after `limit` instructions.
  struct DosRun {
    Cpu16Counts counts;  // `returned`: the program exited
    int exit_code = -1;
    std::string output;  // what it wrote to standard output and error
  };
  DosRun run_com(const std::string& com_path, const std::string& tail, const std::string& directory,
                 uint64_t limit = 1'000'000'000);

  // Counts of the run in progress; the hooks add to them.
  Cpu16Counts counts;
  uint64_t last_store = ~0ULL;    // the instruction that stored last
  uint64_t last_address = ~0ULL;  // where the last instruction was
  // The DOS run in progress, if any.
  struct Dos {
    std::string directory;
    std::map<unsigned, int> files;  // DOS handle: host descriptor
    uint16_t last_error = 0;
    DosRun run;
  };
  Dos* dos = nullptr;
  void interrupt(unsigned number);

 private:
  void write(uint16_t segment, uint16_t offset, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> read(uint16_t segment, uint16_t offset, size_t count);
  uint16_t reg(int id);
  void set_reg(int id, uint16_t value);
  void set_carry(bool carry);
  std::string string_at(uint16_t segment, uint16_t offset, char end);
  std::string host_path(const std::string& dos_name);
  void dos_service();

  uc_struct* uc = nullptr;
  bool poked = false;
  uint16_t code_segment = cpu16_code_segment;
  uint16_t data_segment = cpu16_data_segment;
  std::map<std::string, uint16_t> symbols;
};

// The library's structures where bcc lays them out: 2-byte ints, unsigneds
// and pointers, 4-byte kob_size, low word first.
constexpr uint16_t cpu16_sprite_size = 8;   // data, width, height, strip
constexpr uint16_t cpu16_target_size = 14;  // page, pitch, left, top, right, bottom, mask

// Places the sprite file at `data` and its strip table right after it, then
// the descriptor at `descriptor`; returns the offset past the strip table.
uint16_t cpu16_place_sprite(Cpu16& cpu, const kob_sprite& sprite, kob_size file_size, uint16_t data,
                            uint16_t descriptor);
// The target at `at`; its `mask` stands for the library's kob_map_mask, the
// plane selected before a draw and after it, in a .COM whose map has it.
void cpu16_place_target(Cpu16& cpu, const kob_target& target, uint16_t at);
kob_target cpu16_read_target(Cpu16& cpu, uint16_t at);
