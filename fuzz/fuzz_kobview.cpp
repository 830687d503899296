// libFuzzer target: KOBVIEW's command line, file checks and drawing on the
// host, its files held in memory. The input's first line is the command tail;
// the rest, split at "|KOB|", are the files A, B, C ... (a path names the
// file of its first letter; any other path does not exist). Every tail runs
// three times: with a large arena, with every sprite streamed strip by strip,
// and with the smallest arena. All three give the same verdict and console
// line and paint the same page, but for a bank the smallest arena cannot
// hold; a refusal is one line, a success none.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kobview/viewer.h"
#include "vgamodel.h"

namespace {

const size_t max_tail = 126;  // what DOS passes to a program
const unsigned large_arena = 16384;
const char separator[] = "|KOB|";

std::vector<std::string> files;
std::string console;
kob_size arena[large_arena];
unsigned char code[16384];  // as KOBVIEW's

}  // namespace

extern "C" {

void view_print(const char *text, unsigned length) { console.append(text, length); }

int view_open(const char *path) {
  size_t file = static_cast<size_t>(path[0] - 'A');
  return path[0] >= 'A' && file < files.size() ? static_cast<int>(file) : -1;
}

long view_length(int file) { return static_cast<long>(files[file].size()); }

int view_read(int file, kob_size offset, unsigned char *into, unsigned size) {
  const std::string &data = files[file];
  if (offset > data.size()) return 0;
  size_t count = std::min<size_t>(size, data.size() - offset);
  memcpy(into, data.data() + offset, count);
  return static_cast<int>(count);
}

void view_close(int) {}

void view_draw_compiled(kob_target *target, const kob_sprite *sprite, const unsigned char *, int x, int y) {
  kob_draw(target, sprite, x, y);
}

}  // extern "C"

namespace {

// Parses, loads and draws the tail on a fresh page; the viewer's verdict.
int view(const std::string &tail, unsigned arena_words, kob_size largest) {
  // Each word in a block of its own size, so reading past its end is caught.
  std::vector<std::vector<char>> words;
  std::vector<char *> argv{const_cast<char *>("KOBVIEW")};
  for (size_t at = 0; at < tail.size();) {
    size_t end = std::min(tail.find(' ', at), tail.size());
    if (end > at) {
      words.emplace_back(end - at + 1, '\0');
      memcpy(words.back().data(), tail.data() + at, end - at);
    }
    at = end + 1;
  }
  for (std::vector<char> &word : words) argv.push_back(word.data());
  sprite_count = 0;
  palette_path = dump_path = nullptr;
  background = 0;
  compiled_draws = 0;
  repeats = 1;
  largest_in_memory = largest;
  console.clear();
  vga_model_reset(0);
  if (parse_arguments(static_cast<int>(argv.size()), argv.data())) return 1;
  if (palette_path != nullptr && load_palette()) return 1;
  if (load_sprites(arena, arena_words)) return 1;
  if (compiled_draws) compile_sprites(code, sizeof code);
  kob_target target;
  kob_target_init(&target, 0);
  for (unsigned i = 0; i < sprite_count; ++i) {
    if (!draw_sprite(&target, &sprites[i])) abort();  // the files cannot change here
  }
  return 0;
}

void check_one_line_or_none(int failed) {
  size_t end = console.find("\r\n");
  if (!failed && !console.empty()) abort();
  if (failed && end + 2 != console.size()) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string input(reinterpret_cast<const char *>(data), size);
  size_t newline = input.find('\n');
  if (newline == std::string::npos || newline > max_tail) return 0;
  std::string tail = input.substr(0, newline);
  if (tail.find('\0') != std::string::npos) return 0;
  files.clear();
  for (size_t at = newline + 1;;) {
    size_t end = input.find(separator, at);
    files.push_back(input.substr(at, end == std::string::npos ? std::string::npos : end - at));
    if (end == std::string::npos) break;
    at = end + sizeof separator - 1;
  }
  static std::vector<unsigned char> page(sizeof vga.plane);
  int failed = view(tail, large_arena, 0x7FFF);
  check_one_line_or_none(failed);
  memcpy(page.data(), vga.plane, page.size());
  std::string said = console;
  for (unsigned words : {large_arena, VIEW_MIN_ARENA_WORDS}) {
    int verdict = view(tail, words, words == large_arena ? 0 : 0x7FFF);
    // A bank is read whole, and the smallest arena holds none.
    if (verdict && words != large_arena && console.find("' does not fit in memory\r\n") != std::string::npos) continue;
    if (verdict != failed || console != said) abort();
    if (memcmp(page.data(), vga.plane, page.size()) != 0) abort();
  }
  return 0;
}
