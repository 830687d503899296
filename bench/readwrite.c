/* The floor of any tool that reads a file and writes one: reads the input
 * whole into the heap and writes it back out, nothing else. */
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int in = open(argv[1], O_RDONLY);
  if (in < 0) return 1;
  off_t size = lseek(in, 0, SEEK_END);
  lseek(in, 0, SEEK_SET);
  char* data = malloc((size_t)size);
  if (!data || read(in, data, (size_t)size) != size) return 1;
  close(in);
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || write(out, data, (size_t)size) != size) return 1;
  return close(out) != 0;
}
