#pragma once
// The serial device on Win32 (ComDeviceWin32.cpp), with the calls of its
// line-event wait open to a test: what decides between a wait that is merely
// not finished and a device gone comes from them, and a test replays through
// them what Wine does under load.

#include "serial/ComDevice.h"

#include <windows.h>

#include <memory>

namespace kestrel {

struct ComWaitCalls {
    BOOL(WINAPI* waitCommEvent)(HANDLE, LPDWORD, LPOVERLAPPED) = ::WaitCommEvent;
    BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL) = ::GetOverlappedResult;
};

std::unique_ptr<ComDevice> CreateComDeviceWin32(const ComWaitCalls& calls);

}  // namespace kestrel
