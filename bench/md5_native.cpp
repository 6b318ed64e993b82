// Digests one file with the project's CMD5Checksum, read in 64 KiB pieces like the stub does.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "settings/portable/Md5.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int fd = ::open(argv[1], O_RDONLY);
  if (fd < 0) return 1;
  std::vector<unsigned char> buffer(64 * 1024);
  CMD5Checksum md5;
  for (;;) {
    ssize_t got = ::read(fd, buffer.data(), buffer.size());
    if (got < 0) return 1;
    if (got == 0) break;
    md5.AddData(buffer.data(), static_cast<uint32_t>(got));
  }
  ::close(fd);
  for (wchar_t c : md5.Finish()) std::putchar(static_cast<char>(c));
  std::putchar('\n');
  return 0;
}
