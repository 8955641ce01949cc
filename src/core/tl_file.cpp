// Small file-system utilities with int status results.
#include "tl_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tl_logging.h"

namespace {

bool is_empty(const char* name) { return name == nullptr || name[0] == '\0'; }

}  // namespace

// stat() follows symbolic links, so a link to a missing target counts as
// missing. The status record is static: not reentrant.
int iFileExists(const char* psFilename) {
  static struct stat stStat_buf;
  if (is_empty(psFilename)) return 2;
  return stat(psFilename, &stStat_buf) == 0 ? 1 : 2;
}

int iFileRemove(const char* psFilename) {
  if (is_empty(psFilename) || iFileExists(psFilename) != 1) return -1;
  return unlink(psFilename) == 0 ? 0 : -1;
}

// The result is a 32-bit int: a file of 2 GiB or more reports INT32_MAX
// rather than a wrapped, possibly negative, size. The status record is
// static: not reentrant.
int iFileSize(const char* psFilename) {
  static struct stat stStat_buf;
  if (is_empty(psFilename) || iFileExists(psFilename) != 1) return -1;
  if (stat(psFilename, &stStat_buf) != 0) return -1;
  if (stStat_buf.st_size >= static_cast<off_t>(INT32_MAX)) return INT32_MAX;
  return static_cast<int>(stStat_buf.st_size);
}

// Each failure but an empty name writes exactly one message, without a line
// end, to standard error.
int iFileRename(const char* psOldFilename, const char* psNewFilename, int iForce) {
  if (is_empty(psOldFilename) || is_empty(psNewFilename)) return -1;
  if (iFileExists(psOldFilename) != 1) {
    std::fprintf(stderr, "ERROR: cannot rename %s to %s because %s not found", psOldFilename,
                 psNewFilename, psOldFilename);
    return -1;
  }
  if (iFileExists(psNewFilename) == 1 && iForce == 0) {
    std::fprintf(stderr, "ERROR: cannot rename %s to %s because %s already exists", psOldFilename,
                 psNewFilename, psNewFilename);
    return -1;
  }
  if (std::rename(psOldFilename, psNewFilename) == 0) return 0;
  const int err = errno;
  std::fprintf(stderr, "ERROR: cannot rename %s to %s, errno = %d", psOldFilename, psNewFilename,
               err);
  return -1;
}

// Names are compared exactly, "." and ".." included. The "exiting" in the
// message is historical: the caller decides what to do with -1.
int iSearchDir(const char* psPathName, const char* psFileName) {
  const char* dirname = psPathName != nullptr ? psPathName : "";
  DIR* dir = opendir(dirname);
  if (dir == nullptr) {
    tl_log(-1, "ERROR: cannot open %s - exiting\n", dirname);
    return -1;
  }
  int found = 0;
  if (psFileName != nullptr) {
    while (struct dirent* entry = readdir(dir)) {
      if (std::strcmp(entry->d_name, psFileName) == 0) {
        tl_log(1, "found %s\n", psFileName);
        found = 1;
        break;
      }
    }
  }
  closedir(dir);
  return found;
}

// The destination is the caller's and must hold the prefix, 15 stamp
// characters, the dot, the suffix and a NUL; it cannot be checked here.
int iTimestampFilename(const char* psPrefix, const char* psSuffix, char* psNewFilename) {
  char stamp[32];
  tl_time_stamp("%Y%m%d_%H%M%S", stamp);
  std::sprintf(psNewFilename, "%s%s.%s", psPrefix != nullptr ? psPrefix : "", stamp,
               psSuffix != nullptr ? psSuffix : "");
  return 0;
}
