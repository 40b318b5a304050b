// Private-profile (INI) file reading and writing for the settings file.
//
// The file is read whole into a ProfileFile: sections in file order, each a
// list of keys and of verbatim runs of other lines. Lookups walk that list
// (a settings file has a hundred-odd keys, so no index is kept); writes
// change the key's line in place or add one, and the save streams the list
// back out through a temporary file that is renamed over the old one. The
// caller owns the document; this module keeps no state of its own.
//
// Parsing follows the classic profile functions: leading blanks ignored,
// "[name]" opens a section (a missing "]" ends the name at the line's end),
// "name=value" is a key when the name is not empty and the line is no ";"
// or "#" comment, lines without "=" are not keys. Bytes are bytes: NULs and
// other garbage are carried through untouched.
#include "settings/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

static int IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

static int LowerAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + 32 : c; }

static int SameName(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return 0;
  for (size_t i = 0; i < n; ++i)
    if (LowerAscii(static_cast<unsigned char>(a[i])) != LowerAscii(static_cast<unsigned char>(b[i])))
      return 0;
  return 1;
}

static void Trim(const std::string& s, size_t& begin, size_t& end) {
  while (begin < end && IsBlank(s[begin])) ++begin;
  while (end > begin && IsBlank(s[end - 1])) --end;
}

// A line of raw text joins the verbatim run that ends the section, or starts one.
static void AppendRaw(ProfileSection& sec, const std::string& line) {
  if (!sec.items.empty() && !sec.items.back().isKey) {
    sec.items.back().text += '\n';
    sec.items.back().text += line;
    return;
  }
  ProfileItem item;
  item.text = line;
  sec.items.push_back(std::move(item));
}

static void ParseLine(ProfileFile& f, const std::string& line) {
  size_t b = 0, e = line.size();
  Trim(line, b, e);
  if (b < e && line[b] == '[') {
    size_t close = line.find(']', b + 1);
    size_t nb = b + 1, ne = (close == std::string::npos || close > e) ? e : close;
    Trim(line, nb, ne);
    ProfileSection sec;
    sec.hasHeader = 1;
    sec.name = line.substr(nb, ne - nb);
    AppendRaw(sec, line);  // the header line itself, kept as written
    f.sections.push_back(std::move(sec));
    return;
  }
  ProfileSection& sec = f.sections.back();
  const size_t eq = line.find('=', b);
  const int comment = b < e && (line[b] == ';' || line[b] == '#');
  if (!sec.hasHeader || comment || eq == std::string::npos || eq >= e) {
    AppendRaw(sec, line);
    return;
  }
  size_t kb = b, ke = eq;
  Trim(line, kb, ke);
  if (kb == ke) {
    AppendRaw(sec, line);
    return;
  }
  size_t vb = eq + 1, ve = e;
  Trim(line, vb, ve);
  if (ve - vb >= 2 && (line[vb] == '"' || line[vb] == '\'') && line[ve - 1] == line[vb]) {
    ++vb;
    --ve;
  }
  ProfileItem item;
  item.isKey = 1;
  item.text = line;
  item.name = line.substr(kb, ke - kb);
  item.value = line.substr(vb, ve - vb);
  sec.items.push_back(std::move(item));
}

void ProfileClear(ProfileFile& f) {
  f.sections.clear();
  f.sections.emplace_back();  // the lines before the first header
  f.existed = 0;
  f.writable = 1;
  f.crlf = 0;
}

int ProfileLoad(ProfileFile& f, const char* path) {
  ProfileClear(f);
  if (!path || !*path) {
    f.writable = 0;
    return 0;
  }
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    // Only a file that is simply not there may be created by the next save.
    if (errno != ENOENT) f.writable = 0;
    return 0;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      static_cast<unsigned long long>(st.st_size) > kMaxProfileFileBytes) {
    ::close(fd);
    f.writable = 0;
    return 0;
  }
  std::string text;
  text.resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t n = ::read(fd, &text[got], text.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got != text.size()) {
    f.writable = 0;
    return 0;
  }
  f.existed = 1;
  const size_t firstNl = text.find('\n');
  f.crlf = firstNl != std::string::npos && firstNl > 0 && text[firstNl - 1] == '\r';
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    ParseLine(f, text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  return 1;
}

static const ProfileItem* FindKey(const ProfileFile& f, const char* section, const char* key) {
  for (const ProfileSection& sec : f.sections) {
    if (!sec.hasHeader || !SameName(sec.name, section)) continue;
    for (const ProfileItem& item : sec.items)
      if (item.isKey && SameName(item.name, key)) return &item;
  }
  return nullptr;
}

int ProfileGetString(const ProfileFile& f, const char* section, const char* key, const char* def,
                     char* out, size_t outSize) {
  if (!out || outSize == 0) return 0;
  const ProfileItem* item = (section && key) ? FindKey(f, section, key) : nullptr;
  const char* src = item ? item->value.c_str() : (def ? def : "");
  size_t n = item ? item->value.size() : std::strlen(src);
  if (n > static_cast<size_t>(kProfileValueChars)) n = kProfileValueChars;
  if (n > outSize - 1) n = outSize - 1;
  // A NUL inside the value ends the text, as it would for any C caller, and
  // so does a lone carriage return: no value can be written back with one.
  for (size_t i = 0; i < n; ++i) {
    if (src[i] == '\0' || src[i] == '\r') n = i;
  }
  std::memcpy(out, src, n);
  out[n] = 0;
  return item ? 1 : 0;
}

// A value the reader would change (blanks at either end, which it trims, or
// a pair of enclosing quotes, which it removes) is written inside quotes, so
// that what was handed out reads back the same. Any other value is written as
// it stands.
static std::string KeyLine(const ProfileFile& f, const std::string& name, const std::string& value) {
  const size_t n = value.size();
  const int quote = n > 0 && (IsBlank(value[0]) || IsBlank(value[n - 1]) ||
                              (n >= 2 && (value[0] == '"' || value[0] == '\'') && value[n - 1] == value[0]));
  std::string line = quote ? name + "=\"" + value + "\"" : name + "=" + value;
  if (f.crlf) line += '\r';
  return line;
}

void ProfileSetString(ProfileFile& f, const char* section, const char* key, const char* value) {
  if (!section || !key || !*key) return;
  if (f.sections.empty()) f.sections.emplace_back();
  std::string v = value ? value : "";
  const size_t brk = v.find_first_of("\r\n");
  if (brk != std::string::npos) v.resize(brk);

  ProfileSection* first = nullptr;
  for (ProfileSection& sec : f.sections) {
    if (!sec.hasHeader || !SameName(sec.name, section)) continue;
    if (!first) first = &sec;
    for (ProfileItem& item : sec.items) {
      if (item.isKey && SameName(item.name, key)) {
        item.value = v;
        item.text = KeyLine(f, item.name, v);
        return;
      }
    }
  }
  ProfileItem item;
  item.isKey = 1;
  item.name = key;
  item.value = v;
  item.text = KeyLine(f, item.name, v);
  if (first) {
    // After the section's last key, so blank lines and comments that close
    // the section stay between it and the next header.
    size_t at = 1;  // behind the header run
    for (size_t i = 0; i < first->items.size(); ++i)
      if (first->items[i].isKey) at = i + 1;
    if (at == 1 && !first->items.empty() && !first->items[0].isKey) {
      // No key yet: split the header off the verbatim run that follows it.
      ProfileItem& run = first->items[0];
      const size_t nl = run.text.find('\n');
      if (nl != std::string::npos) {
        ProfileItem rest;
        rest.text = run.text.substr(nl + 1);
        run.text.resize(nl);
        first->items.insert(first->items.begin() + 1, std::move(rest));
      }
    }
    if (at > first->items.size()) at = first->items.size();
    first->items.insert(first->items.begin() + static_cast<long>(at), std::move(item));
    return;
  }
  ProfileSection sec;
  sec.hasHeader = 1;
  sec.name = section;
  ProfileItem header;
  header.text = std::string("[") + section + "]";
  if (f.crlf) header.text += '\r';
  sec.items.push_back(std::move(header));
  sec.items.push_back(std::move(item));
  f.sections.push_back(std::move(sec));
}

void ProfileSerialize(const ProfileFile& f, std::string& out) {
  out.clear();
  for (const ProfileSection& sec : f.sections)
    for (const ProfileItem& item : sec.items) {
      out += item.text;
      out += '\n';
    }
}

static int WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    done += static_cast<size_t>(n);
  }
  return 1;
}

int ProfileSave(const ProfileFile& f, const char* path) {
  if (!path || !*path || !f.writable) return 0;
  std::string data;
  ProfileSerialize(f, data);
  // The temporary name carries the process id: two programs saving the same
  // file at once (a batch conversion's processes) must not write into one
  // temporary file, or the rename could install a mixture of both.
  const std::string tmp = std::string(path) + ".new." + std::to_string(static_cast<long>(::getpid()));
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return 0;
  int ok = WriteAll(fd, data);
  if (ok && ::fsync(fd) != 0) ok = 0;
  if (::close(fd) != 0) ok = 0;
  if (ok && ::rename(tmp.c_str(), path) != 0) ok = 0;
  if (!ok) {
    ::unlink(tmp.c_str());
    return 0;
  }
  // Make the rename itself durable; a failure here loses nothing already written.
  std::string dir(path);
  const size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? std::string(".") : (slash == 0 ? std::string("/") : dir.substr(0, slash));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    (void)::fsync(dfd);
    ::close(dfd);
  }
  return 1;
}
