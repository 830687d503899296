#include "io.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

// Files the tool creates: rw-r--r--, less whatever the umask removes.
static const mode_t created_file_mode = 0644;

bool fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vdprintf(STDERR_FILENO, format, args);
  va_end(args);
  return false;
}

int create_file(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, created_file_mode);
  if (fd < 0) fail("Cannot create file '%s', %s\n", path, strerror(errno));
  return fd;
}

bool write_all(int fd, const void* data, size_t size) {
  const char* next = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t written = write(fd, next, size);
    if (written < 0 && errno == EINTR) continue;
    if (written == 0) errno = EIO;  // no progress and no reason given
    if (written <= 0) return false;
    next += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool write_failed(const char* path) {
  return fail("Cannot write file '%s', %s\n", path, strerror(errno));
}

bool finish_file(int fd, const char* path) {
  if (close(fd) != 0) return write_failed(path);
  return true;
}
