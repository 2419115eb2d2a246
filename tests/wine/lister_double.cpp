// Stands in for the disk lister in the Wine tier: prints what a lister prints on a
// machine with two disks, a partition without a letter, a tiny one, a CD and a
// dynamic volume.
#include <fcntl.h>
#include <io.h>

#include <cstdio>

int main() {
  _setmode(_fileno(stdout), _O_BINARY);  // CR LF as written: text mode would make it CR CR LF
  std::fputs(
      "1:1\tC:\t100.00GB\t50.00GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
      "1:2\t\t0.50GB\t0.40GB\tPrimary\tNTFS\t\tMBR\t7\r\n"
      "1:3\tZ:\t200.00GB\tunknown\tLogical\tNTFS\t\tMBR\t7\r\n"
      "2:1\tY:\t0.10GB\t0.05GB\tPrimary\tFAT32\tEFI\tGPT\t7\r\n"
      "2:2\tD:\t465.66GB\t120.00GB\tPrimary\tNTFS\tData Volume\tGPT\t7\r\n"
      "  \tE:\t20.00GB\t10.00GB\tDynamic\tNTFS\tSimple\r\n",
      stdout);
  return 0;
}
