// The file system and the process as Windows gives them, through the ANSI
// functions of kernel32, shell32 and comctl32.
#pragma once

#include <string>
#include <vector>

#include "platform/Host.h"

namespace ovlu::win {

class Win32FileSystem : public FileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool FileExistsAnyAttributes(const std::string& path) override;
  std::vector<unsigned char> ReadAll(const std::string& path) override;
  std::unique_ptr<BinaryFile> OpenBinaryWrite(const std::string& path, bool truncate) override;
  std::unique_ptr<BinaryFile> OpenAppend(const std::string& path) override;
  long long FileLength(const std::string& path) override;
  void CreateTextFile(const std::string& path, const std::string& text) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Delete(const std::string& path) override;
  void SetAttributes(const std::string& path, unsigned attributes) override;
  unsigned GetAttributes(const std::string& path) override;
  std::string CurrentDirectory() override;
  std::unique_ptr<ScratchFile> CreateScratch() override;
};

class Win32System : public System {
 public:
  std::string EnvironmentEntry(int index) override;
  bool GetSpecialFolderPath(int csidl, char* buffer260, bool create) override;
  unsigned GetSystemDirectory(char* buffer, unsigned size) override;
  std::intptr_t ShellExecute(Handle owner, const std::string& verb, const std::string& file,
                             const std::string& parameters, const std::string& directory,
                             int showCommand) override;
  bool PreviousInstance() override;
  std::string AppPath() override;
  std::string AppExeName() override;
  std::string CommandLine() override;
  std::string DecimalSeparator() override;
  void InitCommonControls() override;
  [[noreturn]] void EndProcess(int code) override;

 private:
  int instanceState_ = -1;  // -1 not asked yet, 0 first instance, 1 another one runs
  void* instanceMutex_ = nullptr;
};

// Text operations behind the process values, kept apart from the system calls.

// What follows the program name on a command line: the first token, quoted
// or not, and the blanks after it are skipped.
std::string ArgumentsAfterProgramName(const std::string& commandLine);
// Folder of a full file path, without its final "\" unless it is a drive root.
std::string FolderOfPath(const std::string& path);
// File name of a full path without its last extension.
std::string BaseNameWithoutExtension(const std::string& path);
// Name of the mutex that marks a running instance of the program at this path.
std::string InstanceMutexName(const std::string& exePath);

// A Windows error code as the run-time error a file operation raises.
int FileErrorNumber(unsigned long winError);

}  // namespace ovlu::win
