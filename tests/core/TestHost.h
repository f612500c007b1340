// A small Windows machine for the core's tests, over a real temporary
// folder: every drive letter is a folder under it, names are found without
// regard to case, and the attributes that the host file system has no room
// for (hidden, system, read-only as Windows means it) are kept beside the
// files; names lie on disk in UTF-8. Only standard C++ is used, so the same
// tests run on Linux and, built with MinGW, under Wine.
#pragma once

#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/Host.h"
#include "tests/support/TestSupport.h"

namespace ovlu::test {

// Thrown where the agent ends its process, so that a test can watch it.
struct ProcessEnded : std::exception, ProcessEnding {
  int code;
  explicit ProcessEnded(int c) : code(c) {}
  const char* what() const noexcept override { return "process ended"; }
};

class TestFileSystem : public FileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool FileExistsAnyAttributes(const std::string& path) override { return Has(path); }
  std::vector<unsigned char> ReadAll(const std::string& path) override;
  std::unique_ptr<BinaryFile> OpenBinaryWrite(const std::string& path, bool truncate) override;
  std::unique_ptr<BinaryFile> OpenAppend(const std::string& path) override;
  long long FileLength(const std::string& path) override;
  void CreateTextFile(const std::string& path, const std::string& text) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Delete(const std::string& path) override;
  void SetAttributes(const std::string& path, unsigned attributes) override {
    Attributes(File(path)) = attributes;
  }
  unsigned GetAttributes(const std::string& path) override;
  std::string CurrentDirectory() override { return currentDirectory; }
  // In a folder of its own, outside the machine's drives.
  std::unique_ptr<ScratchFile> CreateScratch() override;

  // The process's current directory, a Windows path.
  std::string currentDirectory = "C:\\Lavoro";

  // The real path of a Windows path; existing names match without regard to case.
  std::filesystem::path Real(const std::string& windowsPath) const;
  // Test helpers on the real files behind Windows paths.
  void Put(const std::string& path, const std::string& bytes) { support::Put(Real(path), bytes); }
  std::string Get(const std::string& path) const { return support::Slurp(Real(path)); }  // or ""
  bool Has(const std::string& path) const;  // a file, whatever its attributes
  void MakeFolder(const std::string& path) { std::filesystem::create_directories(Real(path)); }
  // Scratch files made so far, and those that still exist.
  int scratchMade = 0;
  int ScratchLeft() const;

 private:
  std::filesystem::path File(const std::string& path) const;  // throws when no file
  std::filesystem::path Writable(const std::string& path);    // throws when denied
  unsigned& Attributes(const std::filesystem::path& real);

  support::TempDir root_{"ovlucore"};
  support::TempDir scratch_{"ovluscratch"};
  std::map<std::string, unsigned> attributes_;  // by lower-case real path
};

class TestSystem : public System {
 public:
  struct ShellCall {
    Handle owner;
    std::string verb, file, parameters, directory;
    int show;
  };

  std::string EnvironmentEntry(int index) override {
    return index >= 1 && static_cast<std::size_t>(index) <= environment.size()
               ? environment[static_cast<std::size_t>(index - 1)]
               : std::string();
  }
  bool GetSpecialFolderPath(int csidl, char* buffer260, bool) override {
    if (csidl != 46 || commonDocuments.empty() || commonDocuments.size() >= 260) return false;
    std::memcpy(buffer260, commonDocuments.c_str(), commonDocuments.size() + 1);
    return true;
  }
  unsigned GetSystemDirectory(char* buffer, unsigned size) override {
    const auto n = static_cast<unsigned>(systemDirectory.size());
    if (n + 1 > size) return n + 1;  // the size it would need
    std::memcpy(buffer, systemDirectory.c_str(), n + 1);
    return n;
  }
  std::intptr_t ShellExecute(Handle owner, const std::string& verb, const std::string& file,
                             const std::string& parameters, const std::string& directory,
                             int showCommand) override {
    shellCalls.push_back({owner, verb, file, parameters, directory, showCommand});
    return 42;
  }
  bool PreviousInstance() override { return previousInstance; }
  std::string AppPath() override { return appPath; }
  std::string AppExeName() override { return exeName; }
  std::string CommandLine() override { return commandLine; }
  std::string DecimalSeparator() override { return decimalSeparator; }
  void InitCommonControls() override { ++commonControlsInitialised; }
  [[noreturn]] void EndProcess(int code) override { throw ProcessEnded(code); }

  std::vector<std::string> environment = {"windir=C:\\Windows", "SystemDrive=C:"};
  // The common documents folder as the shell gives it; none when empty.
  std::string commonDocuments = "C:\\Users\\Public\\Documents";
  std::string systemDirectory = "C:\\Windows\\system32";
  bool previousInstance = false;
  std::string appPath = "C:\\Programmi\\OrVento 7";
  std::string exeName = "OVLiveUpdate";
  std::string commandLine;
  std::string decimalSeparator = ".";

  int commonControlsInitialised = 0;
  std::vector<ShellCall> shellCalls;
};

}  // namespace ovlu::test
