// Messages on standard error and the files the tool creates.
//
// Every stage reports its one failure through these helpers and then
// returns false, so the driver only has to turn false into exit status 1.
#pragma once

#include <cstddef>

// Writes the message, formatted as printf does, on standard error;
// always returns false so a stage can end with `return fail(...)`.
bool fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Creates (or truncates) a file for writing with mode 0644; on failure
// reports "Cannot create file" with the system's error text and returns -1.
int create_file(const char* path);

// Writes all of `size` bytes, going on after partial writes; false when the
// system refuses, with errno telling why.
bool write_all(int fd, const void* data, size_t size);

// Reports a failed write to `path` with the current errno; returns false.
bool write_failed(const char* path);

// Closes a file the tool wrote; a failed close (a delayed write error) is
// reported like a failed write.
bool finish_file(int fd, const char* path);
