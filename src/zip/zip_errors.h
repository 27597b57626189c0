// The exception classes of the zip component.
//
// Whole-operation failures of the reader and the writer travel as these
// exceptions; a problem with one file is reported through an event instead and
// the file is skipped. Every class carries its English message as what().
// The hierarchy lets callers catch broadly (EZipError) or narrowly.
#pragma once

#include <stdexcept>
#include <string>

namespace zip {

// Base of every error the zip component raises.
class EZipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Errors of the archive's structure.
class ENotAZipFile : public EZipError {
 public:
  using EZipError::EZipError;
};
class EIncompleteZip : public EZipError {
 public:
  using EZipError::EZipError;
};
class EBadZipFile : public EZipError {
 public:
  using EZipError::EZipError;
};
// The archive uses a feature this component does not implement (zip64,
// multi-disk volumes, memory archives, self-extracting prefixes).
class EZipNotSupported : public EZipError {
 public:
  using EZipError::EZipError;
};

// The user (or an event handler) stopped the operation.
class EUserCanceled : public EZipError {
 public:
  using EZipError::EZipError;
};

// Writing the archive failed.
class ENotEnoughRoom : public EZipError {
 public:
  using EZipError::EZipError;
};

// Extraction errors.
class EFatalUnzipError : public EZipError {
 public:
  using EZipError::EZipError;
};
class EBiggerThanUncompressed : public EZipError {
 public:
  using EZipError::EZipError;
};
class ECantWriteUCF : public EZipError {
 public:
  using EZipError::EZipError;
};

// A file could not be opened or read (the toolkit's file-open error).
class EFOpenError : public EZipError {
 public:
  using EZipError::EZipError;
};

// Errors of the object lists and the streams.
class EListError : public EZipError {
 public:
  using EZipError::EZipError;
};
class EStreamError : public EZipError {
 public:
  using EZipError::EZipError;
};

// Fixed message texts.
inline constexpr const char* kMsgNotAZip = "Not a valid zip file!";
inline constexpr const char* kMsgIncompleteZip = "Incomplete Zip File";
inline constexpr const char* kMsgUserAborted = "User Aborted Operation";
inline constexpr const char* kMsgUserCanceledZip = "User canceled Zip operation";
inline constexpr const char* kMsgNotEnoughRoom = "Not enough room to write archive";
inline constexpr const char* kMsgPrematureEnd = "Premature end of file reached";
inline constexpr const char* kMsgBiggerThanUncompressed = "File is larger than uncompressed size!";
inline constexpr const char* kMsgCantWriteUcf = "Cant write uncompressed file";
inline constexpr const char* kMsgDuplicateObject = "Duplicate Object index";
inline constexpr const char* kMsgPutInSortedList = "Cannot <Put> an Object in a sorted list!";
inline constexpr const char* kMsgZip64NotSupported = "Zip64 archives are not supported";
inline constexpr const char* kMsgTooManyEntries =
    "An archive without zip64 holds at most 65,535 entries";
inline constexpr const char* kMsgMultiDiskNotSupported =
    "Multi-disk (spanned) archives are not supported";

}  // namespace zip
