// The BDT file reader, a door onto the inputs' record cutter, and the
// in-memory record framing.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "tl_core.h"
#include "tl_globals.h"
#include "tl_lines.h"

namespace {

// The record pieces of the open file, cut by the one cutter of the inputs.
class fd_lines : public tl_lines {
 public:
  explicit fd_lines(int fd) : tl_lines(size_of(fd)), fd_(fd) {}

 protected:
  long raw_read(char* buf, size_t n) override { return static_cast<long>(::read(fd_, buf, n)); }

 private:
  // Returns the size of the regular file open on fd, else -1.
  static long long size_of(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size) : -1;
  }
  int fd_;
};

// The open input: one file at a time, from the first read to its end.
int rd_fd = -1;
std::unique_ptr<fd_lines> rd_lines;
long rd_off = 0;  // file offset of the next record

void rd_close() {
  rd_lines.reset();
  if (rd_fd >= 0) close(rd_fd);
  rd_fd = -1;
  rd_off = 0;
}

}  // namespace

void psReadBDTclose() { rd_close(); }

int psReadBDTfile(const char* psBDTfileName, char* pucData, unsigned long* pulLength, long* plByteLocation) {
  const char* rec = nullptr;
  if (tl_read_record(psBDTfileName, &rec, pulLength, plByteLocation) != 0) return -1;
  std::memcpy(pucData, rec, *pulLength + 1);
  return 0;
}

int tl_read_record(const char* psBDTfileName, const char** ppucData, unsigned long* pulLength, long* plByteLocation) {
  if (rd_fd < 0) {
    if (debug_flag > 0) fprintf(stderr, "DEBUG: fopen = %s\n", psBDTfileName);
    rd_fd = open(psBDTfileName, O_RDONLY | O_CLOEXEC);
    if (rd_fd < 0) {
      fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", psBDTfileName);
      tl_input_failures++;
      return -1;
    }
    rd_lines.reset(new fd_lines(rd_fd));
    rd_off = 0;
  }
  if (*plByteLocation != rd_off) {
    // The caller's byte location decides where the next record starts.
    if (*plByteLocation < 0 || lseek(rd_fd, *plByteLocation, SEEK_SET) < 0) {
      if (*plByteLocation < 0) errno = EINVAL;
      int e = errno;
      fputs("ERROR: attempting to fseek into file\n", stderr);
      fprintf(stderr, "fseek: %s\n", strerror(e));
      rd_close();
      tl_input_failures++;
      return -1;
    }
    rd_lines.reset(new fd_lines(rd_fd));
    rd_off = *plByteLocation;
  }
  const char* rec = nullptr;
  unsigned long n = 0;
  if (rd_lines->next(&rec, &n) != 0) {
    if (rd_lines->read_errno() != 0) {
      fprintf(stderr, "ERROR: Unable to read BDT file:%s: %s\n", psBDTfileName, strerror(rd_lines->read_errno()));
      tl_input_failures++;
    }
    rd_close();
    *plByteLocation = 0;
    return -1;
  }
  *ppucData = rec;
  *pulLength = n;
  rd_off += static_cast<long>(n);
  *plByteLocation += static_cast<long>(n);
  return 0;
}

int psReadBDTbuf(const char* psBuffer, char* pucData, long* plByteLocation, long lBufferLength) {
  long loc = *plByteLocation;
  if (loc < 0 || loc >= lBufferLength) {
    *plByteLocation = 0;
    return -1;
  }
  long avail = lBufferLength - loc;
  size_t want = avail < 225 ? static_cast<size_t>(avail) : 225;
  const char* src = psBuffer + loc;
  size_t n = 0;
  while (n < want && src[n] != '\0') {
    pucData[n] = src[n];
    n++;
  }
  std::memset(pucData + n, 0, 226 - n);
  if (want < 225) {
    // A short last record counts unless it is nothing but line ends.
    bool blank = true;
    for (size_t i = 0; i < n; i++) {
      if (pucData[i] != '\r' && pucData[i] != '\n') {
        blank = false;
        break;
      }
    }
    if (blank) {
      *plByteLocation = 0;
      return -1;
    }
  }
  *plByteLocation = loc + 227;
  return 0;
}
