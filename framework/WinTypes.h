// The Windows-shaped scalar types and constants that the framework and everything above it
// use. They live in namespace ks so that a backend which includes <windows.h> can see both
// its own and ours without clashes; sizes are those of the 32-bit Windows ABI wherever the
// program relies on a size (DWORD and friends are 32 bits on every host).
#pragma once

#include <cstdint>

namespace ks {

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = std::uint32_t;
using ULONG = std::uint32_t;
using LONG = std::int32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HANDLE = void*;
// Window handles are 32-bit values on every host: Windows guarantees that a window handle
// fits in 32 bits even in 64-bit processes, and the worker keys its registration map by them.
using HWND = std::uint32_t;

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1));

inline constexpr DWORD INFINITE = 0xFFFFFFFFu;
inline constexpr DWORD WAIT_OBJECT_0 = 0x00000000u;
inline constexpr DWORD WAIT_ABANDONED = 0x00000080u;
inline constexpr DWORD WAIT_TIMEOUT = 0x00000102u;
inline constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

inline constexpr UINT WM_NULL = 0x0000;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_APP = 0x8000;

inline constexpr DWORD CREATE_SUSPENDED = 0x00000004u;
inline constexpr int THREAD_PRIORITY_NORMAL = 0;

}  // namespace ks
