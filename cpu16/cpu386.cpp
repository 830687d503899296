// The emulated 386 of cpu386.h on unicorn, sharing the 16-bit PC's hooks
// and its VGA.
#include "cpu386.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

#include "hooks.h"
#include "modex/vgamodel.h"

namespace {

constexpr uint64_t page_size = 0x1000;
// The called function returns to a page of HLTs, where emulation stops.
constexpr uint32_t return_address = 0x1000;
constexpr uint64_t vga_base = 0xA0000;
constexpr uint64_t vga_size = 0x10000;
// The BIOS's timer ticks, in the first page: the VGA model's clock.
constexpr uint64_t bios_ticks = 0x46C, bios_ticks_size = 4;
constexpr int callee_saved[] = {UC_X86_REG_EBX, UC_X86_REG_ESI, UC_X86_REG_EDI, UC_X86_REG_EBP};
constexpr uint32_t direction_flag = 0x400;

// The ELF fields read, little-endian: the identification, the header and a
// program header (PT_LOAD), a section header (SHT_SYMTAB) and a symbol.
constexpr size_t elf_header_size = 52;
constexpr uint8_t elf_magic[] = {0x7F, 'E', 'L', 'F', 1 /* 32-bit */, 1 /* little-endian */};
constexpr unsigned elf_executable = 2, elf_i386 = 3;
constexpr size_t e_type = 16, e_machine = 18, e_phoff = 28, e_shoff = 32, e_phentsize = 42, e_phnum = 44,
                 e_shentsize = 46, e_shnum = 48;
constexpr unsigned pt_load = 1;
constexpr size_t p_type = 0, p_offset = 4, p_vaddr = 8, p_filesz = 16, p_memsz = 20, program_header_size = 32;
constexpr unsigned sht_symtab = 2;
constexpr size_t sh_type = 4, sh_offset = 16, sh_size = 20, sh_link = 24, section_header_size = 40;
constexpr size_t st_name = 0, st_value = 4, symbol_size = 16;

void check(uc_err err) { cpu_check(err); }

uint64_t page_down(uint64_t address) { return address & ~(page_size - 1); }
uint64_t page_up(uint64_t address) { return page_down(address + page_size - 1); }

// Little-endian fields of a file held whole, 0 past its end.
struct Image {
  std::vector<uint8_t> bytes;
  uint32_t u8(uint64_t at) const { return at < bytes.size() ? bytes[at] : 0; }
  uint32_t u16(uint64_t at) const { return u8(at) | u8(at + 1) << 8; }
  uint32_t u32(uint64_t at) const { return u16(at) | u16(at + 2) << 16; }
  bool holds(uint64_t at, uint64_t count) const { return at <= bytes.size() && count <= bytes.size() - at; }
};

void interrupt(uc_engine*, uint32_t number, void* user) { static_cast<Cpu386*>(user)->interrupt(number); }

// The first page holds only the BIOS's tick count, read whole; any other
// access there is a stray pointer and stops the run.
uint64_t read_first_page(uc_engine* uc, uint64_t offset, unsigned size, void* user) {
  if (offset == bios_ticks && size == bios_ticks_size) return vga_model_ticks() & 0xFFFFFFFF;
  static_cast<Cpu386*>(user)->counts.error =
      "Invalid memory read of " + std::to_string(size) + " at " + std::to_string(offset);
  uc_emu_stop(uc);
  return 0;
}

void write_first_page(uc_engine* uc, uint64_t offset, unsigned, uint64_t, void* user) {
  static_cast<Cpu386*>(user)->counts.error = "Invalid memory write at " + std::to_string(offset);
  uc_emu_stop(uc);
}

}  // namespace

Cpu386::Cpu386() {
  check(uc_open(UC_ARCH_X86, UC_MODE_32, &uc));
  check(uc_mem_map(uc, return_address, page_size, UC_PROT_ALL));
  check(uc_mem_write(uc, return_address, std::vector<uint8_t>(page_size, 0xF4).data(), page_size));
  check(uc_mem_map(uc, cpu386_data, cpu386_stack_top - cpu386_data, UC_PROT_ALL));
  check(uc_mmio_map(uc, vga_base, vga_size, cpu_read_vga<Cpu386>, this, cpu_write_vga<Cpu386>, this));
  check(uc_mmio_map(uc, 0, page_size, read_first_page, this, write_first_page, this));
  uc_hook hook;
  check(uc_hook_add(uc, &hook, UC_HOOK_CODE,
                    reinterpret_cast<void*>(cpu_count_instruction<Cpu386, UC_X86_REG_ECX, 0xFFFFFFFF, 3>), this, 1, 0));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(cpu_out<Cpu386>), this, 1, 0, UC_X86_INS_OUT));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(cpu_in<Cpu386>), this, 1, 0, UC_X86_INS_IN));
  check(uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(::interrupt), this, 1, 0));
}

Cpu386::~Cpu386() { uc_close(uc); }

bool Cpu386::load_elf(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  Image elf{{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()}};
  auto refuse = [&](const std::string& why) {
    error = path + ": " + why;
    return false;
  };
  if (!file && elf.bytes.empty()) return refuse("cannot be read");
  if (elf.bytes.size() < elf_header_size || !std::equal(std::begin(elf_magic), std::end(elf_magic), elf.bytes.begin()))
    return refuse("not a 32-bit little-endian ELF file");
  if (elf.u16(e_type) != elf_executable || elf.u16(e_machine) != elf_i386) return refuse("not an i386 executable");
  if (!program.empty()) return refuse("a program is loaded already");
  // One mapping from the first loadable byte to the last, so that segments
  // sharing a page need no care.
  uint64_t low = ~0ULL, high = 0;
  uint32_t phoff = elf.u32(e_phoff), phentsize = elf.u16(e_phentsize);
  for (uint32_t i = 0; i < elf.u16(e_phnum); ++i) {
    uint64_t header = phoff + uint64_t{i} * phentsize;
    if (phentsize < program_header_size || !elf.holds(header, program_header_size))
      return refuse("program headers past the end");
    if (elf.u32(header + p_type) != pt_load) continue;
    if (!elf.holds(elf.u32(header + p_offset), elf.u32(header + p_filesz))) return refuse("a segment past the end");
    low = std::min<uint64_t>(low, page_down(elf.u32(header + p_vaddr)));
    high = std::max<uint64_t>(high, page_up(uint64_t{elf.u32(header + p_vaddr)} + elf.u32(header + p_memsz)));
  }
  if (low >= high) return refuse("nothing to load");
  if (low < cpu386_stack_top) return refuse("loads below the stack's top");
  check(uc_mem_map(uc, low, high - low, UC_PROT_ALL));
  program.push_back({low, high - low});
  for (uint32_t i = 0; i < elf.u16(e_phnum); ++i) {
    uint64_t header = phoff + uint64_t{i} * phentsize;
    if (elf.u32(header + p_type) != pt_load || elf.u32(header + p_filesz) == 0) continue;
    check(uc_mem_write(uc, elf.u32(header + p_vaddr), elf.bytes.data() + elf.u32(header + p_offset),
                       elf.u32(header + p_filesz)));
  }
  symbols.clear();
  uint32_t shoff = elf.u32(e_shoff), shentsize = elf.u16(e_shentsize);
  for (uint32_t i = 0; i < elf.u16(e_shnum); ++i) {
    uint64_t section = shoff + uint64_t{i} * shentsize;
    if (shentsize < section_header_size || !elf.holds(section, section_header_size))
      return refuse("section headers past the end");
    if (elf.u32(section + sh_type) != sht_symtab) continue;
    uint64_t strings = shoff + uint64_t{elf.u32(section + sh_link)} * shentsize;
    uint32_t names = elf.u32(strings + sh_offset), names_size = elf.u32(strings + sh_size);
    uint32_t table = elf.u32(section + sh_offset), table_size = elf.u32(section + sh_size);
    if (!elf.holds(table, table_size) || !elf.holds(names, names_size)) return refuse("a symbol table past the end");
    for (uint32_t at = table; at + symbol_size <= table + table_size; at += symbol_size) {
      uint32_t name = elf.u32(at + st_name);
      if (name == 0 || name >= names_size) continue;
      const char* text = reinterpret_cast<const char*>(elf.bytes.data() + names + name);
      symbols[std::string(text, strnlen(text, names_size - name))] = elf.u32(at + st_value);
    }
  }
  return true;
}

uint32_t Cpu386::symbol(const std::string& name) const {
  auto found = symbols.find(name);
  if (found != symbols.end()) return found->second;
  fprintf(stderr, "cpu386: no symbol %s\n", name.c_str());
  abort();
}

void Cpu386::poke(uint32_t address, const std::vector<uint8_t>& bytes) {
  if (!bytes.empty()) check(uc_mem_write(uc, address, bytes.data(), bytes.size()));
}

void Cpu386::poke32(uint32_t address, uint32_t value) {
  poke(address, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
                 static_cast<uint8_t>(value >> 24)});
}

std::vector<uint8_t> Cpu386::peek(uint32_t address, size_t count) {
  std::vector<uint8_t> bytes(count);
  if (count) check(uc_mem_read(uc, address, bytes.data(), count));
  return bytes;
}

uint32_t Cpu386::peek32(uint32_t address) {
  std::vector<uint8_t> b = peek(address, 4);
  return b[0] | b[1] << 8 | b[2] << 16 | uint32_t{b[3]} << 24;
}

uint32_t Cpu386::reg(int id) {
  uint32_t value = 0;
  check(uc_reg_read(uc, id, &value));
  return value;
}

void Cpu386::set_reg(int id, uint32_t value) { check(uc_reg_write(uc, id, &value)); }

Cpu16Counts Cpu386::call(uint32_t function, const std::vector<uint32_t>& arguments, uint64_t limit) {
  uint32_t esp = cpu386_stack_top;
  for (auto it = std::rbegin(arguments); it != std::rend(arguments); ++it) poke32(esp -= 4, *it);
  poke32(esp -= 4, return_address);
  for (int id : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX}) set_reg(id, 0);
  // Values a function must give back as it found them.
  const uint32_t saved[] = {0xB0B0B0B0, 0x51515151, 0xD1D1D1D1, 0xBBBB0000};
  for (size_t i = 0; i < std::size(callee_saved); ++i) set_reg(callee_saved[i], saved[i]);
  set_reg(UC_X86_REG_EFLAGS, 0x2);
  set_reg(UC_X86_REG_ESP, esp);
  // Code written into the data since the last run (compiled sprites) must
  // not run as it was translated before.
  check(uc_ctl_remove_cache(uc, cpu386_data, cpu386_stack_top));
  counts = {};
  last_store = last_address = ~0ULL;
  uc_err err = uc_emu_start(uc, function, return_address, 0, limit);
  uint32_t at = reg(UC_X86_REG_EIP);
  counts.eax = reg(UC_X86_REG_EAX);
  counts.ax = static_cast<uint16_t>(counts.eax);
  if (err != UC_ERR_OK) {
    counts.error = std::string(uc_strerror(err)) + " at " + std::to_string(at);
  } else if (counts.error.empty() && at != return_address) {
    counts.error =
        "stopped at " + std::to_string(at) + " after " + std::to_string(counts.instructions) + " instructions";
  } else if (counts.error.empty()) {
    for (size_t i = 0; i < std::size(callee_saved); ++i)
      if (reg(callee_saved[i]) != saved[i]) counts.error = "a callee-saved register came back changed";
    if (reg(UC_X86_REG_ESP) != esp + 4) counts.error = "the stack came back unbalanced";
    if (reg(UC_X86_REG_EFLAGS) & direction_flag) counts.error = "the direction flag came back set";
  }
  counts.returned = counts.error.empty();
  return counts;
}

// INT 10h's mode set goes to the VGA model; anything else stops the run.
void Cpu386::interrupt(unsigned number) {
  if (number == 0x10 && vga_bus_bios(reg(UC_X86_REG_EAX))) return;
  counts.error = "interrupt " + std::to_string(number) + " with eax " + std::to_string(reg(UC_X86_REG_EAX));
  uc_emu_stop(uc);
}

uint32_t cpu386_place_sprite(Cpu386& cpu, const kob_sprite& sprite, kob_size file_size, uint32_t data,
                             uint32_t descriptor) {
  cpu.poke(data, std::vector<uint8_t>(sprite.data, sprite.data + file_size));
  uint32_t table = static_cast<uint32_t>(data + file_size);
  for (unsigned c = 0; c < sprite.width; ++c) cpu.poke32(table + 4 * c, static_cast<uint32_t>(sprite.strip[c]));
  const uint32_t fields[] = {data, sprite.width, sprite.height, table};
  for (size_t i = 0; i < std::size(fields); ++i) cpu.poke32(descriptor + 4 * static_cast<uint32_t>(i), fields[i]);
  return table + 4 * sprite.width;
}

const char* const map_mask_symbol = "kob_map_mask";

void cpu386_place_target(Cpu386& cpu, const kob_target& target, uint32_t at) {
  const uint32_t fields[] = {target.page,
                             target.pitch,
                             static_cast<uint32_t>(target.left),
                             static_cast<uint32_t>(target.top),
                             static_cast<uint32_t>(target.right),
                             static_cast<uint32_t>(target.bottom),
                             target.mask};
  for (uint32_t field : fields) {
    cpu.poke32(at, field);
    at += 4;
  }
  if (cpu.has_symbol(map_mask_symbol)) cpu.poke32(cpu.symbol(map_mask_symbol), target.mask);
}

kob_target cpu386_read_target(Cpu386& cpu, uint32_t at) {
  auto word = [&](uint32_t i) { return cpu.peek32(at + 4 * i); };
  auto signed_word = [&](uint32_t i) { return static_cast<int>(static_cast<int32_t>(word(i))); };
  unsigned mask = cpu.has_symbol(map_mask_symbol) ? cpu.peek32(cpu.symbol(map_mask_symbol)) : word(6);
  return {word(0), word(1), signed_word(2), signed_word(3), signed_word(4), signed_word(5), mask};
}
