// The side-by-side manifest next to the agent's executable.
#include "shell/MainForm.h"
#include "shell/Vb.h"

namespace ovlu {

std::string ManifestText() {
  static const char* const lines[] = {
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>",
      "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">",
      "     <assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"X86\" "
      "name=\"Brackwell.WindowsXP.Example\" type=\"win32\" />",
      "     <description>Windows XP Theme.</description>",
      "     <dependency>",
      "          <dependentAssembly>",
      "               <assemblyIdentity type=\"win32\" name=\"Microsoft.Windows.Common-Controls\" "
      "version=\"6.0.0.0\" processorArchitecture=\"X86\" publicKeyToken=\"6595b64144ccf1df\" "
      "language=\"*\" />",
      "          </dependentAssembly>",
      "     </dependency>",
      "     <description>elevate execution level</description>",
      "     <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\">",
      "         <security>",
      "             <requestedPrivileges>",
      "                 <requestedExecutionLevel level=\"requireAdministrator\" "
      "uiAccess=\"false\"/>",
      "              </requestedPrivileges>",
      "         </security>",
      "     </trustInfo>",
      "</assembly>",
  };
  std::string text;
  const std::size_t n = sizeof lines / sizeof lines[0];
  for (std::size_t i = 0; i < n; ++i) {
    text += lines[i];
    if (i + 1 < n) text += "\r\n";
  }
  return text;
}

void CreateManifest() {
  std::string path;
  bool exists = false;
  try {
    std::string folder = Sys().AppPath();
    if (Right(folder, 1) != "\\") folder += "\\";
    const std::string base = Sys().AppExeName();
    const std::string suffix = LCase(Right(base, 4)) == ".exe" ? ".manifest" : ".exe.manifest";
    path = folder + base + suffix;
  } catch (const VbError&) {
  }
  try {
    exists = !path.empty() && Fs().FileExistsAnyAttributes(path);
  } catch (const VbError&) {
  }
  if (!exists && !path.empty()) {
    try {
      Fs().CreateTextFile(path, ManifestText());
    } catch (const VbError&) {
    }
    // Tried even when the writing failed: a file that was only half written
    // stays, and is marked like a whole one; where nothing could be created
    // this fails too, and quietly.
    try {
      Fs().SetAttributes(path, attrReadOnly | attrHidden | attrSystem | attrArchive);
    } catch (const VbError&) {
    }
  }
  try {
    Sys().InitCommonControls();
  } catch (const VbError&) {
  }
}

}  // namespace ovlu
