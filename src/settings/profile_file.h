// Private-profile (INI) files: "[Section]" headers and "key=value" lines,
// read and rewritten the way the classic profile functions treat them.
//
// A ProfileFile is the whole file held in memory: every line the program does
// not understand (comments, foreign sections, unknown keys, lines without "=",
// binary garbage) is kept verbatim so that a save changes nothing but the
// values written. Section and key names match without regard to case; the
// first occurrence of a key wins, also across repeated sections of one name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr int kProfileValueChars = 80;              // longest value text handed out
constexpr size_t kMaxProfileFileBytes = 8u << 20;   // larger files are refused whole

// One line kept as it was (several consecutive ones share an item), or one key.
struct ProfileItem {
  int isKey = 0;
  std::string text;   // the line(s) as written out, without the final newline
  std::string name;   // key name as found in the file (keys only)
  std::string value;  // value, blanks trimmed and one pair of quotes removed (keys only)
};

struct ProfileSection {
  int hasHeader = 0;  // 0 only for the lines before the first header
  std::string name;   // trimmed text between the brackets
  std::vector<ProfileItem> items;
};

struct ProfileFile {
  std::vector<ProfileSection> sections;  // sections[0] holds the lines before any header
  int existed = 0;   // the file was found and read
  int writable = 1;  // 0 when the file is there but could not be read in full:
                     // saving over it would destroy what we never saw
  int crlf = 0;      // lines written end the way the file's first line ends
};

// Empties the document (a file that does not exist yet).
void ProfileClear(ProfileFile& f);

// Reads `path`. Returns 1 when read; 0 when missing (an empty, writable
// document) or unreadable, too large or not a regular file (empty, not writable).
int ProfileLoad(ProfileFile& f, const char* path);

// Copies the value of section/key into out (at most kProfileValueChars
// characters and out's size less one), or `def` when the key is absent.
// Returns 1 when the key was found, 0 when the default was used.
int ProfileGetString(const ProfileFile& f, const char* section, const char* key, const char* def,
                     char* out, size_t outSize);

// Sets section/key: the first occurrence is rewritten in place, a new key is
// added after the last key of the first section of that name, a new section
// goes at the end. Text after a line break in `value` is dropped.
void ProfileSetString(ProfileFile& f, const char* section, const char* key, const char* value);

// The file as it would be written.
void ProfileSerialize(const ProfileFile& f, std::string& out);

// Writes the document to a temporary file beside `path`, flushes it to disk
// and renames it over `path`, so that a failure at any point leaves the old
// file intact. Returns 1 on success, 0 when nothing was replaced.
[[nodiscard]] int ProfileSave(const ProfileFile& f, const char* path);
