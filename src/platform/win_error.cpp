// The per-thread last error and the errno mapping.
#include "platform/win_error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local WinError tLastError = kErrorSuccess;
}  // namespace

WinError GetLastError() {
  return tLastError;
}
void SetLastError(WinError error) {
  tLastError = error;
}

WinError WinErrorFromErrno(int err) {
  switch (err) {
    case 0:
      return kErrorSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EISDIR:
      return kErrorAccessDenied;
    case EROFS:
      return kErrorWriteProtect;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EXDEV:
      return kErrorNotSameDevice;
    case EAGAIN:
      return kErrorLockViolation;
    case EEXIST:
      return kErrorFileExists;
    case EINVAL:
      return kErrorInvalidParameter;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EIO:
      return kErrorIoDevice;
    case EFBIG:
      return kErrorDiskFull;
    default:
      return kErrorGenFailure;
  }
}

std::string WinErrorText(WinError error) {
  switch (error) {
    case kErrorSuccess:
      return "The operation completed successfully.";
    case kErrorFileNotFound:
      return "The system cannot find the file specified.";
    case kErrorPathNotFound:
      return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles:
      return "The system cannot open the file.";
    case kErrorAccessDenied:
      return "Access is denied.";
    case kErrorInvalidHandle:
      return "The handle is invalid.";
    case kErrorNotEnoughMemory:
      return "Not enough memory resources are available.";
    case kErrorInvalidDrive:
      return "The system cannot find the drive specified.";
    case kErrorNotSameDevice:
      return "The system cannot move the file to a different disk drive.";
    case kErrorNoMoreFiles:
      return "There are no more files.";
    case kErrorWriteProtect:
      return "The media is write protected.";
    case kErrorSharingViolation:
      return "The process cannot access the file because it is being used by another process.";
    case kErrorLockViolation:
      return "The process cannot access the file because another process has locked a portion "
             "of the file.";
    case kErrorHandleDiskFull:
    case kErrorDiskFull:
      return "There is not enough space on the disk.";
    case kErrorFileExists:
      return "The file exists.";
    case kErrorAlreadyExists:
      return "Cannot create a file when that file already exists.";
    case kErrorInvalidParameter:
      return "The parameter is incorrect.";
    case kErrorInvalidName:
      return "The filename, directory name, or volume label syntax is incorrect.";
    case kErrorDirNotEmpty:
      return "The directory is not empty.";
    case kErrorNotLocked:
      return "The segment is already unlocked.";
    case kErrorFilenameExcedRange:
      return "The filename or extension is too long.";
    case kErrorModNotFound:
      return "The specified module could not be found.";
    case kErrorProcNotFound:
      return "The specified procedure could not be found.";
    case kErrorCurrentDirectory:
      return "The directory cannot be removed.";
    case kErrorHandleEof:
      return "Reached the end of the file.";
    case kErrorNotSupported:
      return "The request is not supported.";
    case kErrorNetworkAccessDenied:
      return "Network access is denied.";
    case kErrorBrokenPipe:
      return "The pipe has been ended.";
    case kErrorNegativeSeek:
      return "An attempt was made to move the file pointer before the beginning of the file.";
    case kErrorBadPathName:
      return "The specified path is invalid.";
    case kErrorDirectory:
      return "The directory name is invalid.";
    case kErrorGenFailure:
      return "A device attached to the system is not functioning.";
    case kErrorIoDevice:
      return "The request could not be performed because of an I/O device error.";
    default:
      return "Error " + std::to_string(error) + ".";
  }
}

}  // namespace platform
