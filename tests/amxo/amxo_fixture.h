// Shared set-up of the loader tests: a data model, a parser that finds the test modules, the
// calls the modules recorded, and a dump of the tree to compare before and after a load.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <amxd/amxd.h>
#include <amxo/amxo.h>
#include <amxp/amxp_loop.h>

class AmxoTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    amxd_object_t* root() { return amxd_dm_get_root(dm_); }
    int parse(const std::string& text) { return amxo_parser_parse_string(parser_, text.c_str(), root()); }
    int parse_file(const std::string& path) { return amxo_parser_parse_file(parser_, path.c_str(), root()); }
    // Writes `text` to a temporary file and parses that (for bytes a C string cannot carry).
    int parse_file_text(const std::string& text);
    std::string message() const { return amxo_parser_get_message(parser_); }
    amxd_object_t* find(const std::string& path) { return amxd_dm_findf(dm_, "%s", path.c_str()); }
    // A configuration value as text, "(absent)" when there is none; and one set from outside.
    std::string config_text(const char* path);
    void set_text(const char* path, const char* value);

    // Delivers the events queued on the loop.
    void run_loop() { amxp_loop_run_pending(); }

    // The calls the modules recorded since the last take, oldest first.
    std::vector<std::string> take_records();

    // Every object, parameter (type, value, read-only) and function of the tree, one per line.
    std::string dump();

    // Whether test-module-<tag>.so is mapped in the process.
    static bool module_loaded(const std::string& tag);

    static std::string data(const std::string& name) { return std::string(AMXO_TEST_DATA) + "/" + name; }

    amxd_dm_t* dm_ = nullptr;
    amxo_parser_t* parser_ = nullptr;
};
