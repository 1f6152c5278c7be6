// The handful of Windows types and constants the system's code is written
// against. Values are the platform's published ones, so the same code could be
// built on that platform against its real headers.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using SIZE_T = std::size_t;
using LPCSTR = const char*;
using LPSTR = char*;
using HANDLE = void*;
using HGLOBAL = void*;
using HWND = void*;
using HINSTANCE = void*;
using HMODULE = void*;


// A handle with all bits set: the failure value of the file openers.
inline HANDLE const INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

// Global memory flags.
constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_DDESHARE = 0x2000;

// File access, sharing, disposition and attributes.
constexpr DWORD GENERIC_READ = 0x80000000u;
constexpr DWORD GENERIC_WRITE = 0x40000000u;
constexpr DWORD FILE_SHARE_READ = 0x00000001u;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002u;
constexpr DWORD CREATE_NEW = 1;
constexpr DWORD CREATE_ALWAYS = 2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD OPEN_ALWAYS = 4;
constexpr DWORD TRUNCATE_EXISTING = 5;
constexpr DWORD FILE_ATTRIBUTE_READONLY = 0x00000001u;
constexpr DWORD FILE_ATTRIBUTE_HIDDEN = 0x00000002u;
constexpr DWORD FILE_ATTRIBUTE_SYSTEM = 0x00000004u;
constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x00000010u;
constexpr DWORD FILE_ATTRIBUTE_ARCHIVE = 0x00000020u;
constexpr DWORD FILE_ATTRIBUTE_DEVICE = 0x00000040u;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080u;
constexpr DWORD FILE_FLAG_SEQUENTIAL_SCAN = 0x08000000u;
constexpr DWORD INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001u;

// Message box styles and results.
constexpr UINT MB_OK = 0x00000000u;
constexpr UINT MB_ICONSTOP = 0x00000010u;
constexpr int IDOK = 1;

// Show states.
constexpr int SW_SHOWNORMAL = 1;
