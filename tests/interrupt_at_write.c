/* Preloaded into the tools by the fault tests: the first write raises the
   signal whose number is in INTERRUPT_SIGNAL instead, as if the user pressed
   ^C while an output was being written. */
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

ssize_t write(int fd, const void* data, size_t size) {
  const char* number = getenv("INTERRUPT_SIGNAL");
  (void)fd;
  (void)data;
  (void)size;
  raise(number ? atoi(number) : SIGINT);
  return -1;
}
