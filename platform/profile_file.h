// Private-profile (INI) files: "[Section]" lines, "key=value" lines, and anything else.
//
// State: a ProfileFile holds the lines of one file as read (bytes kept as they are,
// Windows-1252), without their line ends. Reading never changes the lines; Set changes one line
// or adds one; nothing touches the disk until Save. Lines the reader does not understand
// (comments, blank lines, keys before the first section, binary junk) are kept and written back
// unchanged. One object is used by one thread at a time.
//
// Rules, as the classic profile functions apply them:
//   - section and key names compare without regard to ASCII case, after trimming blanks;
//   - a value is the text after the first "=", trimmed of blanks at both ends; a value enclosed
//     in a matching pair of double or single quotes is read without them;
//   - the first matching key of the first section that has it wins;
//   - lines starting with ";" are comments, never keys;
//   - a line ends at LF, CR LF or a lone CR;
//   - a UTF-8 byte order mark at the start is skipped when reading and kept when saving.
//
//   Load        read a file (a missing or unreadable one gives an empty profile and false)
//   LoadText    take the lines from a text in memory, as Load takes them from a file
//   Text        the file's content as Save writes it
//   Get         the value of a key, if the key exists
//   GetString   the value of a key, or a default
//   GetInt      the value read as a whole number, or the default when the key is absent or empty
//   Set         change a key's value, adding the key (and its section) when missing
//   Save        replace the file whole (ReplaceFile: links followed, permissions kept)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace lumo {

class ProfileFile {
 public:
  // Larger files are not read: a settings file is a few hundred bytes, and refusing to load
  // also refuses to save over a file we could not take in whole.
  static constexpr size_t kMaxFileBytes = 4u * 1024u * 1024u;

  bool Load(const std::string& path);
  void LoadText(std::string_view text);

  bool Get(const std::string& section, const std::string& key, std::string* value) const;
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue) const;
  // Optional "-", then decimal digits or "0x" and hexadecimal digits, 32-bit wrap-around;
  // a value that does not start with a digit reads as 0.
  int32_t GetInt(const std::string& section, const std::string& key, int32_t defaultValue) const;

  // A value is one line: it is cut at the first CR, LF or NUL byte.
  void Set(const std::string& section, const std::string& key, const std::string& value);

  // True when the new file is in place. On failure the old file is unchanged, no temporary
  // file is left behind and `why` (optional) says what failed.
  bool Save(const std::string& path, ReplaceResult* why = nullptr) const;
  std::string Text() const;

  // The lines as they will be written (for tests and diagnostics).
  const std::vector<std::string>& Lines() const { return lines_; }
  // False when the last Load refused the file (too large or unreadable though present).
  bool Loadable() const { return loadable_; }

 private:
  // Where a key stands: its line, or npos.
  size_t FindKeyLine(const std::string& section, const std::string& key) const;

  std::vector<std::string> lines_;
  std::string lineEnd_ = "\r\n";
  bool byteOrderMark_ = false;
  bool loadable_ = true;
  int loadErrno_ = 0;  // why the last Load refused the file
};

// True when the value text holds a non-zero number in GetInt's syntax (any width: a flag
// written as "4294967296" is still on).
bool ProfileNumberIsNonZero(const std::string& value);

}  // namespace lumo
