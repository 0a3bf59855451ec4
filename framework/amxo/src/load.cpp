#include "load.h"

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <system_error>
#include <type_traits>
#include <unordered_set>
#include <variant>

#include <amxd/amxd_dm.h>
#include <amxd/amxd_object.h>

#include "event_filter.h"
#include "event_slots.h"
#include "lexer.h"
#include "limits.h"
#include "literal.h"
#include "source_file.h"
#include "syntax.h"
#include "tree_builder.h"

namespace amxo {
namespace {

using ModuleList = std::vector<std::unique_ptr<Module>>;

std::string folder_of(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? "." : folder;
}

bool is_regular_file(const std::string& path) {
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec);
}

const PlanEvent* first_event(const PlanObject& object) {
    for (const auto& child : object.children) {
        if (!child->events.empty()) {
            return &child->events.front();
        }
        if (const PlanEvent* found = first_event(*child)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

Load::Load(_amxo_parser& parser, amxd_object_t* root)
    : parser_(parser), root_(root), config_(parser.config), definer_(plan_, *this) {
    plan_.existing = root;
    plan_.built = root;
    plan_.child_prefix = child_prefix_of(root);
}

Load::~Load() {
    while (!modules_.empty()) {
        modules_.pop_back();
    }
}

void Load::run_file(const std::string& path) {
    const Location whole{std::make_shared<const std::string>(path), 0};
    include_stack_.push_back(canonical_path(path, whole));
    run(read(path, whole), Source{whole.file, folder_of(path), true});
    include_stack_.pop_back();
}

void Load::run_text(std::string_view text) {
    run(std::string(text), Source{std::make_shared<const std::string>("<string>"), {}, false});
}

std::string Load::read(const std::string& path, const Location& where) {
    if (++files_read_ > kMaxFilesPerLoad) {
        fail(where, "more than " + std::to_string(kMaxFilesPerLoad) + " files in one load");
    }
    std::string text = read_source(path, where);
    bytes_read_ += text.size();
    if (bytes_read_ > kMaxBytesPerLoad) {
        fail(where, "more than " + std::to_string(kMaxBytesPerLoad) + " bytes of definitions in one load");
    }
    return text;
}

void Load::run(const std::string& text, const Source& source) {
    const Document document = parse_document(tokenize(text, source.name));
    for (const Statement& statement : document.statements) {
        std::visit(
            [&](const auto& s) {
                using T = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<T, ConfigSection>) {
                    config_section(s);
                } else if constexpr (std::is_same_v<T, ImportStmt>) {
                    import(s, source);
                } else if constexpr (std::is_same_v<T, EntryPointStmt>) {
                    entry_point(s);
                } else if constexpr (std::is_same_v<T, IncludeStmt>) {
                    include(s, source);
                } else if constexpr (std::is_same_v<T, DefineSection>) {
                    definer_.add(s);
                } else {
                    if (populate_.empty()) {
                        populate_where_ = s.where;
                    }
                    populate_.push_back(expand_populate(s, config_));
                }
            },
            statement);
    }
}

void Load::check_known_keys(const std::vector<Entry>& entries, const std::string& prefix) {
    for (const Entry& entry : entries) {
        const std::string path = prefix + entry.key;
        if (!parser_.known_key(path.c_str(), parser_.known_key_priv)) {
            fail(entry.where, "unknown configuration key '" + path + "'");
        }
        if (entry.value.kind == Value::Kind::Table) {
            check_known_keys(entry.value.entries, path + ".");
        }
    }
}

void Load::config_section(const ConfigSection& section) {
    std::unordered_set<std::string_view> seen;
    for (const Entry& entry : section.entries) {
        if (!seen.insert(entry.key).second) {
            fail(entry.where, "duplicate key '" + entry.key + "'");
        }
    }
    if (parser_.known_key != nullptr) {
        check_known_keys(section.entries, "");
    }
    // Entry by entry, so that a value can use the ones above it.
    for (const Entry& entry : section.entries) {
        VarPtr value = literal_to_var(entry.value, config_);
        config_.merge_file_value(entry.key, value.get());
        config_changed_ = true;
    }
}

const Module* Load::module_by_alias(const std::string& alias) const {
    for (const ModuleList* list : std::initializer_list<const ModuleList*>{&parser_.modules, &modules_}) {
        for (const auto& m : *list) {
            if (m->alias() == alias) {
                return m.get();
            }
        }
    }
    return nullptr;
}

std::string Load::find_module_file(const std::string& name, const Source& source, const Location& where) const {
    if (parser_.confined && name.find('/') != std::string::npos) {
        fail(where, "module '" + name + "' refused: this parser imports plain file names only");
    }
    std::vector<std::string> candidates;
    if (name.front() == '/') {
        candidates.push_back(name);
    } else {
        if (source.has_folder && !parser_.confined) {
            candidates.push_back(source.folder + "/" + name);
        }
        for (const std::string& dir : parser_.import_dirs) {
            candidates.push_back(dir + "/" + name);
        }
    }
    for (const std::string& candidate : candidates) {
        if (is_regular_file(candidate)) {
            return candidate;
        }
    }
    fail(where, "module '" + name + "' not found");
}

void Load::import(const ImportStmt& stmt, const Source& source) {
    const std::string name = config_.expand(stmt.path, stmt.where);
    if (name.empty()) {
        fail(stmt.where, "empty module name");
    }
    std::string alias;
    if (stmt.alias) {
        alias = config_.expand(*stmt.alias, stmt.where);
        if (alias.empty()) {
            fail(stmt.where, "empty module alias");
        }
        if (module_by_alias(alias) != nullptr) {
            fail(stmt.where, "module alias '" + alias + "' is already in use");
        }
    }
    const std::string file = find_module_file(name, source, stmt.where);
    modules_.reserve(modules_.size() + 1);
    modules_.push_back(Module::open(file, std::move(alias), stmt.where));
}

void Load::entry_point(const EntryPointStmt& stmt) {
    std::optional<Text> module;
    if (stmt.module) {
        module = Text{TextPiece{*stmt.module, false}};
    }
    void* fn = find_function(FunctionRef{stmt.where, stmt.function, std::move(module)});
    entry_points_.push_back(reinterpret_cast<amxo_entry_point_t>(fn));
}

void Load::include(const IncludeStmt& stmt, const Source& source) {
    const std::string name = config_.expand(stmt.path, stmt.where);
    if (name.empty()) {
        fail(stmt.where, "empty include file name");
    }
    if (parser_.confined) {
        fail(stmt.where, "include '" + name + "' refused: this parser reads no other file");
    }
    const std::string path = (name.front() == '/' || !source.has_folder) ? name : source.folder + "/" + name;
    if (include_stack_.size() >= static_cast<std::size_t>(kMaxIncludeDepth)) {
        fail(stmt.where, "includes nested deeper than " + std::to_string(kMaxIncludeDepth) + " files");
    }
    const std::string canonical = canonical_path(path, stmt.where);
    if (std::find(include_stack_.begin(), include_stack_.end(), canonical) != include_stack_.end()) {
        fail(stmt.where, "include loop: '" + name + "' is already being loaded");
    }
    std::string text = read(path, stmt.where);
    include_stack_.push_back(canonical);
    run(text, Source{std::make_shared<const std::string>(path), folder_of(path), true});
    include_stack_.pop_back();
}

void* Load::find_function(const FunctionRef& ref) const {
    if (ref.module) {
        const std::string alias = config_.expand(*ref.module, ref.where);
        const Module* module = module_by_alias(alias);
        if (module == nullptr) {
            fail(ref.where, "unknown module '" + alias + "'");
        }
        if (void* fn = module->find(ref.name.c_str())) {
            return fn;
        }
        fail(ref.where, "unknown function '" + ref.name + "' in module '" + alias + "'");
    }
    for (const ModuleList* list : std::initializer_list<const ModuleList*>{&parser_.modules, &modules_}) {
        for (const auto& m : *list) {
            if (void* fn = m->find(ref.name.c_str())) {
                return fn;
            }
        }
    }
    fail(ref.where, "unknown function '" + ref.name + "'");
}

void Load::finish() {
    amxd_dm_t* dm = amxd_object_get_dm(root_);
    if (dm == nullptr) {
        if (const PlanEvent* event = first_event(plan_)) {
            fail(event->where, "event bindings need an object of a data model");
        }
        if (!populate_.empty()) {
            fail(populate_where_, "%populate needs an object of a data model");
        }
    }

    // Declared in this order so that a failure takes them back in reverse: events first,
    // then the objects; the modules close last, in ~Load.
    TreeBuilder tree;
    tree.build(plan_);
    tree.attach();
    EventSlots events(dm != nullptr ? amxd_dm_get_sigmngr(dm) : nullptr);
    if (dm != nullptr) {
        events.connect(plan_);
    }
    if (!populate_.empty()) {
        Populator populator(root_);
        for (const auto& steps : populate_) {
            populator.add(steps);
        }
        populator.apply(dm, populate_where_);
    }

    parser_.modules.reserve(parser_.modules.size() + modules_.size());
    parser_.entry_points.reserve(parser_.entry_points.size() + entry_points_.size());
    // Binds the destroy actions kept back (see tree_builder.cpp); it fails only for want of
    // memory, and then everything is still taken back.
    tree.commit();
    // Nothing below can fail: the parser takes over.
    events.commit();
    for (auto& module : modules_) {
        parser_.modules.push_back(std::move(module));
    }
    modules_.clear();
    parser_.entry_points.insert(parser_.entry_points.end(), entry_points_.begin(), entry_points_.end());
    if (config_changed_) {
        parser_.config.swap(config_);
    }
}

}  // namespace amxo
