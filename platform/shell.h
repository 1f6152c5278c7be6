// The shell's file association, its default action, program start, and the
// Windows directory, over a freedesktop desktop.
//
// FindExecutableA finds the program that the desktop associates with the
// file's type: the MIME type from the file name and the shared MIME
// database's globs (mime/globs2, else mime/globs, in XDG_DATA_HOME and then
// XDG_DATA_DIRS; a directory is inode/directory; no content sniffing), the
// default application for that type or else one of its parent types
// (mime/subclasses) from the mimeapps.list files of XDG_CONFIG_HOME,
// XDG_CONFIG_DIRS, XDG_DATA_HOME/applications and XDG_DATA_DIRS/applications
// (desktop-specific ones first, after XDG_CURRENT_DESKTOP), then their added
// associations, then the desktops' mimeinfo.cache, less the removed
// associations. The application's desktop entry must be an installed
// Application, not run in a terminal, whose Exec is one program followed by
// nothing but field codes: the program is given exactly one file name, so an
// entry that needs fixed arguments (a wrapper such as "env VAR=x prog %f"
// would run the file itself) does not count. The program is resolved on PATH. An executable file is not
// its own association.
//
// Nothing here goes through a shell: programs get argument vectors.
#pragma once

#include "platform/win_types.h"

// Results of FindExecutableA and ShellExecuteA: a value above 32 means
// success. WinExec uses the same failure values and succeeds above 31.
constexpr int SE_ERR_FNF = 2;           // the file (or program) does not exist
constexpr int SE_ERR_PNF = 3;           // the working directory does not exist
constexpr int SE_ERR_ACCESSDENIED = 5;
constexpr int SE_ERR_OOM = 8;           // out of resources: nothing could be started
constexpr int SE_ERR_BADFORMAT = 11;    // not a program this system can run
constexpr int SE_ERR_NOASSOC = 31;      // no program is associated with the file's type

// The most that FindExecutableA writes into result, zero included (the
// original platform's path limit). A program with a longer path is not found.
constexpr DWORD findExecutableResultSize = 260;

// file is looked for in directory unless it is absolute (directory empty or
// null: the current one). result is empty on failure.
HINSTANCE FindExecutableA(LPCSTR file, LPCSTR directory, LPSTR result);

// The default action ("open", or a null or empty operation) hands the file
// to xdg-open, started in directory (the current one when empty or null) and
// not waited for. parameters are not used for a document. Other operations
// give SE_ERR_NOASSOC.
HINSTANCE ShellExecuteA(HWND owner, LPCSTR operation, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                        int show);

// Starts a command line as the original platform does for one without
// quotes: the program is the shortest prefix ending before a blank (space or
// tab) that names an executable file (a bare name is searched on PATH), else
// the whole line; everything after that blank reaches it as one argument
// (none when empty). It runs in the current directory, in its own session,
// and is not waited for.
UINT WinExec(LPCSTR commandLine, UINT show);

// The stand-in's Windows directory is "/": it always exists, and a program
// started there keeps no user directory busy. Returns the length, or the
// size needed (zero included) when the buffer is too small.
UINT GetWindowsDirectoryA(LPSTR buffer, UINT size);
