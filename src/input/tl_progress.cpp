// The progress line. Updated per block of input, never per record; written
// with write(2) so that it never mixes with the buffered streams.
#include "tl_progress.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

bool shown_on = false;   // the line may be shown in this run
bool visible = false;    // the line stands on the terminal now
double run_start = 0, next_draw = 0;
const char* cur_name = nullptr;  // the input of the figures below
double cur_start = 0;
long long cur_first = 0;

double now_s() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void put(const char* s, size_t n) {
  while (n > 0) {
    ssize_t w = write(STDERR_FILENO, s, n);
    if (w <= 0) return;
    s += w;
    n -= static_cast<size_t>(w);
  }
}

// Writes a duration as 1:23:45 or 2:05.
int put_time(char* out, size_t cap, double secs) {
  long s = secs < 0 ? 0 : static_cast<long>(secs + 0.5);
  if (s >= 3600) return snprintf(out, cap, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
  return snprintf(out, cap, "%ld:%02ld", s / 60, s % 60);
}

}  // namespace

bool tl_progress_parse(const char* word, tl_progress_when* when) {
  if (std::strcmp(word, "auto") == 0) {
    *when = tl_progress_when::automatic;
  } else if (std::strcmp(word, "always") == 0) {
    *when = tl_progress_when::always;
  } else if (std::strcmp(word, "never") == 0) {
    *when = tl_progress_when::never;
  } else {
    return false;
  }
  return true;
}

void tl_progress_start(tl_progress_when when) {
  shown_on = when == tl_progress_when::always ||
             (when == tl_progress_when::automatic && isatty(STDERR_FILENO) == 1);
  visible = false;
  cur_name = nullptr;
  run_start = now_s();
  next_draw = run_start + 1.0;
}

void tl_progress_note(const char* name, long long size, long long done) {
  if (!shown_on) return;
  double t = now_s();
  if (name != cur_name) {
    cur_name = name;
    cur_start = t;
    cur_first = done;
  }
  // Nothing read since the input began: nothing to tell yet.
  if (t < next_draw || done == cur_first) return;
  next_draw = t + 0.25;
  double secs = t - cur_start;
  double rate = secs > 0 ? static_cast<double>(done - cur_first) / secs : 0;
  // The name's end is what tells inputs apart; a long one keeps its last 40.
  size_t nl = std::strlen(name);
  const char* shown = nl > 40 ? name + nl - 40 : name;
  char line[256];
  int n = snprintf(line, sizeof line, "\r%s%s: ", nl > 40 ? "..." : "", shown);
  if (size > 0) {
    long long pct = done >= size ? 100 : done * 100 / size;
    n += snprintf(line + n, sizeof line - static_cast<size_t>(n), "%lld%%, ", pct);
  } else {
    n += snprintf(line + n, sizeof line - static_cast<size_t>(n), "%.1f MB, ", static_cast<double>(done) / 1e6);
  }
  n += snprintf(line + n, sizeof line - static_cast<size_t>(n), "%.1f MB/s", rate / 1e6);
  if (size > 0 && rate > 0 && done < size) {
    n += snprintf(line + n, sizeof line - static_cast<size_t>(n), ", ");
    n += put_time(line + n, sizeof line - static_cast<size_t>(n), static_cast<double>(size - done) / rate);
    n += snprintf(line + n, sizeof line - static_cast<size_t>(n), " left");
  }
  n += snprintf(line + n, sizeof line - static_cast<size_t>(n), "\033[K");
  put(line, static_cast<size_t>(n));
  visible = true;
}

void tl_progress_clear() {
  if (!visible) return;
  put("\r\033[K", 4);
  visible = false;
}
