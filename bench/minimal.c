/* The physical limit of a repair: open, read four bytes, write four bytes
 * at offset 0, close. No checks beyond the open, no run-time to start. */
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char **argv) {
  unsigned char header[4] = {0};
  int fd;
  if (argc != 2) return 0;
  fd = open(argv[1], O_RDWR);
  if (fd < 0) return 1;
  if (read(fd, header, sizeof header) == sizeof header) {
    header[3] = 3;
    if (pwrite(fd, header, sizeof header, 0) != sizeof header) return 1;
  }
  return close(fd) != 0;
}
