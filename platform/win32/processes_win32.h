#pragma once
// The process snapshot walk that process control and the session launch share.

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

namespace saalwacht::platform::win32 {

// Calls `visit` for each entry of a fresh process snapshot, in snapshot
// order, until it returns false. Nothing happens when no snapshot can be had.
void forEachProcess(const std::function<bool(const PROCESSENTRY32W&)>& visit);

}  // namespace saalwacht::platform::win32
