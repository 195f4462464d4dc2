// INI profiles: an INI-format file held as a table of lines (IniFile), or a
// registry key under HKEY_LOCAL_MACHINE that mirrors an INI file, one
// subkey per section (RegistryMirror). Both have one contract: the same
// call means the same thing on either.
//
// Reads: value() gives the key's text (verbatim after the "=" of its line in
// a file; the bytes of the value up to the first NUL in the registry),
// getString() that or a default, getInt() the number it holds: the text
// read as "%d" reads it (text::readDecimal: clamped, never wrapped), and in
// the registry a REG_DWORD value as its number. So [Patch] Interactive is
// read from the registry mirror just as from the file.
//
// Writes: set() sets a key (creating the section), deleteKey() deletes one
// (a missing key or section needs no deleting), deleteSection() deletes a
// section with all it holds. A change that cannot be made raises Error 21
// (module "tvpprof") naming the file or the section's key. Each change is
// described to the profile's change sink before it is made; a change the
// sink refuses is not made and fails the same way.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "engine/change.h"

class Profile {
  public:
    virtual ~Profile() = default;
    Profile(const Profile &) = delete;
    Profile &operator=(const Profile &) = delete;

    virtual std::optional<std::string> value(const std::string &section, const std::string &key) = 0;
    std::string getString(const std::string &section, const std::string &key, const std::string &def);
    int getInt(const std::string &section, const std::string &key, int def);

    virtual void set(const std::string &section, const std::string &key, const std::string &value) = 0;
    virtual void deleteKey(const std::string &section, const std::string &key) = 0;
    virtual void deleteSection(const std::string &section) = 0;

    virtual bool isRegistry() const = 0;
    // The file's path, or the mirror's key path (ending in a backslash).
    const std::string &path() const { return path_; }

  protected:
    Profile(std::string path, change::ChangeSink &changes) : path_(std::move(path)), changes_(changes) {}
    // The number a value holds: its text read as "%d".
    virtual std::optional<int> number(const std::string &section, const std::string &key);

    std::string path_;
    change::ChangeSink &changes_;
};

// An INI file. Every read sees the file as it is now (it is read again
// unless it is known to hold what this profile saved last), every change
// is made to the file as it is now and saved at once through a file of its
// own and a replacing rename, so the file is never left half written.
// Nothing is written on release.
// The name of a file an IniFile writes its new content to ("~TVxxxx.TMP"),
// left behind only by a run cut while it saved.
bool isIniWorkFileName(const std::string &name);

class IniFile : public Profile {
  public:
    // Reads the file (a missing file gives an empty table). Paths are kept
    // to 259 characters.
    explicit IniFile(const std::string &path, change::ChangeSink &changes = change::noChanges());
    ~IniFile() override;

    std::optional<std::string> value(const std::string &section, const std::string &key) override;
    void set(const std::string &section, const std::string &key, const std::string &value) override;
    void deleteKey(const std::string &section, const std::string &key) override;
    void deleteSection(const std::string &section) override;
    bool isRegistry() const override { return false; }

    // Adds "key=value" to the section unless exactly that line (ignoring
    // case) is there already; saves when it adds. Not described to the
    // change sink: its one user (the restart registrations of WININIT.INI)
    // describes what the line means.
    void addValue(const std::string &section, const std::string &key, const std::string &value);

  private:
    struct Impl;
    // Whether the file still holds what this profile saved last: its size
    // and last-write time are those of that save, and this process changed
    // no file since.
    bool unchangedSinceSave();
    // Reads the file (unless it is unchanged since this profile saved it)
    // and takes its content when it is not what the table was made of.
    // False when the file is there but cannot be read.
    bool reload();
    void save();
    // Reads the file for a change; Error 21 when it cannot be read.
    void reloadForChange();
    // Makes the change to the table and saves it, described to the sink.
    template <typename Edit> void change(const change::Change &description, Edit edit);

    std::unique_ptr<Impl> impl_;
};

// The registry form of an INI file: the key HKLM\<path>\, one subkey per
// section, one string value per key.
class RegistryMirror : public Profile {
  public:
    // `keyPath` below HKEY_LOCAL_MACHINE, kept to 259 characters; a
    // backslash is appended. Nothing is read here.
    explicit RegistryMirror(const std::string &keyPath, change::ChangeSink &changes = change::noChanges());

    std::optional<std::string> value(const std::string &section, const std::string &key) override;
    void set(const std::string &section, const std::string &key, const std::string &value) override;
    void deleteKey(const std::string &section, const std::string &key) override;
    void deleteSection(const std::string &section) override;
    bool isRegistry() const override { return true; }

  protected:
    std::optional<int> number(const std::string &section, const std::string &key) override;

  private:
    // The section's key path, or nothing when it would not fit in 255
    // characters.
    std::optional<std::string> sectionKey(const std::string &section) const;
};
