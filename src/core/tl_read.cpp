// The BDT file reader and the in-memory record framing.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "tl_core.h"
#include "tl_globals.h"

namespace {

// Record buffers are 256 bytes: a piece of a line is at most 255 bytes.
constexpr size_t kMaxPiece = 255;

// The open input: one file at a time, read in large blocks so that a record
// costs no system call.
constexpr size_t kBlock = 1 << 16;
int rd_fd = -1;
char rd_buf[kBlock + 1];  // one more byte for the NUL after a record at the end
size_t rd_pos = 0;   // next unread byte in rd_buf
size_t rd_end = 0;   // bytes held in rd_buf
long rd_off = 0;     // file offset of rd_buf[rd_pos]
bool rd_eof = false; // the last read returned 0
bool rd_nul = false; // rd_buf holds a NUL byte somewhere
// A record is delivered in place, ended by a NUL written over the byte after
// it; that byte is kept here and put back before the block is used again.
char* rd_held_at = nullptr;
char rd_held = '\0';

void rd_put_back() {
  if (rd_held_at != nullptr) *rd_held_at = rd_held;
  rd_held_at = nullptr;
}

void rd_close() {
  rd_held_at = nullptr;
  if (rd_fd >= 0) close(rd_fd);
  rd_fd = -1;
  rd_pos = rd_end = 0;
  rd_off = 0;
  rd_eof = false;
  rd_nul = false;
}

// Reads more bytes behind those held. Returns >0 bytes read, 0 at end of
// file, -1 on a read error (errno set).
ssize_t rd_fill() {
  if (rd_pos > 0) {
    std::memmove(rd_buf, rd_buf + rd_pos, rd_end - rd_pos);
    rd_end -= rd_pos;
    rd_pos = 0;
  }
  for (;;) {
    ssize_t r = read(rd_fd, rd_buf + rd_end, kBlock - rd_end);
    if (r > 0) {
      rd_end += static_cast<size_t>(r);
      // One look per block spares a look per record in the usual NUL-free file.
      rd_nul = std::memchr(rd_buf, '\0', rd_end) != nullptr;
      return r;
    }
    if (r == 0) {
      rd_eof = true;
      return 0;
    }
    if (errno == EINTR && !tl_shutdown) continue;
    return -1;
  }
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
  rd_put_back();
  if (rd_fd < 0) {
    if (debug_flag > 0) fprintf(stderr, "DEBUG: fopen = %s\n", psBDTfileName);
    rd_fd = open(psBDTfileName, O_RDONLY | O_CLOEXEC);
    if (rd_fd < 0) {
      fprintf(stderr, "ERROR: Unable to open BDT file:%s\n", psBDTfileName);
      tl_input_failures++;
      return -1;
    }
    rd_pos = rd_end = 0;
    rd_off = 0;
    rd_eof = false;
  } else if (*plByteLocation != rd_off) {
    // The caller's byte location decides where the next record starts: use
    // the bytes held when they cover it, else seek.
    long start = rd_off - static_cast<long>(rd_pos);
    if (*plByteLocation >= start && *plByteLocation <= start + static_cast<long>(rd_end)) {
      rd_pos = static_cast<size_t>(*plByteLocation - start);
      rd_off = *plByteLocation;
    } else if (*plByteLocation < 0 || lseek(rd_fd, *plByteLocation, SEEK_SET) < 0) {
      if (*plByteLocation < 0) errno = EINVAL;
      int e = errno;
      fputs("ERROR: attempting to fseek into file\n", stderr);
      fprintf(stderr, "fseek: %s\n", strerror(e));
      rd_close();
      tl_input_failures++;
      return -1;
    } else {
      rd_pos = rd_end = 0;
      rd_off = *plByteLocation;
      rd_eof = false;
    }
  }

  // Find the end of the next piece: through the line end, at most 255 bytes.
  size_t n = 0;
  for (;;) {
    size_t avail = rd_end - rd_pos;
    size_t look = avail < kMaxPiece ? avail : kMaxPiece;
    const void* nl = std::memchr(rd_buf + rd_pos, '\n', look);
    if (nl != nullptr) {
      n = static_cast<size_t>(static_cast<const char*>(nl) - (rd_buf + rd_pos)) + 1;
      break;
    }
    if (avail >= kMaxPiece) {
      n = kMaxPiece;
      break;
    }
    if (rd_eof) {
      n = avail;  // a last line without a line end is still a record
      break;
    }
    ssize_t r = rd_fill();
    if (r < 0) {
      int e = errno;
      fprintf(stderr, "ERROR: Unable to read BDT file:%s: %s\n", psBDTfileName, strerror(e));
      rd_close();
      *plByteLocation = 0;
      tl_input_failures++;
      return -1;
    }
  }
  if (n == 0) {
    rd_close();
    *plByteLocation = 0;
    return -1;
  }

  char* rec = rd_buf + rd_pos;
  // A NUL would end the record text early; it is given as a blank.
  for (char* z = rd_nul ? static_cast<char*>(std::memchr(rec, '\0', n)) : nullptr; z != nullptr;
       z = static_cast<char*>(std::memchr(z, '\0', static_cast<size_t>(rec + n - z)))) {
    *z = ' ';
  }
  rd_held_at = rec + n;
  rd_held = *rd_held_at;
  *rd_held_at = '\0';
  *ppucData = rec;
  *pulLength = n;
  rd_pos += n;
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
