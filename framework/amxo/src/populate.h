// %populate: instances and values written into the data model through one transaction per
// load, so that they land all together (events reach the handlers once the loop runs) or not
// at all.
#pragma once

#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <amxd/amxd_transaction.h>

#include "ast.h"
#include "config.h"
#include "var.h"

namespace amxo {

// A %populate step with its texts expanded (expansion uses the configuration as it is where
// the section stands in the file).
struct PopulateStep {
    PopulateItem::Kind kind = PopulateItem::Kind::Object;
    Location where;
    std::vector<std::string> path;  // Object
    std::string name;               // Parameter, Instance
    VarPtr value;                   // Parameter
    uint32_t index = 0;             // Instance
    std::vector<PopulateStep> body;
};

std::vector<PopulateStep> expand_populate(const PopulateSection& section, const Config& config);

// Checks the steps against the data model (objects and parameters exist, values convert,
// instances are new) and records them in one transaction.
class Populator {
public:
    explicit Populator(amxd_object_t* root);
    ~Populator();
    Populator(const Populator&) = delete;
    Populator& operator=(const Populator&) = delete;

    // Records the steps of one section. Throws LoadError at the first step that cannot apply.
    void add(const std::vector<PopulateStep>& steps);

    // Applies everything recorded on `dm`; nothing when nothing was recorded. Throws LoadError
    // at `where` with the data model's reason when the transaction is refused (it then
    // changed nothing).
    void apply(amxd_dm_t* dm, const Location& where);

private:
    // Where a step acts: an object that exists, or one this transaction creates.
    struct Target {
        std::string path;               // named path for the transaction ("" for the root)
        amxd_object_t* real = nullptr;  // the object, when it exists already
        amxd_object_t* shape = nullptr; // the object whose declarations the target has
        bool pending_instance = false;  // an instance, added by this transaction, of `shape`
        bool addressable = true;        // false for an added instance with neither name nor index
    };
    struct Pending {
        std::unordered_set<uint32_t> indexes;
        std::unordered_set<std::string> names;
    };

    void object(const Target& from, const PopulateStep& step);
    void body(const Target& target, const std::vector<PopulateStep>& steps, bool selected);
    void parameter(const Target& target, const PopulateStep& step);
    void instance(const Target& templ, const PopulateStep& step);
    Target descend(const Target& from, const std::string& component, const Location& where) const;
    bool is_pending(const std::string& templ_path, const std::string& component) const;
    void select(const std::string& path, const Location& where);

    Target root_;
    amxd_trans_t trans_{};
    bool recorded_ = false;
    std::unordered_map<std::string, Pending> pending_;
};

}  // namespace amxo
