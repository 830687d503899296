// The stages' messages are expected while fuzzing: keep them off the
// fuzzer's standard error.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

inline int null_device() {
  static const int fd = open("/dev/null", O_WRONLY);
  if (fd < 0) abort();
  return fd;
}

// Runs the stage with standard error on /dev/null; its result.
template <typename Stage>
bool quietly(Stage stage) {
  int saved = dup(STDERR_FILENO);
  dup2(null_device(), STDERR_FILENO);
  bool ok = stage();
  dup2(saved, STDERR_FILENO);
  close(saved);
  return ok;
}
