// Baseline: copies each named file into a folder the way a design that holds
// one entry whole must at least work: one buffer of the file's size, one read
// of the whole file into it, one write of it.
//   bench_copy_whole DEST_FOLDER FILE...
// Prints the copy's own time in seconds, without the process's start.
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static int Transfer(int fd, char* buffer, size_t size, bool reading) {
  size_t done = 0;
  while (done < size) {
    ssize_t moved = reading ? read(fd, buffer + done, size - done) : write(fd, buffer + done, size - done);
    if (moved <= 0) return -1;
    done += (size_t)moved;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: bench_copy_whole DEST_FOLDER FILE...\n");
    return 2;
  }
  struct timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (int i = 2; i < argc; ++i) {
    int in = open(argv[i], O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (in < 0 || fstat(in, &info) != 0) return 1;
    size_t size = (size_t)info.st_size;
    char* buffer = (char*)malloc(size ? size : 1);
    if (!buffer || Transfer(in, buffer, size, true) != 0) return 1;
    close(in);
    const char* base = strrchr(argv[i], '/');
    base = base ? base + 1 : argv[i];
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", argv[1], base);
    int out = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || Transfer(out, buffer, size, false) != 0 || close(out) != 0) return 1;
    free(buffer);
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%.6f\n", (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9);
  return 0;
}
