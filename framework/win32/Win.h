// <windows.h> for the Win32 backends, without the A/W macros whose names the framework
// uses for its own functions. Include it after the framework's own headers, whose
// constants (TRUE, INFINITE, WAIT_TIMEOUT...) the SDK defines as macros.
#pragma once

#include <windows.h>

#undef CreateMutex
#undef CreateSemaphore
#undef CreateEvent
#undef PostMessage
#undef PostThreadMessage
#undef GetMessage
#undef PeekMessage
#undef DispatchMessage
#undef CreateWindow
#undef Yield
#undef GetObject
#undef SendMessage
#undef FindWindow
#undef FindWindowEx
#undef LoadString
#undef LoadIcon
#undef AppendMenu
#undef GetMenuString
#undef GetClassName
#undef GetWindowLong
#undef GetWindowText
#undef GetWindowTextLength
#undef SetWindowText
#undef IsDialogMessage
#undef CreateDialog
#undef DrawText
