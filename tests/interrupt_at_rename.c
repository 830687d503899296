/* Preloaded into the tools by the fault tests: the first rename raises the
   signal whose number is in INTERRUPT_SIGNAL instead, as if the user pressed
   ^C just as an output was complete but not yet in place. */
#include <signal.h>
#include <stdlib.h>

int rename(const char* from, const char* to) {
  const char* number = getenv("INTERRUPT_SIGNAL");
  (void)from;
  (void)to;
  raise(number ? atoi(number) : SIGINT);
  return -1;
}
