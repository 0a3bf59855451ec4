#include "amxo_fixture.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include <amxc/amxc_scoped_var.h>
#include <amxp/amxp_loop.h>

namespace {

std::vector<std::string> g_records;

std::string text_of(const amxc_var_t* var, const char* none = "?") {
    char* s = amxc_var_get_cstring_t(var);
    std::string out = s != nullptr ? s : none;
    std::free(s);
    return out;
}

void dump_object(const amxd_object_t* object, std::string& out) {
    char* path = amxd_object_get_path(object, AMXD_OBJECT_INDEXED);
    out += std::string(path != nullptr ? path : "?") + " type=" + std::to_string(amxd_object_get_type(object));
    out += " name=" + std::string(amxd_object_get_name(object, AMXD_OBJECT_NAMED)) + "\n";
    std::free(path);
    amxc::ScopedVar params;
    amxd_object_get_params(object, params.get());
    amxc_var_for_each(value, params.get()) {
        const char* name = amxc_var_key(value);
        const amxd_param_t* def = amxd_object_get_param_def(object, name);
        out += std::string("  ") + name + ":" + amxc_var_get_type_name_from_id(amxd_param_get_type(def)) + "=" +
               text_of(value) + (amxd_param_is_attr_set(def, amxd_pattr_read_only) ? " ro" : "") + "\n";
    }
    amxd_object_for_each_child(child, object) {
        dump_object(child, out);
    }
    amxd_object_for_each_instance(instance, object) {
        dump_object(instance, out);
    }
}

}  // namespace

extern "C" void amxo_test_record(const char* line) {
    g_records.emplace_back(line);
}

void AmxoTest::SetUp() {
    g_records.clear();
    ASSERT_EQ(amxd_dm_new(&dm_), amxd_status_ok);
    ASSERT_EQ(amxo_parser_new(&parser_), 0);
    ASSERT_EQ(amxo_parser_add_import_dir(parser_, AMXO_TEST_MODULES), 0);
}

void AmxoTest::TearDown() {
    // The data model first: its actions and handlers live in the parser's modules.
    amxd_dm_delete(&dm_);
    amxo_parser_delete(&parser_);
    amxp_loop_reset();
    EXPECT_FALSE(module_loaded("a"));
    EXPECT_FALSE(module_loaded("b"));
}

int AmxoTest::parse_file_text(const std::string& text) {
    char path[] = "/tmp/amxo-test-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) {
        return -2;
    }
    const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    const int rc = written ? parse_file(path) : -2;
    unlink(path);
    return rc;
}

std::string AmxoTest::config_text(const char* path) {
    return text_of(amxo_parser_get_config(parser_, path), "(absent)");
}

void AmxoTest::set_text(const char* path, const char* value) {
    amxc::ScopedVar v;
    amxc_var_set_cstring_t(v.get(), value);
    ASSERT_EQ(amxo_parser_set_config(parser_, path, v.get()), 0);
}

std::vector<std::string> AmxoTest::take_records() {
    std::vector<std::string> taken;
    taken.swap(g_records);
    return taken;
}

std::string AmxoTest::dump() {
    std::string out;
    amxd_object_for_each_child(child, root()) {
        dump_object(child, out);
    }
    return out;
}

bool AmxoTest::module_loaded(const std::string& tag) {
    const std::string path = std::string(AMXO_TEST_MODULES) + "/test-module-" + tag + ".so";
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) {
        dlclose(handle);
    }
    return handle != nullptr;
}
