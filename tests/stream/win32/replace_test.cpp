// File replacement and file streams on Windows: folders and names beyond Latin letters
// (UTF-16 at the system boundary), a read-only file refused and kept, exclusive creation of
// the temporary file, names as long as a Windows volume allows, and no temporary file left
// by a console's Ctrl+C.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>  // for std::sort
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
  // 255 UTF-16 units, in a folder deep enough that the path passes MAX_PATH. Note: plain
  // letters, so that the name also fits a Linux file system's 255 bytes under wine.
  const String name = String(255 - 4, u'n') + u".png";
  ASSERT_EQ(FileNameLength(name), 255u);
  EXPECT_EQ(FileNameLimit(u"."), 255u);
  ASSERT_TRUE(Replace(name, "long"));
  ASSERT_TRUE(Replace(name, "longer"));
  EXPECT_EQ(Read(name), "longer");
  EXPECT_EQ(Names(u"."), (std::vector<String>{u"fresh", name}));
}

TEST_F(WindowsFiles, APathThatExistsWhateverItsCaseIsTakenAsWritten) {
  // Names here do not differ by letter case: the path works as the user wrote it.
  std::filesystem::create_directory("Assets");
  ASSERT_TRUE(Replace(u"Assets/Image.PNG", "x"));
  EXPECT_EQ(ResolvePathCase(u"assets/IMAGE.png"), u"assets/IMAGE.png");
  EXPECT_EQ(Read(ResolvePathCase(u"assets/IMAGE.png")), "x");
  EXPECT_EQ(ResolvePathCase(u"assets/nothing.png"), u"");
}

// A console's Ctrl+C while a file is saved ends the program, and the console control
// handler removes the temporary file first: the event is sent right after the temporary
// file is created, before it is armed, which the handler must wait out.
TEST_F(WindowsFiles, AConsoleInterruptWhileSavingLeavesNoTemporaryFile) {
  ASSERT_TRUE(Replace(u"sheet.png", "old"));
  // The child process of a death test runs this test again from its start, in a scratch
  // folder of its own: it is told the parent's folder, the one checked afterwards.
  wchar_t folder[MAX_PATH] = {};
  if (GetEnvironmentVariableW(L"SHEETBUILDER_SAVE_FOLDER", folder, MAX_PATH) == 0) {
    GetCurrentDirectoryW(MAX_PATH, folder);
    SetEnvironmentVariableW(L"SHEETBUILDER_SAVE_FOLDER", folder);
  }
  EXPECT_EXIT(
      {
        SetCurrentDirectoryW(folder);
        // A console of the child's own, with Ctrl+C handled whatever its parent set.
        FreeConsole();
        AllocConsole();
        SetConsoleCtrlHandler(nullptr, FALSE);
        SetTemporaryFileCreatedHook([] { GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0); });
        TFileReplacement replacement;
        if (!replacement.Begin(u"sheet.png")) ExitProcess(10);
        Sleep(10000);  // the event ends the process long before
        ExitProcess(11);
      },
      // Note: Windows' own last handler ends the process with STATUS_CONTROL_C_EXIT;
      // wine's ends it with 0.
      [](int status) {
        return static_cast<DWORD>(status) == STATUS_CONTROL_C_EXIT || status == 0;
      },
      "");
  EXPECT_EQ(Names(u"."), std::vector<String>{u"sheet.png"});
  EXPECT_EQ(Read(u"sheet.png"), "old");
  SetEnvironmentVariableW(L"SHEETBUILDER_SAVE_FOLDER", nullptr);
}

}  // namespace
