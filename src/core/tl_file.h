// Small file-system utilities with int status results.
#pragma once

// Returns 1 if the name is not empty and stat() succeeds on it, else 2.
int iFileExists(const char* psFilename);
// Returns 0 if the file was deleted, -1 otherwise.
int iFileRemove(const char* psFilename);
// Returns the file's size in bytes (saturated at INT32_MAX), -1 on failure.
int iFileSize(const char* psFilename);
// Renames old to new (replacing new only if iForce); 0 or -1 with a message.
int iFileRename(const char* psOldFilename, const char* psNewFilename, int iForce);
// Returns 1 if the directory holds an entry of that exact name, 0 if not,
// -1 if the directory cannot be opened.
int iSearchDir(const char* psPathName, const char* psFileName);
// Writes prefix, the local time stamp "%Y%m%d_%H%M%S", '.', suffix; returns 0.
int iTimestampFilename(const char* psPrefix, const char* psSuffix, char* psNewFilename);
