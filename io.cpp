#include "io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// A new output gets rw-rw-rw- less the umask, as open() would give it.
static const mode_t created_file_mode = 0666;
// Symbolic links followed from an output's name to the file itself, at most.
static const int max_symlink_hops = 40;
// Where the temporary file of an output is made: beside the target, so that
// renaming it over the target never crosses a file system.
static const char temp_file_name[] = ".kob-XXXXXX";

// The temporary file being written, while there is one: the signal handler
// removes it. The target it replaces when complete, null for an output
// written in place (a device, a FIFO).
static char* volatile temp_path;
static char* target_path;

bool fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  vdprintf(STDERR_FILENO, format, args);
  va_end(args);
  return false;
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

// A new heap string of `length` bytes of `text` and then `more`; null when
// there is no memory.
static char* joined(const char* text, size_t length, const char* more) {
  size_t more_length = strlen(more);
  char* all = static_cast<char*>(malloc(length + more_length + 1));
  if (!all) return nullptr;
  memcpy(all, text, length);
  memcpy(all + length, more, more_length + 1);
  return all;
}

// The length of the directory part of `path`, its last slash included; 0
// when the name stands in the current directory.
static size_t directory_length(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash ? static_cast<size_t>(slash - path) + 1 : 0;
}

// The name a write to `path` lands on: symbolic links in the last component
// followed, dangling ones included, to the name of the file itself. A heap
// string; null when out of memory or, with errno ELOOP, when the links go
// round in circles.
static char* final_name(const char* path) {
  char* name = strdup(path);
  for (int hop = 0; name && hop < max_symlink_hops; ++hop) {
    char target[PATH_MAX + 1];
    ssize_t length = readlink(name, target, PATH_MAX);
    if (length <= 0) return name;  // not a link (or unreadable): this is the file
    target[length] = '\0';
    char* next = target[0] == '/' ? strdup(target) : joined(name, directory_length(name), target);
    free(name);
    name = next;
  }
  free(name);
  errno = ELOOP;
  return nullptr;
}

// The directory part of `name`, "./" when it has none: a heap string.
static char* directory_of(const char* name) {
  size_t length = directory_length(name);
  return length ? joined(name, length, "") : strdup("./");
}

// The signals that end a run which the tool cleans up after.
static const int ending_signals[] = {SIGINT, SIGTERM, SIGHUP};

// Runs on SIGINT, SIGTERM and SIGHUP: the temporary file goes, then the
// signal ends the process as it would have.
static void remove_temp_and_die(int signal_number) {
  char* temp = temp_path;
  if (temp) unlink(temp);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Sets the handler for the signals that end a run, once; a signal the
// caller ignores (nohup) stays ignored.
static void catch_ending_signals() {
  static bool caught;
  if (caught) return;
  caught = true;
  for (int ending : ending_signals) {
    struct sigaction action = {};
    if (sigaction(ending, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action.sa_handler = remove_temp_and_die;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(ending, &action, nullptr);
  }
}

// Blocks the ending signals while the temporary file changes hands, so that
// the handler never sees a name half set or already renamed; `restore`
// takes back the mask.
static void hold_signals(sigset_t* restore) {
  sigset_t ending;
  sigemptyset(&ending);
  for (int signal_number : ending_signals) sigaddset(&ending, signal_number);
  sigprocmask(SIG_BLOCK, &ending, restore);
}

// Forgets the temporary file, removing it unless it was renamed into place.
static void drop_temp(bool remove) {
  sigset_t restore;
  hold_signals(&restore);
  char* temp = temp_path;
  temp_path = nullptr;
  sigprocmask(SIG_SETMASK, &restore, nullptr);
  if (temp && remove) unlink(temp);
  free(temp);
  free(target_path);
  target_path = nullptr;
}

// The mode (and, for root, the owner) the replaced file had, or a new
// file's 0666 less the umask.
static void give_mode(int fd, const struct stat* replaced) {
  if (!replaced) {
    mode_t umask_bits = umask(0);
    umask(umask_bits);
    fchmod(fd, created_file_mode & ~umask_bits);
    return;
  }
  // Root replacing another user's file gives it back to its owner; anyone
  // else cannot, and the new file is theirs, as with any tool that renames.
  if (replaced->st_uid != geteuid() || replaced->st_gid != getegid()) {
    int ignored = fchown(fd, replaced->st_uid, replaced->st_gid);
    (void)ignored;
  }
  fchmod(fd, replaced->st_mode & 07777);
}

// Creates the temporary file beside `target` that will replace it, with
// the mode it is to have; -1 with errno set when the directory refuses.
static int create_temp(char* target, const struct stat* replaced) {
  char* pattern = joined(target, directory_length(target), temp_file_name);
  if (!pattern) {
    free(target);
    errno = ENOMEM;
    return -1;
  }
  sigset_t restore;
  hold_signals(&restore);
  int fd = mkstemp(pattern);
  int error = errno;
  if (fd >= 0) {
    temp_path = pattern;
    target_path = target;
  }
  sigprocmask(SIG_SETMASK, &restore, nullptr);
  if (fd < 0) {
    free(pattern);
    free(target);
    errno = error;
    return -1;
  }
  give_mode(fd, replaced);
  return fd;
}

// Opens a device, a FIFO or anything else that is not a plain file where
// it stands, as any program writing to it would.
static int open_in_place(const char* path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, created_file_mode); }

// An existing regular file the user may not write is refused, not replaced,
// although the directory would let a rename replace it: the error is the
// one opening it for writing gives.
static bool writable(const char* name) {
  int fd = open(name, O_WRONLY | O_NONBLOCK);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Opens the output `path` names: a temporary file beside the plain file it
// is or will be, or, for anything else, the path itself. -1 with errno set.
static int open_output(const char* path) {
  struct stat existing;
  if (stat(path, &existing) != 0) {
    if (errno != ENOENT) return -1;
    char* name = final_name(path);
    if (!name) return -1;
    if (name[directory_length(name)] != '\0') return create_temp(name, nullptr);
    free(name);
    return open_in_place(path);  // no file name at all ("", "dir/"): its own error
  }
  if (!S_ISREG(existing.st_mode)) return open_in_place(path);
  char* name = final_name(path);
  struct stat named;
  if (!name) return -1;
  // A name that no longer leads to the file (/proc/self/fd/ of a deleted or
  // memory file) can only be written in place.
  if (stat(name, &named) != 0 || !same_file(named, existing)) {
    free(name);
    return open_in_place(path);
  }
  if (!writable(name)) {
    free(name);
    return -1;
  }
  return create_temp(name, &existing);
}

int create_file(const char* path) {
  signal(SIGXFSZ, SIG_IGN);
  catch_ending_signals();
  int fd = open_output(path);
  if (fd < 0) fail("Cannot create file '%s', %s\n", path, strerror(errno));
  return fd;
}

// Closes an output. When writing failed with `error`, or the close or the
// rename fails, the temporary file goes, the target stays as it was, and
// the failure is reported under the user's name for it.
static bool close_written(int fd, const char* path, int error) {
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && temp_path && rename(temp_path, target_path) != 0) error = errno;
  drop_temp(error != 0);
  if (error == 0) return true;
  return fail("Cannot write file '%s', %s\n", path, strerror(error));
}

bool write_failed(int fd, const char* path) { return close_written(fd, path, errno); }

bool finish_file(int fd, const char* path) { return close_written(fd, path, 0); }

// Whether two names, neither of which exists yet, would create one file:
// their final names stand in one directory under one last component.
static bool same_new_file(const char* a, const char* b) {
  char* name_a = final_name(a);
  char* name_b = final_name(b);
  bool same = false;
  if (name_a && name_b) {
    const char* last_a = name_a + directory_length(name_a);
    const char* last_b = name_b + directory_length(name_b);
    char* directory_a = directory_of(name_a);
    char* directory_b = directory_of(name_b);
    struct stat in_a, in_b;
    if (directory_a && directory_b && strcmp(last_a, last_b) == 0) {
      bool found = stat(directory_a, &in_a) == 0 && stat(directory_b, &in_b) == 0;
      same = found ? same_file(in_a, in_b) : strcmp(directory_a, directory_b) == 0;
    }
    free(directory_a);
    free(directory_b);
  }
  free(name_a);
  free(name_b);
  return same;
}

// Whether writing `output` would write over the file `other` names.
static bool same_output(const char* output, const char* other) {
  struct stat a, b;
  bool a_exists = stat(output, &a) == 0;
  bool b_exists = stat(other, &b) == 0;
  if (a_exists && b_exists) return S_ISREG(a.st_mode) && same_file(a, b);
  if (a_exists || b_exists) return false;
  return same_new_file(output, other);
}

bool distinct_files(const char* output, const char* other) {
  if (!same_output(output, other)) return true;
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

uint8_t* load_open_file(int fd, const char* path, const char* what, uint32_t limit, uint32_t* size, off_t* length) {
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
