// Messages on standard error, and the files the tools read and create.
//
// Every stage reports its one failure through these helpers and then
// returns false, so the driver only has to turn false into exit status 1.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// Little-endian fields, a byte at a time.
inline uint32_t read_le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
inline uint32_t read_le32(const uint8_t* p) { return read_le16(p) | read_le16(p + 2) << 16; }
inline void put_le16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}
inline void put_le32(uint8_t* p, uint32_t value) {
  put_le16(p, value);
  put_le16(p + 2, value >> 16);
}

// Writes the message, formatted as printf does, on standard error;
// always returns false so a stage can end with `return fail(...)`.
bool fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Every output goes through create_file, write_all and then finish_file or
// write_failed, one output at a time. A plain file is written to a new
// temporary file beside it (through symbolic links, beside the file they
// lead to) and renamed over it only once complete, so a failed run, or one
// ended by any signal that ends a process and can be caught, leaves the file
// as it was and no temporary file behind. The temporary file is reached
// through its directory, so any path the system takes works. A device, a
// FIFO and the like are written in place. An output whose target turns out to be
// the first output this run put in place (one name in two spellings where
// the file system ignores case) is refused, as distinct_files does, before
// it replaces it.
//
// Opens the output `path`; -1 after "Cannot create file" with the system's
// reason, which is the one opening the path itself would give: a directory,
// a missing directory, a path below a file, a read-only directory, an
// existing file the user may not write (refused, not replaced). A new file
// gets 0644 less the umask, a replaced one keeps its mode. A file-size limit
// shows as a failed write (EFBIG), not as a signal that would end the run
// before it could clean up.
int create_file(const char* path);

// Writes all of `size` bytes, going on after partial writes; false when the
// system refuses, with errno telling why.
bool write_all(int fd, const void* data, size_t size);

// Reports a failed write to `path` with the current errno and drops the
// temporary file; the output stays as it was. Returns false.
bool write_failed(int fd, const char* path);

// Closes the output and puts it in place; a failed close (a delayed write
// error) or rename is reported and cleaned up like a failed write.
bool finish_file(int fd, const char* path);

// False, after "Output '<output>' is the same file as '<other>'", when
// writing `output` would write over `other`: both name one existing regular
// file, through symbolic and hard links alike; or neither exists yet and
// both lead, through symbolic links (dangling ones included), to one name in
// one directory; or both name one disk, or one character device that holds
// data (seeking shows a length). Other devices (/dev/null, terminals) and
// FIFOs may be shared.
bool distinct_files(const char* output, const char* other);

// Where an output lands, to find the outputs of one run that are one file
// without comparing every pair: equal identities may be one file, and
// distinct_files tells; different ones never are. An existing file is its
// device and inode (name_hash 0); a new one the directory it will stand in
// and a hash of its last name, symbolic links followed.
struct OutputIdentity {
  dev_t device;
  ino_t inode;
  uint32_t name_hash;
};

// Sets the identity of the output `path`; false for one that may be shared
// (a device, a FIFO) or whose name cannot be followed.
bool output_identity(const char* path, OutputIdentity* identity);

// Opens an input read-only, without blocking, so that a FIFO nobody writes
// to cannot hold up the open; -1 with errno set on failure.
int open_input(const char* path);

// The length of an open input, or -1 when seeking cannot tell it: pipes,
// FIFOs and terminals refuse the seek, and a directory answers with a size
// that means nothing.
off_t input_length(int fd);

// Reads exactly `size` bytes; a single read may return less on large files,
// so it goes on until all are in. An error or an early end of file fails.
bool read_exactly(int fd, uint8_t* into, uint32_t size);

// Creates the file and writes all of `data` to it, reporting any failure.
bool write_file(const char* path, const void* data, size_t size);

// Reads at most `limit` bytes of the file at the start of a small input and
// returns them in a heap buffer, setting `size` to the count read and
// `length` to the file's whole length. Reports "Cannot open <what> file",
// "Cannot read <what> file" or a failed allocation and returns null.
uint8_t* load_file(const char* path, const char* what, uint32_t limit, uint32_t* size, off_t* length);

// load_file's reading half, for a reader that opened the file and looked at
// its length itself; the descriptor stays open.
uint8_t* load_open_file(int fd, const char* path, const char* what, uint32_t limit, uint32_t* size, off_t* length);
