// One draw of each bench sprite counted on the emulated 16-bit PC, through the
// DOS library as bcc links it: instructions per visible opaque pixel, store
// instructions and map-mask OUTs, for each drawer the image has. Prints a
// Markdown table. A sprite whose file and strip table do not fit the data
// segment beside the code is drawn strip by strip, each strip placed in
// memory before its call, as a viewer streams it from the file.
//
//   bench_cpu16 IMAGES_DIR [--kobview KOBVIEW.COM] [--flat32 PROGRAM] TITLE=LIBRARY...
//
// LIBRARY is a .COM and its .MAP, without the extension. With --kobview, a
// second table counts one more draw in the viewer, run whole under the
// emulated PC's DOS services. With --flat32, a third counts the draws of
// flat32_draws.h on the emulated 386 through PROGRAM (flat32/libmodex32.a
// linked with the tests' driver), each against its bound: the status is 1
// when one is over.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_image.h"
#include "cpu16.h"
#include "flat32_draws.h"
#include "modex/kobcomp.h"
#include "modex/vgamodel.h"
#include "options.h"
#include "pcx/pcx.h"
#include "sprite/sprite.h"

namespace {

constexpr uint16_t target_at = 0x3000, sprite_at = 0x3010, data_at = 0x3100, data_end = 0xF000;
constexpr uint16_t strip_at = data_at;  // where a streamed strip goes

struct Case {
  const char* image;
  const char* where;
  int x, y;  // INT32_MIN: centred
  bool mirrored;
};

const Case cases[] = {
    {"blob-32x32", "centred", INT32_MIN, INT32_MIN, false},
    {"blob-48x40", "centred", INT32_MIN, INT32_MIN, false},
    {"blob-64x64", "centred", INT32_MIN, INT32_MIN, false},
    {"blob-64x64", "centred, mirrored", INT32_MIN, INT32_MIN, true},
    {"balls-240x120", "centred", INT32_MIN, INT32_MIN, false},
    {"noise-320x200", "centred", INT32_MIN, INT32_MIN, false},
    {"flat-320x200", "centred", INT32_MIN, INT32_MIN, false},
    {"blob-64x64", "at (-32, -32)", -32, -32, false},
};

struct Sprite {
  std::vector<uint8_t> file;
  std::vector<kob_size> strips = std::vector<kob_size>(KOB_MAX_WIDTH);
  kob_sprite sprite{};
};

// The image's sprite, compiled and opened.
bool load(const std::string& dir, const char* name, Sprite& s) {
  kob_fault fault;
  return compile_bench_image(dir, name, s.file) &&
         kob_open(&s.sprite, s.file.data(), s.file.size(), s.strips.data(), KOB_MAX_WIDTH, &fault) == KOB_OK;
}

struct Count {
  Cpu16Counts counts;
  unsigned long visible = 0;  // bytes stored: each visible opaque pixel once
  const char* how = "";       // how it was drawn, when not as asked
};

void add(Cpu16Counts& sum, const Cpu16Counts& run) {
  sum.instructions += run.instructions;
  sum.stores += run.stores;
  sum.selects += run.selects;
  sum.returned = run.returned;
  sum.error = run.error;
}

// Strip by strip in plane order, each strip put in place before its call;
// mirrored, column c goes to x + width - 1 - c.
Cpu16Counts stream(Cpu16& cpu, const kob_sprite& sprite, int x, int y, bool mirrored) {
  Cpu16Counts sum;
  for (unsigned plane = 0; plane < 4; ++plane) {
    for (unsigned column = 0; column < sprite.width; ++column) {
      long sx = long{x} + (mirrored ? sprite.width - 1 - column : column);
      if (((sx % 4) + 4) % 4 != plane || sx < 0 || sx >= KOB_SCREEN_WIDTH) continue;
      const uint8_t* strip = sprite.data + sprite.strip[column];
      cpu.poke(strip_at, std::vector<uint8_t>(strip, strip + KOB_MAX_STRIP_SIZE));
      add(sum, cpu.call(cpu.symbol("_kob_draw_strip"), {target_at, strip_at, static_cast<uint16_t>(sprite.height),
                                                        static_cast<uint16_t>(sx), static_cast<uint16_t>(y)}));
      if (!sum.returned) return sum;
    }
  }
  return sum;
}

// One draw through `function` (kob_draw, kob_draw_mirrored or
// kob_draw_compiled) of the library in `cpu`.
Count draw(Cpu16& cpu, const Sprite& s, std::string function, int x, int y) {
  Count out;
  vga_model_reset(0);
  kob_target target;
  kob_target_init(&target, 0);
  cpu16_place_target(cpu, target, target_at);
  uint16_t ux = static_cast<uint16_t>(x), uy = static_cast<uint16_t>(y);
  bool compiled = function == "_kob_draw_compiled", mirrored = function == "_kob_draw_mirrored";
  kob_size table_end = data_at + s.file.size() + 4 * kob_size{s.sprite.width};
  if (table_end >= data_end) {
    out.counts = stream(cpu, s.sprite, x, y, mirrored);
    out.how = compiled ? "streamed, no code" : "streamed";
  } else {
    uint16_t code_at = cpu16_place_sprite(cpu, s.sprite, s.file.size(), data_at, sprite_at);
    std::vector<uint8_t> code(kob_compiled_size(&s.sprite));
    if (compiled && code_at + code.size() < data_end) {
      kob_compile(&s.sprite, code.data(), code.size());
      cpu.poke(code_at, code);
      out.counts = cpu.call(cpu.symbol(function), {target_at, sprite_at, code_at, ux, uy});
    } else {
      if (compiled) {
        function = "_kob_draw";
        out.how = "code too large";
      }
      out.counts = cpu.call(cpu.symbol(function), {target_at, sprite_at, ux, uy});
    }
  }
  if (!out.counts.returned) {
    fprintf(stderr, "bench_cpu16: %s did not return: %s\n", function.c_str(), out.counts.error.c_str());
    exit(1);
  }
  out.visible = vga_model_bytes_written();
  return out;
}

std::string cell(const Count& count) {
  char text[128];
  snprintf(text, sizeof text, "%.2f (%llu stores, %llu OUTs%s%s)",
           double(count.counts.instructions) / double(std::max(1ul, count.visible)),
           static_cast<unsigned long long>(count.counts.stores), static_cast<unsigned long long>(count.counts.selects),
           *count.how ? ", " : "", count.how);
  return text;
}

}  // namespace

// KOBVIEW's own draws: the counts of a run with /R:11 less those of one with
// /R:1, over 10, are what one more draw costs in the viewer. Sprites go into
// `dir` under 8.3 names; the positions are the table's. A viewer that will
// not draw (no /R, say) ends the table with its message.
struct Viewed {
  const Case* c;
  std::string name;
  int x, y;
  unsigned long visible;
};

void kobview_table(const std::string& kobview, const std::string& dir, const std::vector<Viewed>& sprites) {
  constexpr int repeats = 11;
  printf("\nKOBVIEW, one more draw (/R:%d against /R:1), instructions per visible opaque pixel (stores, OUTs):\n\n",
         repeats);
  printf("| sprite | drawn | strips | /C |\n|---|---|---|---|\n");
  for (const Viewed& v : sprites) {
    std::string row;
    for (const char* switches : {"", " /C"}) {
      Cpu16Counts counts[2];
      for (int run = 0; run < 2; ++run) {
        char tail[128];
        snprintf(tail, sizeof tail, " /D:OUT.BIN%s /R:%d %s@%d,%d%s", switches, run ? repeats : 1, v.name.c_str(), v.x,
                 v.y, v.c->mirrored ? ",H" : "");
        // Each run makes its dump anew: replacing one left by the run before
        // would count the renames of the earlier dump in one run only.
        std::remove((dir + "/OUT.BIN").c_str());
        Cpu16 cpu;
        vga_model_reset(0);
        Cpu16::DosRun done = cpu.run_com(kobview, tail, dir);
        if (!done.counts.returned || done.exit_code != 0) {
          printf("\nKOBVIEW%s did not draw (errorlevel %d): %s%s\n", tail, done.exit_code, done.output.c_str(),
                 done.counts.error.c_str());
          return;
        }
        counts[run] = done.counts;
      }
      auto per_draw = [&](uint64_t Cpu16Counts::*field) {
        return double(counts[1].*field - counts[0].*field) / (repeats - 1);
      };
      char cell[96];
      snprintf(cell, sizeof cell, " %.2f (%.0f stores, %.0f OUTs) |",
               per_draw(&Cpu16Counts::instructions) / double(std::max(1ul, v.visible)), per_draw(&Cpu16Counts::stores),
               per_draw(&Cpu16Counts::selects));
      row += cell;
    }
    printf("| %s | %s |%s\n", v.c->image, v.c->where, row.c_str());
  }
}

// One cell of the 386's table; false when the count is over the bound.
bool flat32_cell(const Flat32Count& count, double bound, std::string& row) {
  double per_pixel = double(count.counts.instructions) / double(std::max(1ul, count.visible));
  char text[128];
  snprintf(text, sizeof text, " %.3f (%llu stores, %llu OUTs) | %.2f |", per_pixel,
           static_cast<unsigned long long>(count.counts.stores), static_cast<unsigned long long>(count.counts.selects),
           bound);
  row += text;
  return count.counts.returned && per_pixel <= bound;
}

// The draws of flat32_draws.h on the emulated 386; false when one is over
// its bound or does not return.
bool flat32_table(const std::string& dir, const std::string& program) {
  Cpu386 cpu;
  if (!cpu.load_elf(program)) {
    fprintf(stderr, "bench_cpu16: cannot load %s: %s\n", program.c_str(), cpu.error.c_str());
    return false;
  }
  printf(
      "\nThe 386, flat32/libmodex32.a, one draw, instructions per visible opaque pixel (stores, OUTs) and the "
      "bound:\n\n");
  printf(
      "| sprite | drawn | visible opaque pixels | compiled code, bytes | strip drawer | bound | compiled | bound |\n");
  printf("|---|---|---:|---:|---|---:|---|---:|\n");
  bool within = true;
  for (const Flat32Draw& d : flat32_draws) {
    Sprite s;
    if (!load(dir, d.image, s)) return false;
    Flat32Count strips = count_flat32_draw(cpu, s.sprite, s.file.size(), d, false);
    std::string row;
    within = flat32_cell(strips, d.strips, row) && within;
    std::string code = "—";
    if (d.compiled > 0) {
      Flat32Count compiled = count_flat32_draw(cpu, s.sprite, s.file.size(), d, true);
      within = flat32_cell(compiled, d.compiled, row) && within;
      code = std::to_string(compiled.code);
    } else {
      row += " (strips) | |";
    }
    printf("| %s | %s | %lu | %s |%s\n", d.image, d.where, strips.visible, code.c_str(), row.c_str());
  }
  return within;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string kobview, flat32;
  for (const char* option : {"--kobview", "--flat32"}) {
    if (args.size() > 2 && args[1] == option) {
      (args[1] == "--kobview" ? kobview : flat32) = args[2];
      args.erase(args.begin() + 1, args.begin() + 3);
    }
  }
  if (args.size() < 2) {
    fprintf(stderr, "usage: bench_cpu16 IMAGES_DIR [--kobview KOBVIEW.COM] [--flat32 PROGRAM] TITLE=LIBRARY...\n");
    return 2;
  }
  std::string dos_dir = args[0] + "/dos";
  mkdir(dos_dir.c_str(), 0755);
  std::vector<Viewed> viewed;
  std::vector<std::string> titles, libraries;
  for (size_t i = 1; i < args.size(); ++i) {
    size_t equals = args[i].find('=');
    titles.push_back(args[i].substr(0, equals));
    libraries.push_back(args[i].substr(equals + 1));
  }
  printf("| sprite | drawn | visible opaque pixels | compiled code, bytes |");
  for (const std::string& title : titles) printf(" %s | %s, compiled |", title.c_str(), title.c_str());
  printf("\n|---|---|---:|---:|");
  for (size_t i = 0; i < titles.size(); ++i) printf("---|---|");
  printf("\n");
  for (const Case& c : cases) {
    Sprite s;
    if (!load(args[0], c.image, s)) {
      fprintf(stderr, "bench_cpu16: cannot compile %s\n", c.image);
      return 1;
    }
    int x = c.x != INT32_MIN ? c.x : (KOB_SCREEN_WIDTH - int(s.sprite.width)) / 2;
    int y = c.y != INT32_MIN ? c.y : (KOB_SCREEN_HEIGHT - int(s.sprite.height)) / 2;
    std::string row;
    unsigned long visible = 0;
    for (const std::string& library : libraries) {
      Cpu16 cpu;
      if (!cpu.load_com(library + ".COM", library + ".MAP") || cpu.symbol("__end") >= target_at) {
        fprintf(stderr, "bench_cpu16: cannot load %s\n", library.c_str());
        return 1;
      }
      if (c.mirrored && !cpu.has_symbol("_kob_draw_mirrored")) {
        row += " — | — |";
        continue;
      }
      Count strips = draw(cpu, s, c.mirrored ? "_kob_draw_mirrored" : "_kob_draw", x, y);
      Count compiled = c.mirrored ? strips : draw(cpu, s, "_kob_draw_compiled", x, y);
      visible = strips.visible;
      row += " " + cell(strips) + " | " + cell(compiled) + " |";
    }
    printf("| %s | %s | %lu | %lu |%s\n", c.image, c.where, visible,
           static_cast<unsigned long>(kob_compiled_size(&s.sprite)), row.c_str());
    std::string name = "S" + std::to_string(viewed.size() + 1) + ".KOB";
    FILE* f = fopen((dos_dir + "/" + name).c_str(), "wb");
    if (!f || fwrite(s.file.data(), 1, s.file.size(), f) != s.file.size() || fclose(f) != 0) return 1;
    viewed.push_back({&c, name, x, y, visible});
  }
  if (!kobview.empty()) kobview_table(kobview, dos_dir, viewed);
  if (!flat32.empty() && !flat32_table(args[0], flat32)) return 1;
  return 0;
}
