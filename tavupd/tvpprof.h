// INI-format files held in memory as a table of lines, or a registry key
// under HKEY_LOCAL_MACHINE that mirrors an INI file.
#pragma once

#include <memory>
#include <string>

class Profile {
  public:
    enum Mode { FileMode = 0, RegistryMode = 1 };

    // File mode reads the file at once (a missing file gives an empty table);
    // registry mode appends "\" to the key path and reads nothing.
    Profile(const std::string &path, int mode);
    // Writes nothing: every change was saved when it was made.
    ~Profile();
    Profile(const Profile &) = delete;
    Profile &operator=(const Profile &) = delete;

    // The key's value (verbatim after the "="), or the default when the
    // section or key is missing. Returns a copy.
    std::string getString(const char *section, const char *key, const char *def);
    // The value read as "%d" reads it; the default when missing or no number.
    int getInt(const char *section, const char *key, int def);
    // key and value: set; key, no value (null): delete the key;
    // no key: delete the section. File mode reads the file first, so the
    // change is made to what it holds now, and saves at once. A file that
    // cannot be read or written, and in registry mode a key or value that
    // cannot be written or deleted (a missing one needs no deleting),
    // raise Error 21 naming the file or key.
    void setValue(const char *section, const char *key, const char *value);
    // Adds "key=value" to the section unless exactly that line (ignoring
    // case) is there already; reads the file first and saves when it adds.
    void addValue(const char *section, const char *key, const char *value);

    // Index of the section's header line, or -1. Does not re-read the file.
    long findSection(const char *section) const;
    // True when the line, trimmed of blanks, begins with "[".
    static bool isSectionLine(const char *line);
    bool isRegistry() const { return mode_ == RegistryMode; }

    // The line table, for callers that walk a section: lineAt(i) is null at
    // and after lineCount() (the empty slot after the last line).
    const char *lineAt(long index) const;
    long lineCount() const;
    const std::string &path() const { return path_; }

  private:
    struct Impl;
    // Reads the file and takes its content when it is not what the table
    // was made of. False when the file is there but cannot be read.
    bool reload();
    void save();
    void setRegistryValue(const char *section, const char *key, const char *value);
    // Registry mode: the section's key path, or false when it would not
    // fit in 255 characters.
    bool sectionKey(const char *section, std::string &out) const;

    std::unique_ptr<Impl> impl_;
    std::string path_;
    int mode_;
};
