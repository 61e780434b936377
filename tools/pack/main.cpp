// glimvane-pack: the command line.
#include "tools/pack/pack.h"
#include "tools/pack/resources.h"
#include "tools/pack/runtime_image.h"
#include "tools/pack/texts.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// CLASS.METHOD: Java identifiers joined by dots, at least a class and a
// method ("$" for nested classes; bytes above 127 for other letters).
bool java_method_name(const std::string& name)
{
    bool start = true;
    int parts = 1;
    for (unsigned char c : name) {
        if (c == '.') {
            if (start) return false;
            start = true;
            parts++;
            continue;
        }
        bool letter = isalpha(c) || c == '_' || c == '$' || c >= 0x80;
        if (!letter && !(isdigit(c) && !start)) return false;
        start = false;
    }
    return !start && parts >= 2;
}

int usage_error(const std::string& text)
{
    fprintf(stderr, text_error_prefix, text.c_str());
    return 2;
}

bool set_once(std::string& target, const std::string& option, const std::string& value, std::string& error)
{
    if (!target.empty()) {
        error = format(text_once_only, option.c_str());
        return false;
    }
    target = value;
    return true;
}

// The walk of one --dir folder: links are followed, to files and to
// folders, in the tree or out of it; a link back into a folder being
// walked is a loop.
struct dir_walk {
    std::string source;               // as given, for the messages
    fs::path root;                    // canonical
    std::vector<fs::path> walking;    // the folders from the root down, as walked
    std::vector<std::pair<std::string, std::string>> found;  // stored below the base, source path
};

bool within(const fs::path& path, const fs::path& folder)
{
    auto p = path.begin();
    for (auto f = folder.begin(); f != folder.end(); ++f, ++p)
        if (p == path.end() || *p != *f) return false;
    return true;
}

bool walk_folder(dir_walk& w, const fs::path& folder, const std::string& rel, std::string& error)
{
    std::error_code ec;
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) {
        error = format(text_cannot_list, folder.string().c_str(), ec.message().c_str());
        return false;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::path& path : entries) {
        std::string stored = rel + (rel.empty() ? "" : "/") + path.filename().string();
        bool link = fs::is_symlink(fs::symlink_status(path, ec));
        fs::file_status status = fs::status(path, ec);
        if (link && !fs::exists(status)) {
            tell(text_note, format(text_dir_dangling, w.source.c_str(), stored.c_str()));
            continue;
        }
        fs::path target = fs::canonical(path, ec);
        if (ec) {
            error = format(text_cannot_read, path.string().c_str(), ec.message().c_str());
            return false;
        }
        bool regular = fs::is_regular_file(status), folder_too = fs::is_directory(status);
        if (!regular && !folder_too) {
            tell(text_note, format(text_dir_special, w.source.c_str(), stored.c_str()));
            continue;
        }
        // Compared by identity: a link need not resolve to the same spelling.
        auto above = std::find_if(w.walking.begin(), w.walking.end(),
                                  [&](const fs::path& f) { return folder_too && fs::equivalent(path, f, ec); });
        if (above != w.walking.end()) {
            // Where the system shows no link (Windows), the folder it leads to.
            fs::path to = fs::read_symlink(path, ec);
            error = format(text_dir_loop, w.source.c_str(), stored.c_str(), (to.empty() ? *above : to).string().c_str());
            return false;
        }
        if (link && !within(target, w.root))
            tell(text_note, format(text_dir_link_out, w.source.c_str(), stored.c_str(), target.string().c_str()));
        if (regular) {
            w.found.emplace_back(stored, path.string());
            continue;
        }
        w.walking.push_back(path);
        bool ok = walk_folder(w, path, stored, error);
        w.walking.pop_back();
        if (!ok) return false;
    }
    return true;
}

// Every file below `source`, in name order so that the same folder always
// gives the same package, stored below `rel` (null: the folder's own name;
// empty: at the top). A linked file is stored under the link's name.
bool add_dir(pack_request& r, const std::string& source, const char* rel, std::string& error)
{
    std::error_code ec;
    std::string base = rel ? rel : fs::absolute(source, ec).lexically_normal().parent_path().filename().string();
    if (!rel) {
        fs::path name = fs::path(source).lexically_normal().filename();
        if (!name.empty() && name != "." && name != "..") base = name.string();
    }
    dir_walk w{source, fs::canonical(source, ec), {}, {}};
    if (ec) {
        error = format(text_cannot_list, source.c_str(), ec.message().c_str());
        return false;
    }
    w.walking.push_back(source);
    if (!walk_folder(w, source, "", error)) return false;
    if (w.found.empty()) {
        error = format(text_empty_dir, source.c_str());
        return false;
    }
    std::sort(w.found.begin(), w.found.end());
    for (const auto& f : w.found)
        r.files.push_back({f.second, base.empty() ? f.first : base + "/" + f.first, false, ""});
    return true;
}

// The words of the command line with each @FILE replaced by the lines of
// FILE (a line feed or CR LF ends a line; empty lines are skipped). Words
// read from a file are not expanded again.
bool expand_files(const std::vector<std::string>& words, std::vector<std::string>& args,
                  std::vector<std::string>& files, std::string& error)
{
    for (const std::string& word : words) {
        if (word.size() < 2 || word[0] != '@') {
            args.push_back(word);
            continue;
        }
        files.push_back(word.substr(1));
        std::ifstream in(word.substr(1), std::ios::binary);
        if (!in) {
            error = format(text_cannot_read, word.c_str() + 1, strerror(errno));
            return false;
        }
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) args.push_back(line);
        }
    }
    return true;
}

// Applies one option; false with the reason when the command line is wrong.
bool apply(pack_request& r, const std::string& option, const std::string& value, std::string& error)
{
    if (option == "--stub") return set_once(r.stub, option, value, error);
    if (option == "--out") return set_once(r.out, option, value, error);
    if (option == "--main") return set_once(r.main_class, option, value, error);
    if (option == "--getjava") return set_once(r.getjava, option, value, error);
    if (option == "--runtime") {
        if (!set_once(r.runtime, option, value, error)) return false;
        r.fast_start = true;
        return add_dir(r, value, runtime_folder, error);
    }
    if (option == "--splash") return set_once(r.splash, option, value, error);
    if (is_resource_option(option)) return apply_resource_option(r, option, value, error);
    if (option == "--name") {
        if (r.name_given) error = format(text_once_only, option.c_str());
        r.name = value;
        r.name_given = true;
        return error.empty();
    }
    if (option == "--jar" || option == "--file") {
        size_t eq = value.find('=');
        r.files.push_back(
            {value.substr(0, eq), eq == std::string::npos ? "" : value.substr(eq + 1), option == "--jar", ""});
    } else if (option == "--dir") {
        size_t eq = value.find('=');
        return add_dir(r, value.substr(0, eq), eq == std::string::npos ? nullptr : value.c_str() + eq + 1, error);
    } else if (option == "--relay") {
        if (value != "on" && value != "off") {
            error = format(text_bad_relay, value.c_str());
            return false;
        }
        r.vars.emplace_back("relay", value);
    } else if (option == "--var") {
        size_t eq = value.find('=');
        if (eq == std::string::npos) {
            error = format(text_bad_key, value.c_str());
            return false;
        }
        r.vars.emplace_back(value.substr(0, eq), value.substr(eq + 1));
    } else {
        r.payloads.push_back(value);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args, arg_files;
    std::string expand_error;
    if (!expand_files(std::vector<std::string>(argv + 1, argv + argc), args, arg_files, expand_error))
        return usage_error(expand_error);
    if (args.empty()) {
        fputs(text_usage, stderr);
        fputs(text_usage_windows, stderr);
        return 2;
    }
    if (args[0] == "inspect") {
        if (args.size() != 2) return usage_error(text_inspect_usage);
        return inspect(args[1], stdout);
    }
    const char* const with_value[] = {"--stub", "--out", "--name", "--jar", "--file",
                                      "--main", "--var", "--getjava", "--payload", "--dir", "--relay",
                                      "--runtime", "--splash"};
    pack_request request;
    request.arg_files = arg_files;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& word = args[i];
        if (word == "--help" || word == "-h") {
            fputs(text_usage, stdout);
            fputs(text_usage_windows, stdout);
            return 0;
        }
        if (word == "--version") {
            printf("%s %s\n", pack_name, pack_version);
            return 0;
        }
        if (word == "--console") {
            request.console = true;
            continue;
        }
        if (word == "--no-boot") {
            request.boot = false;
            continue;
        }
        if (word == "--fast-start") {
            request.fast_start = true;
            continue;
        }
        if (word == "--compress") {
            request.compress = true;
            continue;
        }
        if (word == "--single-instance" || word.rfind("--single-instance=", 0) == 0) {
            // The method is optional: the next word is it unless it is an option.
            std::string method;
            if (word.size() > 17)
                method = word.substr(18);
            else if (i + 1 < args.size() && args[i + 1].rfind("-", 0) != 0)
                method = args[++i];
            if (request.single_instance) return usage_error(format(text_once_only, "--single-instance"));
            if (!method.empty() && !java_method_name(method))
                return usage_error(format(text_bad_instance_method, method.c_str()));
            request.single_instance = true;
            request.instance_method = method;
            continue;
        }
        size_t eq = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        std::string option = word.substr(0, eq);
        bool known = false;
        for (const char* name : with_value) known |= option == name;
        known |= is_resource_option(option);
        if (!known) return usage_error(format(text_unknown_option, word.c_str()));
        std::string value;
        if (eq != std::string::npos) {
            value = word.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return usage_error(format(text_missing_value, option.c_str()));
        }
        std::string error;
        if (!apply(request, option, value, error)) return usage_error(error);
    }
    if (request.stub.empty() || request.out.empty()) return usage_error(text_missing_required);
    std::string error;
    if (request.console) request.stub = console_stub(request.stub, error);
    if (error.empty()) error = pack(request);
    if (error.empty()) return 0;
    fprintf(stderr, text_error_prefix, error.c_str());
    return 1;
}
