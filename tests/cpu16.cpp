// The emulated PC of cpu16.h on unicorn. Everything below 640 KiB is RAM and
// the VGA window is an MMIO region, so no memory-read hook is ever installed
// (unicorn 2.0 returns from RETF to a wrong address while one is).
#include "cpu16.h"

#include <unicorn/unicorn.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "modex/vgamodel.h"

namespace {

constexpr uint64_t ram_size = 0xA0000;
constexpr uint64_t vga_base = 0xA0000;
constexpr uint64_t vga_size = 0x10000;
constexpr uint32_t sequencer_index_port = 0x3C4;
constexpr uint32_t sequencer_data_port = 0x3C5;
constexpr unsigned map_mask_index = 2;
// Where the called function returns to, in the code segment: emulation
// stops on arriving there.
constexpr uint16_t return_offset = 0x0000;
constexpr uint16_t com_origin = 0x100;

uint64_t linear(uint16_t segment, uint16_t offset) { return (uint64_t{segment} << 4) + offset; }

void check(uc_err err) {
  if (err == UC_ERR_OK) return;
  fprintf(stderr, "cpu16: %s\n", uc_strerror(err));
  abort();
}

// A rep or repne prefix among the instruction's first two bytes (the other
// may be a segment override).
bool is_repeated(uc_engine* uc, uint64_t address) {
  uint8_t bytes[2];
  check(uc_mem_read(uc, address, bytes, sizeof bytes));
  for (uint8_t byte : bytes)
    if (byte == 0xF2 || byte == 0xF3) return true;
  return false;
}

// A rep string instruction comes back to its own address once per
// iteration and once more to find CX at 0: that last visit does no work.
void count_instruction(uc_engine* uc, uint64_t address, uint32_t, void* user) {
  auto& cpu = *static_cast<Cpu16*>(user);
  if (address == cpu.last_address && is_repeated(uc, address)) {
    int cx = 0;
    check(uc_reg_read(uc, UC_X86_REG_CX, &cx));
    if ((cx & 0xFFFF) == 0) return;
  }
  cpu.last_address = address;
  ++cpu.counts.instructions;
}

uint64_t read_vga(uc_engine*, uint64_t, unsigned, void*) { return 0; }

// One store instruction may write a word, or a dword: each byte lands on its own.
void write_vga(uc_engine*, uint64_t offset, unsigned size, uint64_t value, void* user) {
  auto& cpu = *static_cast<Cpu16*>(user);
  if (cpu.last_store != cpu.counts.instructions) ++cpu.counts.stores;
  cpu.last_store = cpu.counts.instructions;
  for (unsigned i = 0; i < size; ++i)
    vga_model_store(static_cast<unsigned>((offset + i) & 0xFFFF), (value >> (8 * i)) & 0xFF);
}

void write_sequencer(Cpu16& cpu, unsigned value) {
  if (cpu.sequencer_index != map_mask_index) return;
  vga_model_select(value & 0xFF);
  ++cpu.counts.selects;
}

void out_port(uc_engine*, uint32_t port, int size, uint32_t value, void* user) {
  auto& cpu = *static_cast<Cpu16*>(user);
  if (port == sequencer_index_port) {
    cpu.sequencer_index = value & 0xFF;
    if (size == 2) write_sequencer(cpu, value >> 8);
  } else if (port == sequencer_data_port) {
    write_sequencer(cpu, value);
  }
}

uint32_t in_port(uc_engine*, uint32_t, int, void*) { return 0; }

}  // namespace

Cpu16::Cpu16() {
  check(uc_open(UC_ARCH_X86, UC_MODE_16, &uc));
  check(uc_mem_map(uc, 0, ram_size, UC_PROT_ALL));
  check(uc_mmio_map(uc, vga_base, vga_size, read_vga, this, write_vga, this));
  uc_hook hook;
  check(uc_hook_add(uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(count_instruction), this, 1, 0));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(out_port), this, 1, 0, UC_X86_INS_OUT));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(in_port), this, 1, 0, UC_X86_INS_IN));
}

Cpu16::~Cpu16() { uc_close(uc); }

void Cpu16::write(uint16_t segment, uint16_t offset, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i)
    check(uc_mem_write(uc, linear(segment, static_cast<uint16_t>(offset + i)), &bytes[i], 1));
  poked = true;
}

void Cpu16::load_code(uint16_t offset, const std::vector<uint8_t>& bytes) { write(code_segment, offset, bytes); }

void Cpu16::poke(uint16_t offset, const std::vector<uint8_t>& bytes) { write(data_segment, offset, bytes); }

// The map's lines: module, symbol, segment number, 8 hex digits of value,
// flags. The module is a path that may hold spaces: the symbol is the word
// before the segment number.
bool Cpu16::load_com(const std::string& com_path, const std::string& map_path) {
  std::ifstream com(com_path, std::ios::binary), map(map_path);
  std::vector<uint8_t> image{std::istreambuf_iterator<char>(com), std::istreambuf_iterator<char>()};
  if (!com || !map || image.empty()) return false;
  std::string line;
  symbols.clear();
  while (std::getline(map, line)) {
    std::istringstream fields(line);
    std::vector<std::string> words{std::istream_iterator<std::string>(fields), std::istream_iterator<std::string>()};
    for (size_t i = 0; i + 2 < words.size(); ++i) {
      const std::string &segment = words[i + 1], &value = words[i + 2];
      if (segment.size() != 1 || !isdigit(segment[0]) || value.size() != 8) continue;
      if (value.find_first_not_of("0123456789abcdef") != std::string::npos) continue;
      symbols[words[i]] = static_cast<uint16_t>(std::stoul(value, nullptr, 16));
      break;
    }
  }
  if (!symbols.count("__segoff")) return false;
  data_segment = static_cast<uint16_t>(code_segment + symbols["__segoff"]);
  load_code(com_origin, image);
  return true;
}

uint16_t Cpu16::symbol(const std::string& name) const {
  auto found = symbols.find(name);
  if (found != symbols.end()) return found->second;
  fprintf(stderr, "cpu16: no symbol %s\n", name.c_str());
  abort();
}

void Cpu16::poke16(uint16_t offset, uint16_t value) {
  poke(offset, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

std::vector<uint8_t> Cpu16::peek(uint16_t offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i)
    check(uc_mem_read(uc, linear(data_segment, static_cast<uint16_t>(offset + i)), &bytes[i], 1));
  return bytes;
}

uint16_t Cpu16::peek16(uint16_t offset) {
  std::vector<uint8_t> bytes = peek(offset, 2);
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

Cpu16Counts Cpu16::call(uint16_t function, const std::vector<uint16_t>& arguments, uint64_t limit) {
  uint16_t sp = cpu16_stack_top;
  for (auto it = std::rbegin(arguments); it != std::rend(arguments); ++it) poke16(sp -= 2, *it);
  poke16(sp -= 2, return_offset);
  int code = code_segment, data = data_segment, zero = 0, stack = sp, ip = function;
  check(uc_reg_write(uc, UC_X86_REG_CS, &code));
  for (int reg : {UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS}) check(uc_reg_write(uc, reg, &data));
  for (int reg : {UC_X86_REG_AX, UC_X86_REG_BX, UC_X86_REG_CX, UC_X86_REG_DX, UC_X86_REG_SI, UC_X86_REG_DI,
                  UC_X86_REG_BP, UC_X86_REG_FLAGS})
    check(uc_reg_write(uc, reg, &zero));
  check(uc_reg_write(uc, UC_X86_REG_SP, &stack));
  check(uc_reg_write(uc, UC_X86_REG_IP, &ip));
  // Code translated before from bytes poked since would run again.
  if (poked) check(uc_ctl_remove_cache(uc, 0, ram_size));
  poked = false;
  counts = {};
  last_store = ~0ULL;
  last_address = ~0ULL;
  uc_err err = uc_emu_start(uc, linear(code_segment, function), linear(code_segment, return_offset), 0, limit);
  int at = 0, ax = 0;
  check(uc_reg_read(uc, UC_X86_REG_IP, &at));
  check(uc_reg_read(uc, UC_X86_REG_AX, &ax));
  counts.ax = static_cast<uint16_t>(ax);
  counts.returned = err == UC_ERR_OK && at == return_offset;
  if (err != UC_ERR_OK)
    counts.error = uc_strerror(err);
  else if (!counts.returned)
    counts.error =
        "stopped at " + std::to_string(at) + " after " + std::to_string(counts.instructions) + " instructions";
  return counts;
}

uint16_t cpu16_place_sprite(Cpu16& cpu, const kob_sprite& sprite, kob_size file_size, uint16_t data,
                            uint16_t descriptor) {
  cpu.poke(data, std::vector<uint8_t>(sprite.data, sprite.data + file_size));
  uint16_t table = static_cast<uint16_t>(data + file_size);
  for (unsigned c = 0; c < sprite.width; ++c) {
    cpu.poke16(static_cast<uint16_t>(table + 4 * c), static_cast<uint16_t>(sprite.strip[c]));
    cpu.poke16(static_cast<uint16_t>(table + 4 * c + 2), static_cast<uint16_t>(sprite.strip[c] >> 16));
  }
  cpu.poke16(descriptor, data);
  cpu.poke16(descriptor + 2, static_cast<uint16_t>(sprite.width));
  cpu.poke16(descriptor + 4, static_cast<uint16_t>(sprite.height));
  cpu.poke16(descriptor + 6, table);
  return static_cast<uint16_t>(table + 4 * sprite.width);
}

void cpu16_place_target(Cpu16& cpu, const kob_target& target, uint16_t at) {
  const int fields[] = {static_cast<int>(target.page),
                        static_cast<int>(target.pitch),
                        target.left,
                        target.top,
                        target.right,
                        target.bottom,
                        static_cast<int>(target.mask)};
  for (int field : fields) {
    cpu.poke16(at, static_cast<uint16_t>(field));
    at += 2;
  }
}

kob_target cpu16_read_target(Cpu16& cpu, uint16_t at) {
  auto word = [&](int i) { return cpu.peek16(static_cast<uint16_t>(at + 2 * i)); };
  auto signed_word = [&](int i) { return static_cast<int>(static_cast<int16_t>(word(i))); };
  return {word(0), word(1), signed_word(2), signed_word(3), signed_word(4), signed_word(5), word(6)};
}
