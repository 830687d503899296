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

// A new output gets rw-r--r-- less the umask.
static const mode_t created_file_mode = 0644;
// Symbolic links followed from an output's name to the file itself, at most.
static const int max_symlink_hops = 40;
// The temporary file of an output is made beside the target, so that
// renaming it over the target never crosses a file system, and named
// .kob-<process>-<attempt>; O_EXCL makes it a new file of this run. It is
// reached through its directory, opened once, so that its name never makes
// a path longer than the target's own.
static const char temp_file_prefix[] = ".kob-";
static const unsigned max_temp_attempts = 100;
static const size_t max_decimal_digits = 20;  // of any unsigned long
static const size_t temp_name_size = sizeof temp_file_prefix + 2 * max_decimal_digits + 1;
#ifdef O_PATH
static const int directory_open_flags = O_PATH | O_DIRECTORY;  // no read permission needed
#else
static const int directory_open_flags = O_RDONLY | O_DIRECTORY;
#endif

// The temporary file being written, within the directory temp_directory,
// and the target it replaces when complete. temp_path points at temp_name
// while there is one, for the signal handler; it is null for an output
// written in place (a device, a FIFO).
static char temp_name[temp_name_size];
static int temp_directory = AT_FDCWD;
static char target_name[PATH_MAX];
static const char* volatile temp_path;

// The first output this run put in place: a later output's target that
// turns out to be the same file (two spellings of one name on a
// case-insensitive file system) is refused instead of replacing it. Its
// identity is looked up afresh at each check: a file written again under
// its own name is a new file, and the old one's inode may be reused.
static struct {
  bool placed;
  char name[PATH_MAX];
} first_output;

// The signals that end a run which the tool cleans up after: every one
// whose default action ends the process and that can be caught, real-time
// ones included. SIGXFSZ is ignored instead, so that a file-size limit
// shows as a failed write.
static const int ending_signals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS, SIGFPE,  SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGSYS, SIGPROF, SIGVTALRM,
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
#ifdef SIGPOLL
    SIGPOLL,
#endif
#ifdef SIGPWR
    SIGPWR,
#endif
};

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

// The length of the directory part of `path`, its last slash included; 0
// when the name stands in the current directory.
static size_t directory_length(const char* path) {
  size_t length = 0;
  for (size_t i = 0; path[i] != '\0'; ++i) {
    if (path[i] == '/') length = i + 1;
  }
  return length;
}

// Puts `length` bytes of `text` at `at` within the path buffer `path`,
// ending it there; false, with errno ENAMETOOLONG, when it does not fit.
static bool put_path(char* path, size_t at, const char* text, size_t length) {
  if (at + length >= PATH_MAX) {
    errno = ENAMETOOLONG;
    return false;
  }
  memcpy(path + at, text, length);
  path[at + length] = '\0';
  return true;
}

// Sets `directory` to the directory part of `name`, "." when it has none.
static void directory_part(const char* name, char* directory) {
  size_t length = directory_length(name);
  if (length > 0) {
    put_path(directory, 0, name, length);
  } else {
    put_path(directory, 0, ".", 1);
  }
}

// Sets `name` to the name a write to `path` lands on: symbolic links in the
// last component followed, dangling ones included, to the name of the file
// itself. False with errno set when the name is too long or the links go
// round in circles.
static bool final_name(const char* path, char* name) {
  if (!put_path(name, 0, path, strlen(path))) return false;
  for (int hop = 0; hop < max_symlink_hops; ++hop) {
    char target[PATH_MAX];
    ssize_t length = readlink(name, target, sizeof target);
    if (length <= 0) return true;  // not a link (or unreadable): this is the file
    size_t kept = target[0] == '/' ? 0 : directory_length(name);
    if (!put_path(name, kept, target, static_cast<size_t>(length))) return false;
  }
  errno = ELOOP;
  return false;
}

// Runs on a signal that ends the run: the temporary file goes, then the
// signal ends the process as it would have.
static void remove_temp_and_die(int signal_number) {
  const char* temp = temp_path;
  if (temp) unlinkat(temp_directory, temp, 0);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Sets the handler for one signal that would end the process as it
// stands: a signal the caller ignores (nohup) stays ignored, and one that
// already has a handler (a sanitizer's, a profiler's) keeps it.
static void catch_signal(int signal_number) {
  struct sigaction current;
  if (sigaction(signal_number, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) return;
  signal(signal_number, remove_temp_and_die);
}

// Sets the handler for the signals that end a run, once.
static void catch_ending_signals() {
  static bool caught;
  if (caught) return;
  caught = true;
  for (int ending : ending_signals) catch_signal(ending);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int real_time = SIGRTMIN; real_time <= SIGRTMAX; ++real_time) catch_signal(real_time);
#endif
}

// Blocks signals while the temporary file changes hands, so that the
// handler never sees a name half made or already renamed; `restore` takes
// back the mask.
static void hold_signals(sigset_t* restore) {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, restore);
}

// The last component of target_name, the name the rename gives the file
// within temp_directory.
static const char* target_leaf() { return target_name + directory_length(target_name); }

// Whether the rename would replace the first output of this run, which
// another spelling of its name can reach where the file system ignores case.
// The very same name is a deliberate rewrite (the stages' library writes one
// file again and again in the tests); the tools refuse it before they start.
static bool replaces_first_output(const char* path) {
  struct stat target, first;
  if (!first_output.placed || strcmp(path, first_output.name) == 0) return false;
  if (fstatat(temp_directory, target_leaf(), &target, 0) != 0) return false;
  if (stat(first_output.name, &first) != 0) return false;
  return target.st_dev == first.st_dev && target.st_ino == first.st_ino;
}

// Remembers the first output put in place.
static void remember_output(const char* path) {
  if (first_output.placed) return;
  first_output.placed = put_path(first_output.name, 0, path, strlen(path));
}

// The error settle_temp gives for a target that is the run's first output.
static const int error_first_output = -1;

// Renames the temporary file into place when `error` is 0, or else removes
// it, and forgets it in the same step, so that the handler never removes a
// name that was renamed; `path` is the user's name for the output. Returns
// the error, the rename's if it failed.
static int settle_temp(int error, const char* path) {
  sigset_t restore;
  hold_signals(&restore);
  if (temp_path && error == 0 && replaces_first_output(path)) error = error_first_output;
  if (temp_path && error == 0 && renameat(temp_directory, temp_name, temp_directory, target_leaf()) != 0) {
    error = errno;
  }
  if (temp_path && error != 0) unlinkat(temp_directory, temp_name, 0);
  temp_path = nullptr;
  sigprocmask(SIG_SETMASK, &restore, nullptr);
  if (temp_directory != AT_FDCWD) close(temp_directory);
  temp_directory = AT_FDCWD;
  return error;
}

// Writes `number` in decimal at `out`; returns the end of what it wrote.
static char* put_decimal(char* out, unsigned long number) {
  char digits[max_decimal_digits];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number > 0);
  while (count > 0) *out++ = digits[--count];
  return out;
}

// A replaced file's mode (and, for root, its owner) go to the new file; a
// new file has 0644 less the umask from its creation.
static void keep_mode(int fd, const struct stat& replaced) {
  // Root replacing another user's file gives it back to its owner; anyone
  // else cannot, and the new file is theirs, as with any tool that renames.
  if (replaced.st_uid != geteuid() || replaced.st_gid != getegid()) {
    int ignored = fchown(fd, replaced.st_uid, replaced.st_gid);
    (void)ignored;
  }
  fchmod(fd, replaced.st_mode & 07777);
}

// Creates the temporary file beside target_name that will replace it, with
// the mode it is to have; -1 with errno set when the directory refuses.
static int create_temp(const struct stat* replaced) {
  const size_t prefix = sizeof temp_file_prefix - 1;
  char directory[PATH_MAX];
  directory_part(target_name, directory);
  const int directory_fd = open(directory, directory_open_flags);
  if (directory_fd < 0) return -1;
  memcpy(temp_name, temp_file_prefix, prefix);
  char* attempt_digits = put_decimal(temp_name + prefix, static_cast<unsigned long>(getpid()));
  *attempt_digits++ = '-';
  sigset_t restore;
  hold_signals(&restore);
  int fd = -1;
  for (unsigned attempt = 0; fd < 0 && attempt < max_temp_attempts; ++attempt) {
    *put_decimal(attempt_digits, attempt) = '\0';
    fd = openat(directory_fd, temp_name, O_WRONLY | O_CREAT | O_EXCL, created_file_mode);
    if (fd < 0 && errno != EEXIST) break;
  }
  const int error = errno;
  if (fd >= 0) {
    temp_directory = directory_fd;
    temp_path = temp_name;
  }
  sigprocmask(SIG_SETMASK, &restore, nullptr);
  if (fd < 0) close(directory_fd);
  errno = error;
  if (fd >= 0 && replaced) keep_mode(fd, *replaced);
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
    if (errno != ENOENT || !final_name(path, target_name)) return -1;
    // No file name at all ("", "dir/"): opening it gives its own error.
    if (target_name[directory_length(target_name)] == '\0') return open_in_place(path);
    return create_temp(nullptr);
  }
  if (!S_ISREG(existing.st_mode)) return open_in_place(path);
  if (!final_name(path, target_name)) return -1;
  // A name that no longer leads to the file (/proc/self/fd/ of a deleted or
  // memory file) can only be written in place.
  struct stat named;
  if (stat(target_name, &named) != 0 || !same_file(named, existing)) return open_in_place(path);
  if (!writable(target_name)) return -1;
  return create_temp(&existing);
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
  const bool renamed = temp_path != nullptr;
  if (close(fd) != 0 && error == 0) error = errno;
  error = settle_temp(error, path);
  if (error == error_first_output) {
    return fail("Output '%s' is the same file as '%s'\n", path, first_output.name);
  }
  if (error != 0) return fail("Cannot write file '%s', %s\n", path, strerror(error));
  if (renamed) remember_output(path);
  return true;
}

bool write_failed(int fd, const char* path) { return close_written(fd, path, errno); }

bool finish_file(int fd, const char* path) { return close_written(fd, path, 0); }

// FNV-1a over a name: equal names give equal hashes, and the file names
// one run writes rarely share one.
static uint32_t name_hash(const char* name) {
  uint32_t hash = 2166136261u;
  for (; *name != '\0'; ++name) hash = (hash ^ static_cast<uint8_t>(*name)) * 16777619u;
  return hash | 1;  // never 0, the hash of a file that exists
}

// Whether two names, neither of which exists yet, would create one file:
// their final names stand in one directory under one last component.
static bool same_new_file(const char* a, const char* b) {
  char name_a[PATH_MAX], name_b[PATH_MAX];
  if (!final_name(a, name_a) || !final_name(b, name_b)) return false;
  if (strcmp(name_a + directory_length(name_a), name_b + directory_length(name_b)) != 0) return false;
  char directory_a[PATH_MAX], directory_b[PATH_MAX];
  directory_part(name_a, directory_a);
  directory_part(name_b, directory_b);
  struct stat in_a, in_b;
  if (stat(directory_a, &in_a) != 0 || stat(directory_b, &in_b) != 0) return strcmp(directory_a, directory_b) == 0;
  return same_file(in_a, in_b);
}

// Whether a device holds data that writing over it would lose: a disk
// always; a character device when seeking shows a length, which /dev/null,
// /dev/zero and terminals do not.
static bool device_holds_data(const char* path, const struct stat& device) {
  if (S_ISBLK(device.st_mode)) return true;
  int fd = open_input(path);
  if (fd < 0) return true;
  const bool holds = input_length(fd) > 0;
  close(fd);
  return holds;
}

// Whether both name one device that holds data.
static bool same_device(const char* path, const struct stat& a, const struct stat& b) {
  if (!S_ISBLK(a.st_mode) && !S_ISCHR(a.st_mode)) return false;
  if ((a.st_mode & S_IFMT) != (b.st_mode & S_IFMT) || a.st_rdev != b.st_rdev) return false;
  return device_holds_data(path, a);
}

// Whether writing `output` would write over the file `other` names.
static bool same_output(const char* output, const char* other) {
  struct stat a, b;
  bool a_exists = stat(output, &a) == 0;
  bool b_exists = stat(other, &b) == 0;
  if (a_exists && b_exists) return (S_ISREG(a.st_mode) && same_file(a, b)) || same_device(other, a, b);
  if (a_exists || b_exists) return false;
  return same_new_file(output, other);
}

bool output_identity(const char* path, OutputIdentity* identity) {
  struct stat status;
  char name[PATH_MAX];
  if (stat(path, &status) == 0) {
    if (!S_ISREG(status.st_mode)) return false;
    *identity = {status.st_dev, status.st_ino, 0};
    return true;
  }
  if (!final_name(path, name)) return false;
  char directory[PATH_MAX];
  directory_part(name, directory);
  const char* leaf = name + directory_length(name);
  *identity = {0, 0, name_hash(leaf)};
  if (stat(directory, &status) == 0) {
    identity->device = status.st_dev;
    identity->inode = status.st_ino;
  } else {
    identity->name_hash = name_hash(name);  // a missing directory: by its spelling
  }
  return true;
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
