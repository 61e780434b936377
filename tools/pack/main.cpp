// glimvane-pack: the command line.
#include "tools/pack/pack.h"
#include "tools/pack/texts.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

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

// Applies one option; false with the reason when the command line is wrong.
bool apply(pack_request& r, const std::string& option, const std::string& value, std::string& error)
{
    if (option == "--stub") return set_once(r.stub, option, value, error);
    if (option == "--out") return set_once(r.out, option, value, error);
    if (option == "--main") return set_once(r.main_class, option, value, error);
    if (option == "--getjava") return set_once(r.getjava, option, value, error);
    if (option == "--name") {
        if (r.name_given) error = format(text_once_only, option.c_str());
        r.name = value;
        r.name_given = true;
        return error.empty();
    }
    if (option == "--jar") {
        r.files.push_back({value, "", true});
    } else if (option == "--file") {
        size_t eq = value.find('=');
        r.files.push_back({value.substr(0, eq), eq == std::string::npos ? "" : value.substr(eq + 1), false});
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
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        fputs(text_usage, stderr);
        return 2;
    }
    if (args[0] == "inspect") {
        if (args.size() != 2) return usage_error(text_inspect_usage);
        return inspect(args[1], stdout);
    }
    const char* const with_value[] = {"--stub", "--out", "--name", "--jar", "--file",
                                      "--main", "--var", "--getjava", "--payload"};
    pack_request request;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& word = args[i];
        if (word == "--help" || word == "-h") {
            fputs(text_usage, stdout);
            return 0;
        }
        if (word == "--version") {
            printf("%s %s\n", pack_name, pack_version);
            return 0;
        }
        if (word == "--no-boot") {
            request.boot = false;
            continue;
        }
        size_t eq = word.rfind("--", 0) == 0 ? word.find('=') : std::string::npos;
        std::string option = word.substr(0, eq);
        bool known = false;
        for (const char* name : with_value) known |= option == name;
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
    std::string error = pack(request);
    if (error.empty()) return 0;
    fprintf(stderr, text_error_prefix, error.c_str());
    return 1;
}
