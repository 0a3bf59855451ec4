// One call of amxo_parser_parse_file/parse_string: a file and everything it includes, run
// statement by statement into a staging area, then put into effect all together.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "definer.h"
#include "parser_state.h"
#include "plan.h"
#include "populate.h"

namespace amxo {

class Load final : public Resolver {
public:
    // `root` must not be NULL.
    Load(_amxo_parser& parser, amxd_object_t* root);
    // A load that did not finish closes the modules it imported.
    ~Load() override;
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

    // Runs the statements of a file or text. Throws LoadError at the first fault.
    void run_file(const std::string& path);
    void run_text(std::string_view text);

    // Builds and attaches the objects, connects the events, applies the populate transaction,
    // then hands configuration, modules and entry points to the parser. Throws LoadError, in
    // which case everything done here is undone.
    void finish();

    const Config& config() const override { return config_; }
    void* find_function(const FunctionRef& ref) const override;

private:
    // The file whose statements are running: its name for messages, its folder for relative
    // paths ("" for a text, which has none).
    struct Source {
        std::shared_ptr<const std::string> name;
        std::string folder;
        bool has_folder;
    };

    std::string read(const std::string& path, const Location& where);
    void run(const std::string& text, const Source& source);
    void config_section(const ConfigSection& section);
    // Refuses keys the parser's known_key check does not accept, table members included.
    void check_known_keys(const std::vector<Entry>& entries, const std::string& prefix);
    void import(const ImportStmt& stmt, const Source& source);
    void entry_point(const EntryPointStmt& stmt);
    void include(const IncludeStmt& stmt, const Source& source);
    std::string find_module_file(const std::string& name, const Source& source, const Location& where) const;
    const Module* module_by_alias(const std::string& alias) const;

    _amxo_parser& parser_;
    amxd_object_t* root_;
    Config config_;
    bool config_changed_ = false;
    std::vector<std::unique_ptr<Module>> modules_;
    std::vector<amxo_entry_point_t> entry_points_;
    PlanObject plan_;
    Definer definer_;
    std::vector<std::vector<PopulateStep>> populate_;
    Location populate_where_;
    std::vector<std::string> include_stack_;  // canonical paths of the files being run
    int files_read_ = 0;
    std::size_t bytes_read_ = 0;
};

}  // namespace amxo
