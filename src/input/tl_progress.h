// The progress line: one status line on standard error, rewritten in place
// while a long run reads its inputs, erased at the end.
#pragma once

// When the line is shown: auto (standard error is a terminal), always, never.
enum class tl_progress_when { automatic, always, never };

// Reads "auto", "always" or "never" into *when. Returns false for another word.
bool tl_progress_parse(const char* word, tl_progress_when* when);

// Starts the clock of the run and decides once whether the line is shown.
void tl_progress_start(tl_progress_when when);

// Notes that done of size bytes (size -1 when unknown) of the named input are
// read. Rewrites the line a few times a second, from a second after the start
// on; costs a flag test while the line is off. Meant to be called per block.
void tl_progress_note(const char* name, long long size, long long done);

// Erases the line if it is shown (before a message, and at the end).
void tl_progress_clear();
