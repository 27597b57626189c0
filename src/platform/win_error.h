// Windows error numbers and the per-thread "last error".
//
// Every host-layer call that can fail returns a plain result (false, -1, an
// empty optional) and leaves the reason here as a Windows error number, the
// way Win32 does with GetLastError. Callers above the host layer never see an
// errno: they map these numbers as their own design says.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using WinError = std::uint32_t;

inline constexpr WinError kErrorSuccess = 0;
inline constexpr WinError kErrorFileNotFound = 2;
inline constexpr WinError kErrorPathNotFound = 3;
inline constexpr WinError kErrorTooManyOpenFiles = 4;
inline constexpr WinError kErrorAccessDenied = 5;
inline constexpr WinError kErrorInvalidHandle = 6;
inline constexpr WinError kErrorNotEnoughMemory = 8;
inline constexpr WinError kErrorInvalidDrive = 15;
inline constexpr WinError kErrorCurrentDirectory = 16;
inline constexpr WinError kErrorNotSameDevice = 17;
inline constexpr WinError kErrorNoMoreFiles = 18;
inline constexpr WinError kErrorWriteProtect = 19;
inline constexpr WinError kErrorSharingViolation = 32;
inline constexpr WinError kErrorLockViolation = 33;
inline constexpr WinError kErrorHandleEof = 38;
inline constexpr WinError kErrorHandleDiskFull = 39;
inline constexpr WinError kErrorNotSupported = 50;
inline constexpr WinError kErrorNetworkAccessDenied = 65;
inline constexpr WinError kErrorFileExists = 80;
inline constexpr WinError kErrorInvalidParameter = 87;
inline constexpr WinError kErrorBrokenPipe = 109;
inline constexpr WinError kErrorDiskFull = 112;
inline constexpr WinError kErrorInvalidName = 123;
inline constexpr WinError kErrorModNotFound = 126;
inline constexpr WinError kErrorProcNotFound = 127;
inline constexpr WinError kErrorNegativeSeek = 131;
inline constexpr WinError kErrorDirNotEmpty = 145;
inline constexpr WinError kErrorNotLocked = 158;
inline constexpr WinError kErrorBadPathName = 161;
inline constexpr WinError kErrorAlreadyExists = 183;
inline constexpr WinError kErrorFilenameExcedRange = 206;
inline constexpr WinError kErrorDirectory = 267;  // "the directory name is invalid"
inline constexpr WinError kErrorIoDevice = 1117;
inline constexpr WinError kErrorGenFailure = 31;

// The calling thread's last error, as Win32's GetLastError/SetLastError.
WinError GetLastError();
void SetLastError(WinError error);

// Maps an errno value to the nearest Windows error number (unknown: kErrorGenFailure).
WinError WinErrorFromErrno(int err);

// A short English description of a Windows error number, for messages shown to
// users ("The system cannot find the file specified."). Never a raw system text.
std::string WinErrorText(WinError error);

}  // namespace platform
