// The start-at-login entry: a desktop entry file in the user's XDG autostart folder that
// desktop sessions running XDG autostart use to start the program after login, with the
// single argument "autorun". The entry is written atomically, so a session starting meanwhile
// sees the old entry or the new one, never part of one. The functions touch only the files
// named here; any thread may call them.
#pragma once

#include <string>
#include <string_view>

namespace app {

inline constexpr std::string_view kAutostartFileName = "Lumivar.desktop";

// "$XDG_CONFIG_HOME/autostart" when that variable holds an absolute path, else
// "$HOME/.config/autostart"; "" when neither is known.
std::string AutostartFolder();

// The running program's full path (/proc/self/exe resolved, without the " (deleted)" of a
// program file replaced meanwhile); "" when it cannot be found.
std::string ProgramPath();

// One argument of an Exec line: in double quotes, with '"', '`', '$' and '\' preceded by a
// backslash, then escaped as a desktop entry string value ('\' doubled, line breaks and
// tabs as \n, \r, \t), and '%' doubled so that no field code is read into it.
std::string QuoteExecArgument(std::string_view argument);

// The whole file: "[Desktop Entry]", "Type=Application", "Name=Lumivar" and an Exec line
// starting the program at programPath with the argument "autorun".
std::string AutostartEntryText(std::string_view programPath);

// The entry file in one folder (AutostartFolder() for the user's).
class AutostartEntry {
 public:
  explicit AutostartEntry(std::string folder = AutostartFolder());

  // The file's path; "" when the folder is unknown.
  std::string Path() const;
  // True when the file is there.
  bool Exists() const;
  // Creates the folder (0700) if needed and replaces the file with the entry for
  // programPath: a temporary file in the same folder, written, flushed to disk and renamed
  // over it. False when programPath is empty or any step failed; then the file is as it was and no
  // temporary file stays behind.
  bool Write(std::string_view programPath) const;
  // Deletes the file. True when it is gone afterwards, also when it was never there or
  // the folder is unknown.
  bool Remove() const;

 private:
  std::string folder_;
};

}  // namespace app
