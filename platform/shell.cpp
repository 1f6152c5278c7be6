#include "platform/shell.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fnmatch.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "platform/fault.h"
#include "platform/process_start.h"

namespace {

using Strings = std::vector<std::string>;

HINSTANCE resultValue(std::intptr_t value) { return reinterpret_cast<HINSTANCE>(value); }
constexpr std::intptr_t started = 42;

// ---- XDG base directories

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

Strings splitList(const std::string& text, char separator) {
    Strings parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(separator, start);
        if (end == std::string::npos) end = text.size();
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

// Relative entries are ignored, as the base directory rules say.
Strings absoluteDirs(const std::string& list) {
    Strings dirs;
    for (std::string& dir : splitList(list, ':'))
        if (!dir.empty() && dir[0] == '/') {
            while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
            dirs.push_back(dir);
        }
    return dirs;
}

std::string homeDir(const char* variable, const char* fallback) {
    std::string value = environment(variable);
    if (!value.empty() && value[0] == '/') return value;
    std::string home = environment("HOME");
    return home.empty() ? std::string() : home + fallback;
}

// Data directories, most important first.
Strings dataDirs() {
    Strings dirs;
    std::string home = homeDir("XDG_DATA_HOME", "/.local/share");
    if (!home.empty()) dirs.push_back(home);
    std::string list = environment("XDG_DATA_DIRS");
    for (const std::string& dir : absoluteDirs(list.empty() ? "/usr/local/share:/usr/share" : list)) dirs.push_back(dir);
    return dirs;
}

Strings configDirs() {
    Strings dirs;
    std::string home = homeDir("XDG_CONFIG_HOME", "/.config");
    if (!home.empty()) dirs.push_back(home);
    std::string list = environment("XDG_CONFIG_DIRS");
    for (const std::string& dir : absoluteDirs(list.empty() ? "/etc/xdg" : list)) dirs.push_back(dir);
    return dirs;
}

// A file that cannot be read to its end counts as missing: half a list
// could name a program its removed part took away.
bool readLines(const std::string& path, Strings& lines) {
    if (fault::shouldFail(fault::Kind::Open)) return false;
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return false;
    Strings read;
    std::string line;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n') {
            read.push_back(line);
            line.clear();
        } else {
            line.push_back(static_cast<char>(c));
        }
    }
    bool failed = std::ferror(file) != 0 || fault::shouldFail(fault::Kind::Read);
    std::fclose(file);
    if (failed) return false;
    if (!line.empty()) read.push_back(line);
    lines.insert(lines.end(), read.begin(), read.end());
    return true;
}

std::string trim(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r");
    if (start == std::string::npos) return {};
    std::size_t end = text.find_last_not_of(" \t\r");
    return text.substr(start, end - start + 1);
}

// ---- MIME type from the file name

struct Glob {
    int weight;
    std::string type;
    std::string pattern;
    bool caseSensitive;
    int rank;  // lower: from a more important directory
};

void readGlobFile(const std::string& mimeDir, int rank, std::vector<Glob>& globs) {
    Strings lines;
    bool version2 = readLines(mimeDir + "/globs2", lines);
    if (!version2 && !readLines(mimeDir + "/globs", lines)) return;
    std::vector<Glob> found;
    Strings cleared;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#') continue;
        Strings fields = splitList(line, ':');
        Glob glob{50, "", "", false, rank};
        if (version2) {
            if (fields.size() < 3) continue;
            glob.weight = std::atoi(fields[0].c_str());
            glob.type = fields[1];
            glob.pattern = fields[2];
            if (fields.size() > 3)
                for (const std::string& flag : splitList(fields[3], ','))
                    if (flag == "cs") glob.caseSensitive = true;
        } else {
            std::size_t colon = line.find(':');
            if (colon == std::string::npos) continue;
            glob.type = line.substr(0, colon);
            glob.pattern = line.substr(colon + 1);
        }
        if (glob.type.empty() || glob.pattern.empty()) continue;
        if (glob.pattern == "__NOGLOBS__") {
            cleared.push_back(glob.type);
        } else {
            found.push_back(glob);
        }
    }
    // A more important directory can withdraw a type's globs from the others.
    for (const std::string& type : cleared)
        for (std::size_t i = globs.size(); i-- > 0;)
            if (globs[i].type == type) globs.erase(globs.begin() + static_cast<std::ptrdiff_t>(i));
    globs.insert(globs.end(), found.begin(), found.end());
}

// Highest weight wins, then the longest pattern, then the more important
// directory.
std::string mimeTypeOfName(const std::string& name, const Strings& data) {
    std::vector<Glob> globs;
    for (std::size_t i = data.size(); i-- > 0;) readGlobFile(data[i] + "/mime", static_cast<int>(i), globs);
    const Glob* best = nullptr;
    for (const Glob& glob : globs) {
        if (fnmatch(glob.pattern.c_str(), name.c_str(), glob.caseSensitive ? 0 : FNM_CASEFOLD) != 0) continue;
        if (best == nullptr || glob.weight > best->weight ||
            (glob.weight == best->weight && (glob.pattern.size() > best->pattern.size() ||
                                             (glob.pattern.size() == best->pattern.size() && glob.rank < best->rank))))
            best = &glob;
    }
    return best != nullptr ? best->type : std::string();
}

// The type, then its parent types, nearest first.
Strings typeAndParents(const std::string& type, const Strings& data) {
    Strings pairs;
    for (const std::string& dir : data) readLines(dir + "/mime/subclasses", pairs);
    Strings order{type};
    for (std::size_t i = 0; i < order.size() && order.size() < 32; ++i) {
        for (const std::string& line : pairs) {
            std::size_t blank = line.find(' ');
            if (blank == std::string::npos || line.compare(0, blank, order[i]) != 0 || blank != order[i].size()) continue;
            std::string parent = trim(line.substr(blank + 1));
            bool known = false;
            for (const std::string& seen : order) known = known || seen == parent;
            if (!known && !parent.empty()) order.push_back(parent);
        }
    }
    return order;
}

// ---- Key files (mimeapps.list, desktop entries, mimeinfo.cache)

struct KeyFile {
    struct Item {
        std::string group;
        std::string key;
        std::string value;
    };
    std::vector<Item> items;

    bool load(const std::string& path) {
        Strings lines;
        if (!readLines(path, lines)) return false;
        std::string group;
        for (const std::string& raw : lines) {
            std::string line = trim(raw);
            if (line.empty() || line[0] == '#') continue;
            if (line[0] == '[') {
                std::size_t close = line.find(']');
                group = close == std::string::npos ? std::string() : line.substr(1, close - 1);
                continue;
            }
            std::size_t equals = line.find('=');
            if (equals == std::string::npos) continue;
            items.push_back({group, trim(line.substr(0, equals)), trim(line.substr(equals + 1))});
        }
        return true;
    }

    const std::string* find(const std::string& group, const std::string& key) const {
        for (const Item& item : items)
            if (item.group == group && item.key == key) return &item.value;
        return nullptr;
    }

    Strings list(const std::string& group, const std::string& key) const {
        Strings ids;
        if (const std::string* value = find(group, key))
            for (std::string& id : splitList(*value, ';'))
                if (!(id = trim(id)).empty()) ids.push_back(id);
        return ids;
    }
};

// The string escapes of desktop entry values.
std::string unescapeValue(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out.push_back(value[i]);
            continue;
        }
        char next = value[++i];
        switch (next) {
            case 's': out.push_back(' '); break;
            case 'n': out.push_back('\n'); break;
            case 't': out.push_back('\t'); break;
            case 'r': out.push_back('\r'); break;
            case '\\': out.push_back('\\'); break;
            default: out.push_back('\\'); out.push_back(next); break;
        }
    }
    return out;
}

// Splits an Exec value into its arguments; false when its quoting is broken.
bool splitExec(const std::string& exec, Strings& words) {
    std::size_t i = 0;
    while (i < exec.size()) {
        if (exec[i] == ' ' || exec[i] == '\t') {
            ++i;
            continue;
        }
        std::string word;
        if (exec[i] == '"') {
            ++i;
            bool closed = false;
            while (i < exec.size()) {
                char c = exec[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < exec.size() && std::strchr("\"`$\\", exec[i]) != nullptr) c = exec[i++];
                word.push_back(c);
            }
            if (!closed) return false;
            if (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') return false;
        } else {
            while (i < exec.size() && exec[i] != ' ' && exec[i] != '\t') word.push_back(exec[i++]);
        }
        words.push_back(word);
    }
    return !words.empty();
}

bool isIgnorableFieldCode(const std::string& word) {
    static const char* const codes[] = {"%f", "%F", "%u", "%U", "%i", "%c", "%k", "%d", "%D", "%n", "%N", "%v", "%m"};
    for (const char* code : codes)
        if (word == code) return true;
    return false;
}

// The program of an installed, usable application entry; empty otherwise.
std::string programOfEntry(const std::string& path) {
    KeyFile entry;
    if (!entry.load(path)) return {};
    const char* group = "Desktop Entry";
    const std::string* type = entry.find(group, "Type");
    const std::string* hidden = entry.find(group, "Hidden");
    const std::string* exec = entry.find(group, "Exec");
    if (type == nullptr || *type != "Application" || exec == nullptr) return {};
    if (hidden != nullptr && *hidden == "true") return {};
    // A terminal program started without its terminal would have no screen.
    const std::string* terminal = entry.find(group, "Terminal");
    if (terminal != nullptr && *terminal == "true") return {};
    if (const std::string* tryExec = entry.find(group, "TryExec"))
        if (process::findProgram(unescapeValue(*tryExec)).empty()) return {};
    Strings words;
    if (!splitExec(unescapeValue(*exec), words)) return {};
    if (words[0].find('%') != std::string::npos || words[0].find('=') != std::string::npos) return {};
    // Options may be left out; any other fixed argument means the program
    // is a wrapper or an interpreter that would take the file for its script.
    for (std::size_t i = 1; i < words.size(); ++i)
        if (!isIgnorableFieldCode(words[i]) && (words[i].size() < 2 || words[i][0] != '-')) return {};
    std::string program = process::findProgram(words[0]);
    return program.size() < findExecutableResultSize ? program : std::string();
}

bool isFile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A desktop file ID names applications/ID, where a '-' may stand for a
// subdirectory. The first directory that has the entry decides.
std::string programOfId(const std::string& id, const Strings& data) {
    if (id.find('/') != std::string::npos || id.size() < 9 || id.compare(id.size() - 8, 8, ".desktop") != 0) return {};
    for (const std::string& dir : data) {
        std::string candidate = id;
        std::size_t from = 0;
        for (;;) {
            std::string path = dir + "/applications/" + candidate;
            if (isFile(path)) return programOfEntry(path);
            std::size_t dash = candidate.find('-', from);
            if (dash == std::string::npos) break;
            candidate[dash] = '/';
            from = dash + 1;
        }
    }
    return {};
}

// Where a desktop has no mimeinfo.cache, the types its entries declare,
// read from the entries themselves (IDs in name order).
void scanEntries(const std::string& dir, const std::string& prefix, KeyFile& cache, int depth = 0) {
    if (fault::shouldFail(fault::Kind::Open)) return;
    DIR* listing = opendir(dir.c_str());
    if (listing == nullptr) return;
    Strings names;
    while (dirent* item = readdir(listing))
        if (item->d_name[0] != '.') names.push_back(item->d_name);
    closedir(listing);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        struct stat info;
        if (stat(path.c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (depth < 8) scanEntries(path, prefix + name + "-", cache, depth + 1);
            continue;
        }
        if (name.size() < 9 || name.compare(name.size() - 8, 8, ".desktop") != 0) continue;
        KeyFile entry;
        if (!entry.load(path)) continue;
        for (const std::string& type : entry.list("Desktop Entry", "MimeType")) {
            bool listed = false;
            for (KeyFile::Item& item : cache.items)
                if (item.key == type) {
                    item.value += ";" + prefix + name;
                    listed = true;
                }
            if (!listed) cache.items.push_back({"MIME Cache", type, prefix + name});
        }
    }
}

struct Associations {
    std::vector<KeyFile> lists;  // mimeapps.list files, most important first
    std::vector<KeyFile> caches; // mimeinfo.cache files, most important first
};

Associations loadAssociations(const Strings& data) {
    Strings desktops;
    for (std::string& desktop : splitList(environment("XDG_CURRENT_DESKTOP"), ':')) {
        for (char& c : desktop) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (!desktop.empty()) desktops.push_back(desktop);
    }
    Strings places = configDirs();
    for (const std::string& dir : data) places.push_back(dir + "/applications");
    Associations found;
    for (const std::string& place : places) {
        for (const std::string& desktop : desktops) {
            KeyFile list;
            if (list.load(place + "/" + desktop + "-mimeapps.list")) found.lists.push_back(list);
        }
        KeyFile list;
        if (list.load(place + "/mimeapps.list")) found.lists.push_back(list);
    }
    for (const std::string& dir : data) {
        KeyFile cache;
        if (!cache.load(dir + "/applications/mimeinfo.cache")) scanEntries(dir + "/applications", "", cache);
        found.caches.push_back(cache);
    }
    return found;
}

bool contains(const Strings& ids, const std::string& id) {
    for (const std::string& each : ids)
        if (each == id) return true;
    return false;
}

std::string defaultProgram(const std::string& type, const Associations& known, const Strings& data) {
    for (const KeyFile& list : known.lists)
        for (const std::string& id : list.list("Default Applications", type)) {
            std::string program = programOfId(id, data);
            if (!program.empty()) return program;
        }
    // A removal in one file holds for that file and every less important one.
    Strings removed;
    for (const KeyFile& list : known.lists) {
        for (const std::string& id : list.list("Removed Associations", type)) removed.push_back(id);
        for (const std::string& id : list.list("Added Associations", type)) {
            if (contains(removed, id)) continue;
            std::string program = programOfId(id, data);
            if (!program.empty()) return program;
        }
    }
    for (const KeyFile& cache : known.caches)
        for (const std::string& id : cache.list("MIME Cache", type)) {
            if (contains(removed, id)) continue;
            std::string program = programOfId(id, data);
            if (!program.empty()) return program;
        }
    return {};
}

std::string baseName(const std::string& path) {
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return path;
    std::size_t slash = path.rfind('/', end);
    return path.substr(slash == std::string::npos ? 0 : slash + 1, end - (slash == std::string::npos ? 0 : slash + 1) + 1);
}

std::string inDirectory(LPCSTR file, LPCSTR directory) {
    std::string name = file;
    if (name[0] == '/' || directory == nullptr || directory[0] == '\0') return name;
    return std::string(directory) + "/" + name;
}

int startFailure(int error) {
    switch (error) {
        case ENOENT: return SE_ERR_FNF;
        case ENOTDIR: return SE_ERR_PNF;
        case EACCES:
        case EPERM: return SE_ERR_ACCESSDENIED;
        case ENOEXEC: return SE_ERR_BADFORMAT;
        default: return SE_ERR_OOM;
    }
}

}  // namespace

HINSTANCE FindExecutableA(LPCSTR file, LPCSTR directory, LPSTR result) {
    if (result != nullptr) result[0] = '\0';
    if (result == nullptr || file == nullptr || file[0] == '\0') return resultValue(SE_ERR_FNF);
    if (fault::shouldFail(fault::Kind::Open)) return resultValue(SE_ERR_OOM);
    std::string path = inDirectory(file, directory);
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return resultValue(errno == ENOTDIR ? SE_ERR_PNF : SE_ERR_FNF);
    Strings data = dataDirs();
    std::string type = S_ISDIR(info.st_mode) ? std::string("inode/directory") : mimeTypeOfName(baseName(path), data);
    if (type.empty()) return resultValue(SE_ERR_NOASSOC);
    Associations known = loadAssociations(data);
    for (const std::string& candidate : typeAndParents(type, data)) {
        std::string program = defaultProgram(candidate, known, data);
        if (program.empty()) continue;
        std::memcpy(result, program.c_str(), program.size() + 1);
        return resultValue(started);
    }
    return resultValue(SE_ERR_NOASSOC);
}

HINSTANCE ShellExecuteA(HWND, LPCSTR operation, LPCSTR file, LPCSTR, LPCSTR directory, int) {
    if (operation != nullptr && operation[0] != '\0' && std::strcmp(operation, "open") != 0)
        return resultValue(SE_ERR_NOASSOC);
    if (file == nullptr || file[0] == '\0') return resultValue(SE_ERR_FNF);
    struct stat info;
    if (stat(inDirectory(file, directory).c_str(), &info) != 0) return resultValue(SE_ERR_FNF);
    std::string opener = process::findProgram("xdg-open");
    if (opener.empty()) return resultValue(SE_ERR_NOASSOC);
    if (fault::shouldFail(fault::Kind::Open)) return resultValue(SE_ERR_OOM);
    // "./" keeps a relative name from reading as an option or a URL.
    std::string name = file[0] == '/' ? std::string(file) : "./" + std::string(file);
    std::string workDir = directory != nullptr ? directory : "";
    int error = process::startDetached(opener, {opener, name}, workDir);
    if (error != 0) return resultValue(error == ENOENT && !workDir.empty() ? SE_ERR_PNF : startFailure(error));
    return resultValue(started);
}

UINT WinExec(LPCSTR commandLine, UINT) {
    if (commandLine == nullptr || commandLine[0] == '\0') return SE_ERR_FNF;
    if (fault::shouldFail(fault::Kind::Open)) return 0;
    std::string line = commandLine;
    std::string program;
    std::string name;
    std::string rest;
    for (std::size_t blank = line.find_first_of(" \t"); blank != std::string::npos;
         blank = line.find_first_of(" \t", blank + 1)) {
        if (blank == 0) continue;
        program = process::findProgram(line.substr(0, blank));
        if (!program.empty()) {
            name = line.substr(0, blank);
            rest = line.substr(blank + 1);
            break;
        }
    }
    if (program.empty()) {
        program = process::findProgram(line);
        name = line;
    }
    if (program.empty()) return SE_ERR_FNF;
    Strings args{name};
    if (!rest.empty()) args.push_back(rest);
    int error = process::startDetached(program, args, "");
    return error == 0 ? 33 : static_cast<UINT>(startFailure(error));
}

UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) {
    static const char windowsDirectory[] = "/";
    UINT length = sizeof windowsDirectory - 1;
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, windowsDirectory, length + 1);
    return length;
}
