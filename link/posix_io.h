#pragma once

#include <string>
#include <string_view>

// Whole writes and durable data on plain file descriptors, for every file the program keeps
// (the traffic log, the run journal, the exports). Interrupted calls are retried.

// Writes all of `data`; false at the first failing write (errno says why). A write that takes
// nothing counts as EIO.
bool WriteAll(int fd, std::string_view data);
// fdatasync: the file's data is on the disk.
bool SyncData(int fd);
// Makes a new or renamed entry of `folder` survive a power cut, not only the file's content.
void SyncFolder(const std::string& folder);
