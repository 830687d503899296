/* peak_rss command...: runs the command and prints its peak resident memory
 * in KiB (as the kernel counts it for the child, from its fork on), then
 * exits with the command's status. Being small, it is the process the
 * command's is forked from: the kernel counts the pages a process had
 * before it ran the command into that peak. */
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t pid = fork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  struct rusage usage;
  if (pid < 0 || wait4(pid, &status, 0, &usage) < 0) return 1;
  printf("%ld\n", usage.ru_maxrss);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
