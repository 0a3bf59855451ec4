#include "commands.h"

#include <amxj/amxj.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <span>

#include "arg_cursor.h"
#include "assignments.h"
#include "firewall_json.h"
#include "part_printer.h"
#include "printer.h"
#include "schema_lines.h"

namespace gwctl {
namespace {

// A variant on the stack, cleaned at scope exit.
class Var {
public:
    Var() { amxc_var_init(&var_); }
    ~Var() { amxc_var_clean(&var_); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
    amxc_var_t* get() { return &var_; }

private:
    amxc_var_t var_;
};

int usage(const std::string& message) {
    std::fprintf(stderr, "gwctl: %s\n", message.c_str());
    return kExitUsage;
}

void print(const std::string& text) { std::fputs(text.c_str(), stdout); }

int print_json(const amxc_var_t* value, bool pretty) {
    std::string json;
    if (!to_json(value, pretty, json)) {
        return fail("the reply has no JSON form");
    }
    print(json + "\n");
    return kExitOk;
}

// Prints a get-shaped reply (a list whose element 0 maps paths to parameters).
int print_objects(const Options& options, const amxc_var_t* reply) {
    const amxc_var_t* objects = amxc_var_get_index(reply, 0, AMXC_VAR_FLAG_DEFAULT);
    if (objects == nullptr) {
        return fail("the reply holds no objects");
    }
    if (options.json) {
        return print_json(objects, true);
    }
    print(parameter_lines(objects));
    return kExitOk;
}

void fill_table(amxc_var_t* table, const std::vector<std::pair<std::string, std::string>>& params) {
    amxc_var_set_type(table, AMXC_VAR_ID_HTABLE);
    for (const auto& [name, value] : params) {
        amxc_var_add_key(cstring_t, table, name.c_str(), value.c_str());
    }
}

int get(const Options& options, Session& session) {
    if (options.words.size() != 1) {
        return usage("get needs exactly one PATH");
    }
    const std::string& path = options.words[0];
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    Var reply;
    PartPrinter parts(options.json ? nullptr : session.ctx(), PartPrinter::Kind::objects);
    int rc = amxb_get(session.ctx(), path.c_str(), -1, reply.get(), session.timeout());
    if (rc == 0 && amxc_var_type_of(reply.get()) == AMXC_VAR_ID_NULL) {
        return parts.ok() ? kExitOk : fail("part of the reply could not be printed");  // printed as it came
    }
    return rc != 0 ? session.report(rc, path) : print_objects(options, reply.get());
}

// The current values of `write`'s parameters, to put back if a later object fails.
// Returns the bus status of the read.
int read_old_values(Session& session, const ObjectWrite& write, ObjectWrite& old) {
    Var reply;
    int rc = amxb_get(session.ctx(), write.path.c_str(), 0, reply.get(), session.timeout());
    if (rc != 0) {
        return rc;
    }
    const amxc_var_t* params = amxc_var_get_pathf(reply.get(), AMXC_VAR_FLAG_DEFAULT, "0");
    params = params != nullptr ? amxc_var_get_key(params, write.path.c_str(), AMXC_VAR_FLAG_DEFAULT) : nullptr;
    old.path = write.path;
    for (const auto& [name, value] : write.params) {
        const amxc_var_t* current = params != nullptr ? amxc_var_get_key(params, name.c_str(), AMXC_VAR_FLAG_DEFAULT) : nullptr;
        char* text = current != nullptr ? amxc_var_get_cstring_t(current) : nullptr;
        if (text == nullptr) {
            // Not a parameter of that object: let the write itself say so before anything changes.
            continue;
        }
        old.params.emplace_back(name, text);
        std::free(text);
    }
    return 0;
}

// Writes the objects back as `old` holds them, last first. Returns the paths that failed.
std::string put_back(Session& session, std::span<const ObjectWrite> old) {
    std::string failed;
    for (auto it = old.rbegin(); it != old.rend(); ++it) {
        if (it->params.empty()) {
            continue;
        }
        Var values;
        fill_table(values.get(), it->params);
        if (amxb_set(session.ctx(), it->path.c_str(), values.get(), nullptr, session.timeout()) != 0) {
            failed += (failed.empty() ? "" : ", ") + it->path;
        }
    }
    return failed;
}

// Splits the words of `set` into per-object writes; false after printing the usage error.
bool parse_set(const Options& options, std::vector<ObjectWrite>& writes, int& status) {
    std::string base;
    std::span<const std::string> words(options.words);
    if (!words.empty() && words[0].find('=') == std::string::npos) {
        base = words[0];
        words = words.subspan(1);
        if (words.empty()) {
            status = usage("set " + base + " needs Param=value ...");
            return false;
        }
    }
    if (words.empty()) {
        status = usage("set needs PATH.Param=value ...");
        return false;
    }
    std::string error;
    if (!group_assignments(base, words, writes, error)) {
        status = usage(error);
        return false;
    }
    return true;
}

int set(const Options& options, Session& session) {
    std::vector<ObjectWrite> writes;
    int status = kExitOk;
    if (!parse_set(options, writes, status)) {
        return status;
    }
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    // Each object is one transaction. With several objects, the old values are read first so
    // that a failure part-way puts the objects already written back as they were.
    std::vector<ObjectWrite> old(writes.size());
    if (writes.size() > 1) {
        for (std::size_t i = 0; i < writes.size(); ++i) {
            int rc = read_old_values(session, writes[i], old[i]);
            if (rc != 0) {
                return session.report(rc, writes[i].path);
            }
        }
    }
    Var written;
    amxc_var_set_type(written.get(), AMXC_VAR_ID_HTABLE);
    for (std::size_t i = 0; i < writes.size(); ++i) {
        Var values;
        Var reply;
        fill_table(values.get(), writes[i].params);
        int rc = amxb_set(session.ctx(), writes[i].path.c_str(), values.get(), reply.get(), session.timeout());
        if (rc != 0) {
            // Keep the failure's reason before the writes that put things back replace it.
            std::string reason = amxb_last_error(session.ctx());
            std::string failed = put_back(session, std::span<const ObjectWrite>(old).first(i));
            if (!failed.empty()) {
                reason += "; could not put back " + failed;
            }
            return session.report(rc, writes[i].path, reason);
        }
        const amxc_var_t* objects = amxc_var_get_index(reply.get(), 0, AMXC_VAR_FLAG_DEFAULT);
        amxc_var_for_each(object, objects) {
            amxc_var_set_key(written.get(), amxc_var_key(object), object, AMXC_VAR_FLAG_COPY | AMXC_VAR_FLAG_UPDATE);
        }
    }
    Var reply;
    amxc_var_set_type(reply.get(), AMXC_VAR_ID_LIST);
    amxc_var_set_index(reply.get(), 0, written.get(), AMXC_VAR_FLAG_COPY);
    return print_objects(options, reply.get());
}

int add(const Options& options, Session& session) {
    std::vector<std::string> words(options.words.begin(), options.words.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    gw::ArgCursor cursor(argv);
    std::string table;
    std::string name;
    std::vector<std::string> assignments;
    while (!cursor.done()) {
        std::string value;
        auto match = cursor.take_option("--name", value);
        if (match == gw::ArgCursor::Match::missing_value || (match == gw::ArgCursor::Match::yes && value.empty())) {
            return usage("--name needs a name");
        }
        if (match == gw::ArgCursor::Match::yes) {
            name = value;
        } else if (table.empty()) {
            table = cursor.next();
        } else {
            assignments.emplace_back(cursor.next());
        }
    }
    if (table.empty()) {
        return usage("add needs a TABLE path");
    }
    table = with_trailing_dot(table);
    std::vector<ObjectWrite> writes;
    std::string error;
    if (!group_assignments(table, assignments, writes, error)) {
        return usage(error);
    }
    if (writes.size() > 1 || (writes.size() == 1 && writes[0].path != table)) {
        return usage("add sets parameters of the new instance only (Param=value)");
    }
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    Var values;
    fill_table(values.get(), writes.empty() ? std::vector<std::pair<std::string, std::string>> {} : writes[0].params);
    Var reply;
    int rc = amxb_add(session.ctx(), table.c_str(), 0, name.c_str(), values.get(), reply.get(), session.timeout());
    if (rc != 0) {
        return session.report(rc, table);
    }
    if (options.json) {
        return print_json(reply.get(), true);
    }
    const char* path = amxc_var_get_const_cstring_t(amxc_var_get_key(reply.get(), "path", AMXC_VAR_FLAG_DEFAULT));
    print(std::string(path != nullptr ? path : "") + "\n");
    return kExitOk;
}

int del(const Options& options, Session& session) {
    if (options.words.size() != 1) {
        return usage("del needs exactly one INSTANCE path");
    }
    const std::string& path = options.words[0];
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    Var reply;
    int rc = amxb_del(session.ctx(), path.c_str(), reply.get(), session.timeout());
    if (rc != 0) {
        return session.report(rc, path);
    }
    if (options.json) {
        return print_json(reply.get(), true);
    }
    amxc_var_for_each(removed, reply.get()) {
        const char* text = amxc_var_get_const_cstring_t(removed);
        print(std::string(text != nullptr ? text : "") + "\n");
    }
    return kExitOk;
}

// The JSON arguments of `call`: the word itself, or standard input for "-" (an export larger
// than one command-line argument may hold). False, with the reason, when they cannot be read.
bool call_arguments(const std::string& word, std::string& json, std::string& error) {
    if (word != "-") {
        json = word;
        return true;
    }
    char chunk[65536];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof(chunk), stdin)) > 0) {
        json.append(chunk, got);
        if (json.size() > AMXB_MAX_FRAME_SIZE) {
            error = "arguments on standard input are larger than a request may be (" + std::to_string(AMXB_MAX_FRAME_SIZE) + " bytes)";
            return false;
        }
    }
    if (std::ferror(stdin) != 0) {
        error = "cannot read the arguments from standard input";
        return false;
    }
    return true;
}

int call(const Options& options, Session& session) {
    if (options.words.size() < 2 || options.words.size() > 3) {
        return usage("call needs PATH METHOD [JSON-ARGS|-]");
    }
    const std::string& path = options.words[0];
    const std::string& method = options.words[1];
    Var args;
    if (options.words.size() == 3) {
        std::string json;
        std::string problem;
        if (!call_arguments(options.words[2], json, problem)) {
            return usage(problem);
        }
        char error[160] = "";
        if (amxj_read(args.get(), json.data(), json.size(), error, sizeof(error)) != 0) {
            return usage(std::string("arguments are not JSON: ") + error);
        }
        if (amxc_var_type_of(args.get()) != AMXC_VAR_ID_HTABLE) {
            return usage("arguments must be a JSON object of named arguments");
        }
    } else {
        amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE);
    }
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    Var ret;
    // Pretty output needs the whole; compact JSON is printed as the parts arrive.
    PartPrinter parts(options.json ? nullptr : session.ctx(), PartPrinter::Kind::json);
    int rc = amxb_call(session.ctx(), path.c_str(), method.c_str(), args.get(), ret.get(), session.timeout());
    if (rc != 0) {
        return session.report(rc, path + method + "()");
    }
    if (parts.received()) {
        parts.finish();  // printed as it came
        return parts.ok() ? kExitOk : fail("part of the reply could not be printed");
    }
    return print_json(ret.get(), options.json);
}

int firewall(const Options& options, Session& session) {
    std::string flag;
    bool json = options.json;
    for (const std::string& word : options.words) {
        if (word == "--json") {
            json = true;
        } else if (flag.empty() && (word == "--kernel" || word == "--check")) {
            flag = word;
        } else {
            return usage("firewall takes no arguments but --kernel or --check, and --json");
        }
    }
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    const char* method = flag == "--kernel" ? "KernelDump" : flag == "--check" ? "Check" : "Dump";
    Var ret;
    // A check's verdict depends on its whole text, so that one is not printed in parts.
    PartPrinter parts(json || flag == "--check" ? nullptr : session.ctx(), PartPrinter::Kind::text);
    int rc = amxb_call(session.ctx(), "Firewall.", method, nullptr, ret.get(), session.timeout());
    if (rc != 0) {
        const char* why = amxc_var_get_const_cstring_t(ret.get());
        if (why != nullptr && *why != '\0') {
            std::fprintf(stderr, "gwctl: %s\n", why);
        }
        return session.report(rc, std::string("Firewall.") + method + "()");
    }
    if (amxc_var_type_of(ret.get()) == AMXC_VAR_ID_NULL) {
        return parts.ok() ? kExitOk : fail("part of the reply could not be printed");  // printed as it came
    }
    const char* text = amxc_var_get_const_cstring_t(ret.get());
    // A check prints the differences; any at all is a failure for scripts.
    const int status = flag == "--check" && text != nullptr && *text != '\0' ? kExitFailure : kExitOk;
    if (json && flag.empty()) {
        Var chains;
        if (!firewall_chains(text != nullptr ? text : "", chains.get())) {
            return fail("the firewall dump has a line of unknown form");
        }
        return print_json(chains.get(), true);
    }
    if (json) {
        const int printed = print_json(ret.get(), true);
        return printed != kExitOk ? printed : status;
    }
    print(text != nullptr ? text : "");
    return status;
}

int list(const Options& options, Session& session) {
    if (options.words.size() > 1) {
        return usage("list takes at most one PATH");
    }
    if (session.ctx() == nullptr) {
        return session.unreachable();
    }
    Var args;
    amxc_var_set_type(args.get(), AMXC_VAR_ID_HTABLE);
    const std::string path = options.words.empty() ? "" : options.words[0];
    amxc_var_add_key(cstring_t, args.get(), "path", path.c_str());
    Var ret;
    int rc = amxb_call(session.ctx(), "Runtime.", "Describe", args.get(), ret.get(), session.timeout());
    if (rc != 0) {
        return session.report(rc, path.empty() ? "Runtime.Describe()" : path);
    }
    if (options.json) {
        return print_json(ret.get(), true);
    }
    print(schema_lines(ret.get()));
    return kExitOk;
}

}  // namespace

int run_command(const Options& options, Session& session) {
    static const std::map<std::string, std::function<int(const Options&, Session&)>> commands = {
        {"get", get}, {"set", set}, {"add", add}, {"del", del},
        {"call", call}, {"monitor", monitor}, {"firewall", firewall}, {"list", list},
    };
    auto command = commands.find(options.command);
    if (command == commands.end()) {
        return usage("unknown command '" + options.command + "' (see gwctl --help)");
    }
    return command->second(options, session);
}

}  // namespace gwctl
