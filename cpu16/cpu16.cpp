// The emulated PC of cpu16.h on unicorn. Everything below 640 KiB is RAM and
// the VGA window is an MMIO region, so no memory-read hook is ever installed
// (unicorn 2.0 returns from RETF to a wrong address while one is).
#include "cpu16.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <unicorn/unicorn.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "hooks.h"
#include "modex/vgamodel.h"

namespace {

constexpr uint64_t ram_size = 0xA0000;
constexpr uint64_t vga_base = 0xA0000;
constexpr uint64_t vga_size = 0x10000;
// Where the called function returns to, in the code segment: emulation
// stops on arriving there.
constexpr uint16_t return_offset = 0x0000;
constexpr uint16_t com_origin = 0x100;

uint64_t linear(uint16_t segment, uint16_t offset) { return (uint64_t{segment} << 4) + offset; }

void check(uc_err err) { cpu_check(err); }

void interrupt(uc_engine*, uint32_t number, void* user) { static_cast<Cpu16*>(user)->interrupt(number); }

}  // namespace

Cpu16::Cpu16() {
  check(uc_open(UC_ARCH_X86, UC_MODE_16, &uc));
  check(uc_mem_map(uc, 0, ram_size, UC_PROT_ALL));
  check(uc_mmio_map(uc, vga_base, vga_size, cpu_read_vga<Cpu16>, this, cpu_write_vga<Cpu16>, this));
  uc_hook hook;
  check(uc_hook_add(uc, &hook, UC_HOOK_CODE,
                    reinterpret_cast<void*>(cpu_count_instruction<Cpu16, UC_X86_REG_CX, 0xFFFF, 2>), this, 1, 0));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(cpu_out<Cpu16>), this, 1, 0, UC_X86_INS_OUT));
  check(uc_hook_add(uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(cpu_in<Cpu16>), this, 1, 0, UC_X86_INS_IN));
  check(uc_hook_add(uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(::interrupt), this, 1, 0));
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

std::vector<uint8_t> Cpu16::read(uint16_t segment, uint16_t offset, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i)
    check(uc_mem_read(uc, linear(segment, static_cast<uint16_t>(offset + i)), &bytes[i], 1));
  return bytes;
}

std::vector<uint8_t> Cpu16::peek(uint16_t offset, size_t count) { return read(data_segment, offset, count); }

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
  counts.eax = counts.ax;
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

const char* const map_mask_symbol = "_kob_map_mask";

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
  if (cpu.has_symbol(map_mask_symbol)) cpu.poke16(cpu.symbol(map_mask_symbol), static_cast<uint16_t>(target.mask));
}

kob_target cpu16_read_target(Cpu16& cpu, uint16_t at) {
  auto word = [&](int i) { return cpu.peek16(static_cast<uint16_t>(at + 2 * i)); };
  auto signed_word = [&](int i) { return static_cast<int>(static_cast<int16_t>(word(i))); };
  unsigned mask = cpu.has_symbol(map_mask_symbol) ? cpu.peek16(cpu.symbol(map_mask_symbol)) : word(6);
  return {word(0), word(1), signed_word(2), signed_word(3), signed_word(4), signed_word(5), mask};
}

uint16_t Cpu16::reg(int id) {
  int value = 0;
  check(uc_reg_read(uc, id, &value));
  return static_cast<uint16_t>(value);
}

void Cpu16::set_reg(int id, uint16_t value) {
  int wide = value;
  check(uc_reg_write(uc, id, &wide));
}

void Cpu16::set_carry(bool carry) {
  int flags = 0;
  check(uc_reg_read(uc, UC_X86_REG_EFLAGS, &flags));
  flags = carry ? flags | 1 : flags & ~1;
  check(uc_reg_write(uc, UC_X86_REG_EFLAGS, &flags));
}

std::string Cpu16::string_at(uint16_t segment, uint16_t offset, char end) {
  std::string text;
  for (char c; text.size() < 256; ++offset) {
    check(uc_mem_read(uc, linear(segment, offset), &c, 1));
    if (c == end) break;
    text += c;
  }
  return text;
}

// DOS names the file "C:\SUB\NAME.EXT" or "name.ext": its last part, found in
// the run's directory whatever its case, or as a new name in capitals.
std::string Cpu16::host_path(const std::string& dos_name) {
  std::string name = dos_name.substr(dos_name.find_last_of(":\\/") + 1);
  for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  if (DIR* dir = opendir(dos->directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      if (strcasecmp(entry->d_name, name.c_str()) == 0) name = entry->d_name;
    }
    closedir(dir);
  }
  return dos->directory + "/" + name;
}

void Cpu16::interrupt(unsigned number) {
  if (!dos) {
    counts.error = "interrupt " + std::to_string(number);
    uc_emu_stop(uc);
  } else if (number == 0x21) {
    dos_service();
  } else if (number == 0x20) {
    dos->run.exit_code = 0;
    uc_emu_stop(uc);
  } else if (number == 0x10) {
    vga_bus_bios(reg(UC_X86_REG_AX));
  } else if (number == 0x16) {
    set_reg(UC_X86_REG_AX, 0x1C0D);
  }
}

// The INT 21h services a bcc program asks for, on host files.
void Cpu16::dos_service() {
  uint16_t ax = reg(UC_X86_REG_AX), bx = reg(UC_X86_REG_BX), cx = reg(UC_X86_REG_CX), dx = reg(UC_X86_REG_DX);
  uint16_t ds = reg(UC_X86_REG_DS), es = reg(UC_X86_REG_ES);
  unsigned function = ax >> 8, sub = ax & 0xFF;
  auto file = dos->files.find(bx);
  bool known = file != dos->files.end();
  auto fail = [&](uint16_t code) {
    dos->last_error = code;
    set_reg(UC_X86_REG_AX, code);
    set_carry(true);
  };
  set_carry(false);
  switch (function) {
    case 0x02:
      dos->run.output += static_cast<char>(dx & 0xFF);
      break;
    case 0x09:
      dos->run.output += string_at(ds, dx, '$');
      break;
    case 0x19:
      set_reg(UC_X86_REG_AX, (ax & 0xFF00) | 2);
      break;
    case 0x30:
      set_reg(UC_X86_REG_AX, 0x0005);
      break;
    case 0x4A:
      break;
    case 0x4C:
      dos->run.exit_code = sub;
      uc_emu_stop(uc);
      break;
    case 0x3C:
    case 0x3D:
    case 0x5B: {
      int flags = function == 0x3C   ? O_RDWR | O_CREAT | O_TRUNC
                  : function == 0x5B ? O_RDWR | O_CREAT | O_EXCL
                  : (sub & 3) == 0   ? O_RDONLY
                  : (sub & 3) == 1   ? O_WRONLY
                                     : O_RDWR;
      int fd = open(host_path(string_at(ds, dx, 0)).c_str(), flags, 0644);
      if (fd < 0) return fail(errno == ENOENT ? 2 : errno == EEXIST ? 80 : 5);
      unsigned handle = 5;
      while (dos->files.count(handle)) ++handle;
      dos->files[handle] = fd;
      set_reg(UC_X86_REG_AX, static_cast<uint16_t>(handle));
      break;
    }
    case 0x3E:
      if (known) {
        close(file->second);
        dos->files.erase(file);
      }
      break;
    case 0x3F: {
      std::vector<uint8_t> bytes(cx);
      ssize_t got = known ? ::read(file->second, bytes.data(), cx) : 0;
      if (got < 0) return fail(5);
      bytes.resize(static_cast<size_t>(got));
      write(ds, dx, bytes);
      set_reg(UC_X86_REG_AX, static_cast<uint16_t>(got));
      break;
    }
    case 0x40: {
      std::vector<uint8_t> bytes = read(ds, dx, cx);
      std::string text(bytes.begin(), bytes.end());
      if (bx == 1 || bx == 2) {
        dos->run.output += text;
      } else if (known && (cx ? ::write(file->second, text.data(), cx) != cx
                              : ftruncate(file->second, lseek(file->second, 0, SEEK_CUR)) != 0)) {
        return fail(5);
      }
      set_reg(UC_X86_REG_AX, cx);
      break;
    }
    case 0x41:
      if (unlink(host_path(string_at(ds, dx, 0)).c_str()) != 0) return fail(2);
      break;
    case 0x42: {
      off_t at = known ? lseek(file->second, static_cast<int32_t>(uint32_t{cx} << 16 | dx), sub) : -1;
      if (at < 0) return fail(6);
      set_reg(UC_X86_REG_AX, static_cast<uint16_t>(at));
      set_reg(UC_X86_REG_DX, static_cast<uint16_t>(at >> 16));
      break;
    }
    case 0x43:
      if (access(host_path(string_at(ds, dx, 0)).c_str(), F_OK) != 0) return fail(2);
      set_reg(UC_X86_REG_CX, 0x20);
      break;
    case 0x44:
      set_reg(UC_X86_REG_DX, bx < 5 ? 0x80D3 : 0x0002);
      break;
    case 0x56:  // never over a file that is there, as DOS
      if (access(host_path(string_at(es, reg(UC_X86_REG_DI), 0)).c_str(), F_OK) == 0) return fail(5);
      if (rename(host_path(string_at(ds, dx, 0)).c_str(), host_path(string_at(es, reg(UC_X86_REG_DI), 0)).c_str()) != 0)
        return fail(5);
      break;
    case 0x60: {
      std::string name = host_path(string_at(ds, reg(UC_X86_REG_SI), 0));
      name = "C:\\" + name.substr(name.rfind('/') + 1);
      for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      write(es, reg(UC_X86_REG_DI), std::vector<uint8_t>(name.c_str(), name.c_str() + name.size() + 1));
      break;
    }
    default:
      counts.error += "unhandled INT 21h function " + std::to_string(function) + "; ";
      fail(1);
  }
}

Cpu16::DosRun Cpu16::run_com(const std::string& com_path, const std::string& tail, const std::string& directory,
                             uint64_t limit) {
  Dos state{directory, {}, 0, {}};
  std::ifstream com(com_path, std::ios::binary);
  std::vector<uint8_t> image{std::istreambuf_iterator<char>(com), std::istreambuf_iterator<char>()};
  if (image.empty() || tail.size() > 126) {
    state.run.counts.error = "cannot load " + com_path;
    return state.run;
  }
  uint16_t psp = code_segment;
  std::vector<uint8_t> header(256, 0);
  header[0] = 0xCD;  // int 20h
  header[1] = 0x20;
  header[3] = 0xA0;  // the first segment past the program's memory: A000h
  header[0x80] = static_cast<uint8_t>(tail.size());
  std::copy(tail.begin(), tail.end(), header.begin() + 0x81);
  header[0x81 + tail.size()] = '\r';
  write(psp, 0, header);
  write(psp, com_origin, image);
  write(psp, 0xFFFE, {0, 0});  // a RET from the program goes to int 20h
  for (int id : {UC_X86_REG_CS, UC_X86_REG_DS, UC_X86_REG_ES, UC_X86_REG_SS}) set_reg(id, psp);
  set_reg(UC_X86_REG_SP, 0xFFFE);
  set_reg(UC_X86_REG_IP, com_origin);
  if (poked) check(uc_ctl_remove_cache(uc, 0, ram_size));
  poked = false;
  counts = {};
  last_store = last_address = ~0ULL;
  dos = &state;
  uc_err err = uc_emu_start(uc, linear(psp, com_origin), linear(psp, 0), 0, limit);
  dos = nullptr;
  for (auto& [handle, fd] : state.files) close(fd);
  if (reg(UC_X86_REG_IP) == 0 && state.run.exit_code < 0) state.run.exit_code = 0;
  counts.returned = err == UC_ERR_OK && state.run.exit_code >= 0;
  if (err != UC_ERR_OK) counts.error += uc_strerror(err);
  state.run.counts = counts;
  return state.run;
}
