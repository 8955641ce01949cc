// The folder target of --split=DIR: one RFC 4180 CSV file per layout.
#pragma once

#include <memory>

#include "tl_sink.h"

// Makes the folder dir when missing. Returns the writer, or null with a
// message on standard error when dir cannot be made or is no folder.
std::unique_ptr<tl_sink> tl_open_split_writer(const char* dir);
