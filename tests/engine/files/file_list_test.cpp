// The file registry: creating, opening, sharing, closing, renaming, removing
// and copying files through TFileList, on real files below D: and in memory.
#include "engine/files/file_list.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/engine_test_util.h"
#include "engine/errors.h"
#include "platform/file_ops.h"

namespace {

using engine::TAbstractFile;
using engine::TFileList;
using platform_test::ReadHostFile;
using platform_test::WriteHostFile;

class FileListTest : public engine_test::DriveDTest {
 protected:
  TFileList& list = TFileList::Instance();

  // Opens `name`; returns the id or the negative code.
  std::int32_t Open(const std::string& name, bool inMemory, bool exclusive,
                    TAbstractFile** out = nullptr) {
    bool readOnly = false;
    TAbstractFile* file = nullptr;
    const std::int32_t id = list.OpenFile(name, inMemory, false, exclusive, readOnly, file);
    if (out != nullptr) *out = file;
    return id;
  }
  std::int32_t Create(const std::string& name, bool inMemory, TAbstractFile** out = nullptr,
                      bool temporary = false) {
    TAbstractFile* file = nullptr;
    const std::int32_t id = list.NewFile(name, inMemory, temporary, file);
    if (out != nullptr) *out = file;
    return id;
  }
  void Write(TAbstractFile* file, std::int32_t id, const std::string& text) {
    ASSERT_EQ(file->WriteData(id, text.data(), static_cast<std::int32_t>(text.size())),
              static_cast<std::int32_t>(text.size()));
  }
  std::string ReadAll(TAbstractFile* file, std::int32_t id) {
    file->SeekData(id, 0, 0);
    std::string out(200000, '\0');
    const std::int32_t n = file->ReadData(id, out.data(), static_cast<std::int32_t>(out.size()));
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
  }
};

TEST_F(FileListTest, BlankBaseNamesAreInvalidPaths) {
  TAbstractFile* file = nullptr;
  for (const char* name : {".DAT", "D:\\.DAT", "  .IDX", "", "D:\\sub\\ .BLB"}) {
    for (bool inMemory : {false, true}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(list.NewFile(name, inMemory, false, file), -engine::kErrInvalidPath);
      EXPECT_EQ(Open(name, inMemory, false), -engine::kErrInvalidPath);
    }
  }
}

TEST_F(FileListTest, UnknownFilesAreInvalidPaths) {
  EXPECT_EQ(Open("NeverMade.DAT", true, false), -engine::kErrInvalidPath);  // in memory
  EXPECT_EQ(Open("D:\\Missing.DAT", false, false), -engine::kErrInvalidPath);
  EXPECT_EQ(Open("D:\\NoDir\\Missing.DAT", false, false), -engine::kErrInvalidPath);
  EXPECT_FALSE(list.HasFile("D:\\Missing.DAT", false));
  // A failed open leaves nothing registered that would claim the file exists.
  EXPECT_FALSE(list.HasFile("D:\\Missing.DAT", false));
  EXPECT_EQ(list.CloseFile(nullptr, false, 1), -engine::kErrInvalidPath);
}

TEST_F(FileListTest, ExclusiveConflictsInBothKinds) {
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    const std::string name = "D:\\Share.DAT";
    TAbstractFile* created = nullptr;
    const std::int32_t createId = Create(name, inMemory, &created);
    ASSERT_GT(createId, 0);
    // A created file is held exclusively until closed.
    EXPECT_EQ(Open(name, inMemory, false), -engine::kErrAccessDenied);
    EXPECT_EQ(Create(name, inMemory), -engine::kErrAccessDenied);
    ASSERT_EQ(list.CloseFile(created, inMemory, createId), 0);

    TAbstractFile* first = nullptr;
    TAbstractFile* second = nullptr;
    const std::int32_t a = Open(name, inMemory, false, &first);
    const std::int32_t b = Open("d:\\SHARE.dat ", inMemory, false, &second);  // same file
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Open(name, inMemory, true), -engine::kErrAccessDenied);  // exclusive on open file
    EXPECT_EQ(Create(name, inMemory), -engine::kErrAccessDenied);
    EXPECT_EQ(list.CloseFile(first, inMemory, a), 0);
    EXPECT_EQ(list.CloseFile(first, inMemory, b), 0);

    TAbstractFile* sole = nullptr;
    const std::int32_t x = Open(name, inMemory, true, &sole);
    ASSERT_GT(x, 0);
    EXPECT_EQ(Open(name, inMemory, false), -engine::kErrAccessDenied);  // any open of exclusive
    EXPECT_EQ(list.CloseFile(sole, inMemory, x), 0);
    EXPECT_EQ(list.RemoveFile(name, inMemory), 0);
  }
}

TEST_F(FileListTest, OpenerIdsStayUniqueAfterAnEarlierClose) {
  TAbstractFile* file = nullptr;
  ASSERT_GT(Create("Ids.DAT", true, &file), 0);
  list.CloseFile(file, true, 1);
  const std::int32_t a = Open("Ids.DAT", true, false);
  const std::int32_t b = Open("Ids.DAT", true, false);
  ASSERT_EQ(list.CloseFile(file, true, a), 0);
  const std::int32_t c = Open("Ids.DAT", true, false);
  EXPECT_NE(c, b);
  // Each opener keeps its own position.
  Write(file, b, "abcdef");
  EXPECT_EQ(file->SeekData(c, 0, 1), 0);
  EXPECT_EQ(file->SeekData(b, 0, 1), 6);
  EXPECT_EQ(list.CloseFile(file, true, b), 0);
  EXPECT_EQ(list.CloseFile(file, true, b), -engine::kErrInvalidPath);  // already closed
  EXPECT_EQ(list.CloseFile(file, true, c), 0);
  EXPECT_EQ(list.CloseFile(file, true, c), -engine::kErrInvalidPath);  // no openers
  list.RemoveFile("Ids.DAT", true);
}

TEST_F(FileListTest, DeleteAndRenameWithOpenersAreRefused) {
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    TAbstractFile* file = nullptr;
    const std::int32_t id = Create("D:\\Held.DAT", inMemory, &file);
    Write(file, id, "content");
    EXPECT_EQ(list.RemoveFile("D:\\Held.DAT", inMemory), -engine::kErrAccessDenied);
    EXPECT_EQ(list.RenameFile("D:\\Held.DAT", inMemory, "D:\\Other.DAT"),
              -engine::kErrAccessDenied);
    EXPECT_TRUE(list.HasFile("D:\\Held.DAT", inMemory));
    EXPECT_FALSE(list.HasFile("D:\\Other.DAT", inMemory));
    EXPECT_EQ(ReadAll(file, id), "content");
    list.CloseFile(file, inMemory, id);

    EXPECT_EQ(list.RenameFile("D:\\Held.DAT", inMemory, "D:\\Other.DAT"), 0);
    EXPECT_FALSE(list.HasFile("D:\\Held.DAT", inMemory));
    EXPECT_TRUE(list.HasFile("D:\\Other.DAT", inMemory));
    EXPECT_EQ(list.RemoveFile("D:\\Other.DAT", inMemory), 0);
    EXPECT_FALSE(list.HasFile("D:\\Other.DAT", inMemory));
    EXPECT_EQ(list.RemoveFile("D:\\Other.DAT", inMemory), -engine::kErrInvalidPath);
  }
}

TEST_F(FileListTest, UnregisteredPhysicalFilesAreRenamedAndDeletedByName) {
  WriteHostFile(Host("Disk.DAT"), "on disk");
  EXPECT_TRUE(list.HasFile("D:\\disk.dat", false));
  EXPECT_EQ(list.RenameFile("D:\\Disk.DAT", false, "D:\\Moved.DAT"), 0);
  EXPECT_EQ(ReadHostFile(Host("Moved.DAT")), "on disk");
  // Renaming onto an existing file fails through the system's error.
  WriteHostFile(Host("Taken.DAT"), "x");
  EXPECT_LT(list.RenameFile("D:\\Moved.DAT", false, "D:\\Taken.DAT"), 0);
  EXPECT_EQ(ReadHostFile(Host("Moved.DAT")), "on disk");
  EXPECT_EQ(list.RemoveFile("D:\\Moved.DAT", false), 0);
  EXPECT_FALSE(platform::FileExists("D:\\Moved.DAT"));
  EXPECT_EQ(list.RemoveFile("D:\\Moved.DAT", false), -engine::kErrInvalidPath);
}

TEST_F(FileListTest, PhysicalObjectLeavesAtLastCloseMemoryObjectStays) {
  const int before = list.Count();
  TAbstractFile* disk = nullptr;
  const std::int32_t d = Create("D:\\Phys.DAT", false, &disk);
  Write(disk, d, "disk");
  list.CloseFile(disk, false, d);
  EXPECT_EQ(list.Count(), before);
  EXPECT_EQ(ReadHostFile(Host("Phys.DAT")), "disk");

  TAbstractFile* mem = nullptr;
  const std::int32_t m = Create("Mem.DAT", true, &mem);
  Write(mem, m, "kept");
  list.CloseFile(mem, true, m);
  EXPECT_EQ(list.Count(), before + 1);
  TAbstractFile* again = nullptr;
  const std::int32_t r = Open("MEM.dat", true, false, &again);
  ASSERT_GT(r, 0);
  EXPECT_EQ(ReadAll(again, r), "kept");
  list.CloseFile(again, true, r);
  list.RemoveFile("Mem.DAT", true);
  EXPECT_EQ(list.Count(), before);

  // A temporary in-memory file goes with its last opener.
  TAbstractFile* temp = nullptr;
  const std::int32_t t = Create("Temp.DAT", true, &temp, /*temporary=*/true);
  list.CloseFile(temp, true, t);
  EXPECT_FALSE(list.HasFile("Temp.DAT", true));
}

TEST_F(FileListTest, CopyOutAndCopyInMoveWholeFilesInChunks) {
  // 65535 * 2 + 17 bytes: two full chunks and a short one; also an exact
  // multiple, which ends with an empty chunk.
  for (std::size_t size : {std::size_t{65535 * 2 + 17}, std::size_t{65535}, std::size_t{0}}) {
    for (bool inMemory : {false, true}) {
      SCOPED_TRACE(std::to_string(size) + (inMemory ? " memory" : " disk"));
      std::string content(size, '\0');
      for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>(i * 31 % 251);
      TAbstractFile* src = nullptr;
      const std::int32_t s = Create("D:\\Src.DAT", inMemory, &src);
      Write(src, s, content);
      ASSERT_EQ(list.CopyOut(src, s, "D:\\Copy.DAT", inMemory), 0);
      TAbstractFile* copy = nullptr;
      const std::int32_t c = Open("D:\\Copy.DAT", inMemory, false, &copy);
      ASSERT_GT(c, 0);
      EXPECT_EQ(ReadAll(copy, c), content);

      // CopyIn replaces a longer content completely.
      Write(copy, c, std::string(70000, 'z'));
      ASSERT_EQ(list.CopyIn(copy, c, "D:\\Src.DAT", inMemory), -engine::kErrAccessDenied)
          << "the source is still held exclusively";
      list.CloseFile(src, inMemory, s);
      ASSERT_EQ(list.CopyIn(copy, c, "D:\\Src.DAT", inMemory), 0);
      EXPECT_EQ(ReadAll(copy, c), content);
      EXPECT_EQ(list.CopyIn(copy, c, "D:\\None.DAT", inMemory), -engine::kErrInvalidPath);
      list.CloseFile(copy, inMemory, c);
      list.RemoveFile("D:\\Src.DAT", inMemory);
      list.RemoveFile("D:\\Copy.DAT", inMemory);
    }
  }
}

TEST_F(FileListTest, FailedCopyLeavesNoPartialFile) {
  for (bool inMemory : {false, true}) {
    SCOPED_TRACE(inMemory);
    TAbstractFile* src = nullptr;
    const std::int32_t s = Create("D:\\Src.DAT", inMemory, &src);
    Write(src, s, "abc");
    // An opener id that is not the source's own: the read fails.
    EXPECT_LT(list.CopyOut(src, s + 100, "D:\\Partial.DAT", inMemory), 0);
    EXPECT_FALSE(list.HasFile("D:\\Partial.DAT", inMemory));
    list.CloseFile(src, inMemory, s);
    list.RemoveFile("D:\\Src.DAT", inMemory);
  }
}

}  // namespace
