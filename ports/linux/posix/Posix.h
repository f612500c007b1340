// The file system and the process on Linux, made to behave the way the agent
// expects Windows to: Windows-style paths with "\" separators in
// Windows-1252, names kept on disk as UTF-8 and matched without regard to
// case, a rename that never replaces, read-only files that cannot be deleted,
// and the shell's "open" for programs and documents.
#pragma once

#include <string>
#include <vector>

#include "platform/Host.h"

namespace ovlu {

// The folder of drive links: an entry "c:" in it (a link to a folder, as in
// Wine's dosdevices) stands for drive C:. $XDG_CONFIG_HOME/OVLiveUpdate/dosdevices,
// or ~/.config/OVLiveUpdate/dosdevices; "" when neither can be told.
std::string DriveLinksFolder();

// The POSIX path (UTF-8) behind a Windows-style path (Windows-1252): every
// "\" becomes "/", a drive letter becomes its entry in the drive links
// folder, and each component that does not exist as written is replaced by
// an entry of the same name in another case (letters fold as Windows folds
// them; an exact name always wins, and among several other-case entries the
// first in byte order is taken). From the first component that matches
// nothing, the rest stays as written, so a new file lands in the existing
// folder whatever its case. Throws VbError "path not found" for a drive
// without a link and for a network path, and "path/file access error" for a
// character Windows refuses in names (< > : " | ? * and controls).
std::string ToPosixPath(const std::string& windowsPath);

// The arguments of a Windows command line (without a program name), split
// as the C runtime and CommandLineToArgvW do: blanks and tabs separate,
// double quotes group, 2n backslashes before a quote give n backslashes and
// a quote that toggles grouping, 2n+1 give n backslashes and a literal
// quote, other backslashes stay, and "" inside a group is a literal quote.
std::vector<std::string> SplitWindowsArguments(const std::string& commandLine);

// The rename used where the file system has no atomic no-replace rename:
// a hard link under the new name, then the old name removed. Returns 0 or
// the errno of the failing step (EEXIST when the new name is taken).
int RenameByLink(const std::string& from, const std::string& to);

class PosixFileSystem : public FileSystem {
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

class PosixSystem : public System {
 public:
  PosixSystem(int argc, char** argv);
  ~PosixSystem() override;
  PosixSystem(const PosixSystem&) = delete;
  PosixSystem& operator=(const PosixSystem&) = delete;

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
  std::vector<std::string> args_;  // argv[1..]
  std::string argv0_;
  int instanceState_ = -1;  // -1 not asked yet, 0 first instance, 1 another one runs
  int lockFd_ = -1;
};

}  // namespace ovlu
