// Files that a signal ending the process removes: the temporary files of
// outputs being written, which an interrupt (Ctrl-C, SIGTERM, a closed
// terminal or console) would otherwise leave behind, as large as the output.
//
// The names sit in a fixed table that the handler reads without allocating
// or locking. A name that does not fit a slot, or finds none free, is not
// registered: the file is written as before, only an interrupt leaves it.
//
// POSIX: the first registration installs the handler for SIGINT, SIGTERM,
// SIGHUP and SIGPIPE, but not for one the process ignores then (SIGHUP
// under nohup, SIGPIPE ignored by the parent): that stays ignored. The
// handler removes the files, restores the default action and raises the
// signal again, so the process ends by it. A child forked later removes
// none of its parent's files.
// Windows: a console control handler (Ctrl-C, Ctrl-Break, closing the
// console, logoff, shutdown) removes them and leaves the ending to the
// default handling. A file open elsewhere without delete sharing (by
// another library) cannot be removed then and stays.
#pragma once

namespace platform {

// Registers the file at path for removal should a signal end the process;
// an id for ForgetOnSignal, or -1 when it could not be registered. Register
// the name before the file is created, so that no moment has it unlisted.
int RemoveOnSignal(const char* path);
// Drops the registration id (-1: none), once the file is gone or has its
// final name; waits while a handler on another thread is removing it.
void ForgetOnSignal(int id);
// Removes every file registered now, as the handler does; the registrations
// stay until they are dropped. For tests.
void RemoveRegisteredFiles();

}  // namespace platform
