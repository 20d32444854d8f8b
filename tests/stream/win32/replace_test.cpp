// File replacement and file streams on Windows: folders and names beyond Latin letters
// (UTF-16 at the system boundary), a read-only file refused and kept, exclusive creation of
// the temporary file, and names as long as a Windows volume allows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "runtime/text.h"
#include "stream/replace.h"
#include "stream/stream.h"
#include "../temp_dir.h"

using namespace stream_test;

namespace {

class WindowsFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StartStream(); }
  TScratchDir dir;
};

bool Replace(const String& path, const std::string& text) {
  TFileReplacement replacement;
  if (!replacement.Begin(path)) return false;
  replacement.stream->WriteBytes(text.data(), static_cast<int64_t>(text.size()));
  return replacement.Commit(static_cast<int64_t>(text.size()));
}

std::string Read(const String& path) {
  Ref<TStream> in = OpenFileForReading(path);
  if (!in) return "<none>";
  std::string bytes(static_cast<std::size_t>(in->Size()), '\0');
  if (!bytes.empty()) in->ReadBytes(bytes.data(), in->Size());
  in->Close();
  return bytes;
}

// The names in a folder, as the system lists them in UTF-16.
std::vector<String> Names(const String& folder) {
  std::vector<String> names;
  for (const auto& entry : std::filesystem::directory_iterator(std::u16string(folder))) {
    names.push_back(entry.path().filename().u16string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST_F(WindowsFiles, FoldersAndNamesInAnyScriptWork) {
  for (const String folder : {String(u"Спрайты"), String(u"スプライト")}) {
    const String file = folder + u"/" + folder + u".png";
    ASSERT_TRUE(CreateDirectoryW(reinterpret_cast<const wchar_t*>(folder.c_str()), nullptr));
    EXPECT_EQ(GetFileType(folder), FILETYPE_DIR);
    ASSERT_TRUE(Replace(file, "first"));
    ASSERT_TRUE(Replace(folder + u"\\" + folder + u".png", "second"));  // either slash
    EXPECT_EQ(Read(file), "second");
    EXPECT_EQ(GetFileType(file), FILETYPE_FILE);
    EXPECT_EQ(Names(folder), std::vector<String>{folder + u".png"});
  }
}

TEST_F(WindowsFiles, AReadOnlyFileIsRefusedAndKept) {
  ASSERT_TRUE(Replace(u"kept.png", "keep me"));
  ASSERT_TRUE(SetFileAttributesW(L"kept.png", FILE_ATTRIBUTE_READONLY));
  TFileReplacement replacement;
  EXPECT_FALSE(replacement.Begin(u"kept.png"));
  EXPECT_EQ(replacement.error, EACCES);
  EXPECT_EQ(Read(u"kept.png"), "keep me");
  EXPECT_EQ(Names(u"."), std::vector<String>{u"kept.png"});
  SetFileAttributesW(L"kept.png", FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WindowsFiles, TemporaryFilesAreCreatedNewAndNamesFillAVolumesLimit) {
  FILE* fresh = CreateFileExclusively(u"fresh");
  ASSERT_NE(fresh, nullptr);
  fclose(fresh);
  errno = 0;
  EXPECT_EQ(CreateFileExclusively(u"fresh"), nullptr);
  EXPECT_EQ(errno, EEXIST);
  // 255 UTF-16 units, two of them one character beyond the 16-bit range.
  const String name = u"\U0001F600" + String(255 - 2 - 4, u'n') + u".png";
  ASSERT_EQ(FileNameLength(name), 255u);
  EXPECT_EQ(FileNameLimit(u"."), 255u);
  ASSERT_TRUE(Replace(name, "long"));
  ASSERT_TRUE(Replace(name, "longer"));
  EXPECT_EQ(Read(name), "longer");
  EXPECT_EQ(Names(u"."), (std::vector<String>{u"fresh", name}));
}

}  // namespace
