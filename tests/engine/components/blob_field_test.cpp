// BLOB fields of a dataset: streams for reading and writing, sizes, and
// loading from and saving to files, on the backup catalog.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/components/components_test_util.h"
#include "engine/components/zorvad_dbdataset.h"

namespace {

using namespace engine;
using components_test::ComponentsTest;
using components_test::MessageOf;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class BlobFieldTest : public ComponentsTest {
 protected:
  void SetUp() override {
    ComponentsTest::SetUp();
    CreateCatalog();
    t.SetDatabaseName("D:\\Bk");
    t.SetTableName("Back");
    t.Open();
  }
  void AddRow(const std::string& name, const std::function<void(TField&)>& setFile) {
    t.Append();
    t.FieldByName("FileName").SetAsString(name);
    t.FieldByName("FileTime").SetAsInteger(1);
    t.FieldByName("isZip").SetAsString("N");
    t.FieldByName("Path").SetAsString("C:\\");
    setFile(t.FieldByName("File"));
    t.Post();
  }
  TZORVADTable t;
};

TEST_F(BlobFieldTest, LoadSaveSizeAndStreams) {
  const std::string big(100'000, 'q');
  std::ofstream(Host("Bk/src.bin"), std::ios::binary) << big;
  AddRow("a", [](TField& f) { f.LoadFromFile("D:\\Bk\\src.bin"); });
  AddRow("b", [](TField&) {});                        // NULL
  AddRow("c", [](TField& f) { f.SetAsString(""); });  // empty, not NULL
  AddRow("d", [&](TField& f) {
    auto s = t.CreateBlobStream(f, TBlobStreamMode::bmWrite);
    s->Write("hello ", 6);
    s->Write("world", 5);
  });

  struct Row {
    const char* name;
    bool isNull;
    std::string content;
  };
  const Row rows[] = {
      {"a", false, big}, {"b", true, ""}, {"c", false, ""}, {"d", false, "hello world"}};
  t.First();
  for (const Row& r : rows) {
    ASSERT_EQ(t.FieldByName("FileName").AsString(), r.name);
    TField& f = t.Fields(4);
    EXPECT_EQ(f.DataType(), ftBlob) << r.name;
    EXPECT_EQ(f.IsNull(), r.isNull) << r.name;
    EXPECT_EQ(f.BlobSize(), static_cast<std::int64_t>(r.content.size())) << r.name;
    EXPECT_EQ(t.BlobSize(f), static_cast<std::int64_t>(r.content.size()))
        << r.name << ": the size the chain's first block keeps";
    f.SaveToFile(std::string("D:\\Bk\\out_") + r.name);
    EXPECT_TRUE(std::filesystem::exists(Host(std::string("Bk/out_") + r.name))) << r.name;
    EXPECT_EQ(FileBytes(Host(std::string("Bk/out_") + r.name)), r.content) << r.name;
    t.Next();
  }

  // Reading with seeks; short at the end, nothing past it.
  t.Last();
  auto s = t.CreateBlobStream(t.FieldByName("File"), TBlobStreamMode::bmRead);
  char buf[16] = {};
  EXPECT_EQ(s->Seek(6, TSeekOrigin::soBeginning), 6);
  EXPECT_EQ(s->Read(buf, 16), 5);
  EXPECT_EQ(std::string(buf, 5), "world");
  EXPECT_EQ(s->Seek(-5, TSeekOrigin::soEnd), 6);
  EXPECT_EQ(s->Seek(100, TSeekOrigin::soCurrent), 106);
  EXPECT_EQ(s->Read(buf, 4), 0);
}

TEST_F(BlobFieldTest, WritingNeedsEditStateAndCancelDropsTheChange) {
  AddRow("a", [](TField& f) { f.SetAsString("old"); });
  EXPECT_EQ(MessageOf([&] { t.CreateBlobStream(t.FieldByName("File"), TBlobStreamMode::bmWrite); }),
            "Dataset not in edit or insert mode");
  t.Edit();
  {
    auto s = t.CreateBlobStream(t.FieldByName("File"), TBlobStreamMode::bmWrite);
    s->Write("new", 3);
  }
  EXPECT_EQ(t.FieldByName("File").AsString(), "new") << "the buffer holds the change";
  t.Cancel();
  EXPECT_EQ(t.FieldByName("File").AsString(), "old");
  t.Edit();
  t.FieldByName("File").SetAsString("newer");
  EXPECT_EQ(t.FieldByName("File").AsString(), "newer") << "reading keeps the change";
  EXPECT_EQ(t.FieldByName("File").BlobSize(), 5);
  EXPECT_EQ(t.BlobSize(t.FieldByName("File")), 5) << "the open buffer's length, not the stored one";
  t.Post();
  t.Close();
  t.Open();
  EXPECT_EQ(t.FieldByName("File").AsString(), "newer");
  t.Edit();
  t.FieldByName("File").Clear();
  t.Post();
  EXPECT_TRUE(t.FieldByName("File").IsNull());
}

}  // namespace
