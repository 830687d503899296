#include "options.h"

#include <cstdlib>
#include <cstring>

#include "io.h"

uint8_t transparent_color;
bool transparent_color_given;

static const PathOption* find_option(const char* name, const PathOption* options, size_t option_count) {
  for (size_t i = 0; i < option_count; ++i) {
    if (strcmp(name, options[i].name) == 0) return &options[i];
  }
  return nullptr;
}

bool parse_options(int argc, char** argv, const PathOption* options, size_t option_count, void (*help)()) {
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (name[0] != '-') return fail("Unknown param %s\n", name);
    while (*name == '-') ++name;
    bool has_value = i + 1 < argc;
    if (strcmp(name, "h") == 0 || strcmp(name, "help") == 0) {
      help();
      return false;
    }
    if (strcmp(name, "tc") == 0) {
      // strtoul with base 0: decimal, 0x hexadecimal or 0 octal; the low
      // eight bits are the index (-1 gives 255, 300 gives 44).
      if (!has_value) continue;
      transparent_color = static_cast<uint8_t>(strtoul(argv[++i], nullptr, 0));
      transparent_color_given = true;
      continue;
    }
    const PathOption* option = find_option(name, options, option_count);
    if (!option) return fail("Unknown switch '%s'. Use --help\n", name);
    if (option->flag) {
      *option->path = option->name;
      continue;
    }
    *option->path = has_value ? argv[++i] : nullptr;
  }
  for (size_t i = 0; i < option_count; ++i) {
    if (options[i].required && !*options[i].path) {
      help();
      return false;
    }
  }
  return true;
}
