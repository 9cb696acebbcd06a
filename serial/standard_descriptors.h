// The standard descriptors 0 to 2 and the files the program opens itself. A program started
// with one of them closed (by a service manager, or `<&-` in a shell) would get it back from its
// next open: a port on descriptor 0 reads as no port at all, and a file on descriptor 2 would
// receive the program's error messages.
#pragma once

namespace tornelvox {

// Opens /dev/null on each standard descriptor that is closed. Call it first thing in main,
// before any thread starts or any file is opened. True when all three are open afterwards.
bool EnsureStandardDescriptors();

// fd itself when it is above the standard descriptors; otherwise a close-on-exec duplicate of it
// above them, fd being closed. -1 (errno set, fd closed) when no duplicate can be made.
int MoveAboveStandardDescriptors(int fd);

}  // namespace tornelvox
