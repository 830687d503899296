#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  signal(SIGXFSZ, SIG_IGN);
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

static bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes the file `path` names when it is still `written`, the regular file
// the tool wrote: the partial data must not pass for a finished output (a
// Makefile would take it as up to date). Through a symlink it is the target
// that was written, so the target goes.
static void remove_partial(const char* path, const struct stat& written) {
  if (!S_ISREG(written.st_mode)) return;
  char* resolved = realpath(path, nullptr);
  if (!resolved) return;
  struct stat named;
  if (stat(resolved, &named) == 0 && same_file(named, written)) unlink(resolved);
  free(resolved);
}

// Closes a file the tool wrote. When writing it failed with `error`, or the
// close itself fails (a delayed write error), the file is removed and the
// failure reported.
static bool close_written(int fd, const char* path, int error) {
  struct stat written;
  bool known = fstat(fd, &written) == 0;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0) return true;
  if (known) remove_partial(path, written);
  return fail("Cannot write file '%s', %s\n", path, strerror(error));
}

bool write_failed(int fd, const char* path) { return close_written(fd, path, errno); }

bool finish_file(int fd, const char* path) { return close_written(fd, path, 0); }

bool distinct_files(const char* output, const char* other) {
  struct stat a, b;
  if (stat(output, &a) != 0) {
    if (strcmp(output, other) != 0) return true;
  } else if (stat(other, &b) != 0 || !S_ISREG(a.st_mode) || !same_file(a, b)) {
    return true;
  }
  return fail("Output '%s' is the same file as '%s'\n", output, other);
}

bool write_file(const char* path, const void* data, size_t size) {
  int fd = create_file(path);
  if (fd < 0) return false;
  if (!write_all(fd, data, size)) return write_failed(fd, path);
  return finish_file(fd, path);
}

int open_input(const char* path) { return open(path, O_RDONLY | O_NONBLOCK); }

off_t input_length(int fd) {
  struct stat status;
  if (fstat(fd, &status) != 0) return -1;
  if (S_ISDIR(status.st_mode)) return -1;
  return lseek(fd, 0, SEEK_END);
}

bool read_exactly(int fd, uint8_t* into, uint32_t size) {
  while (size > 0) {
    ssize_t got = read(fd, into, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into += got;
    size -= static_cast<uint32_t>(got);
  }
  return true;
}

// Reads the start of the open file into a heap buffer, as load_file says.
static uint8_t* load_open_file(int fd, const char* path, const char* what, uint32_t limit, uint32_t* size,
                               off_t* length) {
  *length = input_length(fd);
  if (*length < 0) {
    fail("Cannot read %s file '%s'\n", what, path);
    return nullptr;
  }
  *size = *length < static_cast<off_t>(limit) ? static_cast<uint32_t>(*length) : limit;
  uint8_t* data = static_cast<uint8_t*>(malloc(*size + 1));  // never malloc(0)
  if (!data) {
    fail("Cannot allocate memory for %s file '%s'\n", what, path);
    return nullptr;
  }
  lseek(fd, 0, SEEK_SET);
  if (!read_exactly(fd, data, *size)) {
    fail("Cannot read %s file '%s'\n", what, path);
    free(data);
    return nullptr;
  }
  return data;
}

uint8_t* load_file(const char* path, const char* what, uint32_t limit, uint32_t* size, off_t* length) {
  int fd = open_input(path);
  if (fd < 0) {
    fail("Cannot open %s file '%s', %s\n", what, path, strerror(errno));
    return nullptr;
  }
  uint8_t* data = load_open_file(fd, path, what, limit, size, length);
  close(fd);
  return data;
}
