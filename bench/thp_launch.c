/* thp_launch on|off COMMAND [ARG...]: runs COMMAND with transparent huge
 * pages as the system has them (on) or disabled for it and every process it
 * starts (off: prctl PR_SET_THP_DISABLE, which fork and exec keep). Both
 * modes go through the same exec, so that they cost the same.
 * Exit status 127 when the mode cannot be set or COMMAND cannot be run. */
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 3 || (strcmp(argv[1], "on") != 0 && strcmp(argv[1], "off") != 0)) {
    fprintf(stderr, "usage: thp_launch on|off COMMAND [ARG...]\n");
    return 127;
  }
  if (strcmp(argv[1], "off") == 0 &&
      (prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0) != 0 || prctl(PR_GET_THP_DISABLE, 0, 0, 0, 0) != 1)) {
    perror("thp_launch: PR_SET_THP_DISABLE");
    return 127;
  }
  execvp(argv[2], argv + 2);
  perror(argv[2]);
  return 127;
}
