#include "testing/machine_snapshot.h"

#include "text/textkit.h"

#include <algorithm>

namespace platform {

namespace {

std::string number(std::uint64_t n) { return std::to_string(n); }

std::string describeFile(Platform &m, const std::string &path) {
    std::string out = path;
    const Result<FileInfo> i = m.info(path);
    if (!i.ok()) return out + " info error " + number(i.code) + "\n";
    out += " size " + number(i.value.size) + " written " + number(i.value.written);
    if (i.value.readOnly) out += " read-only";
    const Result<DosTime> t = m.readableTime(path);
    out += t.ok() ? " dos " + number(t.value.date) + "." + number(t.value.time) : " time error " + number(t.code);
    const Result<std::string> bytes = m.readAll(path);
    out += bytes.ok() ? " bytes \"" + text::visible(bytes.value) + "\"" : " read error " + number(bytes.code);
    return out + "\n";
}

void walkFiles(Platform &m, const std::string &dir, std::string &out) {
    const Result<std::vector<DirEntry>> r = m.list(dir);
    if (!r.ok()) {
        out += dir + " list error " + number(r.code) + "\n";
        return;
    }
    std::vector<DirEntry> entries = r.value;
    std::sort(entries.begin(), entries.end(),
              [](const DirEntry &a, const DirEntry &b) { return text::compareNoCase(a.name, b.name) < 0; });
    for (const DirEntry &e : entries) {
        const std::string path = text::joinPath(dir, e.name);
        if (e.name == "." || e.name == "..") {
            out += path + " (" + (e.directory ? "directory" : "file") + ")\n";
        } else if (e.directory) {
            out += path + "\\\n";
            walkFiles(m, path, out);
        } else {
            out += describeFile(m, path);
        }
    }
}

void walkKeys(Platform &m, Root root, const std::string &path, std::string &out) {
    const std::string shown = std::to_string(static_cast<int>(root)) + ":" + path;
    const Result<std::vector<RegNamedValue>> values = m.regValues(root, path);
    if (!values.ok()) out += shown + " values error " + number(values.code) + "\n";
    for (const RegNamedValue &v : values.value)
        out += shown + " [" + text::visible(v.name) + "] type " + number(v.value.type) + " \"" +
               text::visible(v.value.data) + "\"\n";
    Result<std::vector<std::string>> subkeys = m.regSubkeys(root, path);
    if (!subkeys.ok()) {
        out += shown + " subkeys error " + number(subkeys.code) + "\n";
        return;
    }
    std::sort(subkeys.value.begin(), subkeys.value.end(),
              [](const std::string &a, const std::string &b) { return text::compareNoCase(a, b) < 0; });
    for (const std::string &name : subkeys.value) {
        const std::string child = path.empty() ? name : path + "\\" + name;
        out += std::to_string(static_cast<int>(root)) + ":" + child + "\\\n";
        walkKeys(m, root, child, out);
    }
}

} // namespace

std::string snapshot(Platform &machine, const std::vector<std::string> &driveRoots) {
    std::string out;
    for (const std::string &root : driveRoots) {
        out += root + "\n";
        walkFiles(machine, root, out);
    }
    for (Root r : {Root::LocalMachine, Root::CurrentUser, Root::ClassesRoot, Root::Users}) walkKeys(machine, r, "", out);
    return out;
}

} // namespace platform
