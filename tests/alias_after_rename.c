/* Preloaded into the tools by the fault tests: once the first output is
   renamed into place, ALIAS_LINK becomes a symbolic link to ALIAS_TARGET, as
   if a name the run checked as new had turned out to be another spelling of
   that output (a case-insensitive file system). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef int (*RenameAt)(int, const char*, int, const char*);
typedef int (*Rename)(const char*, const char*);

/* The next definition of `name`, copied out as a function pointer. */
static void next_definition(const char* name, void* function, size_t size) {
  void* found = dlsym(RTLD_NEXT, name);
  memcpy(function, &found, size);
}

static void make_alias(void) {
  static int made;
  const char* link_name = getenv("ALIAS_LINK");
  const char* target = getenv("ALIAS_TARGET");
  if (made || !link_name || !target) return;
  made = 1;
  if (symlink(target, link_name) != 0) _exit(125);
}

int renameat(int from_directory, const char* from, int to_directory, const char* to) {
  RenameAt real;
  int result;
  next_definition("renameat", &real, sizeof real);
  result = real(from_directory, from, to_directory, to);
  if (result == 0) make_alias();
  return result;
}

int rename(const char* from, const char* to) {
  Rename real;
  int result;
  next_definition("rename", &real, sizeof real);
  result = real(from, to);
  if (result == 0) make_alias();
  return result;
}
