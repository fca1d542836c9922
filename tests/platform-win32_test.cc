// The Windows platform's parts that decide its behaviour, each on its own:
// under Wine, which accounts no child's CPU time and enforces share modes
// between Windows processes only, end-to-end tests cannot tell them apart.
#include "platform-win32.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scratch_folder.h"
#include "tamsor.h"
#include "test_support.h"

namespace tamsor {
namespace {

namespace fs = std::filesystem;

::FILETIME Count(uint64_t ticks) {
  return {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

TEST(TreeTimes, AreTheJobsTotalsButNeverBelowTheChildsOwn) {
  const struct {
    const char* name;
    uint64_t own_kernel, own_user;
    bool job;
    uint64_t job_kernel, job_user;
    uint64_t kernel, user;
  } cases[] = {
      {"no job", 3, 5, false, 0, 0, 3, 5},
      {"the descendants' work counts", 3, 5, true, 30, 70, 30, 70},
      {"a job that counts nothing (Wine)", 3, 5, true, 0, 0, 3, 5},
      {"one tick below", 3000000, 5000000, true, 2999999, 4999999, 3000000,
       5000000},
      {"each figure on its own", 3, 70, true, 30, 5, 30, 70},
      {"the high half decides", 4294967295, 1, true, 4294967296, 0, 4294967296,
       1},
  };
  for (const auto& c : cases) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION tree{};
    tree.TotalKernelTime.QuadPart = static_cast<LONGLONG>(c.job_kernel);
    tree.TotalUserTime.QuadPart = static_cast<LONGLONG>(c.job_user);
    FILETIME kernel{};
    FILETIME user{};
    TreeTimes(Count(c.own_kernel), Count(c.own_user), c.job ? &tree : nullptr,
              &kernel, &user);
    EXPECT_EQ(Ticks(kernel), c.kernel) << c.name;
    EXPECT_EQ(Ticks(user), c.user) << c.name;
  }
}

volatile unsigned long long sink;

// ChildTimes on the test's own process, whose CPU time Wine accounts: user
// time told from kernel time, with no job and with one that counts nothing.
TEST(ChildTimes, TellsUserTimeFromKernelTime) {
  const HANDLE empty_job = CreateJobObjectW(nullptr, nullptr);
  ASSERT_NE(empty_job, nullptr);
  for (const HANDLE job : {HANDLE{nullptr}, empty_job}) {
    const Child self{GetCurrentProcess(), job, 0};
    FILETIME kernel{};
    FILETIME user{};
    ChildTimes(self, &kernel, &user);
    const double kernel_before = Tamsor::FILETIME2Second(kernel);
    const double user_before = Tamsor::FILETIME2Second(user);
    // Arithmetic only, until 0.3 s of CPU time more, however loaded the
    // machine; a layer that reads nothing ends at the deadline.
    const ULONGLONG deadline = GetTickCount64() + 20000;
    double kernel_spent = 0;
    double user_spent = 0;
    while (kernel_spent + user_spent < 0.3 && GetTickCount64() < deadline) {
      for (int i = 0; i < 1000000; ++i) sink = sink + i;
      ChildTimes(self, &kernel, &user);
      kernel_spent = Tamsor::FILETIME2Second(kernel) - kernel_before;
      user_spent = Tamsor::FILETIME2Second(user) - user_before;
    }
    // Loosely: under load, page faults and the like add kernel time.
    EXPECT_GT(user_spent, 0.15) << (job ? "with a job" : "without");
    EXPECT_GT(user_spent, kernel_spent) << (job ? "with a job" : "without");
  }
  CloseHandle(empty_job);
}

// An MZ header that points at `offset`, where `signature` stands.
void WriteImage(const std::string& path, uint32_t offset,
                const char* signature) {
  std::fstream file(fs::u8path(path),
                    std::ios::binary | std::ios::out | std::ios::trunc);
  char head[64] = {'M', 'Z'};
  for (int i = 0; i < 4; ++i) head[60 + i] = static_cast<char>(offset >> 8 * i);
  file.write(head, sizeof head);
  file.seekp(offset);
  file.write(signature, 4);
}

// The loader finds the PE header wherever the MZ header points: other
// linkers place it past 0x80, where MinGW's is.
TEST(FindBatchFile, AProgramImageIsAProgramWhateverItsName) {
  ScratchFolder folder({});
  const std::string file = folder.Add("image.bat", "", false);
  const struct {
    uint32_t offset;
    const char* signature;
    Found found;
  } cases[] = {
      {0x80, "PE\0\0", Found::kProgram},
      {0x100, "PE\0\0", Found::kProgram},
      {0x10000, "PE\0\0", Found::kProgram},
      {0x1000000, "PE\0\0", Found::kProgram},
      {0x100, "PX\0\0", Found::kNothing},  // "MZ" but no image
  };
  for (const auto& c : cases) {
    WriteImage(file, c.offset, c.signature);
    static wchar_t path[kPathSize];
    HANDLE held = nullptr;
    EXPECT_EQ(FindBatchFile(file.c_str(), path, &held), c.found) << c.offset;
    EXPECT_EQ(held != nullptr, c.found == Found::kProgram) << c.offset;
    if (held) CloseHandle(held);
  }
}

// Between the examination of a program under a batch file's name and its
// start, nothing can be put in its place (a batch file would be started as
// the program, and read by cmd.exe); once started, it is let go.
TEST(PrepareCommand, HoldsTheProgramExaminedUntilItIsStarted) {
  ScratchFolder folder({});
  const fs::path examined = fs::u8path(folder.path()) / "race.bat";
  const fs::path other =
      fs::u8path(folder.Add("other.bat", "@echo INJECTED\r\n", false));
  fs::copy_file(fs::u8path(TAMSOR_HELPER), examined);
  Argv argv({"tamsor", examined.u8string(), "exit", "7"});
  Command* command = PrepareCommand(argv.argc(), argv.argv());
  ASSERT_NE(command, nullptr);
  const auto swap = [&] {
    return MoveFileExW(other.c_str(), examined.c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
  };
  EXPECT_FALSE(swap()) << "replaced between examination and start";
  Child* child = StartChild(command);
  ASSERT_NE(child, nullptr);
  WaitChild(child);
  EXPECT_EQ(child->exit_code, 7u) << "the program examined ran";
  EXPECT_TRUE(swap()) << "still held once started";
}

// Created suspended, so that not one instruction of the command, nor
// anything it starts at once, runs outside the job and goes untimed.
TEST(CreateSuspended, TheChildRunsOnlyOnceInTheJob) {
  Argv argv({"tamsor", TAMSOR_HELPER, "exit", "3"});
  Command* command = PrepareCommand(argv.argc(), argv.argv());
  ASSERT_NE(command, nullptr);
  PROCESS_INFORMATION process;
  ASSERT_TRUE(CreateSuspended(command, &process));
  EXPECT_EQ(SuspendThread(process.hThread), 1u) << "it was not suspended";
  ResumeThread(process.hThread);
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  Child child{};
  ASSERT_TRUE(RunInJob(process, job, &child));
  BOOL in_job = FALSE;
  IsProcessInJob(process.hProcess, job, &in_job);
  EXPECT_TRUE(in_job);
  WaitChild(&child);
  EXPECT_EQ(child.exit_code, 3u);
}

// The wide start-up's arguments reach the command whole in UTF-8, or not
// at all: a lone surrogate has no UTF-8 form.
TEST(ArgumentsInUtf8, ConvertsEveryArgumentWholeOrRefuses) {
  const std::string unknown = GetACP() == CP_UTF8 ? "\xef\xbf\xbd" : "?";
  const struct {
    std::vector<std::wstring> args;
    std::vector<std::string> utf8;  // where refused, empty
    std::string message;
  } cases[] = {
      {{L"t", L"\u65e5\u672c", L"a b", L"", L"\U0001F600"},
       {"\xe6\x97\xa5\xe6\x9c\xac", "a b", "", "\xf0\x9f\x98\x80"},
       ""},
      {{L"t", L"p", L"x\xd800y"},
       {},
       "Cannot run the command [ \"p\" x" + unknown + "y  ]\n"},
      {{L"t", L"p", L"\xdc00"},
       {},
       "Cannot run the command [ \"p\" " + unknown + "  ]\n"},
      // The arguments fill the room to the last byte, then one more.
      {{L"t", L"p", std::wstring(32764, L'a'), L"b"},
       {},
       "Cannot run the command: its command line is longer than 32766 "
       "characters\n"},
      {{L"t", L"p", std::wstring(40000, L'a')},
       {},
       "Cannot run the command: its command line is longer than 32766 "
       "characters\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::wstring> wide = c.args;
    std::vector<wchar_t*> argv;
    for (std::wstring& arg : wide) argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    char** utf8 = nullptr;
    EXPECT_EQ(Captured([&](FILE* out) {
                utf8 = ArgumentsInUtf8(static_cast<int>(wide.size()),
                                       argv.data(), out);
              }),
              c.message);
    EXPECT_EQ(utf8 == nullptr, c.utf8.empty());
    for (size_t i = 0; utf8 && i < c.utf8.size(); ++i) {
      EXPECT_EQ(utf8[i + 1], c.utf8[i]);
    }
  }
}

}  // namespace
}  // namespace tamsor
