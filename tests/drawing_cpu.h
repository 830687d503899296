// The library's drawers on one of the emulated CPUs, so that one table of
// draws runs on both: the 16-bit PC with a DOS library as bcc linked it, or
// the 386 with flat32/libmodex32.a as an i386 gcc links it. Each holds one
// sprite and one target at places of its own, with room for compiled code
// after the sprite.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cpu16.h"
#include "cpu386.h"
#include "modex/kob.h"
#include "support.h"

class DrawingCpu {
 public:
  virtual ~DrawingCpu() = default;
  bool loaded = false;  // the library and its symbols
  std::string name;     // what the tests call it
  // The C function's address; bcc's names take a leading underscore.
  virtual uint32_t symbol(const std::string& function) const = 0;
  // The sprite file with its strip table, then its descriptor; returns the
  // address past the table, where code may go, up to `data_end`.
  virtual uint32_t place(const kob_sprite& sprite, kob_size file_size) = 0;
  virtual void place_target(const kob_target& target) = 0;
  virtual kob_target read_target() = 0;
  virtual void poke(uint32_t at, const Bytes& bytes) = 0;
  virtual Bytes peek(uint32_t at, size_t count) = 0;
  // Runs the function with int arguments, each cut to the CPU's int.
  virtual Cpu16Counts call(const std::string& function, const std::vector<uint32_t>& arguments) = 0;
  // What kob_compile wrote into `size` bytes at `code`, or nothing when it
  // refused.
  Bytes compile(uint32_t code, kob_size size) {
    Cpu16Counts run = call("kob_compile", {sprite_at, code, static_cast<uint32_t>(size), 0});
    if (!run.returned || run.eax == 0) return {};
    return peek(code, size);
  }
  uint32_t target_at = 0, sprite_at = 0, data_at = 0, data_end = 0;
};

// The DOS library's .COM and .MAP (without the extension) on the 16-bit PC.
class Dos16 : public DrawingCpu {
 public:
  explicit Dos16(const std::string& library) {
    name = "the 16-bit PC, " + library.substr(library.rfind('/') + 1);
    loaded = cpu.load_com(library + ".COM", library + ".MAP");
    target_at = 0x3000, sprite_at = 0x3010, data_at = 0x3100, data_end = 0xF000;
    if (loaded) loaded = cpu.symbol("__end") < target_at;
  }
  Cpu16 cpu;
  uint32_t symbol(const std::string& function) const override { return cpu.symbol("_" + function); }
  uint32_t place(const kob_sprite& sprite, kob_size file_size) override {
    return cpu16_place_sprite(cpu, sprite, file_size, uint16_t(data_at), uint16_t(sprite_at));
  }
  void place_target(const kob_target& target) override { cpu16_place_target(cpu, target, uint16_t(target_at)); }
  kob_target read_target() override { return cpu16_read_target(cpu, uint16_t(target_at)); }
  void poke(uint32_t at, const Bytes& bytes) override { cpu.poke(uint16_t(at), bytes); }
  Bytes peek(uint32_t at, size_t count) override { return cpu.peek(uint16_t(at), count); }
  Cpu16Counts call(const std::string& function, const std::vector<uint32_t>& arguments) override {
    std::vector<uint16_t> words(arguments.begin(), arguments.end());
    Cpu16Counts run = cpu.call(symbol(function), words);
    run.eax = run.ax;
    return run;
  }
};

// flat32/libmodex32.a linked with the test driver, on the 386.
class Flat386 : public DrawingCpu {
 public:
  explicit Flat386(const std::string& program) {
    name = "the 386, flat32/libmodex32.a";
    loaded = cpu.load_elf(program);
    target_at = cpu386_data, sprite_at = cpu386_data + 0x40, data_at = cpu386_data + 0x100;
    data_end = cpu386_data_end;
  }
  Cpu386 cpu;
  uint32_t symbol(const std::string& function) const override { return cpu.symbol(function); }
  uint32_t place(const kob_sprite& sprite, kob_size file_size) override {
    return cpu386_place_sprite(cpu, sprite, file_size, data_at, sprite_at);
  }
  void place_target(const kob_target& target) override { cpu386_place_target(cpu, target, target_at); }
  kob_target read_target() override { return cpu386_read_target(cpu, target_at); }
  void poke(uint32_t at, const Bytes& bytes) override { cpu.poke(at, bytes); }
  Bytes peek(uint32_t at, size_t count) override { return cpu.peek(at, count); }
  Cpu16Counts call(const std::string& function, const std::vector<uint32_t>& arguments) override {
    return cpu.call(symbol(function), arguments);
  }
};

// The libraries this build has, each on its CPU: the DOS library with the
// assembly strip drawer and, when asked, the one with bcc's build of the C
// drawer (DOSLIB); flat32/libmodex32.a.
inline std::vector<std::unique_ptr<DrawingCpu>> drawing_cpus([[maybe_unused]] bool with_dos_c_drawer) {
  std::vector<std::unique_ptr<DrawingCpu>> cpus;
#ifdef DOS_LIBRARY
  if (with_dos_c_drawer) cpus.push_back(std::make_unique<Dos16>(DOS_LIBRARY));
#endif
#ifdef DRAWER_COM
  cpus.push_back(std::make_unique<Dos16>(DRAWER_COM));
#endif
#ifdef FLAT32_DRIVER
  cpus.push_back(std::make_unique<Flat386>(FLAT32_DRIVER));
#endif
  return cpus;
}
